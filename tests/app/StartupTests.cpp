// The viewer's start-up pieces: the command line with its argument file, the data module's
// settings file and data folder, the recent-file list in the settings, and the application-wide
// data and informer.
#include <QtTest>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "CommandLine.h"
#include "DataModule.h"
#include "Globals.h"
#include "PlatformFolders.h"
#include "RunProgram.h"
#include "TestFiles.h"

using velloran::test::TTempDir;

namespace velloran {
namespace {

std::vector<std::string> ToStd(const QStringList& AList) {
  std::vector<std::string> result;
  for (const QString& item : AList) result.push_back(item.toStdString());
  return result;
}

QStringList ToQt(const std::vector<std::string>& AList) {
  QStringList result;
  for (const std::string& item : AList) result << QString::fromStdString(item);
  return result;
}

// Table texts name the test's temporary folder as "{dir}".
QString Expand(QString AText, const TTempDir& ADir) {
  return AText.replace("{dir}", QString::fromStdString(ADir.Path().string()));
}

QStringList Expand(QStringList AList, const TTempDir& ADir) {
  for (QString& item : AList) item = Expand(item, ADir);
  return AList;
}

// Runs the test in AFolder, so that relative file names on the command line resolve there.
class TCurrentFolderScope {
 public:
  explicit TCurrentFolderScope(const std::filesystem::path& AFolder) : FSaved(std::filesystem::current_path()) {
    std::filesystem::current_path(AFolder);
  }
  ~TCurrentFolderScope() { std::filesystem::current_path(FSaved); }
  TCurrentFolderScope(const TCurrentFolderScope&) = delete;
  TCurrentFolderScope& operator=(const TCurrentFolderScope&) = delete;

 private:
  std::filesystem::path FSaved;
};

// The messages a data module reports.
struct TReports {
  QStringList Messages;
  Tdm::TReportEvent Event() {
    return [this](const std::string& AMessage) { Messages << QString::fromStdString(AMessage); };
  }
};

// The argument file the program reads when it is given none: the executable's path plus
// ".cmdl" (Linux executables have no extension to replace).
std::string DefaultArgumentFile() { return platform::ExecutablePath() + ".cmdl"; }

// The settings file of a data module in AFolder: the executable's file name plus ".ini".
std::string SettingsFileIn(const TTempDir& AFolder) {
  return AFolder.File(std::filesystem::path(platform::ExecutablePath()).filename().string() + ".ini");
}

// "Name=Value" for every key of ASection, in the storage's key order.
QStringList SectionContent(TrsStorage& AStorage, const QString& ASection) {
  AStorage.SetRootSection(ASection.toStdString());
  std::vector<std::string> keys;
  AStorage.KeyList(keys);
  QStringList result;
  for (const std::string& key : keys) result << QString::fromStdString(key + "=" + AStorage.ReadText(key, {}));
  AStorage.SetRootSection({});
  return result;
}

QStringList ItemKeys(const QStringList& AValues) {
  QStringList result;
  for (qsizetype i = 0; i < AValues.size(); ++i) result << QString("Item%1=%2").arg(i + 1, 2, 10, QChar('0')).arg(AValues[i]);
  return result;
}

QStringList Numbered(int ACount) {
  QStringList result;
  for (int i = 1; i <= ACount; ++i) result << QString("/logs/%1.log").arg(i);
  return result;
}

}  // namespace

class TStartupTests : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase();

  void commandLine_data();
  void commandLine();
  void argumentFile_data();
  void argumentFile();
  void argumentFileBesideTheExecutableWins();
  void unreadableArgumentFileKeepsTheCommandLine();

  void dataFolder_data();
  void dataFolder();
  void readOnlyProgramFolder();

  void saveMRUList_data();
  void saveMRUList();
  void loadMRUList_data();
  void loadMRUList();

  void settingsSurviveARestart();
  void corruptSettingsFile_data();
  void corruptSettingsFile();
  void unreadableSettingsFileIsReported();
  void failedSaveIsReported();

