#include "ColumnsDialog.h"

#include <QAction>
#include <QApplication>
#include <QEvent>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMainWindow>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QStyle>
#include <QToolButton>
#include <algorithm>

#include "ListBoxDragger.h"
#include "SettingsKeys.h"
#include "Storage.h"

namespace velloran {

namespace {

// Design sizes: the client area, the smallest window, and the parts. Taller fonts make the
// labels and buttons taller; the lists take what is left.
constexpr QSize kDesignSize(356, 250);
constexpr QSize kMinimumSize(364, 273);
constexpr int kMargin = 8;
constexpr int kLabelTop = 2, kDesignListTop = 17;
constexpr int kFilterGap = 6;  // between the Available label and the filter box
constexpr int kArrowWidth = 23, kArrowHeight = 22, kArrowGap = 6;
constexpr int kButtonWidth = 75, kButtonHeight = 25, kButtonGap = 6;
// The arrow buttons as a group: two pairs, each with kArrowGap inside, 23 pixels between them.
constexpr int kArrowGroupHeight = 4 * kArrowHeight + 2 * kArrowGap + 23;

// A 16-pixel arrow pointing right, turned by ARotation degrees; drawn at run time so the
// buttons need no picture files, and at twice the size for high-density screens.
QPixmap ArrowPixmap(int ASize, qreal ARotation) {
  QPixmap pixmap(ASize, ASize);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.scale(ASize / 16.0, ASize / 16.0);
  painter.translate(8, 8);
  painter.rotate(ARotation);
  painter.translate(-8, -8);
  QPainterPath arrow;
  arrow.moveTo(2, 6);
  arrow.lineTo(7.5, 6);
  arrow.lineTo(7.5, 2.5);
  arrow.lineTo(13.5, 8);
  arrow.lineTo(7.5, 13.5);
  arrow.lineTo(7.5, 10);
  arrow.lineTo(2, 10);
  arrow.closeSubpath();
  painter.setPen(QPen(QColor(0x1d, 0x4f, 0x86), 0.8));
  painter.setBrush(QColor(0x3a, 0x7b, 0xc8));
  painter.drawPath(arrow);
  return pixmap;
}

QIcon ArrowIcon(qreal ARotation) {
  QIcon icon;
  icon.addPixmap(ArrowPixmap(16, ARotation));
  icon.addPixmap(ArrowPixmap(32, ARotation));
  return icon;
}

// The window the dialog belongs to: the active main window, else the first visible one, else
// whatever window is active; null when there is none.
QWidget* MainWindow() {
  QWidget* active = QApplication::activeWindow();
  if (qobject_cast<QMainWindow*>(active) != nullptr) return active;
  for (QWidget* window : QApplication::topLevelWidgets())
    if (window->isVisible() && qobject_cast<QMainWindow*>(window) != nullptr) return window;
  return active;
}

QString RemoveEnclosingQuotes(const QString& AName) {
  if (AName.size() >= 2 && AName.front() == AName.back() && (AName.front() == u'"' || AName.front() == u'\''))
    return AName.mid(1, AName.size() - 2);
  return AName;
}

}  // namespace

bool ExecuteColumnsDialog(const QString& AAll, const QString& ADefaults, QString& ACurrent, TrsStorage* ASettings) {
  QString bounds =
      ASettings != nullptr ? QString::fromStdString(ASettings->ReadString(SettingsKeys::ColumnsDialogBounds, "")) : QString();
  QString selection = ACurrent;
  TFormColumnsCustomize form(MainWindow());
  if (!form.Execute(AAll, ADefaults, selection, bounds)) return false;
  if (ASettings != nullptr) ASettings->WriteString(SettingsKeys::ColumnsDialogBounds, bounds.toStdString());
  ACurrent = selection;
  return true;
}

QStringList SplitColumnNames(const QString& AText) {
  if (AText.isEmpty()) return {};
  QString text = AText;
  text.replace(QStringLiteral("\r\n"), QStringLiteral("|"));
  QStringList names = text.split(u'|');
  if (text.endsWith(u'|')) names.removeLast();
  for (QString& name : names) name = RemoveEnclosingQuotes(name);
  return names;
}

int CompareColumnNames(const QString& A, const QString& B) {
  const int result = QString::compare(A, B, Qt::CaseInsensitive);
  return result != 0 ? result : QString::compare(A, B, Qt::CaseSensitive);
}

QRect FitInside(const QRect& AArea, const QRect& ABounds) {
  int left = ABounds.x(), top = ABounds.y();
  const int width = ABounds.width(), height = ABounds.height();
  if (left + width > AArea.x() + AArea.width()) left = AArea.x() + AArea.width() - width;
  if (top + height > AArea.y() + AArea.height()) top = AArea.y() + AArea.height() - height;
  left = std::max(left, AArea.x());
  top = std::max(top, AArea.y());
  return {left, top, width, height};
}

// --- TFormColumnsCustomize ---------------------------------------------------------------------

TFormColumnsCustomize::TFormColumnsCustomize(QWidget* AParent)
    : QDialog(AParent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint) {
  setWindowTitle(QStringLiteral("Customize columns"));
  setMinimumSize(kMinimumSize);
  CreateActions();
  CreateComponents();

  FDragger = new TTwoListBoxDragger(this);
  FDragger->SetListBox(lbAll);
  FDragger->SetListBox2(lbSelected);
  FDragger->OnItemMove = [this](QListWidget* ASrc, QListWidget* ADest, int AFrom, int ATo) {
    DraggerItemMove(ASrc, ADest, AFrom, ATo);
  };

  edtFilter->installEventFilter(this);
  connect(edtFilter, &QLineEdit::textChanged, this, &TFormColumnsCustomize::ApplyFilter);
  // Before UpdateActions below: a name the filter hides must already be hidden when the
  // actions are re-evaluated.
  connect(lbAll->model(), &QAbstractItemModel::rowsInserted, this,
          [this](const QModelIndex&, int AFirst, int ALast) { FilterInsertedRows(AFirst, ALast); });
  for (QListWidget* list : {lbAll, lbSelected}) {
    list->installEventFilter(this);
    list->viewport()->installEventFilter(this);
    const QAbstractItemModel* model = list->model();
    connect(model, &QAbstractItemModel::rowsInserted, this, &TFormColumnsCustomize::UpdateActions);
    connect(model, &QAbstractItemModel::rowsRemoved, this, &TFormColumnsCustomize::UpdateActions);
    connect(model, &QAbstractItemModel::rowsMoved, this, &TFormColumnsCustomize::UpdateActions);
    connect(model, &QAbstractItemModel::modelReset, this, &TFormColumnsCustomize::UpdateActions);
    connect(model, &QAbstractItemModel::layoutChanged, this, &TFormColumnsCustomize::UpdateActions);
    connect(list->selectionModel(), &QItemSelectionModel::selectionChanged, this, &TFormColumnsCustomize::UpdateActions);
  }

  resize(kDesignSize.expandedTo(kMinimumSize));
  PlaceBottom();
  setTabOrder(edtFilter, lbAll);
  setTabOrder(lbAll, lbSelected);
  setTabOrder(lbSelected, btnReset);
  setTabOrder(btnReset, btnOk);
  setTabOrder(btnOk, btnCancel);
  lbAll->setFocus();
  UpdateActions();
}

TFormColumnsCustomize::~TFormColumnsCustomize() {
  // The lists clear their models while QWidget destroys them, after the actions have gone:
  // they must no longer reach UpdateActions. The dragger goes before them, too.
  for (const QListWidget* list : {lbAll, lbSelected}) {
    list->model()->disconnect(this);
    list->selectionModel()->disconnect(this);
  }
  delete FDragger;
  FDragger = nullptr;
}

void TFormColumnsCustomize::CreateActions() {
  const auto make = [this](const QString& AHint, qreal ARotation) {
    auto* action = new QAction(ArrowIcon(ARotation), AHint, this);
    action->setToolTip(AHint);
    return action;
  };
  actToSelected = make(QStringLiteral("Select current column"), 0);
  actToAll = make(QStringLiteral("Unselect current column"), 180);
  actUp = make(QStringLiteral("Move Up"), 270);
  actDown = make(QStringLiteral("Move Down"), 90);
  // In Selected only: elsewhere Shift+arrows keep their usual meaning.
  for (QAction* action : {actUp, actDown}) action->setShortcutContext(Qt::WidgetShortcut);
  actUp->setShortcut(QKeySequence(Qt::SHIFT | Qt::Key_Up));
  actDown->setShortcut(QKeySequence(Qt::SHIFT | Qt::Key_Down));
  actOK = new QAction(QStringLiteral("OK"), this);

  connect(actToSelected, &QAction::triggered, this, &TFormColumnsCustomize::actToSelectedExecute);
  connect(actToAll, &QAction::triggered, this, &TFormColumnsCustomize::actToAllExecute);
  connect(actUp, &QAction::triggered, this, &TFormColumnsCustomize::actUpExecute);
  connect(actDown, &QAction::triggered, this, &TFormColumnsCustomize::actDownExecute);
  connect(actOK, &QAction::triggered, this, &QDialog::accept);
}

void TFormColumnsCustomize::CreateComponents() {
  lblAvailable = new QLabel(QStringLiteral("Available"), this);
  lblSelected = new QLabel(QStringLiteral("Selected"), this);
  edtFilter = new QLineEdit(this);
  edtFilter->setObjectName(QStringLiteral("edtFilter"));
  edtFilter->setPlaceholderText(QStringLiteral("Filter"));
  edtFilter->setToolTip(QStringLiteral("Show only the available columns whose name contains this text"));
  edtFilter->setClearButtonEnabled(true);
  // One row above the lists: the labels, and the filter box beside the Available label (its
  // width follows the list, see FormResize), the labels centred on the box's height.
  const int labelHeight = std::max(13, lblAvailable->sizeHint().height());
  const int rowHeight = std::max(labelHeight, edtFilter->sizeHint().height());
  const int labelTop = kLabelTop + (rowHeight - labelHeight) / 2;
  lblAvailable->setGeometry(kMargin, labelTop, lblAvailable->sizeHint().width(), labelHeight);
  lblSelected->setGeometry(192, labelTop, lblSelected->sizeHint().width(), labelHeight);
  edtFilter->setGeometry(lblAvailable->geometry().right() + 1 + kFilterGap, kLabelTop, edtFilter->sizeHint().width(), rowHeight);

  const int listTop = std::max(kDesignListTop, kLabelTop + rowHeight + 2);
  lbAll = new QListWidget(this);
  lbSelected = new QListWidget(this);
  for (QListWidget* list : {lbAll, lbSelected}) {
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list->move(kMargin, listTop);
  }
  lblAvailable->setBuddy(lbAll);
  lblSelected->setBuddy(lbSelected);
  lbSelected->addAction(actUp);
  lbSelected->addAction(actDown);

  const auto arrow = [this](QAction* AAction) {
    auto* button = new QToolButton(this);
    button->setDefaultAction(AAction);
    button->setAutoRaise(true);
    button->setFocusPolicy(Qt::NoFocus);
    button->setIconSize(QSize(16, 16));
    button->resize(kArrowWidth, kArrowHeight);
    return button;
  };
  btnSelect = arrow(actToSelected);
  btnDeselect = arrow(actToAll);
  btnUp = arrow(actUp);
  btnDown = arrow(actDown);

  bvlBottom = new QFrame(this);
  bvlBottom->setFrameShape(QFrame::HLine);
  bvlBottom->setFrameShadow(QFrame::Sunken);

  btnReset = new QPushButton(QStringLiteral("Reset"), this);
  btnOk = new QPushButton(QStringLiteral("OK"), this);
  btnOk->setDefault(true);
  btnCancel = new QPushButton(QStringLiteral("Cancel"), this);
  connect(btnReset, &QPushButton::clicked, this, &TFormColumnsCustomize::btnResetClick);
  connect(btnOk, &QPushButton::clicked, actOK, &QAction::trigger);
  connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
}

bool TFormColumnsCustomize::Execute(const QString& AAll, const QString& ADefaults, QString& ASelection, QString& ABounds) {
  Prepare(AAll, ADefaults, ASelection, ABounds);
  if (exec() != QDialog::Accepted) return false;
  ASelection = JoinListBox(lbSelected);
  ABounds = GetBoundsText();
  return true;
}

void TFormColumnsCustomize::Prepare(const QString& AAll, const QString& ADefaults, const QString& ASelection,
                                    const QString& ABounds) {
  FAllColumns = AAll;
  FDefaultColumns = ADefaults;
  FillListBox(lbAll, AAll);
  FillListBox(lbSelected, ASelection);
  RemoveChosenFromAvailable();
  if (!ABounds.isEmpty()) {
    SetBoundsText(ABounds);
    return;
  }
  QStringList names = SplitColumnNames(AAll);
  names += SplitColumnNames(ADefaults);
  names += SplitColumnNames(ASelection);
  resize(DefaultSize(names));
}

void TFormColumnsCustomize::FillListBox(QListWidget* AList, const QString& AText) {
  QStringList names = SplitColumnNames(AText);
  if (AList == lbAll)
    std::stable_sort(names.begin(), names.end(), [](const QString& A, const QString& B) { return CompareColumnNames(A, B) < 0; });
  AList->clear();
  AList->addItems(names);
}

void TFormColumnsCustomize::RemoveChosenFromAvailable() {
  for (int i = 0; i < lbSelected->count(); ++i) {
    const QString name = lbSelected->item(i)->text();
    for (int j = 0; j < lbAll->count(); ++j)
      if (QString::compare(lbAll->item(j)->text(), name, Qt::CaseInsensitive) == 0) {
        delete lbAll->takeItem(j);
        break;
      }
  }
}

QString TFormColumnsCustomize::JoinListBox(const QListWidget* AList) {
  QStringList names;
  names.reserve(AList->count());
  for (int i = 0; i < AList->count(); ++i) names.append(AList->item(i)->text());
  return names.join(u'|');
}

QString TFormColumnsCustomize::GetBoundsText() const {
  // The frame's position and the client's size: move() and resize() take exactly these, so
  // the text restores the same bounds whatever the window manager's frame is.
  return QStringLiteral("%1,%2,%3,%4").arg(x()).arg(y()).arg(width()).arg(height());
}

void TFormColumnsCustomize::SetBoundsText(const QString& AText) {
  const QStringList parts = AText.split(u',');
  if (parts.size() != 4) return;
  const auto part = [&parts](qsizetype AIndex, int ACurrent) {
    bool ok = false;
    const int value = parts[AIndex].toInt(&ok, 10);
    return ok ? value : ACurrent;
  };
  QRect area;
  if (const QWidget* owner = parentWidget())
    area = owner->window()->frameGeometry();
  else if (const QScreen* display = screen())
    area = display->availableGeometry();
  const QRect bounds(part(0, x()), part(1, y()), part(2, width()), part(3, height()));
  if (area.isValid())
    FitInsideForm(area, bounds.x(), bounds.y(), bounds.width(), bounds.height());
  else
    setGeometry(bounds);
}

void TFormColumnsCustomize::FitInsideForm(const QRect& AArea, int ALeft, int ATop, int AWidth, int AHeight) {
  const QRect bounds = FitInside(AArea, QRect(ALeft, ATop, AWidth, AHeight));
  // An explicit move also tells QDialog not to centre the dialog on its parent when shown.
  move(bounds.topLeft());
  resize(bounds.size());
}

QSize TFormColumnsCustomize::DefaultSize(const QStringList& ANames) const {
  // A list shows a name whole when its viewport holds the text plus the item's text margins
  // (the style's focus frame margin and one pixel, on each side); the viewport is the list
  // less its frame and, once the names outgrow the height, the vertical scroll bar. Both lists
  // share one font and one width.
  const QFontMetrics metrics = lbAll->fontMetrics();
  int text = 0;
  for (const QString& name : ANames) text = std::max(text, metrics.horizontalAdvance(name));
  const QStyle* style = lbAll->style();
  const int itemMargins = 2 * (style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, lbAll) + 1);
  const int scrollBar = style->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, lbAll->verticalScrollBar());
  // A few pixels to spare, so that rounding in the text layout never elides the last letter.
  const int listWidth = text + itemMargins + 2 * lbAll->frameWidth() + scrollBar + 4;
  // FormResize: the lists share what the margins and the arrow column leave.
  const int needed = 2 * kMargin + 2 * listWidth + kArrowWidth + 10;

  QSize size = kDesignSize.expandedTo(kMinimumSize);
  size.setWidth(std::max(size.width(), needed));
  const QWidget* owner = parentWidget();
  if (const QScreen* display = owner != nullptr ? owner->screen() : screen()) {
    const QRect area = display->availableGeometry();
    size.setWidth(std::max(kMinimumSize.width(), std::min(size.width(), area.width())));
  }
  return size;
}

