#include <QAbstractItemModelTester>
#include <QAbstractItemView>
#include <QComboBox>
#include <QCompleter>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QSignalSpy>
#include <QStatusBar>
#include <QStringListModel>
#include <QTableView>
#include <QToolButton>
#include <QTreeWidget>
#include <QtTest>
#include <algorithm>
#include <cstdlib>
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
#include "QueryScan.h"
#include "Scanner.h"
#include "TestFiles.h"
#include "WindowTestBase.h"

using namespace velloran;

namespace {

using TRecords = std::vector<uint32_t>;

// Sessions of three users in turn: a request, then its reply (the reply names no user; it
// shares the request's Class), every third one refused. Record 2k is a request, 2k + 1 its
// reply; session k is user k % 3.
std::string SessionsLog(int ASessions) {
  static const char* const kUsers[] = {"CORP\\alice &amp; co", "bob", "carol"};
  std::vector<std::string> lines;
  for (int k = 0; k < ASessions; ++k) {
    const std::string session = std::to_string(k);
    const std::string time = "12/01/2026 08:" + std::to_string(10 + k / 60 % 50) + ":" + std::to_string(10 + k % 50) + ".000";
    lines.push_back(test::EventLine({{"Timestamp", time},
                                     {"Computer-Name", "NPS01"},
                                     {"User-Name", kUsers[k % 3]},
                                     {"NAS-Port-Type", k % 2 == 0 ? "19" : "15"},
                                     {"Class", "311 " + session},
                                     {"Packet-Type", "1"}}));
    const bool refused = k % 3 == 2;
    lines.push_back(test::EventLine({{"Timestamp", time},
                                     {"Computer-Name", "NPS01"},
                                     {"Class", "311 " + session},
                                     {"Packet-Type", refused ? "3" : "2"},
                                     {"Reason-Code", refused ? "16" : "0"}}));
  }
  return test::LogOf(lines);
}

}  // namespace

class TFindAndFilterTests : public test::TWindowTestBase {
  Q_OBJECT

 private:
  // Types AText into ABar and presses Enter there, as the user does (the keys go to the box,
  // the focus widget). Key events carry ASCII only: other text is inserted as a paste is.
  static void Enter(TQueryBar* ABar, const QString& AText, Qt::KeyboardModifiers AModifiers = Qt::NoModifier) {
    ABar->cbQuery->setFocus();
    ABar->Edit()->clear();
    if (std::all_of(AText.begin(), AText.end(), [](QChar AChar) { return AChar.unicode() < 128; })) {
      QTest::keyClicks(ABar->cbQuery, AText);
    } else {
      ABar->Edit()->insert(AText);
    }
    ABar->Completer()->popup()->hide();
    QTest::keyClick(ABar->cbQuery, Qt::Key_Return, AModifiers);
  }
  bool FilterDone() const { return !FWindow->FilterRunning(); }

  // The reference: every record parsed and tested.
  TRecords BruteForce(const QString& AQuery) const {
    return MatchEveryRecord(*TCompiledQuery::Compile(AQuery.toStdString()), *FData);
  }
  QString Cell(int ARow, const QString& ACaption) const {
    const auto& columns = FWindow->Model()->ViewColumns();
    for (size_t i = 0; i < columns.size(); ++i) {
      if (columns[i].Caption == ACaption) return FWindow->Model()->index(ARow, static_cast<int>(i)).data().toString();
    }
    return "<no column>";
  }
  int ColumnOf(const QString& ACaption) const {
    const auto& columns = FWindow->Model()->ViewColumns();
    for (size_t i = 0; i < columns.size(); ++i) {
      if (columns[i].Caption == ACaption) return static_cast<int>(i);
    }
    return -1;
  }
  bool RowInView(int ARow) const {
    const QRect cell = FWindow->lvData->visualRect(FWindow->Model()->index(ARow, 0));
    return cell.isValid() && FWindow->lvData->viewport()->rect().contains(cell.center());
  }

 private slots:
  void init() { SetUpWindow(); }
  void cleanup() { TearDownWindow(); }

  // --- the filter ---------------------------------------------------------------------------------

  void aFilterShowsWhatEveryRecordsEvaluationFinds_data() {
    QTest::addColumn<QString>("query");
    QTest::newRow("a word") << "bob";
    QTest::newRow("a phrase with a decoded reference") << "\"alice & co\"";
    QTest::newRow("a reply takes its request's user") << "User-Name = bob and Packet-Type = Access-Reject";
    QTest::newRow("a code by its name") << "NAS-Port-Type = Ethernet";
    QTest::newRow("or and not") << "carol or not Reason-Code = 0";
    QTest::newRow("a regular expression") << "User-Name ~ \"^(bob|carol)$\"";
    QTest::newRow("a time range") << "Timestamp >= \"12/01/2026 08:10:40\" and Timestamp < \"12/01/2026 08:11:20\"";
    QTest::newRow("nothing matches") << "nobody";
  }

