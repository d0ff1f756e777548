#include <QAction>
#include <QLabel>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTableView>
#include <QtTest>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "CompiledQuery.h"
#include "DataModule.h"
#include "EventLines.h"
#include "LogData.h"
#include "MainWindow.h"
#include "PlatformFile.h"
#include "QueryBar.h"
#include "Scanner.h"
#include "TestFiles.h"
#include "WindowTestBase.h"

using namespace velloran;

namespace {

using TRecords = std::vector<uint32_t>;

// Sessions [AFirst, AFirst + ACount) of three users in turn: a request, then its reply (which
// names no user and shares the request's Class); every third one refused.
std::string Sessions(int AFirst, int ACount) {
  static const char* const kUsers[] = {"alice", "bob", "carol"};
  std::string text;
  for (int k = AFirst; k < AFirst + ACount; ++k) {
    const std::string session = std::to_string(k);
    const bool refused = k % 3 == 1;
    text += test::EventLine(
        {{"Computer-Name", "NPS01"}, {"User-Name", kUsers[k % 3]}, {"Class", "311 " + session}, {"Packet-Type", "1"}});
    text += "\r\n";
    text += test::EventLine({{"Computer-Name", "NPS01"}, {"Class", "311 " + session}, {"Packet-Type", refused ? "3" : "2"}});
    text += "\r\n";
  }
  return text;
}

void Append(const std::string& APath, const std::string& ABytes) {
  std::FILE* file = std::fopen(APath.c_str(), "ab");
  QVERIFY(file != nullptr);
  std::fwrite(ABytes.data(), 1, ABytes.size(), file);
  std::fclose(file);
}

// Bytes the log store reads through the platform's pread seam, while counting is on.
int64_t gBytesRead = 0;
ssize_t CountingPread(int AHandle, void* ABuffer, size_t ALength, off_t AOffset) {
  const ssize_t got = ::pread(AHandle, ABuffer, ALength, AOffset);
  if (got > 0) gBytesRead += got;
  return got;
}

}  // namespace

class TLiveLogTests : public test::TWindowTestBase {
  Q_OBJECT

 public:
  TLiveLogTests() { FWindowSize = QSize(900, 500); }

 private:
  int Rows() const { return FWindow->Model()->rowCount(); }
  TRecords BruteForce(const std::string& AQuery) const { return MatchEveryRecord(*TCompiledQuery::Compile(AQuery), *FData); }
  bool RowInView(int ARow) const {
    const QRect cell = FWindow->lvData->visualRect(FWindow->Model()->index(ARow, 0));
    return cell.isValid() && FWindow->lvData->viewport()->rect().contains(cell.center());
  }
  QString UserCell(int ARow) const {
    const auto& columns = FWindow->Model()->ViewColumns();
    for (size_t i = 0; i < columns.size(); ++i) {
      if (columns[i].Caption == "User-Name") return FWindow->Model()->index(ARow, static_cast<int>(i)).data().toString();
    }
    return "<no column>";
  }
  std::string CacheFolder() const { return FDir->File("cache") + "/velloran-viewer/index"; }

 private slots:
  void init() { SetUpWindow(); }
  void cleanup() {
    TearDownWindow();
    QVERIFY(FErrors.isEmpty());
  }

  // --- growth --------------------------------------------------------------------------------------

  // Appended records show without any action; the selection and the scroll position stay.
  void appendedRecordsAppearAndTheViewStays() {
    const std::string log = FDir->Write("IN261209.log", Sessions(0, 100));
    FWindow->LoadLog(log);
    QCOMPARE(Rows(), 200);
    FWindow->SelectRecord(20);
    const int scroll = FWindow->lvData->verticalScrollBar()->value();
    Append(log, Sessions(100, 5));
    QTRY_COMPARE(Rows(), 210);
    QCOMPARE(FWindow->SelectedRecord(), int64_t{20});
    QCOMPARE(FWindow->lvData->verticalScrollBar()->value(), scroll);
    QVERIFY2(FWindow->sbrPanel0->text().endsWith("210"), qPrintable(FWindow->sbrPanel0->text()));
    QCOMPARE(UserCell(208), QStringLiteral("carol"));  // session 104
  }