void TFormColumnsCustomize::ApplyFilter(const QString& AText) {
  FFilter = AText;
  for (int row = 0; row < lbAll->count(); ++row) lbAll->setRowHidden(row, !PassesFilter(lbAll->item(row)->text()));
  const int selected = SelectedIndex(lbAll);
  if (selected >= 0 && lbAll->isRowHidden(selected)) SelectIndex(lbAll, -1);
  UpdateActions();
}

bool TFormColumnsCustomize::PassesFilter(const QString& AName) const {
  return FFilter.isEmpty() || AName.contains(FFilter, Qt::CaseInsensitive);
}

void TFormColumnsCustomize::FilterInsertedRows(int AFirst, int ALast) {
  if (FFilter.isEmpty()) return;
  for (int row = AFirst; row <= ALast && row < lbAll->count(); ++row)
    if (!PassesFilter(lbAll->item(row)->text())) lbAll->setRowHidden(row, true);
}

int TFormColumnsCustomize::ShownRowNear(const QListWidget* AList, int AFrom) {
  for (int row = std::max(AFrom, 0); row < AList->count(); ++row)
    if (!AList->isRowHidden(row)) return row;
  for (int row = std::min(AFrom, AList->count()) - 1; row >= 0; --row)
    if (!AList->isRowHidden(row)) return row;
  return -1;
}

