#include "SummaryView.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QSplitter>
#include <QTableWidget>
#include <QToolTip>
#include <QVBoxLayout>
#include <algorithm>

#include "LogTime.h"
#include "MainWindow.h"
#include "QueryParser.h"

namespace velloran {

namespace {

constexpr int kShownValueLength = 200;     // characters of a value in a top list's cell
constexpr int kTooltipValueLength = 2000;  // and in its tooltip

// The kinds of records, bottom to top of a bar: refusals first, where a spike shows.
struct TKind {
  const char* Caption;
  int64_t TTraffic::*Count;
};
constexpr TKind kKinds[] = {{"Refusals", &TTraffic::Refusals},     {"Challenges", &TTraffic::Challenges},
                            {"Accepts", &TTraffic::Accepts},       {"Requests", &TTraffic::Requests},
                            {"Accounting", &TTraffic::Accounting}, {"Other", &TTraffic::Other}};

bool IsDark(const QPalette& APalette) { return APalette.color(QPalette::Window).lightness() < 128; }

// Colours that read on the palette's background; refusals in the error colour.
QColor KindColour(int AKind, bool ADark) {
  static const QColor light[] = {QColor(0xC6, 0x28, 0x28), QColor(0xEF, 0xA0, 0x1A), QColor(0x2E, 0x7D, 0x32),
                                 QColor(0x15, 0x65, 0xC0), QColor(0x8E, 0x8E, 0x8E), QColor(0xB0, 0x8F, 0xC7)};
  static const QColor dark[] = {QColor(0xEF, 0x53, 0x50), QColor(0xFF, 0xCA, 0x28), QColor(0x66, 0xBB, 0x6A),
                                QColor(0x64, 0xB5, 0xF6), QColor(0x9E, 0x9E, 0x9E), QColor(0xCE, 0x93, 0xD8)};
  return ADark ? dark[AKind] : light[AKind];
}

// "03/02/2026 06:20:00": the log's own form of a time.
QString LogTimeText(int64_t ASeconds, bool AWithSeconds) {
  const std::string iso = IsoTimeText(ASeconds * 1000);  // 2026-03-02T06:20:00
  QString text =
      QString::fromStdString(iso.substr(5, 2) + "/" + iso.substr(8, 2) + "/" + iso.substr(0, 4) + " " + iso.substr(11));
  return AWithSeconds ? text : text.left(16);
}

// The spacing of the time axis's labels: a round multiple of the interval width AWidth that
// puts about 100 pixels between labels, when an interval is ABarPixels wide.
int64_t TickSeconds(int64_t AWidth, double ABarPixels) {
  for (const int64_t step : kRoundIntervalSeconds) {
    if (step >= AWidth && step % AWidth == 0 && static_cast<double>(step / AWidth) * ABarPixels >= 100) return step;
  }
  return AWidth * std::max<int64_t>(1, static_cast<int64_t>(100 / std::max(ABarPixels, 0.01)));
}

QString Grouped(int64_t ACount) { return GroupedNumber(ACount); }

QString ShareText(int64_t ACount, int64_t AOf) {
  return AOf > 0 ? QString::number(100.0 * static_cast<double>(ACount) / static_cast<double>(AOf), 'f', 1) + QChar(0xA0) + '%'
                 : QString();
}

QTableWidget* MakeTable(const QStringList& AHeaders, QWidget* AParent) {
  auto* table = new QTableWidget(0, static_cast<int>(AHeaders.size()), AParent);
  table->setHorizontalHeaderLabels(AHeaders);
  table->verticalHeader()->hide();
  table->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table->setSelectionBehavior(QAbstractItemView::SelectRows);
  table->setSelectionMode(QAbstractItemView::SingleSelection);
  table->setWordWrap(false);
  table->setTextElideMode(Qt::ElideRight);
  table->horizontalHeader()->setStretchLastSection(true);
  table->verticalHeader()->setDefaultSectionSize(table->fontMetrics().height() + 6);
  return table;
}

QTableWidgetItem* NumberItem(int64_t AValue) {
  auto* item = new QTableWidgetItem(Grouped(AValue));
  item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
  return item;
}

// A value as a cell shows it: shortened, control characters as spaces, an empty one named.
QString ShownValue(const std::string& AValue, int ALength) {
  if (AValue.empty()) return "(empty)";
  QString text = FromUtf8(std::string_view(AValue).substr(0, static_cast<size_t>(ALength) * 4));
  if (text.size() > ALength) text = text.left(ALength) + QChar(0x2026);
  for (QChar& c : text) {
    if (c.unicode() < 0x20) c = ' ';
  }
  return text;
}

}  // namespace

QString IntervalTerm(int64_t AStart, int64_t AEnd) {
  const auto iso = [](int64_t ASeconds) { return QString::fromStdString(IsoTimeText(ASeconds * 1000)); };
  return "Timestamp >= " + iso(AStart) + " and Timestamp < " + iso(AEnd);
}

QString ValueTerm(const std::string& AField, const std::string& AValue) {
  return FromUtf8(QuotedQueryValue(AField) + " = " + QuotedQueryValue(AValue));
}

// ---------------------------------------------------------------------------------------------

TTrafficChart::TTrafficChart(QWidget* AParent) : QWidget(AParent) {
  setMouseTracking(true);
  setAttribute(Qt::WA_OpaquePaintEvent, false);
  setToolTip({});
}

void TTrafficChart::SetSeries(std::vector<TTimeInterval> ASeries, int64_t AWidthSeconds) {
  FSeries = std::move(ASeries);
  FWidth = AWidthSeconds;
  FHovered = -1;
  update();
}

int64_t TTrafficChart::MaxTotal() const {
  int64_t most = 0;
  for (const TTimeInterval& interval : FSeries) most = std::max(most, interval.Traffic.Total());
  return most;
}

QRect TTrafficChart::PlotRect() const {
  const QFontMetrics metrics = fontMetrics();
  const int left = metrics.horizontalAdvance(Grouped(std::max<int64_t>(MaxTotal(), 10))) + 10;
  const int bottom = metrics.height() * 2 + 8;  // the time axis and the legend
  return QRect(left, 6, std::max(10, width() - left - 8), std::max(10, height() - bottom - 6));
}

QRect TTrafficChart::BarRect(int AIndex) const {
  if (AIndex < 0 || static_cast<size_t>(AIndex) >= FSeries.size()) return {};
  const QRect plot = PlotRect();
  const double step = static_cast<double>(plot.width()) / static_cast<double>(FSeries.size());
  const int x0 = plot.left() + static_cast<int>(step * AIndex);
  const int x1 = plot.left() + static_cast<int>(step * (AIndex + 1));
  return QRect(x0, plot.top(), std::max(1, x1 - x0), plot.height());
}

int TTrafficChart::IntervalAt(int AX) const {
  const QRect plot = PlotRect();
  if (FSeries.empty() || AX < plot.left() || AX >= plot.right() + 1) return -1;
  const int last = static_cast<int>(FSeries.size()) - 1;
  int index = std::clamp(
      static_cast<int>(static_cast<double>(AX - plot.left()) * static_cast<double>(FSeries.size()) / plot.width()), 0, last);
  // The bar that holds x as BarRect places it (both round alike only most of the time).
  while (index > 0 && AX < BarRect(index).left()) --index;
  while (index < last && AX >= BarRect(index + 1).left()) ++index;
  return index;
}

QString TTrafficChart::IntervalText(int AIndex) const {
  if (AIndex < 0 || static_cast<size_t>(AIndex) >= FSeries.size()) return {};
  const TTimeInterval& interval = FSeries[static_cast<size_t>(AIndex)];
  const bool seconds = FWidth < 60;
  QString end = LogTimeText(interval.Start + FWidth, seconds);
  const QString start = LogTimeText(interval.Start, seconds);
  if (end.left(10) == start.left(10)) end = end.mid(11);
  QString text = start + QStringLiteral(" – ") + end;
  text += "\nRecords: " + Grouped(interval.Traffic.Total());
  for (const TKind& kind : kKinds) {
    const int64_t count = interval.Traffic.*kind.Count;
    if (count > 0 || kind.Count != &TTraffic::Other) text += QString("\n%1: %2").arg(kind.Caption, Grouped(count));
  }
  return text;
}

void TTrafficChart::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const QPalette& colours = palette();
  const bool dark = IsDark(colours);
  painter.fillRect(rect(), colours.color(QPalette::Base));
  const QRect plot = PlotRect();
  const QFontMetrics metrics = fontMetrics();
  painter.setPen(colours.color(QPalette::Text));
  if (FSeries.empty()) {
    painter.drawText(rect(), Qt::AlignCenter, "No record with a Timestamp");
    return;
  }
  const int64_t most = std::max<int64_t>(1, MaxTotal());
  // The count axis: 0, half and the most of any interval, with faint guide lines.
  QColor guide = colours.color(QPalette::Text);
  guide.setAlpha(40);
  for (const int64_t value : {int64_t{0}, most / 2, most}) {
    const int y = plot.bottom() - static_cast<int>(static_cast<double>(value) * plot.height() / static_cast<double>(most));
    painter.setPen(guide);
    painter.drawLine(plot.left(), y, plot.right(), y);
    painter.setPen(colours.color(QPalette::Text));
    painter.drawText(QRect(0, y - metrics.height() / 2, plot.left() - 6, metrics.height()), Qt::AlignRight | Qt::AlignVCenter,
                     Grouped(value));
  }
  for (size_t i = 0; i < FSeries.size(); ++i) {
    QRect bar = BarRect(static_cast<int>(i));
    if (bar.width() > 3) bar.adjust(0, 0, -1, 0);  // a gap between wide bars
    int y = plot.bottom() + 1;
    for (int kind = 0; kind < static_cast<int>(std::size(kKinds)); ++kind) {
      const int64_t count = FSeries[i].Traffic.*kKinds[kind].Count;
      if (count == 0) continue;
      const int height =
          std::max(1, static_cast<int>(static_cast<double>(count) * plot.height() / static_cast<double>(most) + 0.5));
      painter.fillRect(QRect(bar.left(), y - height, bar.width(), height), KindColour(kind, dark));
      y -= height;
    }
    if (static_cast<int>(i) == FHovered) {
      QColor mark = colours.color(QPalette::Highlight);
      mark.setAlpha(60);
      painter.fillRect(BarRect(static_cast<int>(i)), mark);
    }
  }
  // The time axis: labels at round times (every 15 min, every 6 h, …) about 100 pixels apart,
  // as the log writes times.
  painter.setPen(colours.color(QPalette::Text));
  const int64_t step = TickSeconds(FWidth, static_cast<double>(plot.width()) / static_cast<double>(FSeries.size()));
  const bool days = step >= 86400;
  const bool seconds = step < 60;
  QString lastDate;
  int freeFrom = plot.left();  // labels never overlap
  for (size_t i = 0; i < FSeries.size(); ++i) {
    const int64_t start = FSeries[i].Start;
    if (((start % step) + step) % step != 0) continue;
    const QString full = LogTimeText(start, seconds);
    const QString date = full.left(10);
    QString label = days ? date.left(5) : full.mid(11);
    if (!days && date != lastDate) label = date.left(5) + " " + label;
    const QRect bar = BarRect(static_cast<int>(i));
    const int labelWidth = metrics.horizontalAdvance(label);
    if (bar.left() < freeFrom || bar.left() + labelWidth > width()) continue;
    lastDate = date;
    painter.drawLine(bar.left(), plot.bottom() + 1, bar.left(), plot.bottom() + 4);
    painter.drawText(QRect(bar.left(), plot.bottom() + 4, labelWidth + 4, metrics.height()), Qt::AlignLeft | Qt::AlignTop, label);
    freeFrom = bar.left() + labelWidth + 12;
  }
  // The legend.
  int x = plot.left();
  const int legendY = plot.bottom() + 6 + metrics.height();
  for (int kind = 0; kind < 5; ++kind) {
    painter.fillRect(QRect(x, legendY + 3, 10, metrics.height() - 6), KindColour(kind, dark));
    x += 14;
    painter.drawText(QRect(x, legendY, 200, metrics.height()), Qt::AlignLeft | Qt::AlignVCenter, kKinds[kind].Caption);
    x += metrics.horizontalAdvance(kKinds[kind].Caption) + 12;
  }
  const QString per = "per " + QString::fromStdString(velloran::IntervalText(FWidth));
  painter.drawText(QRect(x, legendY, std::max(0, width() - x - 8), metrics.height()), Qt::AlignRight | Qt::AlignVCenter, per);
}