  void globalsAreCreatedOnceAndFreedTogether();
  void helpAndVersionPrintWithoutAWindow();

 private:
  TTempDir FConfigHome;  // the user's configuration folder, for every test
};

void TStartupTests::initTestCase() {
  qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(FConfigHome.Path().string()));
  qputenv("XDG_CACHE_HOME", QByteArray::fromStdString((FConfigHome.Path() / "cache").string()));  // saved line indexes
  // Every data module reads this file; a stray one would change what the tests see.
  QVERIFY2(!std::filesystem::exists(DefaultArgumentFile()), DefaultArgumentFile().c_str());
}

// --- the command line, as the data module applies it ---------------------------------------------

void TStartupTests::commandLine_data() {
  QTest::addColumn<QStringList>("files");  // made in the current folder first; "x/" is a folder
  QTest::addColumn<QStringList>("arguments");
  QTest::addColumn<bool>("showSplash");
  QTest::addColumn<QString>("startFile");

  const QStringList none;
  QTest::newRow("no arguments") << none << none << true << "";
  for (const char* argument : {"-nosplash", "/nosplash", "nosplash", "NoSplash", "-nosplashes"}) {
    QTest::newRow(argument) << none << QStringList{argument} << false << "";
  }
  QTest::newRow("unknown switch") << none << QStringList{"-verbose"} << true << "";
  QTest::newRow("-i=") << none << QStringList{"-i=/logs/a.log"} << true << "/logs/a.log";
  QTest::newRow("/i") << none << QStringList{"/i/logs/a.log"} << true << "/logs/a.log";
  QTest::newRow("-i-") << none << QStringList{"-i-/logs/a.log"} << true << "/logs/a.log";
  QTest::newRow("-I= upper case") << none << QStringList{"-I=/logs/a.log"} << true << "/logs/a.log";
  // The path is an argument of its own: a file to open; "-i" alone has no value.
  QTest::newRow("-i then a path") << none << QStringList{"-i", "/logs/a.log"} << true << "/logs/a.log";
  QTest::newRow("first -i wins") << none << QStringList{"-i=/logs/a.log", "-i=/logs/b.log"} << true << "/logs/a.log";
  QTest::newRow("both switches") << none << QStringList{"-i=/logs/a.log", "/NOSPLASH"} << false << "/logs/a.log";
  // A name that is no switch names a file even when it is missing: the window then says why
  // it cannot be opened.
  QTest::newRow("missing inbox.log") << none << QStringList{"inbox.log"} << true << "{dir}/inbox.log";
  QTest::newRow("missing absolute file") << none << QStringList{"/logs/gone.log"} << true << "/logs/gone.log";
  QTest::newRow("an existing file wins over a missing one")
      << QStringList{"a.log"} << QStringList{"gone.log", "a.log"} << true << "{dir}/a.log";

  // An argument naming an existing file opens it, whatever its first character.
  // A relative name is made absolute: it goes into the recent list.
  QTest::newRow("relative file") << QStringList{"inbox.log"} << QStringList{"inbox.log"} << true << "{dir}/inbox.log";
  QTest::newRow("absolute file") << QStringList{"a.log"} << QStringList{"{dir}/a.log"} << true << "{dir}/a.log";
  QTest::newRow("file like a switch") << QStringList{"-i.log"} << QStringList{"-i.log"} << true << "{dir}/-i.log";
  QTest::newRow("file and nosplash") << QStringList{"a.log"} << QStringList{"{dir}/a.log", "-nosplash"} << false << "{dir}/a.log";
  QTest::newRow("first of two files") << QStringList{"a.log", "b.log"} << QStringList{"{dir}/b.log", "{dir}/a.log"} << true
                                      << "{dir}/b.log";
  QTest::newRow("file wins over -i") << QStringList{"a.log"} << QStringList{"-i=/logs/other.log", "a.log"} << true
                                     << "{dir}/a.log";
  QTest::newRow("folder is no log, yet no switch") << QStringList{"images/"} << QStringList{"images"} << true << "{dir}/images";
}