  void aFilterShowsWhatEveryRecordsEvaluationFinds() {
    QFETCH(QString, query);
    FWindow->LoadLog(FDir->Write("sessions.log", SessionsLog(900)));
    QAbstractItemModelTester tester(FWindow->Model(), QAbstractItemModelTester::FailureReportingMode::QtTest);
    QSignalSpy resets(FWindow->Model(), &QAbstractItemModel::modelReset);
    QSignalSpy inserts(FWindow->Model(), &QAbstractItemModel::rowsInserted);
    Enter(FWindow->FilterBar, query);
    QTRY_VERIFY(FilterDone());
    const TRecords expected = BruteForce(query);
    QCOMPARE(RowsOnShow(), expected);
    QCOMPARE(FWindow->FilterText(), query);
    // Matches are appended as they come, never by resetting the list again.
    QCOMPARE(resets.size(), 1);
    int end = 0;  // each chunk's rows go after the last
    for (const QList<QVariant>& insert : inserts) {
      QCOMPARE(insert.at(1).toInt(), end);
      end = insert.at(2).toInt() + 1;
    }
    QCOMPARE(end, FWindow->Model()->rowCount());
    QCOMPARE(FWindow->sbrFilter->text(), GroupedNumber(static_cast<int64_t>(expected.size())) + " of 1,800 records match");
    QVERIFY(FWindow->sbrFilter->isVisible());
    QVERIFY(!FWindow->pbScan->isVisible());
    QVERIFY(!FWindow->FilterBar->Marked());
    if (!expected.empty()) {
      // A row shows its record's cells, and the status bar counts records.
      const int last = FWindow->Model()->rowCount() - 1;
      TrdlDataRow row;
      QVERIFY(FData->GetRow(expected.back(), row));
      QCOMPARE(Cell(last, "Timestamp"), QString::fromStdString(row.ValueByName("Timestamp")));
      FWindow->SelectRecord(expected.back());
      QCOMPARE(FWindow->sbrPanel0->text(), GroupedNumber(expected.back() + 1) + ":1,800");
    }
  }

  // The scan's chunks: never larger than the list takes in one step, in record order, all of
  // them, and the end only after the last.
  void aLargeScanArrivesInOrderedChunksAndEndsOnce() {
    std::string log;
    const size_t records = TQueryScan::kMaxChunk * 2 + 123;
    for (size_t i = 0; i < records; ++i) log += "<Event><A data_type=\"1\">x</A></Event>\r\n";
    FWindow->LoadLog(FDir->Write("large.log", log));
    TQueryScan scan(TCompiledQuery::Compile("A = x"), TScanTarget::Of(*FData));
    TRecords all;
    size_t largest = 0;
    int finished = 0;
    bool afterEnd = false;
    connect(&scan, &TQueryScan::MatchesFound, this, [&](const TRecords& AChunk) {
      afterEnd = afterEnd || finished > 0;
      largest = std::max(largest, AChunk.size());
      all.insert(all.end(), AChunk.begin(), AChunk.end());
    });
    connect(&scan, &TQueryScan::Finished, this, [&] { ++finished; });
    scan.Start();
    QTRY_VERIFY_WITH_TIMEOUT(scan.Done(), 20000);
    QCoreApplication::processEvents();
    QCOMPARE(finished, 1);
    QVERIFY(!afterEnd);
    QVERIFY(largest <= TQueryScan::kMaxChunk);
    QCOMPARE(all.size(), records);
    QVERIFY(std::is_sorted(all.begin(), all.end()));
    QCOMPARE(all.back(), static_cast<uint32_t>(records - 1));
    QCOMPARE(scan.Percent(), 100);
  }