void TTrafficChart::mouseMoveEvent(QMouseEvent* AEvent) {
  const int hovered = IntervalAt(AEvent->position().toPoint().x());
  if (hovered != FHovered) {
    FHovered = hovered;
    update();
  }
  if (hovered < 0) {
    QToolTip::hideText();
  } else {
    QToolTip::showText(AEvent->globalPosition().toPoint(), IntervalText(hovered) + "\n\nClick: filter on this interval", this);
  }
}

void TTrafficChart::mousePressEvent(QMouseEvent* AEvent) {
  const int index = AEvent->button() == Qt::LeftButton ? IntervalAt(AEvent->position().toPoint().x()) : -1;
  if (index < 0) return;
  const int64_t start = FSeries[static_cast<size_t>(index)].Start;
  emit IntervalClicked(start, start + FWidth);
}

void TTrafficChart::leaveEvent(QEvent*) {
  FHovered = -1;
  update();
}

// ---------------------------------------------------------------------------------------------

TSummaryPanel::TSummaryPanel(QWidget* AParent) : QWidget(AParent) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(4, 4, 4, 4);
  FHeadline = new QLabel(this);
  FHeadline->setWordWrap(true);
  FHeadline->setTextInteractionFlags(Qt::TextSelectableByMouse);
  layout->addWidget(FHeadline);
  auto* splitter = new QSplitter(Qt::Vertical, this);
  layout->addWidget(splitter, 1);
  FChart = new TTrafficChart(splitter);
  FReasons = MakeTable({"Code", "Count", "Share", "Reason of refusal"}, splitter);
  FReasons->setToolTip("Double-click: filter on the refusals of this reason");
  auto* ranked = new QWidget(splitter);
  auto* rankedLayout = new QVBoxLayout(ranked);
  rankedLayout->setContentsMargins(0, 0, 0, 0);
  auto* chooser = new QHBoxLayout();
  auto* caption = new QLabel("&Most frequent:", ranked);
  FField = new QComboBox(ranked);
  for (const std::string_view field : kRankedFields) FField->addItem(FromUtf8(field));
  caption->setBuddy(FField);
  chooser->addWidget(caption);
  chooser->addWidget(FField, 1);
  rankedLayout->addLayout(chooser);
  auto* lists = new QSplitter(Qt::Horizontal, ranked);
  FRequests = MakeTable({"Count", "Share", "Requests"}, lists);
  FRefusals = MakeTable({"Count", "Share", "Refusals"}, lists);
  FRequests->setToolTip("Double-click: filter on this value");
  FRefusals->setToolTip("Double-click: filter on the refusals with this value");
  rankedLayout->addWidget(lists, 1);
  splitter->setStretchFactor(0, 3);
  splitter->setStretchFactor(1, 2);
  splitter->setStretchFactor(2, 3);

  connect(FChart, &TTrafficChart::IntervalClicked, this,
          [this](int64_t AStart, int64_t AEnd) { emit FilterRequested(IntervalTerm(AStart, AEnd)); });
  connect(FReasons, &QTableWidget::cellDoubleClicked, this, [this](int ARow, int) {
    if (ARow < 0 || static_cast<size_t>(ARow) >= FStatistics.RefusalReasons.size()) return;
    emit FilterRequested("Packet-Type = Access-Reject and Reason-Code = " +
                         QString::number(FStatistics.RefusalReasons[static_cast<size_t>(ARow)].Code));
  });
  connect(FField, &QComboBox::currentIndexChanged, this, [this] { ShowRanked(); });
  connect(FRequests, &QTableWidget::cellDoubleClicked, this, [this](int ARow, int) { RankedDoubleClicked(false, ARow); });
  connect(FRefusals, &QTableWidget::cellDoubleClicked, this, [this](int ARow, int) { RankedDoubleClicked(true, ARow); });
  Clear();
}

