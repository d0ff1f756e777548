// The Summary beside the list: its chart adds up to the records counted, a click on a bar or a
// double-click on a reason or a value filters the list, the filter's records are counted
// anew, and refusals stand out in the error colour on light and dark palettes.
#include <QAction>
#include <QComboBox>
#include <QDockWidget>
#include <QSignalSpy>
#include <QTableWidget>
#include <QtTest>
#include <string>
#include <vector>

#include "EventLines.h"
#include "MainWindow.h"
#include "SummaryView.h"
#include "TestFiles.h"
#include "WindowTestBase.h"

using namespace velloran;

namespace {

struct TRecordOf {
  const char* Time;  // seconds of 03/02/2026
  const char* Type;
  const char* Class;
  const char* User;    // requests only
  const char* Reason;  // refusals only
};

// Three minutes of one server: users alice, bob and carol, two refusals of alice (reasons 16
// and 48) and one of bob (16), a gap of a minute, and accounting.
constexpr TRecordOf kRecords[] = {
    {"10:00:01", "1", "c1", "alice", nullptr}, {"10:00:01", "3", "c1", nullptr, "16"},
    {"10:00:02", "1", "c2", "bob", nullptr},   {"10:00:03", "2", "c2", nullptr, nullptr},
    {"10:00:40", "1", "c3", "carol", nullptr}, {"10:00:41", "11", "c3", nullptr, nullptr},
    {"10:00:42", "1", "c3", "carol", nullptr}, {"10:00:42", "2", "c3", nullptr, nullptr},
    {"10:01:10", "1", "c4", "alice", nullptr}, {"10:01:10", "1", "c5", "bob", nullptr},
    {"10:01:11", "3", "c4", nullptr, "48"},    {"10:01:12", "3", "c5", nullptr, "16"},
    {"10:03:00", "4", "c2", "bob", nullptr},   {"10:03:00", "5", "c2", nullptr, nullptr},
    {"10:03:30", "4", "c2", "bob", nullptr},
};

std::string SummaryLog() {
  std::vector<std::string> lines;
  for (const TRecordOf& record : kRecords) {
    test::TAttributes attributes{
        {"Timestamp", std::string("03/02/2026 ") + record.Time + ".000"}, {"Computer-Name", "NPS01"}, {"Class", record.Class}};
    if (record.User != nullptr) attributes.emplace_back("User-Name", record.User);
    attributes.emplace_back("Packet-Type", record.Type);
    if (record.Reason != nullptr) attributes.emplace_back("Reason-Code", record.Reason);
    lines.push_back(test::EventLine(attributes));
  }
  return test::LogOf(lines);
}

TTraffic SumOf(const std::vector<TTimeInterval>& ASeries) {
  TTraffic sum;
  for (const TTimeInterval& interval : ASeries) sum += interval.Traffic;
  return sum;
}

}  // namespace

class TSummaryWindowTests : public test::TWindowTestBase {
  Q_OBJECT

  TSummaryPanel* Panel() const { return FWindow->Summary(); }

