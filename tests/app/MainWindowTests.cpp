#include <QAbstractItemModelTester>
#include <QClipboard>
#include <QDialog>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QSplitter>
#include <QStatusBar>
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
    ::setenv("XDG_CACHE_HOME", FDir->File("cache").c_str(), 1);  // saved line indexes
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
    QCOMPARE(FWindow->sbrPanel0->text(), QString("-:3,456"));  // thousands separated, English where the locale is C
    QCOMPARE(FWindow->sbrPanel1->text(), QString::fromStdString(path));
    QCOMPARE(FWindow->windowTitle(), QString::fromUtf8("small.log \u2014 Velloran Viewer"));
    FWindow->lvData->selectRow(11);
    QCOMPARE(FWindow->sbrPanel0->text(), QString("12:3,456"));
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

    QVERIFY(FErrors.isEmpty());

    // A missing file is an error naming it, not an empty window.
    FWindow->LoadLog(FDir->File("missing.log"));
    QCOMPARE(FWindow->sbrPanel0->text(), QString("-:-"));
    QVERIFY(FWindow->sbrPanel1->text().startsWith(QString::fromStdString(FDir->File("missing.log"))));
    QCOMPARE(FErrors.size(), 1);
    QVERIFY2(FErrors[0].contains("missing.log") && FErrors[0].contains("Cannot open"), qPrintable(FErrors[0]));
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
    QCOMPARE(FWindow->windowTitle(), QString::fromUtf8("large.log \u2014 Velloran Viewer"));
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
    QCOMPARE(FWindow->sbrPanel1->text(), "Loading cancelled: " + QString::fromStdString(large));
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
    // A recent file that is gone says so, and moves to the head.
    FErrors.clear();
    FWindow->miOpenRecent->actions()[3]->trigger();
    QTRY_COMPARE(QString::fromStdString(FData->FileName()), QString::fromStdString(gone));
    QCOMPARE(RecentMenu().front(), QString::fromStdString(gone));
    QCOMPARE(FWindow->Model()->rowCount(), 0);
    QCOMPARE(FErrors.size(), 1);
    QVERIFY(FErrors[0].contains(QString::fromStdString(gone)));
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
    Settings().WriteString("\\Main\\ViewCaptions", "Timestamp,Class");
    Settings().WriteString("\\Main\\ViewWidths", "120,90");
    Settings().WriteString("\\Main\\FormPlacement", "0,1,-1,-1,-1,-1,x,10,500,400");
    Settings().WriteString("\\Main\\DetailsWidth", "wide");
    NewWindow();
    // Each value that does not convert is reported with its key; the rest of the layout stays.
    QCOMPARE(FErrors.size(), 2);
    QVERIFY2(FErrors[0].contains("0,1,-1,-1,-1,-1,x,10,500,400") && FErrors[0].contains("\\Main\\FormPlacement"),
             qPrintable(FErrors[0]));
    QVERIFY2(FErrors[1].contains("\\Main\\DetailsWidth"), qPrintable(FErrors[1]));
    QCOMPARE(FWindow->size(), QSize(800, 600));
    QCOMPARE(Captions(), QStringList({"Timestamp", "Class"}));
    QCOMPARE(Widths(), QList<int>({120, 90}));
    FWindow.reset();
    Settings().WriteString("\\Main\\FormPlacement", "1,2,3");  // not ten fields: ignored
    Settings().WriteString("\\Main\\DetailsVisible", "maybe");
    NewWindow();
    QCOMPARE(FWindow->size(), QSize(800, 600));
    QCOMPARE(Captions(), QStringList({"Timestamp", "Class"}));
    QCOMPARE(FErrors.size(), 3);  // the flag that does not convert, once
    QVERIFY(!FWindow->DetailsVisible());
  }

  void exportWritesCsvOrXmlByExtensionAndReportsFailures() {
    FWindow->LoadLog(FDir->Write("small.log", SmallLog(3)));
    std::string target;
    FWindow->SelectExportFile = [&](std::string& AFileName, TDataExportFormat& AFormat) {
      AFileName = target;
      AFormat = ExportFormatOfFileName(target);
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
    FWindow->resize(760, 650);
    FWindow->lvData->selectRow(0);
    FWindow->SetDetailsVisible(true);
    Restart();
    QCOMPARE(Captions(), QStringList({"Reason-Code", "User-Name"}));
    QCOMPARE(Widths(), QList<int>({ContentWidth(FWindow->lvData->fontMetrics(), "Reason-Code"), 222}));
    QCOMPARE(FWindow->size(), QSize(760, 650));
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

  // --- faults a new user met -------------------------------------------------------------------

  void anotherLogStartsWithNothingOfThePreviousOne() {
    FWindow->resize(400, 300);  // narrower than the columns: the list scrolls sideways
    FWindow->LoadLog(FDir->Write("a.log", SmallLog(5)));
    FWindow->SetDetailsVisible(true);
    FWindow->lvData->selectRow(3);
    FWindow->ShowRecordDetails(3);
    QVERIFY(FWindow->lvDetails->topLevelItemCount() > 0);
    QScrollBar* sideways = FWindow->lvData->horizontalScrollBar();
    QTRY_VERIFY(sideways->maximum() > 0);
    sideways->setValue(sideways->maximum());
    // The same number of records: the old selection must not carry over either.
    FWindow->LoadLog(FDir->Write("b.log", SmallLog(5)));
    QCOMPARE(FWindow->lvDetails->topLevelItemCount(), 0);
    QCOMPARE(FWindow->DetailsIndex(), -1);
    QVERIFY(FWindow->lvData->selectionModel()->selection().isEmpty());
    QCOMPARE(sideways->value(), 0);
    QTest::qWait(120);  // the details timer runs: still nothing shown
    QCOMPARE(FWindow->lvDetails->topLevelItemCount(), 0);
    QVERIFY(FWindow->lblAnswer->isHidden());
  }

  void reloadKeepsTheSelectedRecordAndReadsNewLines() {
    const std::string path = FDir->Write("grow.log", SmallLog(4));
    FWindow->LoadLog(path);
    FWindow->lvData->selectRow(2);
    std::FILE* file = std::fopen(path.c_str(), "ab");
    std::fputs(EventLine(4).c_str(), file);
    std::fclose(file);
    QCOMPARE(FWindow->actReload->shortcut(), QKeySequence(Qt::Key_F5));
    FWindow->UpdateActions();
    FWindow->actReload->trigger();
    QCOMPARE(FWindow->Model()->rowCount(), 5);
    QCOMPARE(FWindow->lvData->selectionModel()->currentIndex().row(), 2);
    QCOMPARE(FWindow->sbrPanel0->text(), QString("3:5"));
  }

  void exportTargetFollowsTheFileTypeUnlessTheNameSaysOtherwise_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("choice");
    QTest::addColumn<QString>("file");
    QTest::addColumn<bool>("csv");
    const int csv = static_cast<int>(TExportChoice::ecCSV), xml = static_cast<int>(TExportChoice::ecXML),
              any = static_cast<int>(TExportChoice::ecAny);
    QTest::newRow("CSV type, bare name") << "/t/export1" << csv << "/t/export1.csv" << true;
    QTest::newRow("XML type, bare name") << "/t/export1" << xml << "/t/export1.xml" << false;
    QTest::newRow("CSV type, .xml name: the name wins") << "/t/a.xml" << csv << "/t/a.xml" << false;
    QTest::newRow("XML type, .CSV name: the name wins") << "/t/a.CSV" << xml << "/t/a.CSV" << true;
    QTest::newRow("CSV type, other extension kept") << "/t/a.txt" << csv << "/t/a.txt" << true;
    QTest::newRow("a dot in the folder is no extension") << "/t.d/export1" << csv << "/t.d/export1.csv" << true;
    QTest::newRow("a trailing dot") << "/t/export1." << xml << "/t/export1.xml" << false;
    QTest::newRow("any file: the name decides") << "/t/a.txt" << any << "/t/a.txt" << false;
    QTest::newRow("any file, .csv") << "/t/a.csv" << any << "/t/a.csv" << true;
  }

  void exportTargetFollowsTheFileTypeUnlessTheNameSaysOtherwise() {
    QFETCH(QString, name);
    QFETCH(int, choice);
    QFETCH(QString, file);
    QFETCH(bool, csv);
    const TExportTarget target = ExportTargetFor(name.toStdString(), static_cast<TExportChoice>(choice));
    QCOMPARE(QString::fromStdString(target.FileName), file);
    QCOMPARE(target.Format == TDataExportFormat::efCSV, csv);
  }

  void theExportDialogsFileTypeDecidesTheFormat() {
    FWindow->LoadLog(FDir->Write("small.log", SmallLog(3)));
    Settings().WriteString("\\Export\\FileName", FDir->File("velloran_export.csv"));
    QString title, filter;
    QTimer::singleShot(0, this, [&] {
      auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
      QVERIFY(dialog != nullptr);
      title = dialog->windowTitle();
      filter = dialog->selectedNameFilter();
      dialog->selectFile(QString::fromStdString(FDir->File("export1")));
      static_cast<QDialog*>(dialog)->accept();  // QFileDialog's own accept, through the public slot
    });
    FWindow->UpdateActions();
    FWindow->actExport->trigger();
    QCOMPARE(title, QString("Export records"));
    QCOMPARE(filter, QString("CSV file (*.csv)"));
    QVERIFY(platform::ReadWholeFile(FDir->File("export1.csv")).rfind("Timestamp,", 0) == 0);
    QVERIFY(!platform::FileExists(FDir->File("export1")));
    QVERIFY2(FWindow->statusBar()->currentMessage().startsWith("Exported 3 records to " +
                                                               QString::fromStdString(FDir->File("export1.csv"))),
             qPrintable(FWindow->statusBar()->currentMessage()));

    // An existing file is replaced only when the user says so.
    QStringList asked;
    bool replace = false;
    FWindow->ConfirmOverwrite = [&](const QString& AFileName) {
      asked << AFileName;
      return replace;
    };
    FWindow->SelectExportFile = [&](std::string& AFileName, TDataExportFormat& AFormat) {
      AFileName = FDir->File("export1.csv");
      AFormat = TDataExportFormat::efXML;
      return true;
    };
    FWindow->actExport->trigger();
    QCOMPARE(asked, QStringList{QString::fromStdString(FDir->File("export1.csv"))});
    QVERIFY(platform::ReadWholeFile(FDir->File("export1.csv")).rfind("Timestamp,", 0) == 0);  // kept
    replace = true;
    FWindow->actExport->trigger();
    QVERIFY(platform::ReadWholeFile(FDir->File("export1.csv")).rfind("<Event>", 0) == 0);  // the chosen format
  }

  void anExportProposalInAMissingFolderStartsAtHome() {
    FWindow->LoadLog(FDir->Write("small.log", SmallLog(3)));
    Settings().WriteString("\\Export\\FileName", FDir->File("no/such/folder/velloran_export.csv"));
    QString folder, file;
    QTimer::singleShot(0, this, [&] {
      auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
      QVERIFY(dialog != nullptr);
      folder = dialog->directory().absolutePath();
      file = dialog->selectedFiles().value(0);
      dialog->reject();
    });
    FWindow->UpdateActions();
    FWindow->actExport->trigger();
    QCOMPARE(folder, QDir::homePath());
    QCOMPARE(file, QDir::homePath() + "/velloran_export.csv");
  }

  void theDetailsPaneComesBackAtItsStoredWidthWithItsValueColumnStretched() {
    FWindow->close();
    FWindow.reset();
    Settings().WriteString("\\Main\\FormPlacement", "0,1,-1,-1,-1,-1,0,0,790,560");
    Settings().WriteInteger("\\Main\\DetailsWidth", 494);
    Settings().WriteBoolean("\\Main\\DetailsVisible", true);
    NewWindow();
    FWindow->show();
    QVERIFY(QTest::qWaitForWindowExposed(FWindow.get()));
    QTRY_COMPARE(FWindow->spltDetails->sizes().value(1), 494);
    QTreeWidget* details = FWindow->lvDetails;
    QTRY_VERIFY(details->header()->sectionSize(0) + details->header()->sectionSize(1) >= details->viewport()->width() - 2);
    FWindow->close();
    QCOMPARE(Settings().ReadInteger("\\Main\\DetailsWidth", 0), 494);
  }

  void aFileThatHoldsNoEventsSaysSoOnceAndKeepsItsRows() {
    QStringList notices;
    FWindow->ShowNotice = [&](const QString& AMessage) { notices << AMessage; };
    const std::string passwd = FDir->Write("passwd", "root:x:0:0:root:/root:/bin/bash\ndaemon:x:1:1::/:/bin/sh\n");
    FWindow->LoadLog(passwd);
    const QString expected = QString::fromStdString(passwd) + " holds no accounting events";
    QCOMPARE(notices, QStringList{expected});
    QCOMPARE(FWindow->sbrPanel1->text(), expected);
    QCOMPARE(FWindow->Model()->rowCount(), 2);
    FWindow->LoadLog(FDir->Write("small.log", SmallLog(2)));
    QCOMPARE(notices.size(), 1);
    QVERIFY(FErrors.isEmpty());
  }

  void aLogWithLfLineEndsOpensWithAllItsRecordsAndSaysSo() {
    std::string log;
    for (int i = 0; i < 2000; ++i) {
      std::string line = EventLine(i);
      line.erase(line.size() - 2, 1);  // CR LF becomes LF
      log += line;
    }
    const std::string path = FDir->Write("lf.log", log);
    FWindow->LoadLog(path);
    QCOMPARE(FWindow->Model()->rowCount(), 2000);
    QCOMPARE(Cell(1999, "User-Name"), QString("CORP\\user1999"));
    QVERIFY2(FWindow->sbrPanel1->text().contains("LF"), qPrintable(FWindow->sbrPanel1->text()));
    FWindow->LoadLog(FDir->Write("crlf.log", SmallLog(3)));
    QVERIFY(!FWindow->sbrPanel1->text().contains("LF"));
  }

  void longValuesAreShortenedOnScreenAndCopiedWhole() {
    const std::string big(1048576, 'v');
    const std::string path =
        FDir->Write("big.log", test::LogOf({test::EventLine({{"User-Name", "alice"}, {"Class", big}}), EventLine(1)}));
    FWindow->ColumnsDialog = [](const QString&, const QString&, QString& ACurrent) {
      ACurrent = "User-Name|Class";
      return true;
    };
    FWindow->LoadLog(path);
    FWindow->UpdateActions();
    FWindow->actColumnsCustomize->trigger();
    const QString cell = Cell(0, "Class");
    QVERIFY(cell.size() <= static_cast<int>(TLogTableModel::kMaxCellBytes) + 1);
    QVERIFY(cell.endsWith(QChar(0x2026)));
    FWindow->SetDetailsVisible(true);
    FWindow->lvData->selectRow(0);
    FWindow->ShowRecordDetails(0);
    QTreeWidgetItem* line = nullptr;
    for (int i = 0; i < FWindow->lvDetails->topLevelItemCount(); ++i) {
      if (FWindow->lvDetails->topLevelItem(i)->text(0) == "Class") line = FWindow->lvDetails->topLevelItem(i);
    }
    QVERIFY(line != nullptr);
    QVERIFY(line->text(1).size() < TfrmMain::kMaxDetailChars + 40);
    QVERIFY(line->text(1).contains("1,048,576 characters"));
    QVERIFY(line->toolTip(1).size() < TfrmMain::kMaxDetailChars * 3);
    FWindow->lvDetails->setCurrentItem(line);
    FWindow->actCopyValue->trigger();
    QCOMPARE(QGuiApplication::clipboard()->text().size(), static_cast<qsizetype>(big.size()));
    // Typing in the list moves nothing (the keys go to the find bar).
    FWindow->lvData->setFocus();
    QTest::keyClicks(FWindow->lvData, "CORP");
    QCOMPARE(FWindow->lvData->currentIndex().row(), 0);
  }

  void statusPanelsFitLargeLogsAndColumnChangesKeepTheSelection() {
    FWindow->LoadLog(FDir->Write("small.log", SmallLog(30)));
    FWindow->SetDetailsVisible(true);
    FWindow->lvData->selectRow(17);
    FWindow->ShowRecordDetails(17);
    FWindow->ColumnsDialog = [](const QString&, const QString&, QString& ACurrent) {
      ACurrent = "User-Name|Timestamp";
      return true;
    };
    FWindow->UpdateActions();
    FWindow->actColumnsCustomize->trigger();
    QCOMPARE(FWindow->lvData->selectionModel()->currentIndex().row(), 17);
    QTRY_COMPARE(FWindow->DetailsIndex(), 17);
    QVERIFY(FWindow->lvDetails->topLevelItemCount() > 0);

    FWindow->sbrPanel0->setText("2,999,999:3,000,000");
    QTRY_VERIFY(FWindow->sbrPanel0->width() >= FWindow->sbrPanel0->fontMetrics().horizontalAdvance("2,999,999:3,000,000"));
  }

  void aRestoredPlacementFitsTheScreen() {
    FWindow->close();
    FWindow.reset();
    Settings().WriteString("\\Main\\FormPlacement", "0,1,-1,-1,-1,-1,100,50,3300,2050");
    NewWindow();
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    QVERIFY2(area.contains(FWindow->geometry()),
             qPrintable(QString("%1,%2 %3x%4").arg(FWindow->x()).arg(FWindow->y()).arg(FWindow->width()).arg(FWindow->height())));
    QVERIFY(FErrors.isEmpty());
  }

  // --- conveniences -----------------------------------------------------------------------------

  void copyGivesTabSeparatedCellsOrTheRawLines() {
    FWindow->LoadLog(FDir->Write("exchange.log", ExchangeLog()));
    FWindow->lvData->selectRow(0);
    FWindow->lvData->selectionModel()->select(FWindow->Model()->index(2, 0),
                                              QItemSelectionModel::Select | QItemSelectionModel::Rows);
    const QString cells = FWindow->SelectedRecordsText(false);
    const QStringList lines = cells.split('\n');
    QCOMPARE(lines.size(), 4);  // the header, two records, the empty piece after the last break
    QCOMPARE(lines[0], QString("Timestamp\tComputer-Name\tUser-Name\tEvent-Source\tPacket-Type\tReason-Code"));
    QCOMPARE(lines[1], QString("12/01/2026 00:00:00.904\tNPS01\tCORP\\alice & co\t\tAccess-Request\t"));
    QVERIFY2(lines[2].startsWith("12/01/2026 00:00:00.904\tNPS01\tCORP\\alice & co\t\tAccess-Reject\tCredentials mismatch"),
             qPrintable(lines[2]));
    const QString raw = FWindow->SelectedRecordsText(true);
    QCOMPARE(raw, QString::fromStdString(std::string(FData->RawRecord(0)) + "\n" + std::string(FData->RawRecord(2)) + "\n"));
    // The keys reach the same texts.
    FWindow->lvData->setFocus();
    QTest::keySequence(FWindow->lvData, QKeySequence(Qt::CTRL | Qt::Key_C));
    QCOMPARE(QGuiApplication::clipboard()->text(), cells);
    QTest::keySequence(FWindow->lvData, QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_C));
    QCOMPARE(QGuiApplication::clipboard()->text(), raw);
    // The details pane copies all its lines.
    FWindow->SetDetailsVisible(true);
    FWindow->ShowRecordDetails(0);
    FWindow->actCopyDetails->trigger();
    QVERIFY(QGuiApplication::clipboard()->text().startsWith("Timestamp\t12/01/2026 00:00:00.904\n"));
  }

  void keyboardReachesEverything() {
    FWindow->LoadLog(FDir->Write("small.log", SmallLog(40)));
    QCOMPARE(FWindow->actExit->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Q));
    QCOMPARE(FWindow->actAbout->shortcut(), QKeySequence(Qt::Key_F1));
    QVERIFY(FWindow->actDetails->isCheckable());
    FWindow->lvData->setFocus();
    FWindow->lvData->setCurrentIndex(FWindow->Model()->index(5, 2));
    QTest::keyClick(FWindow->lvData, Qt::Key_End);
    QCOMPARE(FWindow->lvData->currentIndex().row(), 39);
    QTest::keyClick(FWindow->lvData, Qt::Key_Home);
    QCOMPARE(FWindow->lvData->currentIndex().row(), 0);
    QTest::keyClick(FWindow->lvData, Qt::Key_End, Qt::ControlModifier);  // goes and selects
    QCOMPARE(FWindow->sbrPanel0->text(), QString("40:40"));
    FWindow->UpdateActions();
    FWindow->actDetails->trigger();  // the toggle opens the pane...
    QVERIFY(FWindow->DetailsVisible());
    QVERIFY(FWindow->actDetails->isChecked());
    FWindow->lvData->setFocus();
    QTest::keyClick(FWindow->lvData, Qt::Key_Tab);  // ...which Tab reaches
    QWidget* focused = QApplication::focusWidget();
    QVERIFY2(focused != nullptr && FWindow->pnlDetails->isAncestorOf(focused),
             focused ? focused->metaObject()->className() : "none");
    FWindow->actDetails->trigger();
    QVERIFY(!FWindow->DetailsVisible());
    // Every item of the View menu has an access key.
    for (QAction* menu : FWindow->menuBar()->actions()) {
      if (menu->text() != "&View") continue;
      for (QAction* item : menu->menu()->actions())
        QVERIFY2(item->isSeparator() || item->text().contains('&'), qPrintable(item->text()));
    }
  }

  void headersMoveAndHideColumnsAndTheOrderIsSaved() {
    FWindow->LoadLog(FDir->Write("small.log", SmallLog(3)));
    QHeaderView* header = FWindow->lvData->horizontalHeader();
    const QList<int> before = Widths();
    header->moveSection(0, 2);  // Timestamp dragged after User-Name
    QTRY_COMPARE(Captions(),
                 QStringList({"Computer-Name", "User-Name", "Timestamp", "Event-Source", "Packet-Type", "Reason-Code"}));
    QCOMPARE(Widths().mid(0, 3), QList<int>({before[1], before[2], before[0]}));
    QCOMPARE(header->logicalIndex(0), 0);  // the header's own order is the model's again
    QCOMPARE(Cell(0, "Timestamp"), QString("12/09/2026 10:00:10.000"));
    FWindow->HideColumn(3);
    QCOMPARE(Captions(), QStringList({"Computer-Name", "User-Name", "Timestamp", "Packet-Type", "Reason-Code"}));
    Restart();
    QCOMPARE(Captions(), QStringList({"Computer-Name", "User-Name", "Timestamp", "Packet-Type", "Reason-Code"}));
  }

  void aDroppedLogOpensAndTheLastLogCanReopenAtStart() {
    const std::string path = FDir->Write("dropped.log", SmallLog(3));
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(QString::fromStdString(path))});
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(FWindow.get(), &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(FWindow.get(), &drop);
    QTRY_COMPARE(QString::fromStdString(FData->FileName()), QString::fromStdString(path));
    QCOMPARE(FWindow->Model()->rowCount(), 3);

    QVERIFY(!FWindow->actReopenLast->isChecked());
    Restart();
    FWindow->show();
    QTest::qWait(50);
    QCOMPARE(FData->FileName(), std::string());  // off: the window starts empty
    FWindow->actReopenLast->setChecked(true);
    Restart();
    FWindow->show();
    QTRY_COMPARE(QString::fromStdString(FData->FileName()), QString::fromStdString(path));
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
