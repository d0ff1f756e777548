#include "ListBoxDragger.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QEvent>
#include <QKeyEvent>
#include <QListWidget>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QTimer>
#include <algorithm>

namespace velloran {

namespace {

constexpr int kDropLineHeight = 2;
// The time between two scroll steps while the pointer stays near an edge.
constexpr int kScrollInterval = 60;

// The drop line: a strip over the list's viewport that takes no mouse input, so the events
// of the drag still reach the viewport under it.
class TDropLine : public QWidget {
 public:
  explicit TDropLine(QWidget* AViewport) : QWidget(AViewport) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    hide();
  }

 protected:
  void paintEvent(QPaintEvent* /*AEvent*/) override {
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(QPalette::Highlight));
  }
};

int SelectedIndex(const QListWidget* AList) {
  const QList<QListWidgetItem*> items = AList->selectedItems();
  return items.isEmpty() ? -1 : AList->row(items.first());
}

void SelectIndex(QListWidget* AList, int AIndex) {
  if (AIndex >= 0 && AIndex < AList->count()) {
    AList->setCurrentRow(AIndex, QItemSelectionModel::ClearAndSelect);
    return;
  }
  AList->clearSelection();
  AList->setCurrentRow(-1);
}

QRect GlobalRect(const QWidget* AWidget) { return {AWidget->mapToGlobal(QPoint(0, 0)), AWidget->size()}; }

// How close to the top or bottom edge the pointer scrolls the list: half a row, at least 4
// pixels, so that the first and last visible rows remain drop targets.
int ScrollMargin(const QListWidget* AList) {
  const int row = AList->count() > 0 ? AList->sizeHintForRow(0) : AList->fontMetrics().height();
  return std::max(4, row / 2);
}

}  // namespace

TListBoxDragger::TListBoxDragger(QObject* AOwner) : QObject(AOwner) {
  FScrollTimer = new QTimer(this);
  FScrollTimer->setInterval(kScrollInterval);
  connect(FScrollTimer, &QTimer::timeout, this, &TListBoxDragger::ScrollStep);
}

TListBoxDragger::~TListBoxDragger() {
  FinishDrag();  // gives the cursor back
  for (TListState& state : FLists) {
    QListWidget* list = state.List;
    if (list == nullptr) continue;
    list->viewport()->removeEventFilter(this);
    list->removeEventFilter(this);
    delete state.Line.data();
  }
}

void TListBoxDragger::SetListBox(QListWidget* AValue) {
  if (AValue == FListBox) return;
  if (AValue != nullptr && !Attach(AValue, QStringLiteral("Sorry, can't operate with ListBox where MultiSelect=True"))) return;
  if (FListBox != nullptr) Detach(FListBox);
  FListBox = AValue;
}

void TListBoxDragger::ItemMove(QListWidget* ASrc, QListWidget* ADest, int AFromIndex, int AToIndex) {
  if (ASrc == nullptr || ADest == nullptr || AFromIndex < 0 || AFromIndex >= ASrc->count() || AToIndex < 0) return;
  if (OnItemMove) {
    OnItemMove(ASrc, ADest, AFromIndex, AToIndex);
    return;
  }
  QListWidgetItem* item = ASrc->takeItem(AFromIndex);
  const int to = std::min(AToIndex, ADest->count());
  ADest->insertItem(to, item);
  SelectIndex(ADest, to);
}

int TListBoxDragger::DropMark(const QListWidget* AList) const {
  const TListState* state = StateOf(AList);
  return state != nullptr ? state->Mark : -1;
}

QRect TListBoxDragger::DropLineRect(const QListWidget* AList) const {
  const TListState* state = StateOf(AList);
  const QWidget* line = state != nullptr && state->Mark >= 0 ? state->Line.data() : nullptr;
  return line != nullptr ? line->geometry() : QRect();
}

bool TListBoxDragger::Attach(QListWidget* AList, const QString& ARefusal) {
  if (TListState* state = StateOf(AList)) {
    ++state->Uses;
    return true;
  }
  const QAbstractItemView::SelectionMode mode = AList->selectionMode();
  if (mode != QAbstractItemView::SingleSelection && mode != QAbstractItemView::NoSelection) {
    if (OnError)
      OnError(ARefusal);
    else
      QMessageBox::critical(AList->window(), QStringLiteral("TListBoxDragger Error"), ARefusal);
    return false;
  }
  TListState state;
  state.List = AList;
  state.Uses = 1;
  state.Line = new TDropLine(AList->viewport());
  FLists.push_back(state);
  // The viewport receives the mouse; the list itself the keys (Esc ends a drag).
  AList->viewport()->installEventFilter(this);
  AList->installEventFilter(this);
  connect(AList, &QObject::destroyed, this, &TListBoxDragger::Forget);
  return true;
}