  // Loads the fixture and shows the Summary, waiting for its count.
  void OpenWithSummary() {
    const std::string path = FDir->Write("IN260302.log", SummaryLog());
    FWindow->LoadLog(path);
    QSignalSpy computed(Panel(), &TSummaryPanel::Computed);
    FWindow->actSummary->trigger();
    QVERIFY(FWindow->SummaryVisible());
    QVERIFY(computed.count() > 0 || computed.wait(10000));
  }
  // Waits for the filter's scan and then for the Summary's count of its records.
  void WaitForFilteredSummary(int64_t ARecords) {
    QTRY_VERIFY_WITH_TIMEOUT(!FWindow->FilterRunning(), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(!Panel()->Running() && Panel()->Statistics().Records == ARecords, 10000);
  }

 private slots:
  void init() {
    FWindowSize = QSize(1200, 700);
    SetUpWindow();
  }
  void cleanup() { TearDownWindow(); }

  void chartAddsUpToTheCounts() {
    OpenWithSummary();
    const TLogStatistics& stats = Panel()->Statistics();
    QCOMPARE(stats.Records, static_cast<int64_t>(std::size(kRecords)));
    const TTraffic sum = SumOf(Panel()->Chart()->Series());
    QCOMPARE(sum.Requests, int64_t{6});
    QCOMPARE(sum.Refusals, int64_t{3});
    QCOMPARE(sum.Accepts, int64_t{2});
    QCOMPARE(sum.Challenges, int64_t{1});
    QCOMPARE(sum.Accounting, int64_t{3});
    QCOMPARE(sum.Total(), stats.Records);
    // Every interval from the first record's to the last's, the quiet minute included.
    const auto& series = Panel()->Chart()->Series();
    const int64_t width = Panel()->Chart()->WidthSeconds();
    QVERIFY(width > 0);
    for (size_t i = 1; i < series.size(); ++i) QCOMPARE(series[i].Start - series[i - 1].Start, width);
    // The reason table, most frequent first; the refused users come from their requests.
    QCOMPARE(Panel()->ReasonTable()->rowCount(), 2);
    QCOMPARE(Panel()->ReasonTable()->item(0, 0)->text(), QString("16"));
    QCOMPARE(Panel()->ReasonTable()->item(0, 1)->text(), QString("2"));
    QCOMPARE(Panel()->FieldChooser()->currentText(), QString("User-Name"));
    QCOMPARE(Panel()->RefusalsTable()->rowCount(), 2);
    QCOMPARE(Panel()->RefusalsTable()->item(0, 2)->text(), QString("alice"));
    QCOMPARE(Panel()->RefusalsTable()->item(0, 0)->text(), QString("2"));
    QCOMPARE(Panel()->RequestsTable()->item(0, 2)->text(), QString("alice"));  // ties: alice before bob and carol
  }

  void clickOnAnIntervalFiltersToIt() {
    OpenWithSummary();
    TTrafficChart* chart = Panel()->Chart();
    const auto& series = chart->Series();
    // The interval of 10:01:10 and its neighbours: pick the first with records after a minute.
    int index = -1;
    for (size_t i = 0; i < series.size() && index < 0; ++i) {
      if (series[i].Traffic.Total() > 0 && series[i].Start % 86400 >= 10 * 3600 + 60) index = static_cast<int>(i);
    }
    QVERIFY(index >= 0);
    const TTimeInterval interval = series[static_cast<size_t>(index)];
    const QRect bar = chart->BarRect(index);
    QCOMPARE(chart->IntervalAt(bar.center().x()), index);
    QTest::mouseClick(chart, Qt::LeftButton, {}, bar.center());
    QCOMPARE(FWindow->FilterText(), IntervalTerm(interval.Start, interval.Start + chart->WidthSeconds()));
    WaitForFilteredSummary(interval.Traffic.Total());
    QCOMPARE(FWindow->Model()->rowCount(), static_cast<int>(interval.Traffic.Total()));
    QCOMPARE(SumOf(Panel()->Chart()->Series()).Total(), interval.Traffic.Total());
    // The filter cleared: every record is counted again.
    FWindow->ClearFilter();
    QTRY_VERIFY_WITH_TIMEOUT(!Panel()->Running() && Panel()->Statistics().Records == static_cast<int64_t>(std::size(kRecords)),
                             10000);
  }

  void doubleClicksFilterOnAReasonAndOnARefusedUser() {
    OpenWithSummary();
    QTableWidget* reasons = Panel()->ReasonTable();
    emit reasons->cellDoubleClicked(0, 1);
    QCOMPARE(FWindow->FilterText(), QString("Packet-Type = Access-Reject and Reason-Code = 16"));
    WaitForFilteredSummary(2);
    FWindow->ClearFilter();
    QTRY_VERIFY_WITH_TIMEOUT(!Panel()->Running() && Panel()->Statistics().Records == static_cast<int64_t>(std::size(kRecords)),
                             10000);
    // alice's refusals: her name is on her requests only, and reaches the refusals through
    // their exchange.
    QTableWidget* refusals = Panel()->RefusalsTable();
    QCOMPARE(refusals->item(0, 2)->text(), QString("alice"));
    emit refusals->cellDoubleClicked(0, 2);
    QCOMPARE(FWindow->FilterText(), QString("Packet-Type = Access-Reject and User-Name = alice"));
    WaitForFilteredSummary(2);
  }

  void refusalsStandOutOnLightAndDarkPalettes() {
    OpenWithSummary();
    TTrafficChart* chart = Panel()->Chart();
    int index = -1;
    const auto& series = chart->Series();
    for (size_t i = 0; i < series.size() && index < 0; ++i) {
      if (series[i].Traffic.Refusals > 0) index = static_cast<int>(i);
    }
    QVERIFY(index >= 0);
    for (const bool dark : {false, true}) {
      QPalette palette = chart->palette();
      palette.setColor(QPalette::Window, dark ? QColor(0x20, 0x20, 0x20) : QColor(0xF0, 0xF0, 0xF0));
      palette.setColor(QPalette::Base, dark ? QColor(0x10, 0x10, 0x10) : Qt::white);
      palette.setColor(QPalette::Text, dark ? Qt::white : Qt::black);
      chart->setPalette(palette);
      const QImage image = chart->grab().toImage();
      const QRect bar = chart->BarRect(index);
      // The bottom of the bar, where the refusals stand: a strong red.
      const QColor bottom = image.pixelColor(bar.left(), bar.bottom() - 1);
      QVERIFY2(bottom.red() > 180 && bottom.green() < 110 && bottom.blue() < 110, qPrintable(bottom.name()));
      // The background follows the palette.
      const QColor corner = image.pixelColor(image.width() - 2, 2);
      QCOMPARE(corner.lightness() < 128, dark);
    }
  }
};

QTEST_MAIN(TSummaryWindowTests)
#include "SummaryWindowTests.moc"
