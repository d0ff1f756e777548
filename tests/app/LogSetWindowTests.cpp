// Sets of logs in the window: Open folder with its check list, the Source column, the status
// bar's file of the selected record, recent sets, and a newer daily file joining the set.
#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QtTest>
#include <string>
#include <vector>

#include "EventLines.h"
#include "LogData.h"
#include "MainWindow.h"
#include "TestFiles.h"
#include "WindowTestBase.h"

using namespace velloran;

namespace {

// ACount requests of one server from minute AMinute of a day, each tagged with its number.
std::string Requests(std::string_view ADay, int AMinute, int ACount, std::string_view AServer = "NPS01") {
  std::string text;
  for (int i = 0; i < ACount; ++i) {
    const int minute = AMinute + i;
    char stamp[40];
    std::snprintf(stamp, sizeof stamp, "%.*s %02d:%02d:00.000", static_cast<int>(ADay.size()), ADay.data(), minute / 60 % 24,
                  minute % 60);
    text += test::EventLine({{"Timestamp", stamp},
                             {"Computer-Name", std::string(AServer)},
                             {"User-Name", "user" + std::to_string(minute)},
                             {"Packet-Type", "1"}});
    text += "\r\n";
  }
  return text;
}

}  // namespace

class TLogSetWindowTests : public test::TWindowTestBase {
  Q_OBJECT

  int Rows() const { return FWindow->Model()->rowCount(); }
  int ColumnOf(const QString& ACaption) const {
    const auto& columns = FWindow->Model()->ViewColumns();
    for (size_t i = 0; i < columns.size(); ++i) {
      if (columns[i].Caption == ACaption) return static_cast<int>(i);
    }
    return -1;
  }
  QString Cell(int ARow, int AColumn) const { return FWindow->Model()->index(ARow, AColumn).data().toString(); }
  // Adds the Source column through the column chooser, which must offer it.
  void ShowSourceColumn() {
    FWindow->ColumnsDialog = [](const QString& AAll, const QString&, QString& ACurrent) {
      if (!AAll.split('|').contains("Source")) return false;
      ACurrent = "Source|" + ACurrent;
      return true;
    };
    FWindow->UpdateActions();  // as when the application is next idle
    FWindow->actColumnsCustomize->trigger();
    QVERIFY(ColumnOf("Source") >= 0);
  }

 private slots:
  void init() { SetUpWindow(); }
  void cleanup() { TearDownWindow(); }

  void openFolderOpensTheCheckedLogsAsOne() {
    FDir->Write("IN261202.log", Requests("12/02/2026", 0, 3));
    FDir->Write("IN261201.log", Requests("12/01/2026", 600, 2));
    FDir->Write("IN261203.log", "these are notes, not accounting events\r\n");
    FDir->Write("IN261204.log", Requests("12/04/2026", 0, 5));
    FDir->Write("readme.txt", "not a log");
    std::vector<std::string> listed;
    FWindow->SelectLogFolder = [this](std::string& AFolder) {
      AFolder = FDir->Path().string();
      return true;
    };
    FWindow->ChooseSetFiles = [&listed](std::vector<TfrmMain::TSetFileChoice>& AFiles) {
      for (auto& file : AFiles) {
        listed.push_back(file.Path.substr(file.Path.find_last_of('/') + 1));
        file.Chosen = listed.back() != "IN261204.log";
      }
      return true;
    };
    FWindow->actOpenFolder->trigger();
    QCOMPARE(listed, (std::vector<std::string>{"IN261201.log", "IN261202.log", "IN261203.log", "IN261204.log"}));
    QCOMPARE(Rows(), 5);
    QCOMPARE(FData->FileCount(), 2);
    QVERIFY2(FNotices.join('\n').contains("Skipped IN261203.log"), qPrintable(FNotices.join('\n')));
    QVERIFY2(FWindow->windowTitle().contains("IN261201.log \u2026 IN261202.log (2 logs)"), qPrintable(FWindow->windowTitle()));

    ShowSourceColumn();
    const int source = ColumnOf("Source");
    QCOMPARE(Cell(0, source), QStringLiteral("IN261201.log"));
    QCOMPARE(Cell(4, source), QStringLiteral("IN261202.log"));
    FWindow->SelectRecord(3);
    QVERIFY2(FWindow->sbrPanel1->text().contains("IN261202.log (log 2 of 2)"), qPrintable(FWindow->sbrPanel1->text()));

    // The recent entry is the set as chosen; opening it opens the set again.
    FWindow->LoadLog(FDir->File("IN261204.log"));
    QCOMPARE(Rows(), 5);
    QAction* recent = FWindow->miOpenRecent->actions().value(1);
    QVERIFY(recent != nullptr);
    QVERIFY2(recent->text().contains("(3 logs in"), qPrintable(recent->text()));
    recent->trigger();
    QTRY_COMPARE(FData->FileCount(), 2);
    QCOMPARE(Rows(), 5);
  }