void TStartupTests::commandLine() {
  QFETCH(QStringList, files);
  QFETCH(QStringList, arguments);
  QFETCH(bool, showSplash);
  QFETCH(QString, startFile);

  TTempDir dir;
  for (const QString& name : files) {
    if (name.endsWith('/')) {
      std::filesystem::create_directory(dir.Path() / name.chopped(1).toStdString());
    } else {
      dir.Write(name.toStdString(), "<Event/>\r\n");
    }
  }
  const TCurrentFolderScope inDir(dir.Path());
  TReports reports;
  const Tdm module(ToStd(Expand(arguments, dir)), reports.Event(), dir.File("data"));
  QCOMPARE(module.ShowSplash, showSplash);
  QCOMPARE(QString::fromStdString(module.StartFile), Expand(startFile, dir));
  QCOMPARE(reports.Messages, QStringList());
}

// --- the argument file ---------------------------------------------------------------------------

void TStartupTests::argumentFile_data() {
  QTest::addColumn<bool>("haveFile");
  QTest::addColumn<QByteArray>("fileBytes");
  QTest::addColumn<QStringList>("arguments");
  QTest::addColumn<bool>("parsed");
  QTest::addColumn<QStringList>("items");
  QTest::addColumn<bool>("noSplash");
  QTest::addColumn<QString>("iValue");

  const QStringList none;
  QTest::newRow("nothing at all") << false << QByteArray() << none << false << none << false << "";
  QTest::newRow("only empty arguments and marks")
      << false << QByteArray() << QStringList{"", "-", "/"} << false << QStringList{"", "-", "/"} << false << "";
  QTest::newRow("file lines first, and they win")
      << true << QByteArray("-i=/from/file.log\r\n-nosplash\r\n") << QStringList{"-i=/from/cmdline.log"} << true
      << QStringList{"-i=/from/file.log", "-nosplash", "-i=/from/cmdline.log"} << true << "/from/file.log";
  QTest::newRow("file of empty lines") << true << QByteArray("\r\n\n-\r\n") << none << false << QStringList{"", "", "-"} << false
                                       << "";
  // Lines stand as they are: a blank before the mark hides the switch, quotes stay.
  QTest::newRow("leading blank") << true << QByteArray(" -nosplash\n") << none << true << QStringList{" -nosplash"} << false
                                 << "";
  QTest::newRow("quotes and trailing blank") << true << QByteArray("\"-i=/a b.log\" \n-i=/c d.log \n") << none << true
                                             << QStringList{"\"-i=/a b.log\" ", "-i=/c d.log "} << false << "/c d.log ";
  QTest::newRow("LF and a last line without break")
      << true << QByteArray("-nosplash\n-i=/x.log") << none << true << QStringList{"-nosplash", "-i=/x.log"} << true << "/x.log";
  QTest::newRow("lone CR stays in the line")
      << true << QByteArray("-i=/x\r.log\r\n") << none << true << QStringList{"-i=/x\r.log"} << false << "/x\r.log";
  QTest::newRow("UTF-8 mark") << true << QByteArray("\xEF\xBB\xBF-i=/l\xC3\xA9.log\r\n") << none << true
                              << QStringList{"-i=/l\u00E9.log"} << false << "/l\u00E9.log";
  QTest::newRow("UTF-16LE mark") << true << QByteArray("\xFF\xFE-\0i\0=\0\xE9\0\r\0\n\0/\0n\0", 18) << none << true
                                 << QStringList{"-i=\u00E9", "/n"} << false << "\u00E9";
  QTest::newRow("UTF-16BE mark") << true << QByteArray("\xFE\xFF\0-\0i\0=\x20\xAC\0\n", 12) << none << true
                                 << QStringList{"-i=\u20AC"} << false << "\u20AC";
  QTest::newRow("UTF-16 cut in a character")
      << true << QByteArray("\xFF\xFE-\0i\0=\0x", 9) << none << true << QStringList{"-i=\uFFFD"} << false << "\uFFFD";
  QTest::newRow("only a mark") << true << QByteArray("\xEF\xBB\xBF") << QStringList{"-nosplash"} << true
                               << QStringList{"-nosplash"} << true << "";
}

