#include "QueryBar.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QCompleter>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QStringListModel>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>
#include <string>

#include "CodeNames.h"
#include "QueryParser.h"

namespace velloran {

namespace {

// The query language's own rule: these end a bare word.
bool EndsBareWord(QChar AChar) {
  return AChar.isSpace() || AChar == '(' || AChar == ')' || AChar == '"' || AChar == '=' || AChar == '!' || AChar == '~' ||
         AChar == '<' || AChar == '>';
}

bool IsOperatorChar(QChar AChar) { return AChar == '=' || AChar == '!' || AChar == '~' || AChar == '<' || AChar == '>'; }

// The field a comparison's value at AStart belongs to: the bare word before the operator
// before AStart; empty when no operator comes first.
QString FieldBefore(const QString& AText, int AStart) {
  int at = AStart - 1;
  while (at >= 0 && AText[at].isSpace()) --at;
  if (at < 0 || !IsOperatorChar(AText[at])) return {};
  while (at >= 0 && IsOperatorChar(AText[at])) --at;
  while (at >= 0 && AText[at].isSpace()) --at;
  const int end = at + 1;
  while (at >= 0 && !EndsBareWord(AText[at])) --at;
  return AText.mid(at + 1, end - at - 1);
}

// A blend of two colours: the marked bar keeps the palette's own light or dark base.
QColor Blend(const QColor& A, const QColor& B, double AShare) {
  return QColor::fromRgbF(static_cast<float>(A.redF() * (1 - AShare) + B.redF() * AShare),
                          static_cast<float>(A.greenF() * (1 - AShare) + B.greenF() * AShare),
                          static_cast<float>(A.blueF() * (1 - AShare) + B.blueF() * AShare));
}

// The keys of text editing that hold Ctrl or Alt: the box keeps them from the window.
bool IsEditingKey(const QKeyEvent* AKey) {
  static const QKeySequence::StandardKey kEditing[] = {QKeySequence::Copy,
                                                       QKeySequence::Cut,
                                                       QKeySequence::Paste,
                                                       QKeySequence::Undo,
                                                       QKeySequence::Redo,
                                                       QKeySequence::SelectAll,
                                                       QKeySequence::Deselect,
                                                       QKeySequence::MoveToNextWord,
                                                       QKeySequence::MoveToPreviousWord,
                                                       QKeySequence::SelectNextWord,
                                                       QKeySequence::SelectPreviousWord,
                                                       QKeySequence::DeleteStartOfWord,
                                                       QKeySequence::DeleteEndOfWord,
                                                       QKeySequence::MoveToStartOfDocument,
                                                       QKeySequence::MoveToEndOfDocument,
                                                       QKeySequence::SelectStartOfDocument,
                                                       QKeySequence::SelectEndOfDocument,
                                                       QKeySequence::Backspace,
                                                       QKeySequence::Delete};
  return std::any_of(std::begin(kEditing), std::end(kEditing),
                     [AKey](QKeySequence::StandardKey AKeys) { return AKey->matches(AKeys); });
}

const QColor kErrorColor(210, 40, 40);

}  // namespace

TCompletionSpot CompletionSpotAt(const QString& AText, int ACursor) {
  const int size = static_cast<int>(AText.size());
  ACursor = std::clamp(ACursor, 0, size);
  TCompletionSpot spot;
  spot.Start = spot.End = ACursor;
  int at = 0;
  while (at < ACursor) {
    const QChar c = AText[at];
    if (c.isSpace() || c == '(' || c == ')' || IsOperatorChar(c)) {
      ++at;
      continue;
    }
    if (c == '"' || c == '\'') {
      // A quote opens where a token starts and ends at the next one of its kind; two in a
      // row stand for one.
      int close = at + 1;
      while (close < size && !(AText[close] == c && (close + 1 >= size || AText[close + 1] != c))) {
        close += AText[close] == c ? 2 : 1;
      }
      if (close >= ACursor) {
        spot.Start = at;
        spot.End = close < size ? close + 1 : size;
        spot.Prefix = AText.mid(at + 1, ACursor - at - 1);
        spot.Prefix.replace(QString(2, c), QString(c));
        spot.Field = FieldBefore(AText, at);
        return spot;
      }
      at = close + 1;
      continue;
    }
    int end = at;
    while (end < size && !EndsBareWord(AText[end])) ++end;
    if (end >= ACursor) {
      spot.Start = at;
      spot.End = end;
      spot.Prefix = AText.mid(at, ACursor - at);
      break;
    }
    at = end;
  }
  spot.Field = FieldBefore(AText, spot.Start);
  return spot;
}

TQueryBar::TQueryBar(const QString& ACaption, const QString& APlaceholder, QWidget* AParent) : QWidget(AParent) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(2);
  FRow = new QHBoxLayout();
  FRow->setContentsMargins(0, 0, 0, 0);
  FRow->setSpacing(4);
  auto* caption = new QLabel(ACaption, this);
  FRow->addWidget(caption);
  cbQuery = new QComboBox(this);
  cbQuery->setEditable(true);
  cbQuery->setInsertPolicy(QComboBox::NoInsert);
  cbQuery->setMaxVisibleItems(20);
  cbQuery->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  cbQuery->setMinimumContentsLength(8);  // the bar shares the width with the details pane
  // The box completes the word at the cursor, not the whole text from the history.
  cbQuery->setCompleter(nullptr);
  cbQuery->lineEdit()->setPlaceholderText(APlaceholder);
  cbQuery->lineEdit()->installEventFilter(this);
  cbQuery->installEventFilter(this);
  caption->setBuddy(cbQuery);
  FRow->addWidget(cbQuery, 1);
  sbClear = new QToolButton(this);
  sbClear->setAutoRaise(true);
  sbClear->setText(QString(QChar(0x2715)));
  FRow->addWidget(sbClear);
  layout->addLayout(FRow);
  lblMessage = new QLabel(this);
  lblMessage->setObjectName("lblMessage");
  lblMessage->setTextInteractionFlags(Qt::TextSelectableByMouse);
  lblMessage->setWordWrap(true);
  lblMessage->hide();
  layout->addWidget(lblMessage);
  // The message lines up with the box, under the caption's end.
  lblMessage->setContentsMargins(caption->sizeHint().width() + FRow->spacing(), 0, 0, 0);

