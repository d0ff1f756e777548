// The column dialog: which columns the record list shows, and in which order. Two lists,
// Available (sorted) and Selected (in display order); names move between them by the arrow
// buttons, double-click, Space or drag and drop; Up and Down reorder Selected; Reset restores
// the default choice; a filter box narrows Available to the names that contain its text. The
// dialog keeps its own bounds in the settings (SettingsKeys::ColumnsDialogBounds); without
// stored bounds it opens wide enough for the longest name.
#pragma once

#include <QDialog>
#include <QRect>
#include <QString>
#include <QStringList>

class QAction;
class QFrame;
class QLabel;
class QLineEdit;
class QListWidget;
class QListWidgetItem;
class QPushButton;
class QToolButton;

namespace velloran {

class TTwoListBoxDragger;
class TrsStorage;

// AAll: every column name the data holds; ADefaults: the default choice; ACurrent (in and
// out): the current choice in display order; all three names separated by "|". True on OK,
// with the new choice in ACurrent and the dialog's bounds stored in ASettings; on Cancel
// nothing changes. Without settings (null) no bounds are read or stored.
bool ExecuteColumnsDialog(const QString& AAll, const QString& ADefaults, QString& ACurrent, TrsStorage* ASettings);

// The names of a column text: CR LF counts as "|" too; each name loses one enclosing pair of
// double or single quotes; an empty piece between two separators is an empty name; a separator
// at the very end adds nothing, and an empty text holds no names.
QStringList SplitColumnNames(const QString& AText);

// The order of Available: alphabetical ignoring case (ties by exact comparison, so the order
// never depends on insertion order). Negative, zero or positive like QString::compare.
int CompareColumnNames(const QString& A, const QString& B);

// ABounds moved into AArea: its right and bottom edges pulled inside first, then its left and
// top edges, so a rectangle larger than AArea starts at AArea's top-left corner. The size stays.
QRect FitInside(const QRect& AArea, const QRect& ABounds);

class TFormColumnsCustomize : public QDialog {
  Q_OBJECT
 public:
  // AParent: the main window, on which the dialog is centred and inside which restored bounds
  // are fitted; without one, the screen.
  explicit TFormColumnsCustomize(QWidget* AParent = nullptr);
  ~TFormColumnsCustomize() override;

  // Fills the lists (Prepare), shows the dialog modally; on OK ASelection := the Selected names
  // joined by "|" and ABounds := GetBoundsText(). True on OK.
  bool Execute(const QString& AAll, const QString& ADefaults, QString& ASelection, QString& ABounds);

 public:  // the steps of Execute, open to the tests, which cannot run a modal loop themselves
  // Remembers AAll and ADefaults for Reset, fills Available with AAll and Selected with
  // ASelection, takes the chosen names out of Available, and applies ABounds when not empty;
  // with ABounds empty the dialog takes DefaultSize().
  void Prepare(const QString& AAll, const QString& ADefaults, const QString& ASelection, const QString& ABounds);
  // Clears AList and adds the names of AText (SplitColumnNames): sorted into Available,
  // appended to Selected.
  void FillListBox(QListWidget* AList, const QString& AText);
  // Each Selected name takes one entry out of Available (whole name, ignoring case).
  void RemoveChosenFromAvailable();
  // The items of AList in list order joined by "|".
  static QString JoinListBox(const QListWidget* AList);
  // "left,top,width,height": the position of the window frame, the size of the client area.
  QString GetBoundsText() const;
  // Four comma-separated integers as GetBoundsText writes them; other than four parts: nothing
  // happens; a part that is not an integer keeps the current value. The bounds are fitted
  // into the main window (the screen without one) and the dialog is no longer centred.
  void SetBoundsText(const QString& AText);
  // Places the dialog at FitInside(AArea, the given bounds); the minimum size still applies.
  // The window frame counts only by its position: the size is the client's, because before the
  // dialog is first shown the window manager has not told the frame's size yet.
  void FitInsideForm(const QRect& AArea, int ALeft, int ATop, int AWidth, int AHeight);
  // The size without stored bounds: the design size, widened until each list shows the longest
  // of ANames whole (in the list's font, beside a vertical scroll bar), but no wider than the
  // available area of the screen the dialog opens on.
  QSize DefaultSize(const QStringList& ANames) const;