int TFormColumnsCustomize::SelectedIndex(const QListWidget* AList) {
  const QList<QListWidgetItem*> items = AList->selectedItems();
  return items.isEmpty() ? -1 : AList->row(items.first());
}

void TFormColumnsCustomize::SelectIndex(QListWidget* AList, int AIndex) {
  if (AIndex >= 0 && AIndex < AList->count()) {
    AList->setCurrentRow(AIndex, QItemSelectionModel::ClearAndSelect);
    return;
  }
  AList->clearSelection();
  AList->setCurrentRow(-1);
}

void TFormColumnsCustomize::actToSelectedExecute() { MoveSelected(lbAll, lbSelected); }

void TFormColumnsCustomize::actToAllExecute() { MoveSelected(lbSelected, lbAll); }

void TFormColumnsCustomize::actUpExecute() { MoveSelectedBy(-1); }

void TFormColumnsCustomize::actDownExecute() { MoveSelectedBy(1); }

void TFormColumnsCustomize::UpdateActions() {
  if (actOK == nullptr || btnOk == nullptr) return;  // a list signalled while being created
  const int all = SelectedIndex(lbAll);
  const int selected = SelectedIndex(lbSelected);
  const int count = lbSelected->count();
  actToSelected->setEnabled(all >= 0 && !lbAll->isRowHidden(all));
  actToAll->setEnabled(selected >= 0);
  actUp->setEnabled(selected > 0);
  actDown->setEnabled(selected >= 0 && selected < count - 1);
  actOK->setEnabled(count > 0);
  btnOk->setEnabled(actOK->isEnabled());
}