void TListBoxDragger::Detach(QListWidget* AList) {
  TListState* state = StateOf(AList);
  if (state == nullptr || --state->Uses > 0) return;
  if (FDragging) FinishDrag();
  if (AList != nullptr) {
    AList->viewport()->removeEventFilter(this);
    AList->removeEventFilter(this);
    disconnect(AList, &QObject::destroyed, this, &TListBoxDragger::Forget);
  }
  delete state->Line.data();
  FLists.erase(FLists.begin() + (state - FLists.data()));
}

TListBoxDragger::TListState* TListBoxDragger::StateOf(const QListWidget* AList) {
  if (AList == nullptr) return nullptr;
  const auto found = std::find_if(FLists.begin(), FLists.end(), [AList](const TListState& s) { return s.List == AList; });
  return found != FLists.end() ? &*found : nullptr;
}

const TListBoxDragger::TListState* TListBoxDragger::StateOf(const QListWidget* AList) const {
  return const_cast<TListBoxDragger*>(this)->StateOf(AList);
}

QListWidget* TListBoxDragger::ListOfViewport(const QObject* AViewport) const {
  for (const TListState& state : FLists) {
    QListWidget* list = state.List;
    if (list != nullptr && list->viewport() == AViewport) return list;
  }
  return nullptr;
}

void TListBoxDragger::Forget(QObject* /*AList*/) {
  // The list's QPointers are already null when it announces its destruction; its viewport
  // takes the drop line with it.
  if (FDragging && (FSource == nullptr)) FinishDrag();
  std::erase_if(FLists, [](const TListState& s) { return s.List == nullptr; });
}

bool TListBoxDragger::eventFilter(QObject* AWatched, QEvent* AEvent) {
  switch (AEvent->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseMove:
    case QEvent::MouseButtonRelease: {
      QListWidget* list = ListOfViewport(AWatched);
      if (list == nullptr) break;
      const auto& mouse = *static_cast<QMouseEvent*>(AEvent);
      if (AEvent->type() == QEvent::MouseButtonPress) return MousePress(list, mouse);
      if (AEvent->type() == QEvent::MouseMove) return MouseMove(list, mouse);
      return MouseRelease(list, mouse);
    }
    case QEvent::KeyPress:
      if (FDragging && static_cast<QKeyEvent*>(AEvent)->key() == Qt::Key_Escape) {
        FinishDrag();
        return true;  // Esc ends the drag, not the dialog
      }
      break;
    default:
      break;
  }
  return QObject::eventFilter(AWatched, AEvent);
}

bool TListBoxDragger::MousePress(QListWidget* AList, const QMouseEvent& AEvent) {
  if (AEvent.button() != Qt::LeftButton) return false;
  if (FDragging) return true;
  // The list selects the pressed item after this filter; the drag takes the selection then.
  const bool onItem = AList->indexAt(AEvent.position().toPoint()).isValid();
  FPressList = onItem ? AList : nullptr;
  FPressGlobal = AEvent.globalPosition().toPoint();
  return false;
}

bool TListBoxDragger::MouseMove(QListWidget* AList, const QMouseEvent& AEvent) {
  const bool leftDown = (AEvent.buttons() & Qt::LeftButton) != 0;
  if (FDragging) {
    if (!leftDown) {  // the release went elsewhere (another window took the mouse)
      FinishDrag();
      return false;
    }
    FLastGlobal = AEvent.globalPosition().toPoint();
    DoDragging(FLastGlobal);
    return true;
  }
  if (FPressList != AList || !leftDown) return false;
  // Below the drag distance the press stays a click; the list must not drag-select meanwhile,
  // or the item to drag would change under the pointer.
  const QPoint global = AEvent.globalPosition().toPoint();
  if ((global - FPressGlobal).manhattanLength() < QApplication::startDragDistance()) return true;
  if (SelectedIndex(AList) < 0) {
    FPressList = nullptr;
    return false;
  }
  BeginDrag(AList);
  FLastGlobal = global;
  DoDragging(FLastGlobal);
  return true;
}

bool TListBoxDragger::MouseRelease(QListWidget* /*AList*/, const QMouseEvent& AEvent) {
  if (AEvent.button() != Qt::LeftButton) return false;
  FPressList = nullptr;
  if (FDragging) {
    FLastGlobal = AEvent.globalPosition().toPoint();
    DoDropped();
  }
  // The list sees the release as well: it ends its own press state; a release never changes
  // the selection of a single-selection list.
  return false;
}

void TListBoxDragger::BeginDrag(QListWidget* ASource) {
  FDragging = true;
  FSource = ASource;
  FSourceIndex = SelectedIndex(ASource);
  for (TListState& state : FLists) SetMark(state, -1);
  QApplication::setOverrideCursor(Qt::DragMoveCursor);
  FScrollTimer->start();
}

void TListBoxDragger::FinishDrag() {
  FPressList = nullptr;
  if (!FDragging) return;
  FDragging = false;
  FScrollTimer->stop();
  for (TListState& state : FLists) SetMark(state, -1);
  QApplication::restoreOverrideCursor();
  FSource = nullptr;
  FSourceIndex = -1;
}