  // A record written in two pieces never shows half: one row, whole, once its end arrives.
  void aRecordWrittenInTwoPiecesShowsOnceWhole() {
    const std::string log = FDir->Write("IN261209.log", Sessions(0, 2));
    FWindow->LoadLog(log);
    const std::string line = test::EventLine({{"User-Name", "dave"}, {"Packet-Type", "1"}});
    Append(log, line.substr(0, line.size() / 2));
    QTRY_COMPARE(FData->Count(), int64_t{5});  // the log store has the piece...
    QTest::qWait(50);
    QCOMPARE(Rows(), 4);  // ...the list does not
    Append(log, line.substr(line.size() / 2) + "\r\n");
    QTRY_COMPARE(Rows(), 5);
    QCOMPARE(UserCell(4), QStringLiteral("dave"));
    Append(log, Sessions(2, 1));
    QTRY_COMPARE(Rows(), 7);
  }

  // Follow end keeps the last record in view; scrolling up or choosing an earlier record turns
  // it off, End on again; the choice is kept in the settings.
  void followEndTracksTheLastRecordUntilTheUserScrollsUp() {
    const std::string log = FDir->Write("IN261209.log", Sessions(0, 100));
    FWindow->LoadLog(log);
    QTest::keyClick(FWindow->lvData, Qt::Key_F);
    QVERIFY(FWindow->FollowEnd());
    Append(log, Sessions(100, 50));
    QTRY_COMPARE(Rows(), 300);
    QTRY_VERIFY(RowInView(299));
    FWindow->lvData->verticalScrollBar()->triggerAction(QAbstractSlider::SliderPageStepSub);
    QTRY_VERIFY(!FWindow->FollowEnd());
    Append(log, Sessions(150, 10));
    QTRY_COMPARE(Rows(), 320);
    QVERIFY(!RowInView(319));
    QTest::keyClick(FWindow->lvData, Qt::Key_End);
    QVERIFY(FWindow->FollowEnd());
    Append(log, Sessions(160, 10));
    QTRY_COMPARE(Rows(), 340);
    QTRY_VERIFY(RowInView(339));
    FWindow->SelectRecord(5);
    QVERIFY(!FWindow->FollowEnd());
    FWindow->SetFollowEnd(true);
    Restart();
    QVERIFY(FWindow->FollowEnd());
  }

  // A filter tests only the appended records, and shows exactly what a full scan would: a
  // reply appended after its request counts through its request. Find next reaches them too.
  void aFilterAndAFindTakeInAppendedRecords() {
    const std::string log = FDir->Write("IN261209.log", Sessions(0, 3000));
    FWindow->LoadLog(log);
    const std::string query = "User-Name = bob and Packet-Type = Access-Reject";
    FWindow->ApplyFilter(QString::fromStdString(query));
    QTRY_VERIFY(!FWindow->FilterRunning());
    QCOMPARE(RowsOnShow(), BruteForce(query));
    // A request whose reply comes in a later write.
    const std::string more = Sessions(3000, 40);
    const size_t half = more.find("\r\n") + 2;
    Append(log, more.substr(0, half));
    QTRY_COMPARE(FWindow->Model()->RecordCount(), int64_t{6001});
    Append(log, more.substr(half));
    QTRY_COMPARE(FWindow->Model()->RecordCount(), int64_t{6080});
    QTRY_COMPARE(FWindow->FilterEnd(), int64_t{6080});
    QTRY_VERIFY(!FWindow->FilterRunning());
    QCOMPARE(RowsOnShow(), BruteForce(query));
    QVERIFY2(FWindow->sbrFilter->text().endsWith(" of 6,080 records match"), qPrintable(FWindow->sbrFilter->text()));
    // The find's only match is appended after it started.
    FWindow->FindBar->SetText("User-Name = erin");
    FWindow->FindNext(false);
    QTRY_VERIFY(!FWindow->FindRunning());
    QCOMPARE(FWindow->SelectedRecord(), int64_t{-1});
    FWindow->ClearFilter();
    Append(log, test::EventLine({{"User-Name", "erin"}, {"Packet-Type", "1"}}) + "\r\n");
    QTRY_COMPARE(Rows(), 6081);
    QTRY_VERIFY(!FWindow->FindRunning());
    FWindow->FindNext(false);
    QTRY_COMPARE(FWindow->SelectedRecord(), int64_t{6080});
  }