void TStartupTests::argumentFile() {
  QFETCH(bool, haveFile);
  QFETCH(QByteArray, fileBytes);
  QFETCH(QStringList, arguments);
  QFETCH(bool, parsed);
  QFETCH(QStringList, items);
  QFETCH(bool, noSplash);
  QFETCH(QString, iValue);

  TTempDir dir;
  const std::string fileName = haveFile ? dir.Write("viewer.cmdl", fileBytes.toStdString()) : dir.File("viewer.cmdl");
  TCMDLProcessor processor(ToStd(arguments));
  processor.SetCMDLFileName(fileName);
  QCOMPARE(processor.Parse(), parsed);
  QCOMPARE(ToQt(processor.Items()), items);
  QCOMPARE(processor.ParamExist("nosplash"), noSplash);
  QCOMPARE(QString::fromStdString(processor.ParamValue("i")), iValue);
  QCOMPARE(processor.CMDLFileName(), fileName);
  QCOMPARE(QString::fromStdString(processor.ArgumentFileError()), QString());
}

void TStartupTests::argumentFileBesideTheExecutableWins() {
  const std::string fileName = DefaultArgumentFile();
  {
    std::ofstream out(fileName, std::ios::binary);
    out << "-i=/from/file.log\r\n/nosplash\r\n";
    if (!out) QSKIP("the executable's folder takes no files");
  }
  struct TRemove {
    std::string Name;
    ~TRemove() { std::filesystem::remove(Name); }
  } cleanup{fileName};

  TCMDLProcessor processor(std::vector<std::string>{});
  QVERIFY(processor.Parse());
  QCOMPARE(processor.CMDLFileName(), fileName);

  TTempDir dir;
  TReports reports;
  const Tdm module({"-i=/from/cmdline.log"}, reports.Event(), dir.Path().string());
  QCOMPARE(module.ShowSplash, false);
  QCOMPARE(QString::fromStdString(module.StartFile), QString("/from/file.log"));
  QCOMPARE(reports.Messages, QStringList());
}

void TStartupTests::unreadableArgumentFileKeepsTheCommandLine() {
  if (test::RunningAsRoot()) QSKIP("root reads files without read permission");
  TTempDir dir;
  const std::string fileName = dir.Write("viewer.cmdl", "-nosplash\n");
  std::filesystem::permissions(fileName, std::filesystem::perms::none);
  TCMDLProcessor processor({"-i=/logs/a.log"});
  processor.SetCMDLFileName(fileName);
  QVERIFY(processor.Parse());
  QCOMPARE(ToQt(processor.Items()), QStringList{"-i=/logs/a.log"});
  QVERIFY2(processor.ArgumentFileError().find(fileName) != std::string::npos, processor.ArgumentFileError().c_str());
}

// --- the data folder --------------------------------------------------------------------------------

void TStartupTests::dataFolder_data() {
  QTest::addColumn<QString>("programPath");  // "{dir}": a writable folder
  QTest::addColumn<bool>("userFolder");      // true: the configuration folder; false: the program's

  QTest::newRow("under /usr") << "/usr/bin/velloran-viewer" << true;
  QTest::newRow("under /usr/local") << "/usr/local/bin/velloran-viewer" << true;
  QTest::newRow("/usr in other case") << "/USR/bin/velloran-viewer" << true;
  // A plain prefix test, as the path "/usr" gives it: /usr2 counts as installed too.
  QTest::newRow("beginning with /usr") << "/usr2/velloran-viewer" << true;
  QTest::newRow("writable folder") << "{dir}/velloran-viewer" << false;
  QTest::newRow("missing folder") << "{dir}/missing/velloran-viewer" << true;
}

