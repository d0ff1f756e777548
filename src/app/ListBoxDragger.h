// Drag and drop within and between two list widgets. Pressing the left button on an item and
// moving the pointer drags the list's selected item; a drop line along the top edge of an item
// shows where it will be inserted (along the bottom of the last item for the end of the list);
// releasing the button over a line moves the item there. There is no line where a drop would
// not change the order: onto the dragged item itself or onto the item right after it. The list
// under the pointer scrolls while the pointer is near or beyond its top or bottom edge. Esc, or
// releasing the button anywhere else, ends the drag without a move.
//
// The dragger watches the lists through event filters on their viewports, so it needs nothing
// from them but single selection. Everything runs on the GUI thread.
#pragma once

#include <QListWidget>
#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QRect>
#include <QString>
#include <functional>
#include <vector>

class QMouseEvent;
class QTimer;

namespace velloran {

class TListBoxDragger : public QObject {
  Q_OBJECT
 public:
  // Moves item AFromIndex of ASrc so that it stands at AToIndex of ADest (ASrc and ADest may be
  // the same list; AToIndex is the item's final index there) and selects it.
  using TOnItemMove = std::function<void(QListWidget* ASrc, QListWidget* ADest, int AFromIndex, int AToIndex)>;
  // Where item AFromIndex of ASrc would stand when dropped at the top edge of item AAtIndex of
  // ADest (AAtIndex = item count: below the last item), as the index at whose top edge the drop
  // line goes; -1: such a drop changes nothing, so there is no line and no drop. A sorted list
  // answers with the item's sorted place.
  using TOnDropPlace = std::function<int(QListWidget* ASrc, QListWidget* ADest, int AFromIndex, int AAtIndex)>;
  using TOnError = std::function<void(const QString& AMessage)>;

  explicit TListBoxDragger(QObject* AOwner = nullptr);
  // Ends a drag in progress and leaves the lists as they were before they were attached.
  ~TListBoxDragger() override;

  // Attaching the attached list again does nothing; null detaches. A list that allows more
  // than one selected item is refused through OnError and stays unattached. A list that is
  // destroyed is forgotten.
  QListWidget* ListBox() const { return FListBox; }
  void SetListBox(QListWidget* AValue);

  // Unset: the dragger moves the item itself (take it out, insert it at AToIndex, select it).
  TOnItemMove OnItemMove;
  // Unset: every position other than the two of the no-change rule takes the drop as it is.
  TOnDropPlace OnDropPlace;
  // Unset: a message box.
  TOnError OnError;

  // Nothing unless 0 <= AFromIndex < ASrc's item count and AToIndex >= 0; otherwise OnItemMove,
  // or the dragger's own move (AToIndex beyond the end appends).
  void ItemMove(QListWidget* ASrc, QListWidget* ADest, int AFromIndex, int AToIndex);

 public:  // the state of a drag, for tests
  bool Dragging() const { return FDragging; }
  // The index at whose top edge AList shows the drop line; -1 when it shows none.
  int DropMark(const QListWidget* AList) const;
  // Where AList's drop line is, in its viewport's coordinates; empty when it shows none.
  QRect DropLineRect(const QListWidget* AList) const;

 protected:
  // Attaches AList (refusing a multi-selection list) and returns whether it is attached now.
  bool Attach(QListWidget* AList, const QString& ARefusal);
  void Detach(QListWidget* AList);
  bool eventFilter(QObject* AWatched, QEvent* AEvent) override;

 private:
  struct TListState {
    QPointer<QListWidget> List;
    int Uses = 0;  // ListBox and ListBox2 may name the same list
    int Mark = -1;
    QPointer<QWidget> Line;  // the drop line, a child of the list's viewport
  };

  TListState* StateOf(const QListWidget* AList);
  const TListState* StateOf(const QListWidget* AList) const;
  QListWidget* ListOfViewport(const QObject* AViewport) const;
  void Forget(QObject* AList);

  bool MousePress(QListWidget* AList, const QMouseEvent& AEvent);
  bool MouseMove(QListWidget* AList, const QMouseEvent& AEvent);
  bool MouseRelease(QListWidget* AList, const QMouseEvent& AEvent);

  void BeginDrag(QListWidget* ASource);
  // Ends the drag: every drop line goes, the cursor is normal again.
  void FinishDrag();
  // Follows the pointer at AGlobal: the list it is over (or above or below) gets the line at
  // the drop place, every other list none; the cursor says whether a drop is possible.
  void DoDragging(QPoint AGlobal);
  // Moves the item to the place of the one drop line there is, if any, and ends the drag.
  void DoDropped();
  // One scroll step of the list the pointer is near the top or bottom edge of.
  void ScrollStep();

  // The attached list whose left and right edges enclose AGlobal's horizontal position, the
  // drag's source list first; null when there is none.
  QListWidget* TargetList(QPoint AGlobal) const;
  // The item under AGlobal: its index; AList's item count inside the list below the last item;
  // -1 outside the list.
  static int ItemFromPoint(const QListWidget* AList, QPoint AGlobal);
  int DropPlace(QListWidget* ADest, int AAtIndex) const;
  void SetMark(TListState& AState, int AIndex);

  QPointer<QListWidget> FListBox;
  std::vector<TListState> FLists;
  // A press on an item of FPressList may become a drag once the pointer has moved far enough.
  QPointer<QListWidget> FPressList;
  QPoint FPressGlobal;
  bool FDragging = false;
  QPointer<QListWidget> FSource;
  int FSourceIndex = -1;
  QPoint FLastGlobal;
  QTimer* FScrollTimer = nullptr;
};

// The dragger of the column dialog: a second list, and drags between the two.
class TTwoListBoxDragger : public TListBoxDragger {
  Q_OBJECT
 public:
  explicit TTwoListBoxDragger(QObject* AOwner = nullptr);

  QListWidget* ListBox2() const { return FListBox2; }
  void SetListBox2(QListWidget* AValue);

 private:
  QPointer<QListWidget> FListBox2;
};

}  // namespace velloran