  // Two servers: merged by time; a zone stated in the check list puts them in true order.
  void serversOfDifferentZonesMergeInTrueOrder() {
    FDir->Write("berlin.log", Requests("12/01/2026", 10 * 60 + 30, 1, "NPS-DE"));  // 09:30 UTC
    FDir->Write("london.log", Requests("12/01/2026", 10 * 60, 1, "NPS-UK"));       // 10:00 UTC
    FWindow->SelectLogFolder = [this](std::string& AFolder) {
      AFolder = FDir->Path().string();
      return true;
    };
    std::string zone;
    FWindow->ChooseSetFiles = [&zone](std::vector<TfrmMain::TSetFileChoice>& AFiles) {
      for (auto& file : AFiles) {
        if (file.Path.ends_with("berlin.log")) file.Zone = zone;
      }
      return true;
    };
    FWindow->actOpenFolder->trigger();
    ShowSourceColumn();
    const int source = ColumnOf("Source");
    QCOMPARE(Cell(0, source), QStringLiteral("london.log"));
    QVERIFY2(FNotices.join('\n').contains("as they stand"), qPrintable(FNotices.join('\n')));
    zone = "Europe/Berlin";
    FWindow->actOpenFolder->trigger();
    QCOMPARE(Cell(0, source), QStringLiteral("berlin.log"));
    // The zone is kept: the check list offers it next time.
    zone.clear();
    FWindow->ChooseSetFiles = [&zone](std::vector<TfrmMain::TSetFileChoice>& AFiles) {
      for (const auto& file : AFiles) {
        if (file.Path.ends_with("berlin.log")) zone = file.Zone;
      }
      return false;
    };
    FWindow->actOpenFolder->trigger();
    QCOMPARE(zone, std::string("Europe/Berlin"));
    FWindow->ChooseSetFiles = [](std::vector<TfrmMain::TSetFileChoice>& AFiles) {
      AFiles.front().Zone = "Mars/Olympus";
      return true;
    };
    FErrors.clear();
    FWindow->actOpenFolder->trigger();
    QCOMPARE(FErrors.size(), 1);
    QVERIFY2(FErrors[0].contains("Mars/Olympus"), qPrintable(FErrors[0]));
  }

  // Following a set: appended records join its end, and the server's next daily file joins
  // the set (Follow newest file) or is offered.
  void aSetFollowsItsNewestFile() {
    const std::string day9 = FDir->Write("IN261209.log", Requests("12/09/2026", 0, 2));
    const std::string day10 = FDir->Write("IN261210.log", Requests("12/10/2026", 0, 3));
    FWindow->LoadLogs({day10, day9});
    QCOMPARE(Rows(), 5);
    QTRY_VERIFY(FData->LogMonitor().MonitorChanges());  // watching starts after the first paint
    FWindow->actFollowNewest->setChecked(true);
    const std::string day11 = FDir->Write("IN261211.log", Requests("12/11/2026", 0, 4));
    QTRY_COMPARE(FData->FileCount(), 3);
    QTRY_COMPARE(Rows(), 9);
    QCOMPARE(FWindow->OpenFiles().back(), day11);
    FILE* file = std::fopen(day11.c_str(), "ab");
    QVERIFY(file != nullptr);
    const std::string more = Requests("12/11/2026", 60, 2);
    std::fwrite(more.data(), 1, more.size(), file);
    std::fclose(file);
    QTRY_COMPARE(Rows(), 11);
    ShowSourceColumn();
    QCOMPARE(Cell(10, ColumnOf("Source")), QStringLiteral("IN261211.log"));

    FWindow->actFollowNewest->setChecked(false);
    FDir->Write("IN261212.log", Requests("12/12/2026", 0, 1));
    QTRY_VERIFY(!FWindow->sbrNewerLog->isHidden());
    QVERIFY2(FWindow->sbrNewerLog->text().contains("Add IN261212.log to the set"), qPrintable(FWindow->sbrNewerLog->text()));
    emit FWindow->sbrNewerLog->linkActivated("switch");
    QCOMPARE(FData->FileCount(), 4);
    QCOMPARE(Rows(), 12);
  }
};

QTEST_MAIN(TLogSetWindowTests)
#include "LogSetWindowTests.moc"