void TStartupTests::dataFolder() {
  QFETCH(QString, programPath);
  QFETCH(bool, userFolder);

  TTempDir dir;
  const std::string expected = userFolder ? FConfigHome.Path().string() + "/Velloran Viewer" : dir.Path().string() + "/";
  QCOMPARE(GetDataFolder(Expand(programPath, dir).toStdString()), expected);
}

void TStartupTests::readOnlyProgramFolder() {
  if (test::RunningAsRoot()) QSKIP("root writes into read-only folders");
  TTempDir dir;
  std::filesystem::permissions(dir.Path(), std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
  const std::string folder = GetDataFolder(dir.File("velloran-viewer"));
  std::filesystem::permissions(dir.Path(), std::filesystem::perms::owner_all);
  QCOMPARE(folder, FConfigHome.Path().string() + "/Velloran Viewer");
}

// --- the recent-file list ----------------------------------------------------------------------------

void TStartupTests::saveMRUList_data() {
  QTest::addColumn<QStringList>("list");
  QTest::addColumn<QString>("item");
  QTest::addColumn<QStringList>("expected");

  const QStringList abcd{"/logs/a.log", "/logs/b.log", "/logs/c.log", "/logs/d.log"};
  QTest::newRow("empty item changes nothing") << abcd << "" << abcd;
  QTest::newRow("first entry") << QStringList() << "/logs/a.log" << QStringList{"/logs/a.log"};
  QTest::newRow("new item goes first") << abcd << "/logs/e.log"
                                       << QStringList{"/logs/e.log", "/logs/a.log", "/logs/b.log", "/logs/c.log", "/logs/d.log"};
  QTest::newRow("already first") << abcd << "/logs/a.log" << abcd;
  QTest::newRow("third moves first") << abcd << "/logs/c.log"
                                     << QStringList{"/logs/c.log", "/logs/a.log", "/logs/b.log", "/logs/d.log"};
  QTest::newRow("last moves first") << abcd << "/logs/d.log"
                                    << QStringList{"/logs/d.log", "/logs/a.log", "/logs/b.log", "/logs/c.log"};
  QTest::newRow("other case is another file")
      << QStringList{"/logs/A.log"} << "/logs/a.log" << QStringList{"/logs/a.log", "/logs/A.log"};
  QTest::newRow("new item drops the tenth") << Numbered(10) << "/logs/new.log" << (QStringList{"/logs/new.log"} + Numbered(9));
  QTest::newRow("tenth moves first") << Numbered(10) << "/logs/10.log" << (QStringList{"/logs/10.log"} + Numbered(9));
  QTest::newRow("longer list is cut to ten")
      << Numbered(12) << "/logs/5.log" << (QStringList{"/logs/5.log"} + Numbered(4) + Numbered(10).mid(5));
}

void TStartupTests::saveMRUList() {
  QFETCH(QStringList, list);
  QFETCH(QString, item);
  QFETCH(QStringList, expected);

  TrsStorage storage;
  for (qsizetype i = 0; i < list.size(); ++i) {
    storage.WriteText(QString("\\Recent\\Item%1").arg(i + 1, 2, 10, QChar('0')).toStdString(), list[i].toStdString());
  }
  storage.WriteText("\\Recent\\Pinned", "/logs/pinned.log");
  storage.WriteText("\\Other\\Item01", "/logs/other.log");

  SaveMRUList(storage, "Recent", ToStd(list), item.toStdString());

  QStringList content = ItemKeys(expected);
  if (item.isEmpty()) content << "Pinned=/logs/pinned.log";  // the section is rewritten only for an item
  QCOMPARE(SectionContent(storage, "Recent"), content);
  QCOMPARE(SectionContent(storage, "Other"), QStringList{"Item01=/logs/other.log"});
  QCOMPARE(storage.RootSection(), std::string());
}

void TStartupTests::loadMRUList_data() {
  QTest::addColumn<QStringList>("keys");  // "Name=Value", written in this order
  QTest::addColumn<QStringList>("expected");

  QTest::newRow("missing section") << QStringList() << QStringList();
  QTest::newRow("key order, not write order") << QStringList{"Item03=c", "Item01=a", "Item02=b"} << QStringList{"a", "b", "c"};
  QTest::newRow("Item01 Item03 Item12") << QStringList{"Item12=l", "Item03=c", "Item01=a"} << QStringList{"a", "c", "l"};
  // Other names count too, sorted without regard to case: ALPHA, beta, Item01.
  QTest::newRow("other names, any case") << QStringList{"beta=2", "Item01=a", "ALPHA=1"} << QStringList{"1", "2", "a"};
  QTest::newRow("empty value") << QStringList{"Item01=", "Item02=b"} << QStringList{"", "b"};
}

void TStartupTests::loadMRUList() {
  QFETCH(QStringList, keys);
  QFETCH(QStringList, expected);

  TrsStorage storage;
  for (const QString& key : keys) {
    const qsizetype equals = key.indexOf('=');
    storage.WriteText(("\\Recent\\" + key.left(equals)).toStdString(), key.mid(equals + 1).toStdString());
  }
  storage.WriteText("\\Other\\Item01", "/logs/other.log");
  storage.SetRootSection("Other");

  std::vector<std::string> list{"stale"};
  LoadMRUList(storage, "Recent", list);
  QCOMPARE(ToQt(list), expected);
  QCOMPARE(storage.RootSection(), std::string());
}

// --- the settings file -----------------------------------------------------------------------------------

void TStartupTests::settingsSurviveARestart() {
  TTempDir dir;
  // The folder does not exist yet: the first save makes it with its parents.
  const std::string folder = dir.File("deep/er");
  TReports reports;
  {
    Tdm module({}, reports.Event(), folder);
    QVERIFY(GlobalStorage == &module.rsStorage);
    QVERIFY(dm == &module);
    QCOMPARE(module.rsIni.FullFileName(),
             folder + "/" + std::filesystem::path(platform::ExecutablePath()).filename().string() + ".ini");
    module.rsStorage.WriteString("\\Main\\FileName", "/logs/\u00E9t\u00E9.log");
    module.rsStorage.WriteInteger("\\Main\\DetailsWidth", 321);
    SaveMRUList(module.rsStorage, "OpenRecent", {"/logs/a.log"}, "/logs/b.log");
  }
  QVERIFY(GlobalStorage == nullptr);
  QVERIFY(dm == nullptr);

  Tdm module({}, reports.Event(), folder + "/");
  QCOMPARE(module.rsStorage.ReadString("\\Main\\FileName", {}), std::string("/logs/\u00E9t\u00E9.log"));
  QCOMPARE(module.rsStorage.ReadInteger("\\Main\\DetailsWidth", 0), 321);
  std::vector<std::string> recent;
  LoadMRUList(module.rsStorage, "OpenRecent", recent);
  QCOMPARE(ToQt(recent), (QStringList{"/logs/b.log", "/logs/a.log"}));
  QCOMPARE(reports.Messages, QStringList());
}

void TStartupTests::corruptSettingsFile_data() {
  QTest::addColumn<QByteArray>("badValue");
  QTest::addColumn<QString>("cause");  // part of the report
  QTest::newRow("curr:") << QByteArray("curr:abc") << "'abc' is not a valid currency value";
  QTest::newRow("point:") << QByteArray("point:10") << "not a valid integer value";
}

void TStartupTests::corruptSettingsFile() {
  QFETCH(QByteArray, badValue);
  QFETCH(QString, cause);

  TTempDir dir;
  const std::string fileName = SettingsFileIn(dir);
  dir.Write(std::filesystem::path(fileName).filename().string(),
            "[Main]\r\nGood=7\r\nBad=" + badValue.toStdString() + "\r\nAfter=2\r\n");
  TReports reports;
  {
    Tdm module({"-nosplash"}, reports.Event(), dir.Path().string());
    QCOMPARE(reports.Messages.size(), 1);
    QVERIFY2(reports.Messages[0].contains(QString::fromStdString(fileName)), qPrintable(reports.Messages[0]));
    QVERIFY2(reports.Messages[0].contains(cause), qPrintable(reports.Messages[0]));
    QCOMPARE(module.rsStorage.ReadInteger("\\Main\\Good", 0), 7);
    QVERIFY(!module.ShowSplash);
    QVERIFY(GlobalStorage == &module.rsStorage);
  }
  // The save at exit writes what was kept, so the next start is clean.
  Tdm module({}, reports.Event(), dir.Path().string());
  QCOMPARE(reports.Messages.size(), 1);
  QCOMPARE(module.rsStorage.ReadInteger("\\Main\\Good", 0), 7);
}

void TStartupTests::unreadableSettingsFileIsReported() {
  if (test::RunningAsRoot()) QSKIP("root reads files without read permission");
  TTempDir dir;
  const std::string fileName = SettingsFileIn(dir);
  dir.Write(std::filesystem::path(fileName).filename().string(), "[Main]\r\nGood=7\r\n");
  std::filesystem::permissions(fileName, std::filesystem::perms::none);
  TReports reports;
  {
    const Tdm module({}, reports.Event(), dir.Path().string());
    QCOMPARE(reports.Messages.size(), 1);
    QVERIFY2(reports.Messages[0].contains(QString::fromStdString(fileName)), qPrintable(reports.Messages[0]));
  }
  std::filesystem::permissions(fileName, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
}

void TStartupTests::failedSaveIsReported() {
  TTempDir dir;
  // A folder below a regular file can be neither made nor written, not even by root.
  const std::string folder = dir.Write("file", "") + "/settings";
  TReports reports;
  std::string fileName;
  {
    const Tdm module({}, reports.Event(), folder);
    QCOMPARE(reports.Messages, QStringList());
    fileName = module.rsIni.FullFileName();
  }
  QCOMPARE(reports.Messages.size(), 1);
  QVERIFY2(reports.Messages[0].contains(QString::fromStdString(fileName)), qPrintable(reports.Messages[0]));
  QVERIFY(GlobalStorage == nullptr);
  QVERIFY(dm == nullptr);
}

// --- the application-wide data and informer ----------------------------------------------------------

void TStartupTests::globalsAreCreatedOnceAndFreedTogether() {
  InitGlobals();
  QVERIFY(GlobalData != nullptr);
  QVERIFY(GlobalInformer != nullptr);
  QVERIFY(GlobalInformer->LogOptions() == TrclInformerOutputOptions({imtError, imtCriticalError}));
  QVERIFY(GlobalInformer->LogProcessId());
  const TData* data = GlobalData;
  GlobalInformer->SetLogProcessId(false);
  InitGlobals();
  QCOMPARE(GlobalData, data);
  QVERIFY2(!GlobalInformer->LogProcessId(), "an existing informer is not configured again");
  DoneGlobals();
  QVERIFY(GlobalData == nullptr);
  QVERIFY(GlobalInformer == nullptr);
}

// Usage and version go to the terminal, with no display needed and no window opened.
void TStartupTests::helpAndVersionPrintWithoutAWindow() {
  TTempDir dir;
  for (const char* argument : {"--help", "-h", "/?"}) {
    const test::TProgramResult help =
        test::RunProgram(std::string("env -u QT_QPA_PLATFORM -u DISPLAY ").append(VELLORAN_VIEWER), argument, dir);
    QCOMPARE(help.ExitCode, 0);
    QVERIFY2(help.Out.rfind("Usage: velloran-viewer", 0) == 0, (help.Out + help.Err).c_str());
    QVERIFY(help.Out.find("-nosplash") != std::string::npos);
  }
  const test::TProgramResult version = test::RunProgram(VELLORAN_VIEWER, "--version", dir);
  QCOMPARE(version.ExitCode, 0);
  QCOMPARE(QString::fromStdString(version.Out), QString("velloran-viewer %1\n").arg(VELLORAN_PROJECT_VERSION));
}

}  // namespace velloran

QTEST_MAIN(velloran::TStartupTests)
#include "StartupTests.moc"