TSummaryPanel::~TSummaryPanel() { Cancel(); }

void TSummaryPanel::Compute(TScanTarget ATarget, std::shared_ptr<const std::vector<uint32_t>> ARecords, const QString& ASubject) {
  Cancel();
  const unsigned generation = ++FGeneration;
  FRunning = true;
  FSubject = ASubject;
  FHeadline->setText("Counting " + ASubject + QStringLiteral("…"));
  QPointer<TSummaryPanel> panel(this);
  FThread = std::jthread([panel, generation, target = std::move(ATarget), records = std::move(ARecords)](std::stop_token AStop) {
    TStatisticsOptions options;
    options.Records = records.get();
    // One core stays with the GUI thread.
    options.Threads = std::max(1u, std::thread::hardware_concurrency() - 1);
    int lastPercent = -1;
    options.OnProgress = [&](int64_t ADone, int64_t ATotal) {
      const int percent = ATotal > 0 ? static_cast<int>(ADone * 100 / ATotal) : 100;
      if (percent == lastPercent) return;
      lastPercent = percent;
      QMetaObject::invokeMethod(
          panel,
          [panel, generation, percent] {
            if (panel) panel->Progress(generation, percent);
          },
          Qt::QueuedConnection);
    };
    TLogStatistics statistics = ComputeStatistics(target, options, AStop);
    if (AStop.stop_requested()) return;
    QMetaObject::invokeMethod(
        panel,
        [panel, generation, result = std::move(statistics)]() mutable {
          if (panel) panel->Finished(generation, std::move(result));
        },
        Qt::QueuedConnection);
  });
}