void TListBoxDragger::DoDragging(QPoint AGlobal) {
  QListWidget* target = TargetList(AGlobal);
  int at = -1;
  for (TListState& state : FLists) {
    if (state.List != target) {
      SetMark(state, -1);
      continue;
    }
    at = ItemFromPoint(target, AGlobal);
    SetMark(state, at >= 0 ? DropPlace(target, at) : -1);
  }
  QApplication::changeOverrideCursor(at >= 0 ? Qt::DragMoveCursor : Qt::ForbiddenCursor);
}

void TListBoxDragger::DoDropped() {
  QListWidget* source = FSource;
  const int from = FSourceIndex;
  QListWidget* dest = nullptr;
  int to = -1;
  for (const TListState& state : FLists)
    if (state.Mark >= 0) {
      dest = state.List;
      to = state.Mark;
    }
  FinishDrag();
  if (dest == nullptr || source == nullptr) return;
  // The line stands above the place; below the dragged item, taking the item out first moves
  // that place up by one.
  if (dest == source && from < to) --to;
  ItemMove(source, dest, from, to);
}

void TListBoxDragger::ScrollStep() {
  QListWidget* target = FDragging ? TargetList(FLastGlobal) : nullptr;
  if (target == nullptr) return;
  const int y = target->viewport()->mapFromGlobal(FLastGlobal).y();
  const int margin = ScrollMargin(target);
  QScrollBar* bar = target->verticalScrollBar();
  const int before = bar->value();
  if (y < margin)
    bar->triggerAction(QAbstractSlider::SliderSingleStepSub);
  else if (y >= target->viewport()->height() - margin)
    bar->triggerAction(QAbstractSlider::SliderSingleStepAdd);
  if (bar->value() != before) DoDragging(FLastGlobal);  // other items are under the pointer now
}

QListWidget* TListBoxDragger::TargetList(QPoint AGlobal) const {
  const auto encloses = [AGlobal](const QListWidget* AList) {
    const QRect rect = GlobalRect(AList->viewport());
    return AGlobal.x() >= rect.left() && AGlobal.x() <= rect.right();
  };
  QListWidget* source = FSource;
  if (source != nullptr && encloses(source)) return source;
  for (const TListState& state : FLists) {
    QListWidget* list = state.List;
    if (list != nullptr && list->isVisible() && encloses(list)) return list;
  }
  return nullptr;
}

int TListBoxDragger::ItemFromPoint(const QListWidget* AList, QPoint AGlobal) {
  const QWidget* viewport = AList->viewport();
  const QPoint point = viewport->mapFromGlobal(AGlobal);
  if (!viewport->rect().contains(point)) return -1;
  const QModelIndex index = AList->indexAt(point);
  if (index.isValid()) return index.row();
  if (AList->count() == 0) return 0;
  // Not on an item: below the last one, or beside an item narrower than the list.
  const QRect last = AList->visualItemRect(AList->item(AList->count() - 1));
  if (point.y() > last.bottom()) return AList->count();
  const QModelIndex beside = AList->indexAt(QPoint(last.left() + 1, point.y()));
  return beside.isValid() ? beside.row() : AList->count();
}

int TListBoxDragger::DropPlace(QListWidget* ADest, int AAtIndex) const {
  // Dropped onto itself or onto the item after it, the item would stand where it stands.
  if (ADest == FSource && (AAtIndex == FSourceIndex || AAtIndex == FSourceIndex + 1)) return -1;
  if (OnDropPlace) return OnDropPlace(FSource, ADest, FSourceIndex, AAtIndex);
  return AAtIndex;
}

void TListBoxDragger::SetMark(TListState& AState, int AIndex) {
  AState.Mark = AIndex;
  QWidget* line = AState.Line;
  const QListWidget* list = AState.List;
  if (line == nullptr || list == nullptr) return;
  if (AIndex < 0) {
    line->hide();
    return;
  }
  // Along the top edge of item AIndex; for the end of the list, just below the last item.
  int top = 0;
  const int count = list->count();
  if (AIndex < count)
    top = list->visualItemRect(list->item(AIndex)).top();
  else if (count > 0)
    top = list->visualItemRect(list->item(count - 1)).bottom() + 1;
  line->setGeometry(0, top, list->viewport()->width(), kDropLineHeight);
  line->raise();
  line->show();
}

// --- TTwoListBoxDragger ----------------------------------------------------------------------

TTwoListBoxDragger::TTwoListBoxDragger(QObject* AOwner) : TListBoxDragger(AOwner) {}

void TTwoListBoxDragger::SetListBox2(QListWidget* AValue) {
  if (AValue == FListBox2) return;
  if (AValue != nullptr && !Attach(AValue, QStringLiteral("Sorry, can't operate with ListBox2 where MultiSelect=True"))) return;
  if (FListBox2 != nullptr) Detach(FListBox2);
  FListBox2 = AValue;
}

}  // namespace velloran
