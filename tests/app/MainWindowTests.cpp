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
#include <memory>
#include <string>

#include "TestFiles.h"
#include "dmMain.h"
#include "uGlobal.h"
#include "uvMain.h"
#include "uvProgressDialog.h"

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

}  // namespace

class TMainWindowTests : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<test::TTempDir> FDir;
  std::unique_ptr<Tdm> FDataModule;
  std::unique_ptr<TfrmMain> FWindow;
  QStringList FErrors;

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
    FWindow = std::make_unique<TfrmMain>();
    FErrors.clear();
    FWindow->ShowError = [this](const QString& AMessage) { FErrors << AMessage; };
    FWindow->show();
    QVERIFY(QTest::qWaitForWindowExposed(FWindow.get()));
  }

  void cleanup() {
    FWindow.reset();
    FDataModule.reset();
    FDir.reset();
  }

  void defaultLayoutHasTheSixColumnsAndNoDetails() {
    const auto& columns = FWindow->Model()->ViewColumns();
    QStringList captions;
    for (const auto& column : columns) captions << column.Caption;
    QCOMPARE(captions, QStringList({"Timestamp", "Computer-Name", "User-Name", "Event-Source", "Packet-Type", "Reason-Code"}));
    const int widths[] = {145, 180, 100, 90, 80, 90};
    for (int i = 0; i < 6; ++i) QCOMPARE(FWindow->lvData->horizontalHeader()->sectionSize(i), widths[i]);
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

    // Packet-Type is an integer column: right-aligned once a record holding it was shown.
    const int packetType = 4;
    QCOMPARE(model->ViewColumns()[packetType].Caption, QString("Packet-Type"));
    QCOMPARE(Cell(2, "Packet-Type"), QString("1"));
    QVERIFY(model->ViewColumns()[packetType].Binding >= 0);
    const auto alignment = model->index(2, packetType).data(Qt::TextAlignmentRole).value<Qt::Alignment>();
    QVERIFY(alignment & Qt::AlignRight);
    QVERIFY(model->ViewColumns()[3].Binding < 0);  // Event-Source: no record has had it
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
    GlobalData->SetOnProgress(nullptr);
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
    QVERIFY(GlobalProgressDialog == nullptr);
    QCOMPARE(FWindow->windowTitle(), QString("Velloran Viewer"));
    QVERIFY(GlobalData->Count() > 0);
    QCOMPARE(FWindow->Model()->rowCount(), static_cast<int>(GlobalData->Count()));
  }

  void aLoadCancelledFromTheDialogLeavesAnEmptyList() {
    std::string log;
    const std::string line = EventLine(0);
    while (log.size() < 22020096) log += line;
    const std::string large = FDir->Write("large.log", log);
    // Pressed as soon as the dialog lets events through, at the first progress step.
    QTimer::singleShot(0, this, [] {
      QVERIFY(GlobalProgressDialog != nullptr);
      auto* cancel = GlobalProgressDialog->Form()->findChild<QPushButton*>();
      QVERIFY(cancel != nullptr);
      cancel->click();
    });
    FWindow->LoadLog(large);
    QVERIFY(!FWindow->ProgressActive());
    QCOMPARE(GlobalData->Count(), int64_t{0});
    QCOMPARE(FWindow->Model()->rowCount(), 0);
    QCOMPARE(FWindow->sbrPanel0->text(), QString("-:-"));
    FWindow->UpdateActions();
    QVERIFY(!FWindow->actExport->isEnabled());
    QVERIFY(FWindow->isEnabled());
    QVERIFY(FErrors.isEmpty());
  }

  void recentListAndStartFile() {
    const std::string a = FDir->Write("a&b.log", SmallLog(2));
    const std::string b = FDir->Write("b.log", SmallLog(2));
    FWindow->LoadLog(a);
    FWindow->LoadLog(b);
    QCOMPARE(FWindow->miOpenRecent->actions().size(), 2);
    QCOMPARE(FWindow->miOpenRecent->actions()[0]->text(), QString::fromStdString(b));
    QCOMPARE(FWindow->pmRecentLogs->actions()[1]->text().replace("&&", "&"), QString::fromStdString(a));
    QCOMPARE(QString::fromStdString(GlobalStorage->ReadString("\\Main\\FileName", "")), QString::fromStdString(b));
  }
};

QTEST_MAIN(TMainWindowTests)
#include "MainWindowTests.moc"
