// The bar a query is typed into, for the filter and for find: an editable drop-down of the
// last queries, completion of field names and of the code names a field's values have, and
// a line under it for what is wrong with the query (the bar is then marked) or worth knowing.
#pragma once

#include <QString>
#include <QStringList>
#include <QWidget>
#include <functional>

class QComboBox;
class QCompleter;
class QHBoxLayout;
class QLabel;
class QLineEdit;
class QStringListModel;
class QToolButton;

namespace velloran {

// Where completion works in a query: the characters [Start, End) that a chosen completion
// replaces, what was typed of it (Prefix, without an opening quote), and, when it is the value
// of a comparison, the field it is compared with (empty: a field name or a word goes there).
struct TCompletionSpot {
  int Start = 0;
  int End = 0;
  QString Prefix;
  QString Field;
};
TCompletionSpot CompletionSpotAt(const QString& AText, int ACursor);

class TQueryBar : public QWidget {
  Q_OBJECT
 public:
  // ACaption: the label before the box ("Filter", "Find").
  TQueryBar(const QString& ACaption, const QString& APlaceholder, QWidget* AParent = nullptr);

  QComboBox* cbQuery = nullptr;
  QToolButton* sbClear = nullptr;
  QLabel* lblMessage = nullptr;
  QLineEdit* Edit() const;
  QCompleter* Completer() const { return FCompleter; }

  QString Text() const;
  void SetText(const QString& AText);
  // The drop-down's entries, most recent first; the text typed stays.
  void SetHistory(const QStringList& AQueries);
  QStringList History() const;
  // Puts a widget between the box and the clear button (the find bar's buttons).
  void AddTrailingWidget(QWidget* AWidget);

  // Marks the bar and says under it what is wrong ("unclosed quote at column 14"); the
  // cursor goes to AColumn (1-based, in characters).
  void ShowError(const QString& AMessage, int AColumn);
  // A line under the bar that is no error (the bar stays unmarked).
  void ShowHint(const QString& AMessage);
  void ClearMessage();
  bool Marked() const { return FMarked; }

  // The names offered where a field name may go; asked each time completion opens.
  std::function<QStringList()> FieldNames;

 signals:
  // Enter in the box (ABackward: with Shift), or an entry picked from the drop-down.
  void Entered(bool ABackward);
  // Esc in the box.
  void Escaped();
  // The clear button.
  void Cleared();

 protected:
  bool eventFilter(QObject* AWatched, QEvent* AEvent) override;

 private:
  void UpdateCompletion();
  void InsertCompletion(const QString& AChoice);
  void SetMarked(bool AValue);

  QHBoxLayout* FRow = nullptr;
  QCompleter* FCompleter = nullptr;
  QStringListModel* FCompletions = nullptr;
  TCompletionSpot FSpot;
  bool FMarked = false;
};

}  // namespace velloran