void TFormColumnsCustomize::lbAllDblClick() {
  if (btnSelect->isEnabled()) btnSelect->click();
}

void TFormColumnsCustomize::lbSelectedDblClick() {
  if (btnDeselect->isEnabled()) btnDeselect->click();
}

void TFormColumnsCustomize::btnResetClick() {
  FillListBox(lbAll, FAllColumns);
  FillListBox(lbSelected, FDefaultColumns);
  RemoveChosenFromAvailable();
}

void TFormColumnsCustomize::resizeEvent(QResizeEvent* AEvent) {
  QDialog::resizeEvent(AEvent);
  PlaceBottom();
}

bool TFormColumnsCustomize::eventFilter(QObject* AWatched, QEvent* AEvent) {
  if (AWatched == edtFilter && AEvent->type() == QEvent::KeyPress) {
    // Enter or Down goes on to the names the filter left: Enter must not close the dialog
    // while the user is still choosing.
    const int key = static_cast<QKeyEvent*>(AEvent)->key();
    if (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Down) {
      lbAll->setFocus();
      if (SelectedIndex(lbAll) < 0) SelectIndex(lbAll, ShownRowNear(lbAll, 0));
      return true;
    }
  }
  const bool space = AEvent->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(AEvent)->key() == Qt::Key_Space;
  const bool doubleClick =
      AEvent->type() == QEvent::MouseButtonDblClick && static_cast<QMouseEvent*>(AEvent)->button() == Qt::LeftButton;
  if ((space && AWatched == lbAll) || (doubleClick && AWatched == lbAll->viewport())) {
    lbAllDblClick();
    return true;
  }
  if ((space && AWatched == lbSelected) || (doubleClick && AWatched == lbSelected->viewport())) {
    lbSelectedDblClick();
    return true;
  }
  return QDialog::eventFilter(AWatched, AEvent);
}