  // --- rotation ------------------------------------------------------------------------------------

  // A log replaced under its name (rotated by renaming, or cut and written again) is read from
  // its start, with the filter still applied.
  void aReplacedLogIsReadAgainWithItsFilter() {
    const std::string log = FDir->Write("IN261209.log", Sessions(0, 30));
    FWindow->LoadLog(log);
    FWindow->ApplyFilter("bob");
    QTRY_VERIFY(!FWindow->FilterRunning());
    const std::string next = FDir->Write("next.log", Sessions(100, 7));
    QCOMPARE(std::rename(next.c_str(), log.c_str()), 0);
    QTRY_COMPARE(FWindow->Model()->RecordCount(), int64_t{14});
    QTRY_VERIFY(!FWindow->FilterRunning());
    QCOMPARE(FWindow->FilterText(), QStringLiteral("bob"));
    QCOMPARE(RowsOnShow(), BruteForce("bob"));
    QVERIFY2(FWindow->sbrPanel1->text().contains("The log was replaced; reloaded"), qPrintable(FWindow->sbrPanel1->text()));
    FDir->Write("IN261209.log", Sessions(200, 2));  // cut to fewer bytes and written again
    QTRY_COMPARE(FWindow->Model()->RecordCount(), int64_t{4});
    QTRY_VERIFY(!FWindow->FilterRunning());
    QCOMPARE(RowsOnShow(), BruteForce("bob"));
  }

  // A deleted log (even its folder) stays on show with a notice; nothing breaks.
  void aDeletedLogStaysOnShow() {
    const std::string folder = FDir->File("logs");
    std::filesystem::create_directory(folder);
    const std::string log = folder + "/IN261209.log";
    Append(log, Sessions(0, 10));
    FWindow->LoadLog(log);
    std::filesystem::remove_all(folder);
    QTRY_VERIFY2(FWindow->sbrPanel1->text().contains("The log was deleted"), qPrintable(FWindow->sbrPanel1->text()));
    QCOMPARE(Rows(), 20);
    FWindow->Model()->ForgetRows();
    QCOMPARE(UserCell(18), QStringLiteral("alice"));
    QCOMPARE(UserCell(19), QStringLiteral("alice"));  // a reply shows its request's user: the exchange still reads
    FWindow->SelectRecord(3);
    FWindow->ShowRecordDetails(3);
    QVERIFY(FWindow->DetailsExchange().Origin >= 0);
  }

  // A newer log of the scheme is offered in the status bar, or opened at once with Follow
  // newest file on (with the filter kept).
  void aNewerLogOfTheSchemeIsOfferedOrFollowed() {
    const std::string log = FDir->Write("IN261209.log", Sessions(0, 3));
    FWindow->LoadLog(log);
    QVERIFY(FWindow->sbrNewerLog->isHidden());
    FDir->Write("IN2612.log", Sessions(0, 1));  // a monthly log is another scheme
    const std::string newer = FDir->Write("IN261210.log", Sessions(10, 4));
    QTRY_VERIFY(!FWindow->sbrNewerLog->isHidden());
    QVERIFY2(FWindow->sbrNewerLog->text().contains("IN261210.log"), qPrintable(FWindow->sbrNewerLog->text()));
    QCOMPARE(FData->FileName(), log);
    emit FWindow->sbrNewerLog->linkActivated("switch");
    QCOMPARE(FData->FileName(), newer);
    QCOMPARE(Rows(), 8);
    FWindow->ApplyFilter("carol");
    QTRY_VERIFY(!FWindow->FilterRunning());
    FWindow->actFollowNewest->setChecked(true);
    const std::string newest = FDir->Write("IN261211.log", Sessions(20, 6));
    QTRY_COMPARE(FData->FileName(), newest);
    QTRY_VERIFY(!FWindow->FilterRunning());
    QCOMPARE(FWindow->FilterText(), QStringLiteral("carol"));
    QCOMPARE(RowsOnShow(), BruteForce("carol"));
    // An older log opened on purpose stays open; the newest is offered.
    FWindow->LoadLog(log);
    QTRY_VERIFY(!FWindow->sbrNewerLog->isHidden());
    QVERIFY2(FWindow->sbrNewerLog->text().contains("IN261211.log"), qPrintable(FWindow->sbrNewerLog->text()));
    QCOMPARE(FData->FileName(), log);
  }

