#include <QAbstractItemModelTester>
#include <QDialog>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableView>
#include <QTimer>
#include <QTreeWidget>
#include <QtTest>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>

#include "DataModule.h"
#include "EventLines.h"
#include "LogData.h"
#include "MainWindow.h"
#include "PlatformFile.h"
#include "ProgressDialog.h"
#include "TestFiles.h"

using namespace velloran;

namespace {

std::string EventLine(int AIndex, bool AWithUser = true) {
  std::string line = "<Event><Timestamp data_type=\"4\">12/09/2026 10:00:";
  line += std::to_string(10 + AIndex % 50) + ".000</Timestamp><Computer-Name data_type=\"1\">NPS01</Computer-Name>";
  if (AWithUser) line += "<User-Name data_type=\"1\">CORP\\user" + std::to_string(AIndex) + "</User-Name>";
  line += "<Packet-Type data_type=\"0\">" + std::to_string(AIndex % 2 == 0 ? 1 : 3) + "</Packet-Type>";
  line += "<Reason-Code data_type=\"0\">" + std::to_string(AIndex % 2 == 0 ? 0 : 16) + "</Reason-Code></Event>\r\n";
  return line;
}

std::string SmallLog(int ALines) {
  std::string log;
  for (int i = 0; i < ALines; ++i) log += EventLine(i, i != 1);  // record 1 lacks User-Name
  return log;
}

// Two interleaved sessions: alice refused, bob granted (his reply holds an empty User-Name of
// its own), and a request without a user.
std::string ExchangeLog() {
  const auto record = [](const char* AClass, const char* AType, test::TAttributes AMore) {
    test::TAttributes attributes{{"Timestamp", "12/01/2026 00:00:00.904"}, {"Computer-Name", "NPS01"}, {"Class", AClass}};
    attributes.insert(attributes.end(), AMore.begin(), AMore.end());
    attributes.emplace_back("Packet-Type", AType);
    return test::EventLine(attributes);
  };
  return test::LogOf({
      record("A", "1", {{"User-Name", "CORP\\alice &amp; co"}, {"NAS-Identifier", "WLC-2"}, {"NAS-IP-Address", "10.35.217.16"}}),
      record("B", "1", {{"User-Name", "bob"}}),
      record("A", "3", {{"NP-Policy-Name", "Wi-Fi Staff"}, {"Reason-Code", "16"}}),
      record("B", "2", {{"User-Name", ""}}),
      record("C", "1", {}),
  });
}

}  // namespace