void TSummaryPanel::Cancel() {
  if (FThread.joinable()) {
    FThread.request_stop();
    FThread.join();
  }
  if (FRunning) {
    FRunning = false;
    ++FGeneration;  // what the stopped computation posted is dropped
    FHeadline->setText(FSubject.isEmpty() ? QString() : "Counting " + FSubject + " was stopped.");
  }
}

void TSummaryPanel::Clear() {
  Cancel();
  FStatistics = {};
  FSubject.clear();
  FHeadline->setText("Open a log to see what happened in it.");
  ShowStatistics();
}

void TSummaryPanel::Progress(unsigned AGeneration, int APercent) {
  if (AGeneration != FGeneration || !FRunning) return;
  FHeadline->setText(QString("Counting %1… %2 %").arg(FSubject).arg(APercent));
}

void TSummaryPanel::Finished(unsigned AGeneration, TLogStatistics AStatistics) {
  if (AGeneration != FGeneration) return;
  FRunning = false;
  if (FThread.joinable()) FThread.join();
  if (!AStatistics.Error.empty()) {
    FHeadline->setText("The summary could not be counted: " + FromUtf8(AStatistics.Error) + ".");
    emit Computed();
    return;
  }
  FStatistics = std::move(AStatistics);
  ShowStatistics();
  emit Computed();
}