  // --- the saved line index ---------------------------------------------------------------------------

  // Reopening an unchanged log reads its saved index instead of walking it; a grown one walks
  // only what was appended; a damaged index file is not trusted but rebuilt.
  void reopeningUsesTheSavedLineIndex() {
    // Large enough that the blocks a reopen reads (the head, the tail, the rows on screen) are
    // a small part of it.
    const std::string log = FDir->Write("IN261209.log", Sessions(0, 100000));
    const int64_t size = platform::LookupFile(log).Size;
    FWindow->LoadLog(log);
    QCOMPARE(Rows(), 200000);
    Restart();  // the index is saved when the log is closed
    QVERIFY(std::filesystem::exists(CacheFolder()));
    gBytesRead = 0;
    const platform::TPreadFunction previous = platform::SetPreadFunction(CountingPread);
    FWindow->LoadLog(log);
    platform::SetPreadFunction(previous);
    QCOMPARE(Rows(), 200000);
    QVERIFY2(gBytesRead < size / 8, qPrintable(QStringLiteral("%1 of %2 bytes read").arg(gBytesRead).arg(size)));

    Restart();
    Append(log, Sessions(100000, 5));
    FWindow->LoadLog(log);
    QCOMPARE(Rows(), 200010);
    QCOMPARE(UserCell(200008), QStringLiteral("carol"));  // session 100004

    Restart();
    for (const auto& entry : std::filesystem::directory_iterator(CacheFolder())) {
      std::FILE* file = std::fopen(entry.path().c_str(), "r+b");
      QVERIFY(file != nullptr);
      std::fseek(file, 100, SEEK_SET);
      std::fwrite("garbage!garbage!", 1, 16, file);
      std::fclose(file);
    }
    FWindow->LoadLog(log);
    QCOMPARE(Rows(), 200010);
    QCOMPARE(UserCell(200008), QStringLiteral("carol"));
    QCOMPARE(UserCell(0), QStringLiteral("alice"));
  }

  // The cache folder stays within its bound (the oldest index files go, never the open log's);
  // a cache folder that cannot be made means indexes in memory and one notice.
  void theIndexCacheIsBoundedAndItsFailureIsNoticedOnce() {
    std::filesystem::create_directories(CacheFolder());
    const std::string old = CacheFolder() + "/0000_old.idx";
    Append(old, "x");
    std::filesystem::resize_file(old, uint64_t{600} << 20);  // sparse: counts, takes no disk
    std::filesystem::last_write_time(old, std::filesystem::file_time_type::clock::now() - std::chrono::hours(48));
    const std::string log = FDir->Write("IN261209.log", Sessions(0, 50));
    FWindow->LoadLog(log);
    QVERIFY(!std::filesystem::exists(old));
    QCOMPARE(std::distance(std::filesystem::directory_iterator(CacheFolder()), std::filesystem::directory_iterator()), 1);

    const std::string blocker = FDir->Write("not-a-folder", "");
    ::setenv("XDG_CACHE_HOME", blocker.c_str(), 1);
    FWindow->LoadLog(FDir->Write("IN261210.log", Sessions(0, 5)));
    QCOMPARE(Rows(), 10);
    FWindow->LoadLog(log);
    QCOMPARE(Rows(), 100);
    QCOMPARE(FNotices.size(), 1);
    QVERIFY2(FNotices[0].contains("not-a-folder"), qPrintable(FNotices[0]));
    ::setenv("XDG_CACHE_HOME", FDir->File("cache").c_str(), 1);
  }
};

QTEST_MAIN(TLiveLogTests)
#include "LiveLogTests.moc"