  // Shows in Available only the names that contain AText, ignoring case (empty: all); names
  // that later come into Available follow the same filter. A selected name that the filter
  // hides is no longer selected. The filter box calls this on every change of its text.
  void ApplyFilter(const QString& AText);
  // Whether Available shows AName under the current filter.
  bool PassesFilter(const QString& AName) const;

 public:  // the handlers of the actions and lists
  void actToSelectedExecute();
  void actToAllExecute();
  void actUpExecute();
  void actDownExecute();
  // Re-evaluates whether each action can run; called whenever a list or its selection changes.
  void UpdateActions();
  void lbAllDblClick();
  void lbSelectedDblClick();
  void btnResetClick();

 public:  // the components
  QLabel* lblAvailable = nullptr;
  QLineEdit* edtFilter = nullptr;  // beside the Available label, above the list
  QLabel* lblSelected = nullptr;
  QListWidget* lbAll = nullptr;  // sorted by CompareColumnNames after every change
  QListWidget* lbSelected = nullptr;
  QToolButton* btnSelect = nullptr;
  QToolButton* btnDeselect = nullptr;
  QToolButton* btnUp = nullptr;
  QToolButton* btnDown = nullptr;
  QFrame* bvlBottom = nullptr;
  QPushButton* btnReset = nullptr;
  QPushButton* btnOk = nullptr;
  QPushButton* btnCancel = nullptr;
  QAction* actToSelected = nullptr;
  QAction* actToAll = nullptr;
  QAction* actUp = nullptr;
  QAction* actDown = nullptr;
  QAction* actOK = nullptr;
  TTwoListBoxDragger* FDragger = nullptr;

  // The selected row of AList, -1 when none; and selecting one (-1 or out of range: none). A
  // row the filter hides may still be the selected one; the handlers never act on it.
  static int SelectedIndex(const QListWidget* AList);
  static void SelectIndex(QListWidget* AList, int AIndex);

 protected:
  void resizeEvent(QResizeEvent* AEvent) override;
  bool eventFilter(QObject* AWatched, QEvent* AEvent) override;

 private:
  void CreateComponents();
  void CreateActions();
  // The buttons and the line at the bottom follow the bottom edge, then FormResize.
  void PlaceBottom();
  // The two lists share the width; the arrow buttons sit between them, centred as a group of
  // two pairs.
  void FormResize();
  // Moves the selected item of ASource to ADest (sorted into Available, appended to Selected)
  // and selects the shown item now at its place in ASource (else the shown one before it).
  void MoveSelected(QListWidget* ASource, QListWidget* ADest);
  void MoveSelectedBy(int ADelta);
  // Inserts AItem into Available at its sorted place and returns that place.
  int InsertSorted(QListWidgetItem* AItem);
  int SortedPlace(const QString& AName) const;
  // The first row of AList at or after AFrom that the filter does not hide, else the last one
  // before AFrom, else -1.
  static int ShownRowNear(const QListWidget* AList, int AFrom);
  // Hides rows AFirst..ALast of Available that the filter does not pass: every way a name comes
  // into Available (filling, the arrow buttons, a drop, Reset) inserts rows.
  void FilterInsertedRows(int AFirst, int ALast);
  // The dragger's move: into Available at the sorted place, within or into Selected exactly
  // at AToIndex; the moved name is selected.
  void DraggerItemMove(QListWidget* ASrc, QListWidget* ADest, int AFromIndex, int AToIndex);

  QString FAllColumns;
  QString FDefaultColumns;
  QString FFilter;  // the filter box's text as last applied
};

}  // namespace velloran