  // Chunks of matches go after the rows on show: what the user has selected and scrolled to
  // stays while more arrive.
  void matchesArriveAfterTheRowsOnShowAndKeepTheSelection() {
    FWindow->LoadLog(FDir->Write("sessions.log", SessionsLog(30)));
    TLogTableModel* model = FWindow->Model();
    QAbstractItemModelTester tester(model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    model->BeginFilter();
    QVERIFY(model->Filtered());
    QCOMPARE(model->rowCount(), 0);
    model->AppendFilterRows({3, 8});
    FWindow->lvData->selectRow(1);
    QSignalSpy resets(model, &QAbstractItemModel::modelReset);
    model->AppendFilterRows({9, 20, 41});
    model->AppendFilterRows({});
    model->AppendFilterRows({59});
    QCOMPARE(resets.size(), 0);
    QCOMPARE(RowsOnShow(), TRecords({3, 8, 9, 20, 41, 59}));
    QCOMPARE(FWindow->SelectedRecord(), int64_t{8});
    QCOMPARE(model->RowOfRecord(41), 4);
    QCOMPARE(model->RowOfRecord(40), -1);  // not on show
    QCOMPARE(model->RecordOfRow(6), int64_t{-1});
    QCOMPARE(Cell(5, "Reason-Code"), QString("Credentials mismatch: unknown user name or wrong password"));
  }

  void clearingShowsEveryRecordWithTheSelectedOneInView() {
    FWindow->LoadLog(FDir->Write("sessions.log", SessionsLog(900)));
    for (const bool byButton : {false, true}) {
      // Selected in the filtered list: that record stays selected.
      Enter(FWindow->FilterBar, "carol");
      QTRY_VERIFY(FilterDone());
      const TRecords matches = RowsOnShow();
      QVERIFY(matches.size() > 200);
      FWindow->lvData->selectRow(200);
      const int64_t chosen = matches[200];
      if (byButton) {
        FWindow->FilterBar->sbClear->click();
      } else {
        QTest::keyClick(FWindow->FilterBar->cbQuery, Qt::Key_Escape);
      }
      QCOMPARE(FWindow->Model()->rowCount(), 1800);
      QVERIFY(!FWindow->Model()->Filtered());
      QCOMPARE(FWindow->SelectedRecord(), chosen);
      QVERIFY(RowInView(static_cast<int>(chosen)));
      QVERIFY(FWindow->FilterBar->Text().isEmpty());
      QVERIFY(!FWindow->sbrFilter->isVisible());
    }
    // Nothing selected under the filter: the record selected before it comes back.
    FWindow->SelectRecord(1500);
    Enter(FWindow->FilterBar, "bob");
    QTRY_VERIFY(FilterDone());
    FWindow->lvData->clearSelection();
    FWindow->UpdateActions();
    FWindow->actClearFilter->trigger();
    QCOMPARE(FWindow->SelectedRecord(), int64_t{1500});
    QVERIFY(RowInView(1500));
  }

  void aSelectedRecordThatMatchesStaysSelected() {
    FWindow->LoadLog(FDir->Write("sessions.log", SessionsLog(900)));
    FWindow->SelectRecord(1201);  // session 600 (alice), a reply: matches through its request
    Enter(FWindow->FilterBar, "User-Name = \"CORP\\alice & co\"");
    QTRY_VERIFY(FilterDone());
    QCOMPARE(FWindow->SelectedRecord(), int64_t{1201});
    QVERIFY(RowInView(FWindow->Model()->RowOfRecord(1201)));
  }

  void rowsAndRecordsStayApartUnderAFilter() {
    FWindow->LoadLog(FDir->Write("sessions.log", SessionsLog(30)));
    Enter(FWindow->FilterBar, "Packet-Type = Access-Reject");  // the replies of sessions 2, 5, 8, ...
    QTRY_VERIFY(FilterDone());
    QCOMPARE(RowsOnShow(), TRecords({5, 11, 17, 23, 29, 35, 41, 47, 53, 59}));
    FWindow->SetDetailsVisible(true);
    FWindow->lvData->selectRow(1);
    QTRY_COMPARE(FWindow->DetailsIndex(), 11);
    QCOMPARE(FWindow->lvExchange->topLevelItemCount(), 2);
    QCOMPARE(FWindow->SelectedRecordsText(true), QString::fromStdString(std::string(FData->RawRecord(11)) + "\n"));
    QVERIFY(FWindow->SelectedRecordsText(false).split('\n').at(1).contains("carol"));
    // The request is not on show: Go to says so and leaves the selection.
    FWindow->UpdateActions();
    QCOMPARE(FWindow->actGoToPartner->text(), QString("&Go to request"));
    FWindow->actGoToPartner->trigger();
    QCOMPARE(FWindow->SelectedRecord(), int64_t{11});
    QVERIFY2(FWindow->statusBar()->currentMessage().contains("Record 11 is not among"),
             qPrintable(FWindow->statusBar()->currentMessage()));
    // With it on show, Go to selects its row.
    Enter(FWindow->FilterBar, "Class = \"311 5\"");
    QTRY_VERIFY(FilterDone());
    QCOMPARE(RowsOnShow(), TRecords({10, 11}));
    QCOMPARE(FWindow->SelectedRecord(), int64_t{11});  // still selected: it matches again
    FWindow->actGoToPartner->trigger();
    QCOMPARE(FWindow->lvData->currentIndex().row(), 0);
    QCOMPARE(FWindow->SelectedRecord(), int64_t{10});
  }

  void aBadQueryMarksTheBarAndChangesNothingElse_data() {
    QTest::addColumn<QString>("query");
    QTest::addColumn<QString>("message");
    QTest::addColumn<int>("cursor");
    QTest::newRow("unclosed quote") << "User-Name = \"bob"
                                    << "unclosed quote at column 13" << 12;
    QTest::newRow("missing value") << "bob and Reason-Code ="
                                   << "missing value after '=' at column 21" << 20;
    QTest::newRow("a bad regular expression") << "User-Name ~ \"(bob\""
                                              << "bad regular expression (missing ): (bob) at column 13" << 12;
    QTest::newRow("no number") << "Reason-Code > many"
                               << "'many' is no number or time at column 15" << 14;
    QTest::newRow("columns count characters, not UTF-16 units")
        << QString::fromUtf8("\xF0\x9F\x98\x80 = (") << "missing value after '=' at column 3" << 3;
  }

  void aBadQueryMarksTheBarAndChangesNothingElse() {
    QFETCH(QString, query);
    QFETCH(QString, message);
    QFETCH(int, cursor);
    FWindow->LoadLog(FDir->Write("sessions.log", SessionsLog(60)));
    Enter(FWindow->FilterBar, "bob");
    QTRY_VERIFY(FilterDone());
    const TRecords before = RowsOnShow();
    FWindow->lvData->selectRow(3);
    const QStringList history = FWindow->QueryHistory();
    QSignalSpy resets(FWindow->Model(), &QAbstractItemModel::modelReset);

    Enter(FWindow->FilterBar, query);
    QVERIFY(FWindow->FilterBar->Marked());
    QVERIFY(FWindow->FilterBar->lblMessage->isVisible());
    QCOMPARE(FWindow->FilterBar->lblMessage->text(), message);
    QCOMPARE(FWindow->FilterBar->Edit()->cursorPosition(), cursor);
    QCOMPARE(FWindow->FilterBar->Text(), query);  // kept for mending
    QCOMPARE(resets.size(), 0);
    QCOMPARE(RowsOnShow(), before);
    QCOMPARE(FWindow->FilterText(), QString("bob"));
    QCOMPARE(FWindow->lvData->currentIndex().row(), 3);
    QCOMPARE(FWindow->QueryHistory(), history);

    // Typing takes the mark away.
    QTest::keyClick(FWindow->FilterBar->cbQuery, Qt::Key_End);
    QTest::keyClick(FWindow->FilterBar->cbQuery, Qt::Key_Backspace);
    QVERIFY(!FWindow->FilterBar->Marked());
    QVERIFY(!FWindow->FilterBar->lblMessage->isVisible());
  }

  void aFieldNoRecordHasIsSaid() {
    FWindow->LoadLog(FDir->Write("sessions.log", SessionsLog(30)));
    Enter(FWindow->FilterBar, "Usr-Name = bob");
    QTRY_VERIFY(FilterDone());
    QCOMPARE(FWindow->Model()->rowCount(), 0);
    QVERIFY(!FWindow->FilterBar->Marked());  // a valid query
    QCOMPARE(FWindow->FilterBar->lblMessage->text(), QString("No record so far has the field Usr-Name"));
    QVERIFY(FWindow->FilterBar->lblMessage->isVisible());
  }

  void withoutALogFilterAndFindFindNothingQuietly() {
    Enter(FWindow->FilterBar, "bob");
    QTRY_VERIFY(FilterDone());
    QCOMPARE(FWindow->Model()->rowCount(), 0);
    Enter(FWindow->FindBar, "bob");
    QTRY_COMPARE(FWindow->lblFindState->text(), QString("No match"));
    QCoreApplication::processEvents();
    QVERIFY2(FNotices.isEmpty(), qPrintable(FNotices.join('\n')));
    QVERIFY(FErrors.isEmpty());
    QVERIFY(!FWindow->FindBar->lblMessage->isVisible());
  }

  void aLogThatShrinksUnderTheScanKeepsWhatWasFound() {
    const std::string log = SessionsLog(3000);
    const std::string path = FDir->Write("sessions.log", log);
    FWindow->LoadLog(path);
    const TRecords all = BruteForce("bob");
    // The cut reaches the scan before the growth watching reads the log anew.
    FData->LogMonitor().Freeze();
    std::filesystem::resize_file(path, log.size() / 2);
    Enter(FWindow->FilterBar, "bob");
    QTRY_VERIFY(FilterDone());
    QTRY_COMPARE(FNotices.size(), 1);
    QVERIFY2(FNotices[0].contains("stopped early") && FNotices[0].contains("shrank"), qPrintable(FNotices[0]));
    const TRecords shown = RowsOnShow();
    QVERIFY(shown.size() < all.size());
    QVERIFY(std::equal(shown.begin(), shown.end(), all.begin()));  // what was found stays
    QVERIFY(FNotices[0].contains(QString::number(shown.size())));
    QVERIFY(FErrors.isEmpty());
  }

  // --- filter on a cell's value -------------------------------------------------------------------

  void filterOnThisValueAndExcludeThisValue_data() {
    QTest::addColumn<QString>("filter");  // applied first
    QTest::addColumn<int>("record");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<bool>("exclude");
    QTest::addColumn<QString>("expected");
    QTest::newRow("a value that needs quotes, decoded")
        << QString() << 0 << "User-Name" << false << "User-Name = \"CORP\\alice & co\"";
    QTest::newRow("a reply's value from its request") << QString() << 5 << "User-Name" << true << "User-Name != carol";
    QTest::newRow("a code by its name") << QString() << 5 << "Packet-Type" << false << "Packet-Type = Access-Reject";
    QTest::newRow("an empty cell") << QString() << 0 << "Reason-Code" << false << "Reason-Code != *";
    QTest::newRow("an empty cell excluded") << QString() << 0 << "Reason-Code" << true << "Reason-Code = *";
    QTest::newRow("added to the filter") << "NPS01" << 3 << "Packet-Type" << true << "NPS01 and Packet-Type != Access-Accept";
    QTest::newRow("an 'or' keeps its parentheses")
        << "bob or carol" << 2 << "Packet-Type" << false << "(bob or carol) and Packet-Type = Access-Request";
  }

  void filterOnThisValueAndExcludeThisValue() {
    QFETCH(QString, filter);
    QFETCH(int, record);
    QFETCH(QString, caption);
    QFETCH(bool, exclude);
    QFETCH(QString, expected);
    FWindow->LoadLog(FDir->Write("sessions.log", SessionsLog(30)));
    if (!filter.isEmpty()) {
      Enter(FWindow->FilterBar, filter);
      QTRY_VERIFY(FilterDone());
    }
    // The cell's context menu, opened where the cell is.
    const int row = FWindow->Model()->RowOfRecord(record);
    QVERIFY(row >= 0);
    const QModelIndex cell = FWindow->Model()->index(row, ColumnOf(caption));
    FWindow->lvData->scrollTo(cell);
    emit FWindow->lvData->customContextMenuRequested(FWindow->lvData->visualRect(cell).center());
    QTRY_VERIFY(FWindow->pmData->isVisible());
    QVERIFY(FWindow->actFilterOnValue->isEnabled());
    (exclude ? FWindow->actExcludeValue : FWindow->actFilterOnValue)->trigger();
    FWindow->pmData->hide();
    QCOMPARE(FWindow->FilterText(), expected);
    QCOMPARE(FWindow->FilterBar->Text(), expected);
    QTRY_VERIFY(FilterDone());
    QCOMPARE(RowsOnShow(), BruteForce(expected));
    QVERIFY(!RowsOnShow().empty());
  }

  // --- find -----------------------------------------------------------------------------------------

  void findGoesToTheNextAndPreviousMatchOnShowAndWraps() {
    FWindow->LoadLog(FDir->Write("sessions.log", SessionsLog(12)));
    // Refusals: the replies 5, 11, 17, 23.
    FWindow->actFind->trigger();
    QVERIFY(FWindow->FindBar->isVisible());
    FWindow->SelectRecord(6);
    Enter(FWindow->FindBar, "Reason-Code = 16");
    QTRY_COMPARE(FWindow->SelectedRecord(), int64_t{11});
    QCOMPARE(FWindow->Model()->rowCount(), 24);  // nothing hidden
    QTRY_VERIFY(!FWindow->FindRunning());
    const auto press = [&](Qt::KeyboardModifiers AModifiers) {
      QTest::keyClick(FWindow->lvData, Qt::Key_F3, AModifiers);
      return FWindow->SelectedRecord();
    };
    FWindow->lvData->setFocus();
    QCOMPARE(press(Qt::NoModifier), int64_t{17});
    QCOMPARE(press(Qt::NoModifier), int64_t{23});
    QCOMPARE(press(Qt::NoModifier), int64_t{5});      // wrapped to the first
    QCOMPARE(press(Qt::ShiftModifier), int64_t{23});  // and back to the last
    QCOMPARE(press(Qt::ShiftModifier), int64_t{17});
    QCOMPARE(FWindow->lvData->selectionModel()->selectedRows().size(), 1);  // Shift selects no range
    QCOMPARE(FWindow->lblFindState->text(), QString("4 matches"));
    // Shift+Enter in the bar goes back too.
    QTest::keyClick(FWindow->FindBar->cbQuery, Qt::Key_Return, Qt::ShiftModifier);
    QCOMPARE(FWindow->SelectedRecord(), int64_t{11});

    // The matching cells of matching records are marked, nothing else.
    const int reason = ColumnOf("Reason-Code");
    TLogTableModel* model = FWindow->Model();
    QVERIFY(model->CellMarked(11, reason));
    QVERIFY(model->index(11, reason).data(Qt::FontRole).value<QFont>().bold());
    QVERIFY(model->index(11, reason).data(Qt::BackgroundRole).isValid());
    QVERIFY(!model->CellMarked(11, ColumnOf("Timestamp")));
    QVERIFY(!model->CellMarked(9, reason));

    // Under a filter, a match that is not on show is passed over.
    Enter(FWindow->FilterBar, "not Class = \"311 5\"");
    QTRY_VERIFY(FilterDone());
    FWindow->SelectRecord(6);
    FWindow->lvData->setFocus();
    QCOMPARE(press(Qt::NoModifier), int64_t{17});
    QCOMPARE(press(Qt::ShiftModifier), int64_t{5});

    // Closing the bar takes the marks away.
    QTest::keyClick(FWindow->FindBar->cbQuery, Qt::Key_Escape);
    QVERIFY(!FWindow->FindBar->isVisible());
    QVERIFY(!model->CellMarked(FWindow->Model()->RowOfRecord(5), reason));
  }

  void findWithoutAMatchOrWithABadQuerySaysSo() {
    FWindow->LoadLog(FDir->Write("sessions.log", SessionsLog(12)));
    FWindow->SelectRecord(3);
    Enter(FWindow->FindBar, "nobody");
    QTRY_COMPARE(FWindow->lblFindState->text(), QString("No match"));
    QCOMPARE(FWindow->SelectedRecord(), int64_t{3});
    Enter(FWindow->FindBar, "User-Name ~ \"[\"");
    QVERIFY(FWindow->FindBar->Marked());
    QVERIFY(FWindow->FindBar->lblMessage->text().endsWith("at column 13"));
    QCOMPARE(FWindow->SelectedRecord(), int64_t{3});
  }

  void typingInTheListGoesToTheFindBar() {
    FWindow->LoadLog(FDir->Write("sessions.log", SessionsLog(12)));
    FWindow->lvData->setFocus();
    const int current = FWindow->lvData->currentIndex().row();
    QTest::keyClicks(FWindow->lvData, "carol");
    QVERIFY(FWindow->FindBar->isVisible());
    QCOMPARE(FWindow->FindBar->Text(), QString("carol"));
    QCOMPARE(FWindow->lvData->currentIndex().row(), current);  // the list did not move
  }

  // --- the bar ---------------------------------------------------------------------------------------

  void queriesAreKeptForTheNextStart() {
    FWindow->LoadLog(FDir->Write("sessions.log", SessionsLog(6)));
    for (int i = 1; i <= 21; ++i) Enter(FWindow->FilterBar, QStringLiteral("q%1").arg(i));
    FWindow->actFind->trigger();
    Enter(FWindow->FindBar, "User-Name = \"a \"\"b\"\"\"");  // quotes and = survive the settings file
    Enter(FWindow->FilterBar, "q5");                         // again: to the head
    Enter(FWindow->FilterBar, "Class = (");                  // a bad query is not kept
    QStringList expected{"q5", "User-Name = \"a \"\"b\"\"\""};
    for (int i = 21; expected.size() < TfrmMain::kQueryHistorySize; --i) {
      if (i != 5) expected << QStringLiteral("q%1").arg(i);
    }
    QCOMPARE(FWindow->QueryHistory(), expected);
    QCOMPARE(FWindow->FilterBar->History(), expected);
    QCOMPARE(FWindow->FindBar->History(), expected);
    Restart();
    QCOMPARE(FWindow->QueryHistory(), expected);
    QCOMPARE(FWindow->FilterBar->History(), expected);
    QVERIFY(FWindow->FilterBar->Text().isEmpty());

    // An entry typed again applies on Enter only, not when the focus leaves the bar.
    FWindow->LoadLog(FDir->Write("sessions.log", SessionsLog(6)));
    FWindow->FilterBar->cbQuery->setFocus();
    QTest::keyClicks(FWindow->FilterBar->cbQuery, "q3");
    FWindow->lvData->setFocus();
    QCoreApplication::processEvents();
    QVERIFY(FWindow->FilterText().isEmpty());
    // One picked from the drop-down applies at once.
    FWindow->FilterBar->cbQuery->showPopup();
    QAbstractItemView* list = FWindow->FilterBar->cbQuery->view();
    list->setCurrentIndex(list->model()->index(1, 0));
    QTest::keyClick(list, Qt::Key_Return);
    QTRY_COMPARE(FWindow->FilterText(), expected[1]);
  }

  void completionSpots_data() {
    QTest::addColumn<QString>("text");  // "|" marks the cursor
    QTest::addColumn<QString>("replaced");
    QTest::addColumn<QString>("prefix");
    QTest::addColumn<QString>("field");
    QTest::newRow("a field name") << "Use|"
                                  << "Use"
                                  << "Use"
                                  << "";
    QTest::newRow("the whole word at the cursor") << "Us|er-Nam = x"
                                                  << "User-Nam"
                                                  << "Us"
                                                  << "";
    QTest::newRow("after and") << "bob and Pack|"
                               << "Pack"
                               << "Pack"
                               << "";
    QTest::newRow("a value") << "Packet-Type = Acc|"
                             << "Acc"
                             << "Acc"
                             << "Packet-Type";
    QTest::newRow("a value with nothing typed") << "Packet-Type != |"
                                                << ""
                                                << ""
                                                << "Packet-Type";
    QTest::newRow("no spaces around the operator") << "(Reason-Code=cre|"
                                                   << "cre"
                                                   << "cre"
                                                   << "Reason-Code";
    QTest::newRow("a quoted value, open") << "Reason-Code = \"Credentials mis|"
                                          << "\"Credentials mis"
                                          << "Credentials mis"
                                          << "Reason-Code";
    QTest::newRow("a quoted value, closed") << "Reason-Code = \"Cre|d\" and x"
                                            << "\"Cred\""
                                            << "Cre"
                                            << "Reason-Code";
    QTest::newRow("after a closed quote") << "\"a b\" Nas|"
                                          << "Nas"
                                          << "Nas"
                                          << "";
    QTest::newRow("doubled quotes") << "User-Name = \"say \"\"hi|"
                                    << "\"say \"\"hi"
                                    << "say \"hi"
                                    << "User-Name";
  }

  void completionSpots() {
    QFETCH(QString, text);
    QFETCH(QString, replaced);
    QFETCH(QString, prefix);
    QFETCH(QString, field);
    const int cursor = static_cast<int>(text.indexOf('|'));
    text.remove(cursor, 1);
    const TCompletionSpot spot = CompletionSpotAt(text, cursor);
    QCOMPARE(text.mid(spot.Start, spot.End - spot.Start), replaced);
    QCOMPARE(spot.Prefix, prefix);
    QCOMPARE(spot.Field, field);
  }

  void completionOffersFieldAndCodeNamesAndEnterTakesOneWithoutApplying() {
    FWindow->LoadLog(FDir->Write("sessions.log", SessionsLog(6)));
    TQueryBar* bar = FWindow->FilterBar;
    QCompleter* completer = bar->Completer();
    bar->cbQuery->setFocus();
    QTest::keyClicks(bar->cbQuery, "port");
    QVERIFY(completer->popup()->isVisible());
    QStringList offered;
    for (int i = 0; i < completer->completionCount(); ++i) offered << completer->completionModel()->index(i, 0).data().toString();
    QVERIFY(offered.contains("NAS-Port-Type"));
    for (const QString& name : offered) QVERIFY2(name.contains("port", Qt::CaseInsensitive), qPrintable(name));
    completer->popup()->setCurrentIndex(
        completer->completionModel()->index(static_cast<int>(offered.indexOf("NAS-Port-Type")), 0));
    QTest::keyClick(completer->popup(), Qt::Key_Return);
    QCOMPARE(bar->Text(), QString("NAS-Port-Type"));
    QTest::keyClicks(bar->cbQuery, " = 19 and Packet-Type = rej");
    QTRY_VERIFY(completer->popup()->isVisible());
    QCOMPARE(completer->completionCount(), 1);
    QCOMPARE(completer->currentCompletion(), QString("Access-Reject"));
    QTest::keyClick(completer->popup(), Qt::Key_Down);
    QTest::keyClick(completer->popup(), Qt::Key_Return);
    QCOMPARE(bar->Text(), QString("NAS-Port-Type = 19 and Packet-Type = Access-Reject"));
    QVERIFY(!FWindow->Model()->Filtered());  // Enter took the completion only
    // A name with spaces goes in quoted.
    bar->Edit()->clear();
    QTest::keyClicks(bar->cbQuery, "Reason-Code = mismatch");
    QTRY_VERIFY(completer->popup()->isVisible());
    const QString first = completer->completionModel()->index(0, 0).data().toString();
    QVERIFY(first.contains("mismatch", Qt::CaseInsensitive));
    QTest::keyClick(completer->popup(), Qt::Key_Down);
    QTest::keyClick(completer->popup(), Qt::Key_Return);
    QCOMPARE(bar->Text(), "Reason-Code = \"" + first + "\"");
    QTest::keyClick(bar->cbQuery, Qt::Key_Return);
    QTRY_VERIFY(FilterDone());
    QCOMPARE(FWindow->FilterText(), bar->Text());
  }

  // --- export, reload, another log ------------------------------------------------------------------

  void exportWritesAllRecordsOrThoseOnShow() {
    FWindow->LoadLog(FDir->Write("sessions.log", SessionsLog(30)));
    Enter(FWindow->FilterBar, "Packet-Type = Access-Reject");
    QTRY_VERIFY(FilterDone());
    const std::string out = FDir->File("out.xml");
    FWindow->SelectExportFile = [&](std::string& AFileName, TDataExportFormat& AFormat) {
      AFileName = out;
      AFormat = TDataExportFormat::efXML;
      return true;
    };
    FWindow->ConfirmOverwrite = [](const QString&) { return true; };
    FWindow->UpdateActions();
    for (const bool onShow : {true, false}) {
      FWindow->ExportRecordsOnShow = onShow;
      // The window's keys work from the bar too: filter, then export.
      QTest::keyClick(FWindow->FilterBar->cbQuery, Qt::Key_E, Qt::ControlModifier);
      // One record a line, each with its own Class.
      const TRecords records = onShow ? RowsOnShow() : BruteForce("");
      const QStringList lines = QString::fromStdString(platform::ReadWholeFile(out)).split("\r\n", Qt::SkipEmptyParts);
      QCOMPARE(lines.size(), static_cast<qsizetype>(records.size()));
      for (size_t i = 0; i < records.size(); ++i) {
        const QString element = QStringLiteral(">311 %1</Class>").arg(records[i] / 2);
        QVERIFY2(lines[static_cast<qsizetype>(i)].contains(element), qPrintable(lines[static_cast<qsizetype>(i)]));
      }
      QVERIFY2(FWindow->statusBar()->currentMessage().startsWith(QStringLiteral("Exported %1 records").arg(onShow ? 10 : 60)),
               qPrintable(FWindow->statusBar()->currentMessage()));
      QVERIFY(FWindow->Model()->Filtered());  // the list stays as it was
      QCOMPARE(RowsOnShow().size(), size_t{10});
    }
  }

  void reloadAppliesTheFilterAgainAndAnotherLogDropsIt() {
    std::string log = SessionsLog(30);
    const std::string path = FDir->Write("sessions.log", log);
    FWindow->LoadLog(path);
    Enter(FWindow->FilterBar, "bob");
    QTRY_VERIFY(FilterDone());
    FWindow->lvData->selectRow(2);
    const int64_t selected = FWindow->SelectedRecord();
    Enter(FWindow->FindBar, "Reason-Code = 16");
    QTRY_VERIFY(!FWindow->FindRunning());
    // The log grows by sessions 30..35; F5 reads it again under the same filter.
    log = SessionsLog(36);
    FDir->Write("sessions.log", log);
    QTest::keyClick(FWindow->lvData, Qt::Key_F5);
    QCOMPARE(FWindow->FilterBar->Text(), QString("bob"));
    QTRY_VERIFY(FilterDone());
    QCOMPARE(RowsOnShow(), BruteForce("bob"));
    QCOMPARE(RowsOnShow().back(), uint32_t{68});  // session 34's request, read anew
    QCOMPARE(FWindow->SelectedRecord(), selected);
    QVERIFY(FWindow->Model()->FindQuery() == nullptr);  // the marks were of the file read before

    FWindow->LoadLog(FDir->Write("other.log", SessionsLog(3)));
    QVERIFY(!FWindow->Model()->Filtered());
    QCOMPARE(FWindow->Model()->rowCount(), 6);
    QVERIFY(FWindow->FilterBar->Text().isEmpty());
    QVERIFY(FWindow->FilterText().isEmpty());
    QVERIFY(!FWindow->sbrFilter->isVisible());
  }

  void aNewQueryEndsTheRunningScan() {
    std::string log;
    for (int i = 0; i < 400000; ++i) log += "<Event><A data_type=\"1\">x" + std::to_string(i % 7) + "</A></Event>\r\n";
    FWindow->LoadLog(FDir->Write("large.log", log));
    Enter(FWindow->FilterBar, "A = x1");
    Enter(FWindow->FilterBar, "A = x3");  // at once: the first scan may still run
    QTRY_VERIFY_WITH_TIMEOUT(FilterDone(), 20000);
    QCOMPARE(RowsOnShow(), BruteForce("A = x3"));
    // A filter cleared while it runs leaves every record on show.
    Enter(FWindow->FilterBar, "A = x5");
    QTest::keyClick(FWindow->FilterBar->cbQuery, Qt::Key_Escape);
    QVERIFY(!FWindow->FilterRunning());
    QCoreApplication::processEvents();  // what the ended scan had posted would run now
    QCOMPARE(FWindow->Model()->rowCount(), 400000);
    QVERIFY(!FWindow->Model()->Filtered());
  }
};

QTEST_MAIN(TFindAndFilterTests)
#include "FindAndFilterTests.moc"