void TFormColumnsCustomize::PlaceBottom() {
  const QSize button = QSize(kButtonWidth, kButtonHeight).expandedTo(btnCancel->sizeHint());
  const int buttonTop = height() - kMargin - button.height();
  btnReset->setGeometry(kMargin, buttonTop, button.width(), button.height());
  btnCancel->setGeometry(width() - kMargin - button.width(), buttonTop, button.width(), button.height());
  btnOk->setGeometry(btnCancel->x() - kButtonGap - button.width(), buttonTop, button.width(), button.height());
  bvlBottom->setGeometry(kMargin, buttonTop - kMargin, width() - 2 * kMargin, 2);
  FormResize();
}

void TFormColumnsCustomize::FormResize() {
  const int listTop = lbAll->y();
  const int listHeight = bvlBottom->y() - listTop - kMargin;
  const int listWidth = (bvlBottom->width() - kArrowWidth - 10) / 2;
  lbAll->setGeometry(lbAll->x(), listTop, listWidth, listHeight);

  const int arrowLeft = lbAll->x() + listWidth + 5;
  const int spare = (listHeight - kArrowGroupHeight) / 2;  // truncates toward zero
  btnSelect->move(arrowLeft, listTop + spare);
  btnDeselect->move(arrowLeft, btnSelect->y() + kArrowHeight + kArrowGap);
  btnDown->move(arrowLeft, listTop + listHeight - kArrowHeight - spare);
  btnUp->move(arrowLeft, btnDown->y() - kArrowHeight - kArrowGap);

  lbSelected->setGeometry(arrowLeft + kArrowWidth + 5, listTop, listWidth, listHeight);
  // The label stays with its list when the dialog grows (the design has it one pixel left).
  lblSelected->move(lbSelected->x() - 1, lblSelected->y());
  // The filter box runs from beside its label to the list's right edge.
  const int filterLeft = lblAvailable->geometry().right() + 1 + kFilterGap;
  edtFilter->setGeometry(filterLeft, edtFilter->y(), std::max(0, lbAll->geometry().right() + 1 - filterLeft),
                         edtFilter->height());
}