void TSummaryPanel::ShowStatistics() {
  const TLogStatistics& stats = FStatistics;
  if (!FSubject.isEmpty()) {
    QString headline = QString("<b>%1</b>: %2 records, %3 requests, <span style='color:%5'>%4 refused</span> (%6)")
                           .arg(FSubject.toHtmlEscaped(), Grouped(stats.Records), Grouped(stats.Requests),
                                Grouped(stats.Refusals), KindColour(0, IsDark(palette())).name(),
                                ShareText(stats.Refusals, stats.Requests) + QChar(0xA0) + "of" + QChar(0xA0) + "requests");
    if (stats.WithoutTime > 0) headline += QString("; %1 without a time").arg(Grouped(stats.WithoutTime));
    if (stats.IntervalWidened) headline += "; intervals widened to keep at most 10,000";
    FHeadline->setText(headline);
  }
  FChart->SetSeries(stats.Series, stats.IntervalSeconds);
  FReasons->setRowCount(0);
  FReasons->setRowCount(static_cast<int>(stats.RefusalReasons.size()));
  for (int row = 0; row < FReasons->rowCount(); ++row) {
    const TCodeCount& reason = stats.RefusalReasons[static_cast<size_t>(row)];
    FReasons->setItem(row, 0, NumberItem(reason.Code));
    FReasons->setItem(row, 1, NumberItem(reason.Count));
    FReasons->setItem(row, 2, new QTableWidgetItem(ShareText(reason.Count, stats.Refusals)));
    FReasons->item(row, 2)->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
    auto* text = new QTableWidgetItem(reason.Name.empty() ? "(no name)" : FromUtf8(reason.Name));
    text->setToolTip(text->text());
    FReasons->setItem(row, 3, text);
  }
  FReasons->resizeColumnsToContents();
  FReasons->horizontalHeader()->setStretchLastSection(true);
  ShowRanked();
}