class TMainWindowTests : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<test::TTempDir> FDir;
  std::unique_ptr<Tdm> FDataModule;
  std::unique_ptr<TData> FData;
  std::unique_ptr<TfrmMain> FWindow;
  QStringList FErrors;

  TrsStorage& Settings() const { return FDataModule->rsStorage; }
  // A new window on new data, as the program starts one, with the data module's settings;
  // the previous window (which saves its layout) and its data go first.
  void NewWindow(std::string AStartFile = {}) {
    FWindow.reset();
    FData = std::make_unique<TData>();
    FWindow = std::make_unique<TfrmMain>(TMainWindowContext{*FData, Settings(), std::move(AStartFile)}, nullptr,
                                         [this](const QString& AMessage) { FErrors << AMessage; });
  }

  QStringList Captions() const {
    QStringList captions;
    for (const auto& column : FWindow->Model()->ViewColumns()) captions << column.Caption;
    return captions;
  }
  QList<int> Widths() const {
    QList<int> widths;
    for (int i = 0; i < static_cast<int>(FWindow->Model()->ViewColumns().size()); ++i) {
      widths << FWindow->lvData->horizontalHeader()->sectionSize(i);
    }
    return widths;
  }
  QStringList RecentMenu() const {
    QStringList entries;
    for (QAction* action : FWindow->miOpenRecent->actions()) entries << action->text().replace("&&", "&");
    return entries;
  }
  // Closes the window and the data module (which saves the settings), then starts both again
  // on the same data folder, after AEdit has changed the saved settings file's storage.
  void Restart(const std::function<void(TrsStorage&)>& AEdit = {}) {
    FWindow->close();
    FWindow.reset();
    if (AEdit) AEdit(FDataModule->rsStorage);
    FDataModule.reset();
    FDataModule = std::make_unique<Tdm>(std::vector<std::string>{"nosplash"}, nullptr, FDir->File("data"));
    NewWindow();
  }

  QString Cell(int ARow, const QString& ACaption) const {
    const auto& columns = FWindow->Model()->ViewColumns();
    for (size_t i = 0; i < columns.size(); ++i) {
      if (columns[i].Caption == ACaption) return FWindow->Model()->index(ARow, static_cast<int>(i)).data().toString();
    }
    return "<no column>";
  }

 private slots:
  void init() {
    FDir = std::make_unique<test::TTempDir>();
    ::setenv("XDG_CONFIG_HOME", FDir->File("config").c_str(), 1);
    FDataModule = std::make_unique<Tdm>(std::vector<std::string>{"nosplash"}, nullptr, FDir->File("data"));
    NewWindow();
    FErrors.clear();
    FWindow->ShowError = [this](const QString& AMessage) { FErrors << AMessage; };
    FWindow->show();
    QVERIFY(QTest::qWaitForWindowExposed(FWindow.get()));
  }

  void cleanup() {
    FWindow.reset();
    FData.reset();
    FDataModule.reset();
    FDir.reset();
  }

  void defaultLayoutHasTheSixColumnsAndNoDetails() {
    const auto& columns = FWindow->Model()->ViewColumns();
    QStringList captions;
    for (const auto& column : columns) captions << column.Caption;
    QCOMPARE(captions, QStringList({"Timestamp", "Computer-Name", "User-Name", "Event-Source", "Packet-Type", "Reason-Code"}));
    // Widths come from the font: a whole Timestamp and a coded name fit their columns.
    const QFontMetrics metrics = FWindow->lvData->fontMetrics();
    for (int i = 0; i < 6; ++i) QCOMPARE(FWindow->lvData->horizontalHeader()->sectionSize(i), ContentWidth(metrics, captions[i]));
    QVERIFY(Widths()[0] > metrics.horizontalAdvance("12/01/2026 00:00:00.904"));
    QVERIFY(Widths()[4] > metrics.horizontalAdvance("Accounting-Response"));
    QCOMPARE(FWindow->size(), QSize(800, 600));
    QVERIFY(!FWindow->DetailsVisible());
  }

  void statusBarTextsAndActionEnabling() {
    FWindow->UpdateActions();
    QVERIFY(!FWindow->actExport->isEnabled());
    QVERIFY(!FWindow->actColumnsCustomize->isEnabled());
    QVERIFY(!FWindow->actDetails->isEnabled());
    QCOMPARE(FWindow->sbrPanel0->text(), QString("-:-"));

    const std::string path = FDir->Write("small.log", SmallLog(3456));
    FWindow->LoadLog(path);
    FWindow->UpdateActions();
    QVERIFY(FWindow->actExport->isEnabled());
    QCOMPARE(FWindow->sbrPanel0->text(), QString("-:3456"));
    QCOMPARE(FWindow->sbrPanel1->text(), QString::fromStdString(path));
    FWindow->lvData->selectRow(11);
    QCOMPARE(FWindow->sbrPanel0->text(), QString("12:3456"));
    FWindow->UpdateActions();
    QVERIFY(FWindow->actDetails->isEnabled());
    // Enabled once a record was parsed for display (the list paints), re-evaluated when the
    // application's event loop goes idle.
    QEventLoop idle;
    QTimer::singleShot(100, &idle, &QEventLoop::quit);
    idle.exec();
    QVERIFY(FWindow->actColumnsCustomize->isEnabled());

    const std::string empty = FDir->Write("empty.log", "");
    FWindow->LoadLog(empty);
    FWindow->UpdateActions();
    QCOMPARE(FWindow->sbrPanel0->text(), QString("-:-"));
    QVERIFY(FWindow->sbrPanel1->text().startsWith(QString::fromStdString(empty)));
    QVERIFY(!FWindow->actExport->isEnabled());
    QVERIFY(FWindow->actColumnsCustomize->isEnabled());  // columns of earlier logs remain

    FWindow->LoadLog(FDir->File("missing.log"));
    QCOMPARE(FWindow->sbrPanel0->text(), QString("-:-"));
    QVERIFY(FWindow->sbrPanel1->text().startsWith(QString::fromStdString(FDir->File("missing.log"))));
    QVERIFY(FErrors.isEmpty());
  }

  void cellsFollowCaptionsAndColumnsBindLate() {
    FWindow->LoadLog(FDir->Write("small.log", SmallLog(5)));
    TLogTableModel* model = FWindow->Model();
    QAbstractItemModelTester tester(model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QCOMPARE(Cell(0, "User-Name"), QString("CORP\\user0"));
    QCOMPARE(Cell(1, "User-Name"), QString());  // the record lacks the attribute
    QCOMPARE(Cell(1, "Event-Source"), QString());

    // Packet-Type is a coded integer column: its names read left-aligned, its raw numbers
    // right-aligned, once a record holding it was shown.
    const int packetType = 4;
    QCOMPARE(model->ViewColumns()[packetType].Caption, QString("Packet-Type"));
    QCOMPARE(Cell(2, "Packet-Type"), QString("Access-Request"));
    QVERIFY(model->ViewColumns()[packetType].Binding >= 0);
    QVERIFY(model->index(2, packetType).data(Qt::TextAlignmentRole).value<Qt::Alignment>() & Qt::AlignLeft);
    FWindow->actRawValues->setChecked(true);
    QCOMPARE(Cell(2, "Packet-Type"), QString("1"));
    QVERIFY(model->index(2, packetType).data(Qt::TextAlignmentRole).value<Qt::Alignment>() & Qt::AlignRight);
    QVERIFY(model->ViewColumns()[3].Binding < 0);  // Event-Source: no record has had it
  }

  void cellsReadAsNamesAndDecodedTextUnlessRawValuesWhichPersist() {
    FWindow->LoadLog(FDir->Write("exchange.log", ExchangeLog()));
    QCOMPARE(Cell(0, "User-Name"), QString("CORP\\alice & co"));
    QCOMPARE(Cell(2, "Packet-Type"), QString("Access-Reject"));
    QCOMPARE(Cell(2, "Reason-Code"), QString("Credentials mismatch: unknown user name or wrong password"));
    FWindow->actRawValues->setChecked(true);
    QCOMPARE(Cell(0, "User-Name"), QString("CORP\\alice &amp; co"));
    QCOMPARE(Cell(2, "Packet-Type"), QString("3"));
    QCOMPARE(Cell(2, "User-Name"), QString());  // raw: only what the record itself holds
    Restart();
    QVERIFY(FWindow->actRawValues->isChecked());
    QVERIFY(FWindow->Model()->RawValues());
  }

  void aReplyRowShowsItsRequestsFieldsDimmedAndRefusalsAreTinted() {
    FWindow->LoadLog(FDir->Write("exchange.log", ExchangeLog()));
    TLogTableModel* model = FWindow->Model();
    const auto userCell = [&](int ARow) { return model->index(ARow, 2); };
    QCOMPARE(model->ViewColumns()[2].Caption, QString("User-Name"));
    QCOMPARE(Cell(2, "User-Name"), QString("CORP\\alice & co"));  // the reject: alice's request
    QVERIFY(userCell(2).data(Qt::FontRole).value<QFont>().italic());
    QVERIFY(userCell(2).data(Qt::ForegroundRole).isValid());
    QVERIFY(!userCell(0).data(Qt::FontRole).isValid());  // the request's own value
    QCOMPARE(Cell(3, "User-Name"), QString());           // the accept's own empty value stays
    QCOMPARE(Cell(4, "User-Name"), QString());           // a request lacking it has nobody to ask
    QCOMPARE(Cell(2, "Computer-Name"), QString("NPS01"));
    QVERIFY(!model->index(2, 1).data(Qt::FontRole).isValid());

    QVERIFY(model->index(2, 0).data(Qt::BackgroundRole).isValid());
    QVERIFY(!model->index(0, 0).data(Qt::BackgroundRole).isValid());
    QVERIFY(!model->index(3, 0).data(Qt::BackgroundRole).isValid());

    FWindow->actRequestFields->setChecked(false);
    QCOMPARE(Cell(2, "User-Name"), QString());
    Restart();
    QVERIFY(!FWindow->actRequestFields->isChecked());
  }

  void detailsPaneAnswersAndGoesToReplyAndBack() {
    FWindow->LoadLog(FDir->Write("exchange.log", ExchangeLog()));
    FWindow->SetDetailsVisible(true);
    FWindow->lvData->selectRow(0);
    FWindow->ShowRecordDetails(0);
    QCOMPARE(FWindow->lblAnswer->text(),
             QString("Refused: CORP\\alice & co from WLC-2 (10.35.217.16), policy \"Wi-Fi Staff\", reason 16: "
                     "Credentials mismatch: unknown user name or wrong password"));
    QCOMPARE(FWindow->lvExchange->topLevelItemCount(), 2);
    QCOMPARE(FWindow->lvExchange->topLevelItem(1)->text(2), QString("Access-Reject"));
    FWindow->UpdateActions();
    QCOMPARE(FWindow->actGoToPartner->text(), QString("&Go to reply"));
    FWindow->actGoToPartner->trigger();
    QCOMPARE(FWindow->lvData->selectionModel()->selectedRows().front().row(), 2);

    FWindow->ShowRecordDetails(2);
    const auto detail = [&](const QString& AName) {
      for (int i = 0; i < FWindow->lvDetails->topLevelItemCount(); ++i) {
        if (FWindow->lvDetails->topLevelItem(i)->text(0) == AName) return FWindow->lvDetails->topLevelItem(i);
      }
      return static_cast<QTreeWidgetItem*>(nullptr);
    };
    QCOMPARE(detail("Packet-Type")->text(1), QString("Access-Reject (3)"));
    QCOMPARE(detail("Reason-Code")->text(1),
             QString::fromUtf8("16 \u2014 Credentials mismatch: unknown user name or wrong password"));
    QVERIFY(detail("User-Name") != nullptr && detail("User-Name")->font(1).italic());  // from the request
    FWindow->UpdateActions();
    QCOMPARE(FWindow->actGoToPartner->text(), QString("&Go to request"));
    FWindow->actGoToPartner->trigger();
    QCOMPARE(FWindow->lvData->selectionModel()->selectedRows().front().row(), 0);

    // A record alone in its Class says so, and Go to leaves the selection where it is.
    FWindow->lvData->selectRow(4);
    FWindow->ShowRecordDetails(4);
    QVERIFY(FWindow->lblAnswer->text().contains("no other record of this Class"));
    FWindow->actGoToPartner->trigger();
    QCOMPARE(FWindow->lvData->selectionModel()->selectedRows().front().row(), 4);
  }

  void doubleClickOnADividerFitsTheColumnToTheRowsOnScreen() {
    FWindow->LoadLog(FDir->Write("exchange.log", ExchangeLog()));
    QHeaderView* header = FWindow->lvData->horizontalHeader();
    header->resizeSection(4, 10);
    emit header->sectionHandleDoubleClicked(4);
    QVERIFY(header->sectionSize(4) > FWindow->lvData->fontMetrics().horizontalAdvance("Access-Request"));
    QVERIFY(header->sectionSize(4) < FWindow->lvData->fontMetrics().horizontalAdvance("Access-Request") * 2);
  }

  void oneReusedRowServesAllCellsOfARecord() {
    FWindow->LoadLog(FDir->Write("small.log", SmallLog(5)));
    TLogTableModel* model = FWindow->Model();
    const int before = model->RowFetches();
    for (int column = 0; column < model->columnCount(); ++column) model->index(3, column).data();
    QCOMPARE(model->RowFetches(), before + 1);
  }

  void detailsAreFilledOnceAfterABurstAndNotForTheSameRecord() {
    FWindow->LoadLog(FDir->Write("small.log", SmallLog(50)));
    FWindow->SetDetailsVisible(true);
    QSignalSpy timeouts(FWindow->tmrItemDetails, &QTimer::timeout);
    QVERIFY(timeouts.wait(1000));
    const int fills = FWindow->DetailsFills();
    for (int row = 1; row <= 20; ++row) FWindow->lvData->selectRow(row);
    QVERIFY(timeouts.wait(1000));
    QCOMPARE(FWindow->DetailsFills(), fills + 1);
    QCOMPARE(FWindow->DetailsIndex(), 20);
    QCOMPARE(FWindow->lvDetails->topLevelItemCount(), 5);
    QCOMPARE(FWindow->lvDetails->topLevelItem(2)->text(0), QString("User-Name"));
    QCOMPARE(FWindow->lvDetails->topLevelItem(2)->text(1), QString("CORP\\user20"));

    FWindow->UpdateStatusBar();  // the same selection: the timer runs, the pane stays
    QVERIFY(timeouts.wait(1000));
    QCOMPARE(FWindow->DetailsFills(), fills + 1);
    FWindow->SetDetailsVisible(false);
    FWindow->SetDetailsVisible(true);
    QVERIFY(timeouts.wait(1000));
    QCOMPARE(FWindow->DetailsFills(), fills + 1);

    FWindow->lvData->selectRow(1);  // fewer attributes: the surplus line goes
    QVERIFY(timeouts.wait(1000));
    QCOMPARE(FWindow->lvDetails->topLevelItemCount(), 4);
    FWindow->lvData->clearSelection();
    QVERIFY(timeouts.wait(1000));
    QCOMPARE(FWindow->lvDetails->topLevelItemCount(), 0);
    QCOMPARE(FWindow->DetailsIndex(), -1);
  }

  void progressCaptionAndLargeLogs() {
    FWindow->BeginProgress("Loading", "Loading data, please wait...");
    QVERIFY(FWindow->ProgressActive());
    FWindow->SetProgress(42);
    QCOMPARE(FWindow->windowTitle(), QString("42% Velloran Viewer"));
    FWindow->EndProgress();
    QVERIFY(!FWindow->ProgressActive());
    QCOMPARE(FWindow->windowTitle(), QString("Velloran Viewer"));

    // Exactly 20 MiB loads without the display; 21 MiB with it.
    std::string log;
    const std::string line = EventLine(0);
    while (log.size() + line.size() <= 20971520) log += line;
    log.append(20971520 - log.size(), '\n');
    QCOMPARE(log.size(), size_t{20971520});
    bool sawProgress = false;
    QTimer probe;
    connect(&probe, &QTimer::timeout, this, [&] { sawProgress = sawProgress || FWindow->ProgressActive(); });
    probe.start(0);
    FWindow->LoadLog(FDir->Write("exact.log", log));
    QVERIFY(!sawProgress);
    log.append(1048576, '\n');
    const std::string large = FDir->Write("large.log", log);
    FWindow->LoadLog(large);
    QVERIFY(sawProgress);
    QVERIFY(!FWindow->ProgressActive());
    QVERIFY(FWindow->ProgressDialog() == nullptr);
    QCOMPARE(FWindow->windowTitle(), QString("Velloran Viewer"));
    QVERIFY(FData->Count() > 0);
    QCOMPARE(FWindow->Model()->rowCount(), static_cast<int>(FData->Count()));
  }

  void aLoadCancelledFromTheDialogLeavesAnEmptyList() {
    std::string log;
    const std::string line = EventLine(0);
    while (log.size() < 22020096) log += line;
    const std::string large = FDir->Write("large.log", log);
    // Pressed as soon as the dialog lets events through, at the first progress step.
    QTimer::singleShot(0, this, [this] {
      QVERIFY(FWindow->ProgressDialog() != nullptr);
      auto* cancel = FWindow->ProgressDialog()->Form()->findChild<QPushButton*>();
      QVERIFY(cancel != nullptr);
      cancel->click();
    });
    FWindow->LoadLog(large);
    QVERIFY(!FWindow->ProgressActive());
    QCOMPARE(FData->Count(), int64_t{0});
    QCOMPARE(FWindow->Model()->rowCount(), 0);
    QCOMPARE(FWindow->sbrPanel0->text(), QString("-:-"));
    FWindow->UpdateActions();
    QVERIFY(!FWindow->actExport->isEnabled());
    QVERIFY(FWindow->isEnabled());
    QVERIFY(FErrors.isEmpty());
  }

  void recentListKeepsTheLastTenInOrder() {
    std::vector<std::string> files;
    for (int i = 0; i < 11; ++i) files.push_back(FDir->Write(QString("f%1.log").arg(i).toStdString(), SmallLog(1)));
    FWindow->LoadLog(files[0]);
    FWindow->LoadLog(files[1]);
    FWindow->LoadLog(files[2]);
    const auto q = [&](int AIndex) { return QString::fromStdString(files[static_cast<size_t>(AIndex)]); };
    QCOMPARE(RecentMenu(), QStringList({q(2), q(1), q(0)}));
    FWindow->LoadLog(files[0]);
    QCOMPARE(RecentMenu(), QStringList({q(0), q(2), q(1)}));
    FWindow->LoadLog(files[0]);
    QCOMPARE(RecentMenu(), QStringList({q(0), q(2), q(1)}));
    for (int i = 3; i < 11; ++i) FWindow->LoadLog(files[static_cast<size_t>(i)]);
    QCOMPARE(RecentMenu().size(), 10);
    QCOMPARE(RecentMenu().front(), q(10));
    QVERIFY(!RecentMenu().contains(q(1)));  // the oldest went
    Settings().SetRootSection("OpenRecent");
    std::vector<std::string> keys;
    Settings().KeyList(keys);
    Settings().SetRootSection("");
    QCOMPARE(keys.size(), size_t{10});
    QCOMPARE(QString::fromStdString(keys.back()), QString("Item10"));
  }

  void twoRecentClicksWithin100MsLoadOnlyTheSecond() {
    const std::string a = FDir->Write("a.log", SmallLog(2));
    const std::string b = FDir->Write("b.log", SmallLog(3));
    const std::string gone = FDir->File("gone.log");
    FWindow->LoadLog(gone);
    FWindow->LoadLog(a);
    FWindow->LoadLog(b);
    FWindow->LoadLog(FDir->Write("c.log", SmallLog(1)));
    // The menu: c, b, a, gone. Clicks on a and then on b.
    FWindow->miOpenRecent->actions()[2]->trigger();
    FWindow->miOpenRecent->actions()[1]->trigger();
    QTRY_COMPARE(QString::fromStdString(FData->FileName()), QString::fromStdString(b));
    QCOMPARE(RecentMenu().mid(0, 3),
             QStringList({QString::fromStdString(b), QString::fromStdString(FDir->File("c.log")), QString::fromStdString(a)}));
    QCOMPARE(FWindow->Model()->rowCount(), 3);
    // A recent file that is gone opens as an empty log and moves to the head.
    FWindow->miOpenRecent->actions()[3]->trigger();
    QTRY_COMPARE(QString::fromStdString(FData->FileName()), QString::fromStdString(gone));
    QCOMPARE(RecentMenu().front(), QString::fromStdString(gone));
    QCOMPARE(FWindow->Model()->rowCount(), 0);
    QVERIFY(FErrors.isEmpty());
  }

  void storedViewKeysDecideTheColumns_data() {
    QTest::addColumn<QString>("captions");
    QTest::addColumn<QString>("widths");
    QTest::addColumn<QStringList>("expectedCaptions");
    QTest::addColumn<QList<int>>("expectedWidths");
    QTest::newRow("both absent") << QString() << QString() << QStringList{"Timestamp",    "Computer-Name", "User-Name",
                                                                          "Event-Source", "Packet-Type",   "Reason-Code"}
                                 << QList<int>{-1, -1, -1, -1, -1, -1};
    // -1: the width the column's usual content needs in the list's font.
    QTest::newRow("captions without widths: each fits its content")
        << "Timestamp,User-Name,Class" << QString() << QStringList{"Timestamp", "User-Name", "Class"} << QList<int>{-1, -1, -1};
    QTest::newRow("fewer widths than captions: the rest fit their content")
        << "Timestamp,User-Name,Class"
        << "111,222" << QStringList{"Timestamp", "User-Name", "Class"} << QList<int>{111, 222, -1};
    QTest::newRow("a width that is no number: fits its content")
        << "Timestamp,Class"
        << "x,77" << QStringList{"Timestamp", "Class"} << QList<int>{-1, 77};
  }

  void storedViewKeysDecideTheColumns() {
    QFETCH(QString, captions);
    QFETCH(QString, widths);
    QFETCH(QStringList, expectedCaptions);
    QFETCH(QList<int>, expectedWidths);
    FWindow->close();
    FWindow.reset();  // saves its layout: the keys under test are set afresh
    Settings().KeyDelete("\\Main\\ViewCaptions");
    Settings().KeyDelete("\\Main\\ViewWidths");
    if (!captions.isEmpty()) Settings().WriteString("\\Main\\ViewCaptions", captions.toStdString());
    if (!widths.isEmpty()) Settings().WriteString("\\Main\\ViewWidths", widths.toStdString());
    NewWindow();
    QCOMPARE(Captions(), expectedCaptions);
    for (int i = 0; i < expectedWidths.size(); ++i) {
      if (expectedWidths[i] < 0) expectedWidths[i] = ContentWidth(FWindow->lvData->fontMetrics(), expectedCaptions[i]);
    }
    QCOMPARE(Widths(), expectedWidths);
  }

  void layoutValuesThatDoNotConvertAreReportedOnce() {
    FWindow->close();
    FWindow.reset();
    Settings().WriteString("\\Main\\FormPlacement", "0,1,-1,-1,-1,-1,x,10,500,400");
    NewWindow();
    QCOMPARE(FErrors.size(), 1);
    QVERIFY2(FErrors[0].contains("0,1,-1,-1,-1,-1,x,10,500,400"), qPrintable(FErrors[0]));
    QCOMPARE(FWindow->size(), QSize(800, 600));
    QCOMPARE(Captions().size(), 3);  // the design columns: the rest of the layout was skipped
    FWindow.reset();
    Settings().WriteString("\\Main\\FormPlacement", "1,2,3");  // not ten fields: ignored
    Settings().WriteString("\\Main\\DetailsVisible", "maybe");
    NewWindow();
    QCOMPARE(FWindow->size(), QSize(800, 600));
    QCOMPARE(Captions().size(), 3);  // what the first window applied, and saved
    QCOMPARE(FErrors.size(), 2);     // the flag that does not convert, once
    QVERIFY(!FWindow->DetailsVisible());
  }

  void exportWritesCsvOrXmlByExtensionAndReportsFailures() {
    FWindow->LoadLog(FDir->Write("small.log", SmallLog(3)));
    std::string target;
    FWindow->SelectExportFile = [&](std::string& AFileName) {
      AFileName = target;
      return true;
    };
    target = FDir->File("out.CSV");
    FWindow->UpdateActions();
    FWindow->actExport->trigger();
    QCOMPARE(FErrors, QStringList());
    QVERIFY(platform::ReadWholeFile(target).rfind("Timestamp,Computer-Name,User-Name", 0) == 0);
    QCOMPARE(QString::fromStdString(Settings().ReadString("\\Export\\FileName", "")), QString::fromStdString(target));
    target = FDir->File("out.txt");
    FWindow->actExport->trigger();
    QVERIFY(platform::ReadWholeFile(target).rfind("<Event>", 0) == 0);
    QVERIFY(FErrors.isEmpty());
    // The dialog's code-names box: names instead of numbers in coded columns.
    target = FDir->File("names.csv");
    FWindow->ExportCodeNames = true;
    FWindow->actExport->trigger();
    QVERIFY(platform::ReadWholeFile(target).find(",Access-Reject,") != std::string::npos);
    FWindow->ExportCodeNames = false;

    FWindow->lvData->selectRow(1);
    target = FDir->File("no/such/folder/out.csv");
    FWindow->actExport->trigger();
    QCOMPARE(FErrors.size(), 1);
    QVERIFY2(FErrors[0].contains(QString::fromStdString(target)), qPrintable(FErrors[0]));
    QCOMPARE(FWindow->sbrPanel0->text(), QString("2:3"));  // the list is still there, selection kept
    QVERIFY(!FWindow->ProgressActive());
  }

  void columnDialogKeepsWidthsOfColumnsThatStay() {
    FWindow->LoadLog(FDir->Write("small.log", SmallLog(3)));
    FWindow->lvData->viewport()->repaint();
    const QList<int> before = Widths();
    QString offeredAll, offeredDefaults, offeredCurrent;
    FWindow->ColumnsDialog = [&](const QString& AAll, const QString& ADefaults, QString& ACurrent) {
      offeredAll = AAll;
      offeredDefaults = ADefaults;
      offeredCurrent = ACurrent;
      ACurrent = "User-Name|Timestamp|Reason-Code|Class";
      return true;
    };
    FWindow->UpdateActions();
    FWindow->actColumnsCustomize->trigger();
    QCOMPARE(offeredCurrent, QString("Timestamp|Computer-Name|User-Name|Event-Source|Packet-Type|Reason-Code"));
    QCOMPARE(offeredDefaults, offeredCurrent);
    QVERIFY(offeredAll.startsWith("Timestamp|Computer-Name|User-Name"));
    QCOMPARE(Captions(), QStringList({"User-Name", "Timestamp", "Reason-Code", "Class"}));
    // Columns that stay keep their widths; Class is new and fits its usual content.
    QCOMPARE(Widths(), QList<int>({before[2], before[0], before[5], ContentWidth(FWindow->lvData->fontMetrics(), "Class")}));
    QVERIFY(FWindow->Model()->ViewColumns()[2].Binding >= 0);  // bound at once
    FWindow->ColumnsDialog = [](const QString&, const QString&, QString&) { return false; };
    FWindow->actColumnsCustomize->trigger();
    QCOMPARE(Captions().size(), 4);  // cancelled: nothing changes
  }

  void settingsRoundTripRestoresColumnsSizeDetailsAndRecentFiles() {
    const std::string log = FDir->Write("small.log", SmallLog(3));
    FWindow->LoadLog(log);
    FWindow->lvData->viewport()->repaint();  // records parsed: columns known
    FWindow->ColumnsDialog = [](const QString&, const QString&, QString& ACurrent) {
      ACurrent = "Reason-Code|User-Name";
      return true;
    };
    FWindow->UpdateActions();
    FWindow->actColumnsCustomize->trigger();
    FWindow->lvData->horizontalHeader()->resizeSection(1, 222);
    FWindow->resize(900, 650);
    FWindow->lvData->selectRow(0);
    FWindow->SetDetailsVisible(true);
    Restart();
    QCOMPARE(Captions(), QStringList({"Reason-Code", "User-Name"}));
    QCOMPARE(Widths(), QList<int>({ContentWidth(FWindow->lvData->fontMetrics(), "Reason-Code"), 222}));
    QCOMPARE(FWindow->size(), QSize(900, 650));
    QVERIFY(FWindow->DetailsVisible());
    QCOMPARE(RecentMenu(), QStringList({QString::fromStdString(log)}));
    QCOMPARE(QString::fromStdString(Settings().ReadString("\\Main\\FileName", "")), QString::fromStdString(log));
  }

  void recentListAndStartFile() {
    const std::string a = FDir->Write("a&b.log", SmallLog(2));
    const std::string b = FDir->Write("b.log", SmallLog(2));
    FWindow->LoadLog(a);
    FWindow->LoadLog(b);
    QCOMPARE(FWindow->miOpenRecent->actions().size(), 2);
    QCOMPARE(FWindow->miOpenRecent->actions()[0]->text(), QString::fromStdString(b));
    QCOMPARE(FWindow->pmRecentLogs->actions()[1]->text().replace("&&", "&"), QString::fromStdString(a));
    QCOMPARE(QString::fromStdString(Settings().ReadString("\\Main\\FileName", "")), QString::fromStdString(b));
  }

  void startFileLoadsOnceTheWindowHasFirstShown() {
    const std::string log = FDir->Write("start.log", SmallLog(4));
    NewWindow(log);
    QCoreApplication::processEvents();
    QCOMPARE(FData->FileName(), std::string());  // not before the window is on the screen
    FWindow->show();
    QTRY_COMPARE(QString::fromStdString(FData->FileName()), QString::fromStdString(log));
    QCOMPARE(FWindow->Model()->rowCount(), 4);
    QCOMPARE(RecentMenu(), QStringList({QString::fromStdString(log)}));
    QVERIFY(FErrors.isEmpty());
  }
};

QTEST_MAIN(TMainWindowTests)
#include "MainWindowTests.moc"
