// The Summary beside the list: what happened in the log (or in the records a filter keeps) at
// a glance — the traffic over time as stacked bars, the refusals by reason and the most
// frequent values of the fields administrators ask about. A click on an interval or a
// double-click on a reason or a value asks the window to filter on it.
//
// Threading: the statistics are computed on a thread of the panel's own (one pass, leaving a
// core to the GUI); its progress and result come back to the GUI thread as queued calls on
// the panel, which drops them when a newer computation has started or the panel is gone.
#pragma once

#include <QWidget>
#include <cstdint>
#include <memory>
#include <thread>
#include <vector>

#include "Statistics.h"

class QComboBox;
class QLabel;
class QTableWidget;

namespace velloran {

// Stacked bars of the traffic per interval, refusals in the error colour at the bottom of
// each bar; hovering shows an interval's counts, a click chooses it.
class TTrafficChart : public QWidget {
  Q_OBJECT
 public:
  explicit TTrafficChart(QWidget* AParent = nullptr);

  void SetSeries(std::vector<TTimeInterval> ASeries, int64_t AWidthSeconds);
  const std::vector<TTimeInterval>& Series() const { return FSeries; }
  int64_t WidthSeconds() const { return FWidth; }
  // The interval under x (widget coordinates), or -1.
  int IntervalAt(int AX) const;
  // Where interval AIndex's bar stands (its full height), for tests and the hover.
  QRect BarRect(int AIndex) const;
  // "03/02/2026 06:20 – 06:21" and one line per kind of record.
  QString IntervalText(int AIndex) const;

  QSize sizeHint() const override { return {480, 200}; }
  QSize minimumSizeHint() const override { return {240, 140}; }

 signals:
  // [AStart, AEnd) in seconds of the log's own clock.
  void IntervalClicked(int64_t AStart, int64_t AEnd);

 protected:
  void paintEvent(QPaintEvent* AEvent) override;
  void mouseMoveEvent(QMouseEvent* AEvent) override;
  void mousePressEvent(QMouseEvent* AEvent) override;
  void leaveEvent(QEvent* AEvent) override;

 private:
  QRect PlotRect() const;
  int64_t MaxTotal() const;
  std::vector<TTimeInterval> FSeries;
  int64_t FWidth = 0;
  int FHovered = -1;
};

class TSummaryPanel : public QWidget {
  Q_OBJECT
 public:
  explicit TSummaryPanel(QWidget* AParent = nullptr);
  ~TSummaryPanel() override;
  TSummaryPanel(const TSummaryPanel&) = delete;
  TSummaryPanel& operator=(const TSummaryPanel&) = delete;

  // Computes the statistics of ATarget's records (ARecords: only these, ascending; null: all)
  // in the background, replacing any computation under way. ASubject says what they are of
  // ("IN261202.log", "12,345 records of the filter").
  void Compute(TScanTarget ATarget, std::shared_ptr<const std::vector<uint32_t>> ARecords, const QString& ASubject);
  // Stops a computation under way; what is on show stays.
  void Cancel();
  // Clears what is on show (no log).
  void Clear();
  bool Running() const { return FRunning; }
  // The last statistics computed to the end.
  const TLogStatistics& Statistics() const { return FStatistics; }
  TTrafficChart* Chart() const { return FChart; }
  QTableWidget* ReasonTable() const { return FReasons; }
  QTableWidget* RequestsTable() const { return FRequests; }
  QTableWidget* RefusalsTable() const { return FRefusals; }
  QComboBox* FieldChooser() const { return FField; }

 signals:
  // A query term to filter on ("Reason-Code = 16", "Timestamp >= … and Timestamp < …").
  void FilterRequested(const QString& ATerm);
  // A computation ended (completed, or failed with the reason on show).
  void Computed();

 private:
  void Progress(unsigned AGeneration, int APercent);
  void Finished(unsigned AGeneration, TLogStatistics AStatistics);
  void ShowStatistics();
  void ShowRanked();
  void RankedDoubleClicked(bool ARefusals, int ARow);

  TTrafficChart* FChart = nullptr;
  QLabel* FHeadline = nullptr;
  QTableWidget* FReasons = nullptr;
  QComboBox* FField = nullptr;
  QTableWidget *FRequests = nullptr, *FRefusals = nullptr;
  TLogStatistics FStatistics;
  QString FSubject;
  bool FRunning = false;
  unsigned FGeneration = 0;
  std::jthread FThread;
};

// The query term of the records in [AStart, AEnd) of the log's clock.
QString IntervalTerm(int64_t AStart, int64_t AEnd);
// The query term of a ranked value: AField = "AValue" (a coded value by its number).
QString ValueTerm(const std::string& AField, const std::string& AValue);

}  // namespace velloran