void TSummaryPanel::ShowRanked() {
  const int field = FField->currentIndex();
  const TRankedValues* ranked = field >= 0 && static_cast<size_t>(field) < FStatistics.Ranked.size()
                                    ? &FStatistics.Ranked[static_cast<size_t>(field)]
                                    : nullptr;
  const auto fill = [&](QTableWidget* ATable, const std::vector<TValueCount>* AValues, int64_t AOf, int64_t ADistinct,
                        const QString& AAmong) {
    ATable->setRowCount(0);
    ATable->setHorizontalHeaderItem(
        2, new QTableWidgetItem(AValues == nullptr ? AAmong : QString("%1: %2 distinct").arg(AAmong, Grouped(ADistinct))));
    if (AValues == nullptr) return;
    ATable->setRowCount(static_cast<int>(AValues->size()));
    for (int row = 0; row < ATable->rowCount(); ++row) {
      const TValueCount& value = (*AValues)[static_cast<size_t>(row)];
      ATable->setItem(row, 0, NumberItem(value.Count));
      ATable->setItem(row, 1, new QTableWidgetItem(ShareText(value.Count, AOf)));
      ATable->item(row, 1)->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
      QString shown = ShownValue(value.Value, kShownValueLength);
      if (!value.Name.empty()) shown += " (" + FromUtf8(value.Name) + ")";
      auto* item = new QTableWidgetItem(shown);
      item->setToolTip(ShownValue(value.Value, kTooltipValueLength));
      ATable->setItem(row, 2, item);
    }
    ATable->resizeColumnToContents(0);
    ATable->resizeColumnToContents(1);
  };
  fill(FRequests, ranked ? &ranked->Requests : nullptr, FStatistics.Requests, ranked ? ranked->DistinctRequests : 0, "Requests");
  fill(FRefusals, ranked ? &ranked->Refusals : nullptr, FStatistics.Refusals, ranked ? ranked->DistinctRefusals : 0, "Refusals");
}

void TSummaryPanel::RankedDoubleClicked(bool ARefusals, int ARow) {
  const int field = FField->currentIndex();
  if (field < 0 || static_cast<size_t>(field) >= FStatistics.Ranked.size()) return;
  const TRankedValues& ranked = FStatistics.Ranked[static_cast<size_t>(field)];
  const std::vector<TValueCount>& values = ARefusals ? ranked.Refusals : ranked.Requests;
  if (ARow < 0 || static_cast<size_t>(ARow) >= values.size()) return;
  const QString term = ValueTerm(ranked.Field, values[static_cast<size_t>(ARow)].Value);
  emit FilterRequested(ARefusals ? "Packet-Type = Access-Reject and " + term : term);
}

}  // namespace velloran