  FCompletions = new QStringListModel(this);
  FCompleter = new QCompleter(FCompletions, this);
  FCompleter->setCaseSensitivity(Qt::CaseInsensitive);
  FCompleter->setFilterMode(Qt::MatchContains);
  FCompleter->setCompletionMode(QCompleter::PopupCompletion);
  FCompleter->setMaxVisibleItems(12);
  FCompleter->setWidget(cbQuery->lineEdit());
  connect(FCompleter, QOverload<const QString&>::of(&QCompleter::activated), this,
          [this](const QString& AChoice) { InsertCompletion(AChoice); });
  connect(cbQuery->lineEdit(), &QLineEdit::textEdited, this, [this] {
    if (FMarked) SetMarked(false);
    UpdateCompletion();
  });
  // The box would also report an entry as picked when the text typed equals one and Enter is
  // pressed in the completion list or the focus leaves: only a pick from the drop-down applies.
  QObject::disconnect(cbQuery->lineEdit(), &QLineEdit::returnPressed, cbQuery, nullptr);
  QObject::disconnect(cbQuery->lineEdit(), &QLineEdit::editingFinished, cbQuery, nullptr);
  // Queued: applying rebuilds the drop-down's entries, which must not happen inside the box's
  // own handling of the pick.
  connect(cbQuery, &QComboBox::activated, this, [this] {
    QMetaObject::invokeMethod(
        this, [this] { emit Entered(false); }, Qt::QueuedConnection);
  });
  connect(sbClear, &QToolButton::clicked, this, [this] { emit Cleared(); });
}

QLineEdit* TQueryBar::Edit() const { return cbQuery->lineEdit(); }

QString TQueryBar::Text() const { return cbQuery->currentText(); }

void TQueryBar::SetText(const QString& AText) {
  cbQuery->setEditText(AText);
  if (FMarked) SetMarked(false);
}

void TQueryBar::SetHistory(const QStringList& AQueries) {
  if (AQueries == History()) return;
  // Replacing the items empties the edit text: the text being typed stays as it is.
  const QString text = Edit()->text();
  const int cursor = Edit()->cursorPosition();
  const QSignalBlocker blocker(cbQuery);
  cbQuery->clear();
  cbQuery->addItems(AQueries);
  cbQuery->setCurrentIndex(-1);
  Edit()->setText(text);
  Edit()->setCursorPosition(cursor);
}

QStringList TQueryBar::History() const {
  QStringList entries;
  for (int i = 0; i < cbQuery->count(); ++i) entries << cbQuery->itemText(i);
  return entries;
}

void TQueryBar::AddTrailingWidget(QWidget* AWidget) { FRow->insertWidget(FRow->indexOf(sbClear), AWidget); }