void TFormColumnsCustomize::MoveSelected(QListWidget* ASource, QListWidget* ADest) {
  const int index = SelectedIndex(ASource);
  if (index < 0 || index >= ASource->count() || ASource->isRowHidden(index)) return;
  QListWidgetItem* item = ASource->takeItem(index);
  if (ADest == lbAll)
    InsertSorted(item);
  else
    ADest->addItem(item);
  SelectIndex(ASource, ShownRowNear(ASource, index));
}

void TFormColumnsCustomize::MoveSelectedBy(int ADelta) {
  const int from = SelectedIndex(lbSelected);
  const int to = from + ADelta;
  if (from < 0 || to < 0 || to >= lbSelected->count()) return;
  lbSelected->insertItem(to, lbSelected->takeItem(from));
  SelectIndex(lbSelected, to);
}

int TFormColumnsCustomize::InsertSorted(QListWidgetItem* AItem) {
  const int place = SortedPlace(AItem->text());
  lbAll->insertItem(place, AItem);
  return place;
}

int TFormColumnsCustomize::SortedPlace(const QString& AName) const {
  // After every equal name: the first item that sorts after AName.
  int low = 0, high = lbAll->count();
  while (low < high) {
    const int middle = low + (high - low) / 2;
    if (CompareColumnNames(lbAll->item(middle)->text(), AName) <= 0)
      low = middle + 1;
    else
      high = middle;
  }
  return low;
}

void TFormColumnsCustomize::DraggerItemMove(QListWidget* ASrc, QListWidget* ADest, int AFromIndex, int AToIndex) {
  // Exactly where it was dropped, in either list (the arrow buttons keep Available sorted; a
  // drop is the user's own order).
  QListWidgetItem* item = ASrc->takeItem(AFromIndex);
  const int place = std::min(AToIndex, ADest->count());
  ADest->insertItem(place, item);
  if (ASrc != ADest) SelectIndex(ASrc, ShownRowNear(ASrc, AFromIndex));
  // A name dropped into Available that the filter hides is there, but not to be seen.
  SelectIndex(ADest, ADest->isRowHidden(place) ? -1 : place);
}

}  // namespace velloran
