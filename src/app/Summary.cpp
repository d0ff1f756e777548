// The main window's Summary: a dock beside the list that counts the records on show (all, or
// the filter's once its scan is done), again when the filter changes or the followed log
// grows, and filters the list on what is clicked in it.
#include <QAction>
#include <QDockWidget>
#include <QTimer>

#include "MainWindow.h"
#include "SettingsKeys.h"
#include "SummaryView.h"

namespace velloran {

namespace {

// A followed log is counted again at most this often.
constexpr int kGrowthRefreshMs = 3000;

}  // namespace

void TfrmMain::CreateSummary() {
  dckSummary = new QDockWidget("Summary", this);
  dckSummary->setObjectName("dckSummary");
  FSummary = new TSummaryPanel(dckSummary);
  dckSummary->setWidget(FSummary);
  addDockWidget(Qt::RightDockWidgetArea, dckSummary);
  dckSummary->hide();
  actSummary = dckSummary->toggleViewAction();
  actSummary->setText("&Summary");
  actSummary->setStatusTip("Show or hide the Summary: the traffic over time, the refusals by reason and the top values");
  actSummary->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S));
  tmrSummary = new QTimer(this);
  tmrSummary->setSingleShot(true);
  tmrSummary->setInterval(kGrowthRefreshMs);
  connect(tmrSummary, &QTimer::timeout, this, [this] { Guarded([this] { RefreshSummary(); }); });
  // Shown (by the menu, the dock's own buttons or a restored layout): counted unless what is
  // on show was counted last.
  connect(dckSummary, &QDockWidget::visibilityChanged, this, [this](bool AVisible) {
    if (AVisible) Guarded([this] { RefreshSummary(); });
  });
  connect(FSummary, &TSummaryPanel::FilterRequested, this,
          [this](const QString& ATerm) { Guarded([this, ATerm] { AddFilterTerm(ATerm); }); });
}

bool TfrmMain::SummaryVisible() const { return dckSummary != nullptr && !dckSummary->isHidden(); }

void TfrmMain::SetSummaryVisible(bool AValue) {
  if (dckSummary == nullptr || SummaryVisible() == AValue) return;
  dckSummary->setVisible(AValue);
  if (AValue) RefreshSummary();
}

void TfrmMain::RefreshSummary() {
  tmrSummary->stop();
  if (!SummaryVisible()) {
    if (FSummary->Running()) FSummaryKey.clear();  // what was stopped is counted when shown again
    FSummary->Cancel();
    return;
  }
  if (FOpenFiles.empty() || FData.Count() <= 0 || FLoading) {
    FSummary->Clear();
    FSummaryKey.clear();
    return;
  }
  // A filter whose scan runs is counted when it is done.
  if (FilterRunning() && !FFilterAdding) return;
  const int64_t records = FModel->RecordCount();
  // What the Summary counts: the logs, their records and the filter's rows.
  const QString subjectKey = FromUtf8(EntryOfFiles(FOpenFiles)) + '\n' + QString::number(records) + '\n' + FilterText() + '\n' +
                             QString::number(FModel->Filtered() ? static_cast<qint64>(FModel->FilterRows().size()) : -1);
  if (subjectKey == FSummaryKey && (FSummary->Running() || FSummary->Statistics().Records > 0)) return;
  FSummaryKey = subjectKey;
  std::shared_ptr<const std::vector<uint32_t>> rows;
  QString subject = OpenLogsName();
  if (FModel->Filtered()) {
    rows = std::make_shared<const std::vector<uint32_t>>(FModel->FilterRows());
    subject = QString("the %1 records of the filter").arg(GroupedNumber(static_cast<int64_t>(rows->size())));
  }
  FSummary->Compute(TScanTarget::Of(FData, records), std::move(rows), subject);
}

void TfrmMain::ScheduleSummaryRefresh() {
  if (SummaryVisible() && !tmrSummary->isActive()) tmrSummary->start();
}

}  // namespace velloran