void TQueryBar::SetMarked(bool AValue) {
  FMarked = AValue;
  QPalette palette = cbQuery->palette();
  if (AValue) palette.setColor(QPalette::Base, Blend(palette.color(QPalette::Base), kErrorColor, 0.22));
  Edit()->setPalette(AValue ? palette : cbQuery->palette());
  if (!AValue && !lblMessage->property("hint").toBool()) lblMessage->hide();
}

void TQueryBar::ShowError(const QString& AMessage, int AColumn) {
  lblMessage->setProperty("hint", false);
  QPalette palette = lblMessage->palette();
  palette.setColor(QPalette::WindowText, kErrorColor);
  lblMessage->setPalette(palette);
  lblMessage->setText(AMessage);
  lblMessage->show();
  SetMarked(true);
  // The column counts characters; the edit counts UTF-16 units.
  const QString text = Edit()->text();
  int at = 0;
  for (int column = 1; column < AColumn && at < text.size(); ++column) at += text[at].isHighSurrogate() ? 2 : 1;
  Edit()->setCursorPosition(at);
}

void TQueryBar::ShowHint(const QString& AMessage) {
  SetMarked(false);
  lblMessage->setProperty("hint", true);
  lblMessage->setPalette(QPalette());
  lblMessage->setText(AMessage);
  lblMessage->show();
}

void TQueryBar::ClearMessage() {
  lblMessage->setProperty("hint", false);
  lblMessage->clear();
  SetMarked(false);
  lblMessage->hide();
}

void TQueryBar::UpdateCompletion() {
  FSpot = CompletionSpotAt(Edit()->text(), Edit()->cursorPosition());
  QStringList names;
  if (!FSpot.Field.isEmpty()) {
    for (const auto& [value, name] : TCodedAttribute::Of(FSpot.Field.toStdString()).Names())
      names << QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size()));
    names.removeDuplicates();
  } else if (!FSpot.Prefix.isEmpty() && FieldNames) {
    names = FieldNames();
  }
  FCompletions->setStringList(names);
  FCompleter->setCompletionPrefix(FSpot.Prefix);
  const int count = FCompleter->completionCount();
  const bool done = count == 1 && FCompleter->currentCompletion().compare(FSpot.Prefix, Qt::CaseInsensitive) == 0;
  if (names.isEmpty() || count == 0 || done) {
    FCompleter->popup()->hide();
    return;
  }
  FCompleter->complete();
}

void TQueryBar::InsertCompletion(const QString& AChoice) {
  const QString text = Edit()->text();
  const QString inserted = FSpot.Field.isEmpty() ? AChoice : QString::fromStdString(QuotedQueryValue(AChoice.toStdString()));
  Edit()->setText(text.left(FSpot.Start) + inserted + text.mid(FSpot.End));
  Edit()->setCursorPosition(FSpot.Start + static_cast<int>(inserted.size()));
}

bool TQueryBar::eventFilter(QObject* AWatched, QEvent* AEvent) {
  if (AEvent->type() == QEvent::Wheel && AWatched == cbQuery) return true;  // the wheel would pick and apply entries
  if (AEvent->type() == QEvent::ShortcutOverride && (AWatched == Edit() || AWatched == cbQuery)) {
    // The window's commands work from the bar as from the list (filter, then Ctrl+E to
    // export): the line edit would take Ctrl+E, Ctrl+D and others of the X11 key scheme.
    const auto* key = static_cast<QKeyEvent*>(AEvent);
    if ((key->modifiers() & (Qt::ControlModifier | Qt::AltModifier)) != 0 && !IsEditingKey(key)) {
      AEvent->ignore();
      return true;
    }
  }
  // Keys reach the box, whose line edit has it as focus proxy, and the line edit only when
  // sent to it directly.
  if (AEvent->type() != QEvent::KeyPress || (AWatched != Edit() && AWatched != cbQuery))
    return QWidget::eventFilter(AWatched, AEvent);
  const auto* key = static_cast<QKeyEvent*>(AEvent);
  switch (key->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
      emit Entered((key->modifiers() & Qt::ShiftModifier) != 0);
      return true;
    case Qt::Key_Escape:
      emit Escaped();
      return true;
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
      // The box would step through its entries, applying each: open the list instead.
      if ((key->modifiers() & (Qt::ControlModifier | Qt::ShiftModifier)) != 0) break;
      if (cbQuery->count() > 0) cbQuery->showPopup();
      return true;
    default:
      break;
  }
  return QWidget::eventFilter(AWatched, AEvent);
}

}  // namespace velloran
