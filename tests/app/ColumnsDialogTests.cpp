// The column dialog (filling the lists, moving names by buttons, keys, double-click and drag
// and drop, enabling, Reset, the filter, the size it opens at, bounds, the modal run through
// ExecuteColumnsDialog with the settings) and the list dragger on its own.
#include <QAction>
#include <QApplication>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMainWindow>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStyle>
#include <QTimer>
#include <QToolButton>
#include <QtTest>
#include <functional>
#include <memory>

#include "ColumnsDialog.h"
#include "ListBoxDragger.h"
#include "Storage.h"

using namespace velloran;

namespace {

constexpr char kBoundsKey[] = "\\CustomizeColumns\\Bounds";

QStringList Items(const QListWidget* AList) {
  QStringList items;
  for (int i = 0; i < AList->count(); ++i) items.append(AList->item(i)->text());
  return items;
}

int Selected(const QListWidget* AList) { return TFormColumnsCustomize::SelectedIndex(AList); }

// The names a list shows: its items less those hidden.
QStringList Shown(const QListWidget* AList) {
  QStringList items;
  for (int i = 0; i < AList->count(); ++i)
    if (!AList->isRowHidden(i)) items.append(AList->item(i)->text());
  return items;
}

// The selected name of a list, empty when none.
QString SelectedName(const QListWidget* AList) {
  const int row = Selected(AList);
  return row >= 0 ? AList->item(row)->text() : QString();
}

// A dialog with filled lists, shown (item geometry exists only once a list has been laid out)
// and active (shortcuts need an active window).
std::unique_ptr<TFormColumnsCustomize> ShownDialog(const QString& AAll, const QString& ASelection,
                                                   const QString& ADefaults = QString()) {
  auto form = std::make_unique<TFormColumnsCustomize>();
  form->Prepare(AAll, ADefaults, ASelection, QString());
  form->show();
  form->activateWindow();
  if (!QTest::qWaitForWindowActive(form.get())) return nullptr;
  return form;
}

// In a list's viewport: the middle of item ARow, or for ARow = -1 a point in the empty area
// below the last item.
QPoint PointIn(const QListWidget* AList, int ARow) {
  if (ARow >= 0) return AList->visualItemRect(AList->item(ARow)).center();
  const int below = AList->count() > 0 ? AList->visualItemRect(AList->item(AList->count() - 1)).bottom() + 6 : 6;
  return {AList->viewport()->width() / 2, below};
}

// A drag as the mouse makes it: press on an item of the source list, then moves and the release,
// all delivered to the source list's viewport (it holds the mouse from the press on), at
// points given in any widget's coordinates. Releases the button if the test ends early.
class TMouseDrag {
 public:
  TMouseDrag(QListWidget* ASource, int ARow) : FViewport(ASource->viewport()) {
    FLast = PointIn(ASource, ARow);
    QTest::mousePress(FViewport, Qt::LeftButton, {}, FLast);
  }
  ~TMouseDrag() {
    if (!FReleased) Release();
  }
  TMouseDrag(const TMouseDrag&) = delete;
  TMouseDrag& operator=(const TMouseDrag&) = delete;

  void MoveTo(const QWidget* AWidget, QPoint APoint) {
    FLast = FViewport->mapFromGlobal(AWidget->mapToGlobal(APoint));
    QTest::mouseMove(FViewport, FLast);
  }
  void MoveTo(const QListWidget* AList, int ARow) { MoveTo(AList->viewport(), PointIn(AList, ARow)); }
  void Release() {
    FReleased = true;
    QTest::mouseRelease(FViewport, Qt::LeftButton, {}, FLast);
  }

 private:
  QWidget* FViewport;
  QPoint FLast;
  bool FReleased = false;
};

// Where the drop line for AMark belongs: along the top of that item, or just below the last.
int ExpectedLineTop(const QListWidget* AList, int AMark) {
  if (AList->count() == 0) return 0;
  if (AMark < AList->count()) return AList->visualItemRect(AList->item(AMark)).top();
  return AList->visualItemRect(AList->item(AList->count() - 1)).bottom() + 1;
}

// The main window with its frame (what restored bounds are fitted into) at 100,100, 800 x 600.
bool ShowMainWindow(QMainWindow& AMain) {
  AMain.setGeometry(100, 100, 800, 600);
  AMain.show();
  if (!QTest::qWaitForWindowExposed(&AMain)) return false;
  const QSize frame = AMain.frameGeometry().size() - AMain.size();
  AMain.move(100, 100);
  AMain.resize(QSize(800, 600) - frame);
  return AMain.frameGeometry() == QRect(100, 100, 800, 600);
}

// Runs AAction on the column dialog once a modal one shows, then closes it with Cancel when
// the action left it open, so that a failing check cannot leave the test hanging.
class TWhenDialogShows : public QObject {
 public:
  explicit TWhenDialogShows(std::function<void(TFormColumnsCustomize&)> AAction) : FAction(std::move(AAction)) {
    connect(&FPoll, &QTimer::timeout, this, [this] { Poll(); });
    FPoll.start(10);
  }
  bool Ran = false;

 private:
  void Poll() {
    auto* form = qobject_cast<TFormColumnsCustomize*>(QApplication::activeModalWidget());
    if (form == nullptr || !form->isVisible()) return;
    FPoll.stop();
    Ran = true;
    FAction(*form);
    if (form->isVisible()) form->reject();
  }

  QTimer FPoll;
  std::function<void(TFormColumnsCustomize&)> FAction;
};

}  // namespace

class TColumnsDialogTests : public QObject {
  Q_OBJECT
 private slots:
  void cleanup();

  void layoutOfTheDialog_data();
  void layoutOfTheDialog();
  void fillingTheLists_data();
  void fillingTheLists();
  void movingBetweenLists_data();
  void movingBetweenLists();
  void enablingFollowsTheLists_data();
  void enablingFollowsTheLists();
  void keys_data();
  void keys();
  void doubleClickMovesTheSelectedName();
  void resetRestoresTheDefaults();
  void filterShowsTheMatchingNames_data();
  void filterShowsTheMatchingNames();
  void filterHoldsForNamesThatComeBack();
  void filterBoxKeysGoOnToTheList_data();
  void filterBoxKeysGoOnToTheList();

  void dragAndDrop_data();
  void dragAndDrop();
  void dragEndsWithoutAMove_data();
  void dragEndsWithoutAMove();
  void dragScrollsNearTheEdges();
  void draggerOnItsOwn();
  void draggerRefusesMultipleSelection();

  void defaultSizeShowsWholeNames_data();
  void defaultSizeShowsWholeNames();
  void boundsText_data();
  void boundsText();
  void executeCancelChangesNothing_data();
  void executeCancelChangesNothing();
  void executeOkReturnsTheChoiceAndStoresTheBounds();
  void executeCentresOnTheMainWindowWithoutStoredBounds();
  void executeWithoutStorage();
};

void TColumnsDialogTests::cleanup() { QVERIFY2(QApplication::overrideCursor() == nullptr, "a drag left its cursor behind"); }

// --- the dialog -----------------------------------------------------------------------------------

void TColumnsDialogTests::layoutOfTheDialog_data() {
  QTest::addColumn<QSize>("size");
  QTest::newRow("smallest") << QSize(364, 273);
  QTest::newRow("larger") << QSize(700, 480);
  QTest::newRow("odd width") << QSize(501, 400);
}

void TColumnsDialogTests::layoutOfTheDialog() {
  QFETCH(QSize, size);
  const auto form = ShownDialog(QStringLiteral("A|B|C"), QStringLiteral("A"));
  QVERIFY(form);
  QCOMPARE(form->windowTitle(), QStringLiteral("Customize columns"));
  QCOMPARE(form->minimumSize(), QSize(364, 273));
  QVERIFY(form->windowFlags() & Qt::WindowCloseButtonHint);
  QVERIFY(!(form->windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
  QCOMPARE(form->focusWidget(), form->lbAll);
  QCOMPARE(form->lblAvailable->text(), QStringLiteral("Available"));
  QCOMPARE(form->lblSelected->text(), QStringLiteral("Selected"));
  QCOMPARE(form->btnReset->text(), QStringLiteral("Reset"));
  QCOMPARE(form->btnOk->text(), QStringLiteral("OK"));
  QVERIFY(form->btnOk->isDefault());
  QCOMPARE(form->btnCancel->text(), QStringLiteral("Cancel"));
  const QList<std::pair<QToolButton*, QString>> arrows = {{form->btnSelect, QStringLiteral("Select current column")},
                                                          {form->btnDeselect, QStringLiteral("Unselect current column")},
                                                          {form->btnUp, QStringLiteral("Move Up")},
                                                          {form->btnDown, QStringLiteral("Move Down")}};
  for (const auto& [button, hint] : arrows) {
    QCOMPARE(button->toolTip(), hint);
    QCOMPARE(button->focusPolicy(), Qt::NoFocus);
    QVERIFY(button->autoRaise());
    QVERIFY(!button->icon().isNull());
  }

  form->resize(size);
  QCOMPARE(form->size(), size);
  const QRect all = form->lbAll->geometry(), selected = form->lbSelected->geometry();
  // The lists share the width and the height, the arrows stand between them in one column,
  // the line runs across above the buttons, the buttons keep to the bottom corners.
  QCOMPARE(all.width(), selected.width());
  QCOMPARE(all.top(), selected.top());
  QCOMPARE(all.height(), selected.height());
  QCOMPARE(all.left(), 8);
  QVERIFY(qAbs(size.width() - 8 - selected.right() - 1) <= 2);
  int previousBottom = all.top();
  for (const auto& [button, hint] : arrows) {
    QVERIFY2(button->x() > all.right() && button->geometry().right() < selected.left(), qPrintable(hint));
    QVERIFY2(button->y() >= previousBottom, qPrintable(hint));
    previousBottom = button->geometry().bottom();
  }
  QVERIFY(previousBottom <= all.bottom());
  const QRect line = form->bvlBottom->geometry();
  QVERIFY(line.top() > all.bottom());
  QCOMPARE(line.left(), 8);
  QCOMPARE(line.right(), size.width() - 9);
  for (QPushButton* button : {form->btnReset, form->btnOk, form->btnCancel}) {
    QVERIFY(button->y() > line.bottom());
    QCOMPARE(button->geometry().bottom(), size.height() - 9);
  }
  QCOMPARE(form->btnReset->x(), 8);
  QCOMPARE(form->btnCancel->geometry().right(), size.width() - 9);
  QVERIFY(form->btnOk->geometry().right() < form->btnCancel->x());
  QVERIFY(form->lblSelected->geometry().left() <= selected.left());
  QVERIFY(form->lblSelected->geometry().left() > all.right());
}

void TColumnsDialogTests::fillingTheLists_data() {
  QTest::addColumn<QString>("all");
  QTest::addColumn<QString>("selection");
  QTest::addColumn<QStringList>("available");
  QTest::addColumn<QStringList>("selected");
  QTest::newRow("chosen out of Available, the rest sorted") << "B|C|A"
                                                            << "A|B" << QStringList{"C"} << QStringList{"A", "B"};
  QTest::newRow("sorted ignoring case") << "beta|Alpha|gamma|Delta"
                                        << "" << QStringList{"Alpha", "beta", "Delta", "gamma"} << QStringList{};
  QTest::newRow("chosen matched ignoring case") << "Alpha|Beta"
                                                << "alpha" << QStringList{"Beta"} << QStringList{"alpha"};
  QTest::newRow("CR LF separates too") << "A\r\nB|C"
                                       << "C\r\nA" << QStringList{"B"} << QStringList{"C", "A"};
  QTest::newRow("one enclosing pair of quotes goes") << "\"A\"|'B'|\"C'|\"\"D\"\"|\""
                                                     << "" << QStringList{"\"", "\"C'", "\"D\"", "A", "B"} << QStringList{};
  QTest::newRow("an empty piece is an empty name") << "A||B"
                                                   << "B|" << QStringList{"", "A"} << QStringList{"B"};
  QTest::newRow("a separator at the end adds nothing") << "A|B|"
                                                       << "|" << QStringList{"A", "B"} << QStringList{""};
  QTest::newRow("empty texts") << ""
                               << "" << QStringList{} << QStringList{};
  QTest::newRow("a chosen name the data lacks stays chosen") << "A|B"
                                                             << "X|A" << QStringList{"B"} << QStringList{"X", "A"};
  QTest::newRow("one entry out per chosen name") << "A|A|B"
                                                 << "A" << QStringList{"A", "B"} << QStringList{"A"};
}

void TColumnsDialogTests::fillingTheLists() {
  QFETCH(QString, all);
  QFETCH(QString, selection);
  TFormColumnsCustomize form;
  form.Prepare(all, QString(), selection, QString());
  QTEST(Items(form.lbAll), "available");
  QTEST(Items(form.lbSelected), "selected");
  QCOMPARE(Selected(form.lbAll), -1);
  QCOMPARE(Selected(form.lbSelected), -1);
}

void TColumnsDialogTests::movingBetweenLists_data() {
  QTest::addColumn<bool>("fromAvailable");
  QTest::addColumn<int>("row");
  QTest::addColumn<QStringList>("available");
  QTest::addColumn<QStringList>("selected");
  QTest::addColumn<int>("availableRow");
  QTest::addColumn<int>("selectedRow");
  // Fixture: Available B, D, F; Selected E, A.
  QTest::newRow("middle: the next name is selected")
      << true << 1 << QStringList{"B", "F"} << QStringList{"E", "A", "D"} << 1 << -1;
  QTest::newRow("last: the new last is selected") << true << 2 << QStringList{"B", "D"} << QStringList{"E", "A", "F"} << 1 << -1;
  QTest::newRow("back to its sorted place") << false << 0 << QStringList{"B", "D", "E", "F"} << QStringList{"A"} << -1 << 0;
  QTest::newRow("last of Selected") << false << 1 << QStringList{"A", "B", "D", "F"} << QStringList{"E"} << -1 << 0;
}

void TColumnsDialogTests::movingBetweenLists() {
  QFETCH(bool, fromAvailable);
  QFETCH(int, row);
  TFormColumnsCustomize form;
  form.Prepare(QStringLiteral("A|B|D|E|F"), QString(), QStringLiteral("E|A"), QString());
  QListWidget* source = fromAvailable ? form.lbAll : form.lbSelected;
  TFormColumnsCustomize::SelectIndex(source, row);
  (fromAvailable ? form.actToSelected : form.actToAll)->trigger();
  QTEST(Items(form.lbAll), "available");
  QTEST(Items(form.lbSelected), "selected");
  QTEST(Selected(form.lbAll), "availableRow");
  QTEST(Selected(form.lbSelected), "selectedRow");
}

void TColumnsDialogTests::enablingFollowsTheLists_data() {
  QTest::addColumn<QString>("selection");
  QTest::addColumn<int>("selectedRow");
  QTest::addColumn<bool>("toAll");
  QTest::addColumn<bool>("up");
  QTest::addColumn<bool>("down");
  QTest::addColumn<bool>("ok");
  QTest::newRow("first") << "A|B|C" << 0 << true << false << true << true;
  QTest::newRow("middle") << "A|B|C" << 1 << true << true << true << true;
  QTest::newRow("last") << "A|B|C" << 2 << true << true << false << true;
  QTest::newRow("only") << "A" << 0 << true << false << false << true;
  QTest::newRow("none selected") << "A|B" << -1 << false << false << false << true;
  QTest::newRow("Selected empty") << "" << -1 << false << false << false << false;
}

void TColumnsDialogTests::enablingFollowsTheLists() {
  QFETCH(QString, selection);
  QFETCH(int, selectedRow);
  TFormColumnsCustomize form;
  form.Prepare(QStringLiteral("A|B|C|D"), QString(), selection, QString());
  TFormColumnsCustomize::SelectIndex(form.lbSelected, selectedRow);
  QTEST(form.actToAll->isEnabled(), "toAll");
  QTEST(form.actUp->isEnabled(), "up");
  QTEST(form.actDown->isEnabled(), "down");
  QTEST(form.actOK->isEnabled(), "ok");
  QTEST(form.btnDeselect->isEnabled(), "toAll");
  QTEST(form.btnUp->isEnabled(), "up");
  QTEST(form.btnDown->isEnabled(), "down");
  QTEST(form.btnOk->isEnabled(), "ok");

  // Available: enabled with a selected name, and no longer once its only name has moved.
  QCOMPARE(form.actToSelected->isEnabled(), false);
  form.lbAll->clear();
  form.lbAll->addItem(QStringLiteral("Z"));
  TFormColumnsCustomize::SelectIndex(form.lbAll, 0);
  QVERIFY(form.actToSelected->isEnabled());
  form.actToSelected->trigger();
  QCOMPARE(form.lbAll->count(), 0);
  QVERIFY(!form.actToSelected->isEnabled());
  QVERIFY(form.actOK->isEnabled());  // Selected holds Z now
}

void TColumnsDialogTests::keys_data() {
  QTest::addColumn<bool>("inAvailable");
  QTest::addColumn<int>("row");
  QTest::addColumn<int>("key");
  QTest::addColumn<int>("modifiers");
  QTest::addColumn<QStringList>("available");
  QTest::addColumn<QStringList>("selected");
  QTest::addColumn<int>("selectedRow");
  // Fixture: Available D, E; Selected A, B, C.
  const int shift = int(Qt::ShiftModifier), none = 0;
  const QStringList all{"D", "E"}, chosen{"A", "B", "C"};
  QTest::newRow("Shift+Down") << false << 1 << int(Qt::Key_Down) << shift << all << QStringList{"A", "C", "B"} << 2;
  QTest::newRow("Shift+Up") << false << 1 << int(Qt::Key_Up) << shift << all << QStringList{"B", "A", "C"} << 0;
  QTest::newRow("Shift+Up on the first") << false << 0 << int(Qt::Key_Up) << shift << all << chosen << 0;
  QTest::newRow("Shift+Down on the last") << false << 2 << int(Qt::Key_Down) << shift << all << chosen << 2;
  QTest::newRow("Shift+Down in Available leaves Selected alone") << true << 0 << int(Qt::Key_Down) << shift << all << chosen << 1;
  QTest::newRow("Space in Available") << true << 0 << int(Qt::Key_Space) << none << QStringList{"E"}
                                      << QStringList{"A", "B", "C", "D"} << 1;
  QTest::newRow("Space in Selected") << false << 1 << int(Qt::Key_Space) << none << QStringList{"B", "D", "E"}
                                     << QStringList{"A", "C"} << 1;
  QTest::newRow("Space without a selection") << true << -1 << int(Qt::Key_Space) << none << all << chosen << 1;
}

void TColumnsDialogTests::keys() {
  QFETCH(bool, inAvailable);
  QFETCH(int, row);
  QFETCH(int, key);
  QFETCH(int, modifiers);
  const auto form = ShownDialog(QStringLiteral("A|B|C|D|E"), QStringLiteral("A|B|C"));
  QVERIFY(form);
  QListWidget* focused = inAvailable ? form->lbAll : form->lbSelected;
  focused->setFocus();
  TFormColumnsCustomize::SelectIndex(focused, row);
  if (inAvailable) TFormColumnsCustomize::SelectIndex(form->lbSelected, 1);
  QTest::keyClick(focused, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
  QTEST(Items(form->lbAll), "available");
  QTEST(Items(form->lbSelected), "selected");
  QTEST(Selected(form->lbSelected), "selectedRow");
  QVERIFY(form->isVisible());
}

void TColumnsDialogTests::doubleClickMovesTheSelectedName() {
  const auto form = ShownDialog(QStringLiteral("A|B|C"), QStringLiteral("A"));
  QVERIFY(form);
  TFormColumnsCustomize::SelectIndex(form->lbAll, 1);  // C
  QTest::mouseDClick(form->lbAll->viewport(), Qt::LeftButton, {}, PointIn(form->lbAll, 1));
  QCOMPARE(Items(form->lbAll), QStringList{"B"});
  QCOMPARE(Items(form->lbSelected), (QStringList{"A", "C"}));
  // Anywhere in the list: the empty area acts on the selected name too.
  TFormColumnsCustomize::SelectIndex(form->lbSelected, 0);
  QTest::mouseDClick(form->lbSelected->viewport(), Qt::LeftButton, {}, PointIn(form->lbSelected, -1));
  QCOMPARE(Items(form->lbAll), (QStringList{"A", "B"}));
  QCOMPARE(Items(form->lbSelected), QStringList{"C"});
  QVERIFY(!form->FDragger->Dragging());
}

void TColumnsDialogTests::resetRestoresTheDefaults() {
  TFormColumnsCustomize form;
  form.Prepare(QStringLiteral("Timestamp|User-Name|Class|Packet-Type"), QStringLiteral("Packet-Type|Computer-Name|timestamp"),
               QStringLiteral("Class"), QString());
  TFormColumnsCustomize::SelectIndex(form.lbAll, 0);
  form.actToSelected->trigger();
  form.btnReset->click();
  // A default the data does not hold (Computer-Name) is chosen all the same: the record list
  // then shows it as an empty column, and the user can take it out again.
  QCOMPARE(Items(form.lbSelected), (QStringList{"Packet-Type", "Computer-Name", "timestamp"}));
  QCOMPARE(Items(form.lbAll), (QStringList{"Class", "User-Name"}));
  QVERIFY(form.actOK->isEnabled());
  QVERIFY(!form.actToSelected->isEnabled());
}

// --- the filter -----------------------------------------------------------------------------------

void TColumnsDialogTests::filterShowsTheMatchingNames_data() {
  QTest::addColumn<QString>("typed");
  QTest::addColumn<QStringList>("shown");
  // Fixture: Available Class, Client-Friendly-Name, Fully-Qualifed-User-Name, Packet-Type,
  // User-Name; Selected Timestamp.
  QTest::newRow("nothing typed: all") << ""
                                      << QStringList{"Class", "Client-Friendly-Name", "Fully-Qualifed-User-Name", "Packet-Type",
                                                     "User-Name"};
  QTest::newRow("a part of the name") << "user" << QStringList{"Fully-Qualifed-User-Name", "User-Name"};
  QTest::newRow("case ignored") << "uSeR-n" << QStringList{"Fully-Qualifed-User-Name", "User-Name"};
  QTest::newRow("anywhere in the name") << "-name"
                                        << QStringList{"Client-Friendly-Name", "Fully-Qualifed-User-Name", "User-Name"};
  QTest::newRow("a chosen name is not offered") << "time" << QStringList{};
  QTest::newRow("no match") << "zz" << QStringList{};
}

void TColumnsDialogTests::filterShowsTheMatchingNames() {
  QFETCH(QString, typed);
  const auto form =
      ShownDialog(QStringLiteral("Timestamp|User-Name|Client-Friendly-Name|Class|Fully-Qualifed-User-Name|Packet-Type"),
                  QStringLiteral("Timestamp"));
  QVERIFY(form);
  auto* filter = form->findChild<QLineEdit*>(QStringLiteral("edtFilter"));
  QVERIFY(filter);
  QCOMPARE(filter, form->edtFilter);
  QCOMPARE(filter->placeholderText(), QStringLiteral("Filter"));
  QVERIFY(filter->isVisible());
  // Above Available, within its width.
  const QRect all = form->lbAll->geometry();
  QVERIFY(filter->geometry().bottom() < all.top());
  QVERIFY(filter->x() >= all.left() && filter->geometry().right() <= all.right());
  QVERIFY(filter->width() >= 60);

  const QStringList everything = Items(form->lbAll);
  filter->setFocus();
  QTest::keyClicks(filter, typed);
  QTEST(Shown(form->lbAll), "shown");
  // Only hidden: the list and its order stay, and Selected is untouched.
  QCOMPARE(Items(form->lbAll), everything);
  QCOMPARE(Items(form->lbSelected), QStringList{"Timestamp"});
  QVERIFY(form->isVisible());

  // Clearing shows all again.
  filter->clear();
  QCOMPARE(Shown(form->lbAll), everything);
}

void TColumnsDialogTests::filterHoldsForNamesThatComeBack() {
  const auto form = ShownDialog(QStringLiteral("Timestamp|User-Name|Class|Fully-Qualifed-User-Name|Packet-Type|NAS-Port"),
                                QStringLiteral("Class|Timestamp"), QStringLiteral("Packet-Type|User-Name"));
  QVERIFY(form);
  form->edtFilter->setText(QStringLiteral("name"));
  QCOMPARE(Shown(form->lbAll), (QStringList{"Fully-Qualifed-User-Name", "User-Name"}));

  // A selected name the filter hides is no longer selected: the arrow cannot move it.
  TFormColumnsCustomize::SelectIndex(form->lbAll, 1);  // NAS-Port, hidden
  QVERIFY(!form->actToSelected->isEnabled());
  form->actToSelected->trigger();
  QCOMPARE(Items(form->lbSelected), (QStringList{"Class", "Timestamp"}));
  form->edtFilter->setText(QStringLiteral("N"));
  TFormColumnsCustomize::SelectIndex(form->lbAll, 1);  // NAS-Port, shown
  form->edtFilter->setText(QStringLiteral("Na"));      // still shown
  QCOMPARE(SelectedName(form->lbAll), QStringLiteral("NAS-Port"));
  form->edtFilter->setText(QStringLiteral("name"));  // hidden now
  QCOMPARE(Selected(form->lbAll), -1);
  QVERIFY(!form->actToSelected->isEnabled());

  // To Selected: the next shown name is selected, never a hidden one (NAS-Port and Packet-Type
  // stand between the two).
  TFormColumnsCustomize::SelectIndex(
      form->lbAll, form->lbAll->row(form->lbAll->findItems("Fully-Qualifed-User-Name", Qt::MatchExactly).first()));
  form->actToSelected->trigger();
  QCOMPARE(Items(form->lbSelected), (QStringList{"Class", "Timestamp", "Fully-Qualifed-User-Name"}));
  QCOMPARE(SelectedName(form->lbAll), QStringLiteral("User-Name"));
  form->actToSelected->trigger();
  QCOMPARE(Shown(form->lbAll), QStringList{});
  QCOMPARE(Selected(form->lbAll), -1);
  QCOMPARE(Items(form->lbAll), (QStringList{"NAS-Port", "Packet-Type"}));

  // Back to Available: a name the filter passes shows, one it does not stays hidden.
  TFormColumnsCustomize::SelectIndex(form->lbSelected, 0);  // Class
  form->actToAll->trigger();
  TFormColumnsCustomize::SelectIndex(form->lbSelected, 1);  // Fully-Qualifed-User-Name
  form->actToAll->trigger();
  QCOMPARE(Items(form->lbAll), (QStringList{"Class", "Fully-Qualifed-User-Name", "NAS-Port", "Packet-Type"}));
  QCOMPARE(Shown(form->lbAll), QStringList{"Fully-Qualifed-User-Name"});

  // Dropped into Available below its last shown name: there, hidden, and not selected.
  {
    TMouseDrag drag(form->lbSelected, 0);  // Timestamp
    const QListWidget* all = form->lbAll;
    const int below =
        all->visualItemRect(all->findItems(QStringLiteral("Fully-Qualifed-User-Name"), Qt::MatchExactly).first()).bottom() + 6;
    drag.MoveTo(all->viewport(), QPoint(all->viewport()->width() / 2, below));
    drag.Release();
  }
  QCOMPARE(Items(form->lbAll), (QStringList{"Class", "Fully-Qualifed-User-Name", "NAS-Port", "Packet-Type", "Timestamp"}));
  QCOMPARE(Shown(form->lbAll), QStringList{"Fully-Qualifed-User-Name"});
  QCOMPARE(Selected(form->lbAll), -1);

  // Reset refills both lists under the same filter.
  form->btnReset->click();
  QCOMPARE(Items(form->lbSelected), (QStringList{"Packet-Type", "User-Name"}));
  QCOMPARE(Items(form->lbAll), (QStringList{"Class", "Fully-Qualifed-User-Name", "NAS-Port", "Timestamp"}));
  QCOMPARE(Shown(form->lbAll), QStringList{"Fully-Qualifed-User-Name"});

  // Cleared, every name shows again, and the choice is what it was.
  form->edtFilter->clear();
  QCOMPARE(Shown(form->lbAll), Items(form->lbAll));
  QCOMPARE(TFormColumnsCustomize::JoinListBox(form->lbSelected), QStringLiteral("Packet-Type|User-Name"));
}

void TColumnsDialogTests::filterBoxKeysGoOnToTheList_data() {
  QTest::addColumn<int>("key");
  QTest::newRow("Enter") << int(Qt::Key_Return);
  QTest::newRow("Enter on the keypad") << int(Qt::Key_Enter);
  QTest::newRow("Down") << int(Qt::Key_Down);
}

void TColumnsDialogTests::filterBoxKeysGoOnToTheList() {
  QFETCH(int, key);
  // Enter in the filter box must not take OK (the default button) while the user narrows the
  // names; it goes on to the first shown name instead.
  const auto form =
      ShownDialog(QStringLiteral("Class|Called-Station-Id|NAS-Port-Type|Acct-Status-Type"), QStringLiteral("Class"));
  QVERIFY(form);
  QSignalSpy accepted(form.get(), &QDialog::accepted);
  form->edtFilter->setFocus();
  QTest::keyClicks(form->edtFilter, QStringLiteral("type"));
  QCOMPARE(Shown(form->lbAll), (QStringList{"Acct-Status-Type", "NAS-Port-Type"}));
  QTest::keyClick(form->edtFilter, Qt::Key(key));
  QVERIFY(form->isVisible());
  QCOMPARE(accepted.count(), 0);
  QTRY_COMPARE(QApplication::focusWidget(), form->lbAll);
  QCOMPARE(SelectedName(form->lbAll), QStringLiteral("Acct-Status-Type"));
  // Down in the list passes over the hidden Called-Station-Id; Space takes the name, and the
  // shown name before it is selected next.
  QTest::keyClick(form->lbAll, Qt::Key_Down);
  QCOMPARE(SelectedName(form->lbAll), QStringLiteral("NAS-Port-Type"));
  QTest::keyClick(form->lbAll, Qt::Key_Space);
  QCOMPARE(Items(form->lbSelected), (QStringList{"Class", "NAS-Port-Type"}));
  QCOMPARE(SelectedName(form->lbAll), QStringLiteral("Acct-Status-Type"));
  // Enter in the list is OK again.
  QTest::keyClick(form->lbAll, Qt::Key_Return);
  QCOMPARE(accepted.count(), 1);
}

// --- drag and drop --------------------------------------------------------------------------------

void TColumnsDialogTests::dragAndDrop_data() {
  QTest::addColumn<QString>("all");
  QTest::addColumn<QString>("selection");
  QTest::addColumn<bool>("fromAvailable");
  QTest::addColumn<int>("from");
  QTest::addColumn<bool>("toAvailable");
  QTest::addColumn<int>("to");  // -1: the empty area below the last item
  QTest::addColumn<int>("mark");
  QTest::addColumn<QStringList>("available");
  QTest::addColumn<QStringList>("selected");

  const QString none;
  const QString four = QStringLiteral("A|B|C|D");
  const QStringList unchanged{"A", "B", "C", "D"};
  QTest::newRow("onto itself") << four << four << false << 1 << false << 1 << -1 << QStringList{} << unchanged;
  QTest::newRow("onto the next item") << four << four << false << 1 << false << 2 << -1 << QStringList{} << unchanged;
  QTest::newRow("last below the last") << four << four << false << 3 << false << -1 << -1 << QStringList{} << unchanged;
  QTest::newRow("third onto the first") << four << four << false << 2 << false << 0 << 0 << QStringList{}
                                        << QStringList{"C", "A", "B", "D"};
  QTest::newRow("first onto the third") << four << four << false << 0 << false << 2 << 2 << QStringList{}
                                        << QStringList{"B", "A", "C", "D"};
  QTest::newRow("below the last appends") << four << four << false << 1 << false << -1 << 4 << QStringList{}
                                          << QStringList{"A", "C", "D", "B"};
  QTest::newRow("Available onto a Selected item")
      << "A|B|C|D|E"
      << "X|Y|Z" << true << 2 << false << 1 << 1 << QStringList{"A", "B", "D", "E"} << QStringList{"X", "C", "Y", "Z"};
  QTest::newRow("Available onto the Selected item that is selected")
      << "A|B"
      << "X|Y" << true << 0 << false << 0 << 0 << QStringList{"B"} << QStringList{"A", "X", "Y"};
  QTest::newRow("Available below the last Selected")
      << "A|B|C"
      << "X|Y" << true << 0 << false << -1 << 2 << QStringList{"B", "C"} << QStringList{"X", "Y", "A"};
  QTest::newRow("Available into an empty Selected")
      << "A|B" << none << true << 1 << false << -1 << 0 << QStringList{"A"} << QStringList{"B"};
  // A drop is the user's own order: the name goes exactly where it was dropped, in Available
  // too (only the arrow buttons put it in its sorted place).
  QTest::newRow("Selected into the empty area of Available appends")
      << "A|B|C|Z"
      << "Z|C" << false << 0 << true << -1 << 2 << QStringList{"A", "B", "Z"} << QStringList{"C"};
  QTest::newRow("Selected into the empty area of Available, sorting first, appends")
      << "B|D|F|a"
      << "a|F" << false << 0 << true << -1 << 2 << QStringList{"B", "D", "a"} << QStringList{"F"};
  QTest::newRow("Selected onto an Available item")
      << "B|D|F|E"
      << "E" << false << 0 << true << 0 << 0 << QStringList{"E", "B", "D", "F"} << QStringList{};
  QTest::newRow("within Available") << four << none << true << 0 << true << 3 << 3 << QStringList{"B", "C", "A", "D"}
                                    << QStringList{};
}

void TColumnsDialogTests::dragAndDrop() {
  QFETCH(QString, all);
  QFETCH(QString, selection);
  QFETCH(bool, fromAvailable);
  QFETCH(int, from);
  QFETCH(bool, toAvailable);
  QFETCH(int, to);
  QFETCH(int, mark);
  const auto form = ShownDialog(all, selection);
  QVERIFY(form);
  QListWidget* source = fromAvailable ? form->lbAll : form->lbSelected;
  QListWidget* target = toAvailable ? form->lbAll : form->lbSelected;
  const TTwoListBoxDragger* dragger = form->FDragger;
  const QString name = source->item(from)->text();
  // A selection in the other list must not keep the line from any of its places.
  if (target != source) TFormColumnsCustomize::SelectIndex(target, 0);
  {
    TMouseDrag drag(source, from);
    QCOMPARE(Selected(source), from);
    // By way of the gap between the lists, so that a drop onto the pressed item itself is a
    // drag that came back, not a click.
    drag.MoveTo(form.get(), QPoint(form->btnSelect->geometry().center().x(), form->lbAll->geometry().center().y()));
    QVERIFY(dragger->Dragging());
    QCOMPARE(dragger->DropMark(form->lbAll), -1);
    QCOMPARE(dragger->DropMark(form->lbSelected), -1);
    drag.MoveTo(target, to);
    QCOMPARE(dragger->DropMark(target), mark);
    QCOMPARE(dragger->DropMark(target == form->lbAll ? form->lbSelected : form->lbAll), -1);
    const QRect line = dragger->DropLineRect(target);
    QCOMPARE(line.isEmpty(), mark < 0);
    if (mark >= 0) {
      QCOMPARE(line.top(), ExpectedLineTop(target, mark));
      QCOMPARE(line.width(), target->viewport()->width());
    }
    drag.Release();
  }
  QVERIFY(!dragger->Dragging());
  QCOMPARE(dragger->DropLineRect(target), QRect());
  QTEST(Items(form->lbAll), "available");
  QTEST(Items(form->lbSelected), "selected");
  // The dragged name is the selected one wherever it stands now.
  QListWidget* holder = form->lbAll->findItems(name, Qt::MatchExactly).isEmpty() ? form->lbSelected : form->lbAll;
  QCOMPARE(holder->item(Selected(holder))->text(), name);
}

void TColumnsDialogTests::dragEndsWithoutAMove_data() {
  QTest::addColumn<QString>("ending");
  QTest::newRow("released beside the lists") << "outside";
  QTest::newRow("released above Selected") << "above";
  QTest::newRow("Esc") << "escape";
}

void TColumnsDialogTests::dragEndsWithoutAMove() {
  QFETCH(QString, ending);
  const auto form = ShownDialog(QStringLiteral("A|B|C|D"), QStringLiteral("X|Y"));
  QVERIFY(form);
  const TTwoListBoxDragger* dragger = form->FDragger;
  {
    TMouseDrag drag(form->lbAll, 1);
    drag.MoveTo(form->lbSelected, 0);
    QCOMPARE(dragger->DropMark(form->lbSelected), 0);
    QCOMPARE(QApplication::overrideCursor()->shape(), Qt::DragMoveCursor);
    if (ending == QLatin1String("escape")) {
      QTest::keyClick(form->lbAll, Qt::Key_Escape);
      QVERIFY(!dragger->Dragging());
      QVERIFY2(form->isVisible(), "Esc ends the drag, not the dialog");
    } else if (ending == QLatin1String("above")) {
      drag.MoveTo(form->lbSelected, QPoint(10, -3));
    } else {
      drag.MoveTo(form.get(), QPoint(form->btnSelect->geometry().center().x(), form->btnReset->y() - 20));
      QCOMPARE(QApplication::overrideCursor()->shape(), Qt::ForbiddenCursor);
    }
    QCOMPARE(dragger->DropMark(form->lbSelected), -1);
    drag.Release();
  }
  QVERIFY(!dragger->Dragging());
  QCOMPARE(Items(form->lbAll), (QStringList{"A", "B", "C", "D"}));
  QCOMPARE(Items(form->lbSelected), (QStringList{"X", "Y"}));
  QCOMPARE(QApplication::overrideCursor(), nullptr);
}

void TColumnsDialogTests::dragScrollsNearTheEdges() {
  QStringList many;
  for (int i = 0; i < 60; ++i) many.append(QStringLiteral("Name%1").arg(i, 2, 10, QLatin1Char('0')));
  const auto form = ShownDialog(many.join(u'|'), QString());
  QVERIFY(form);
  QScrollBar* bar = form->lbAll->verticalScrollBar();
  QVERIFY(bar->maximum() > 0);
  const TTwoListBoxDragger* dragger = form->FDragger;
  QListWidget* selected = form->lbSelected;
  // Dragging into Selected: its own list is too short to scroll, so fill it as well.
  for (const QString& name : many) selected->addItem(QLatin1Char('S') + name);
  QScrollBar* selectedBar = selected->verticalScrollBar();
  QCOMPARE(selectedBar->value(), 0);

  TMouseDrag drag(form->lbAll, 0);
  const int height = selected->viewport()->height();
  drag.MoveTo(selected->viewport(), QPoint(20, height - 2));  // near the bottom edge
  QTRY_VERIFY(selectedBar->value() >= 3);
  // The line follows the items that scroll under the pointer.
  QTRY_COMPARE(dragger->DropMark(selected), selected->indexAt(QPoint(20, height - 2)).row());
  drag.MoveTo(selected->viewport(), QPoint(20, height / 2));
  QCOMPARE(dragger->DropMark(selected), selected->indexAt(QPoint(20, height / 2)).row());
  drag.MoveTo(selected->viewport(), QPoint(20, -30));  // beyond the top edge
  QTRY_COMPARE(selectedBar->value(), 0);
  QCOMPARE(bar->value(), 0);  // the source list was never under the pointer
  drag.MoveTo(form.get(), QPoint(form->btnSelect->geometry().center().x(), 5));
  drag.Release();
  QCOMPARE(form->lbAll->count(), 60);
}

void TColumnsDialogTests::draggerOnItsOwn() {
  // Two bare lists: without OnItemMove the dragger moves the item itself, exactly to the drop
  // place, and selects it there.
  QWidget window;
  window.resize(400, 300);
  auto* left = new QListWidget(&window);
  auto* right = new QListWidget(&window);
  left->setGeometry(10, 10, 150, 250);
  right->setGeometry(200, 10, 150, 250);
  left->addItems({"C", "A", "B"});
  right->addItems({"Y", "X"});
  auto* dragger = new TTwoListBoxDragger(&window);
  dragger->SetListBox(left);
  dragger->SetListBox2(right);
  QCOMPARE(dragger->ListBox(), left);
  QCOMPARE(dragger->ListBox2(), right);
  window.show();
  QVERIFY(QTest::qWaitForWindowExposed(&window));
  {
    TMouseDrag drag(left, 0);
    drag.MoveTo(right, 1);
    QCOMPARE(dragger->DropMark(right), 1);
    drag.Release();
  }
  QCOMPARE(Items(left), (QStringList{"A", "B"}));
  QCOMPARE(Items(right), (QStringList{"Y", "C", "X"}));
  QCOMPARE(Selected(right), 1);
  {
    TMouseDrag drag(right, 2);
    drag.MoveTo(right, 0);
    drag.Release();
  }
  QCOMPARE(Items(right), (QStringList{"X", "Y", "C"}));

  // ItemMove ignores a source index out of range and a negative destination.
  dragger->ItemMove(left, right, 2, 0);
  dragger->ItemMove(left, right, 0, -1);
  QCOMPARE(Items(left), (QStringList{"A", "B"}));

  // A list destroyed while attached is forgotten; the dragger goes on with the other.
  delete right;
  QCOMPARE(dragger->ListBox2(), nullptr);
  {
    TMouseDrag drag(left, 1);
    drag.MoveTo(left, 0);
    QCOMPARE(dragger->DropMark(left), 0);
    drag.Release();
  }
  QCOMPARE(Items(left), (QStringList{"B", "A"}));
  dragger->SetListBox(nullptr);
  {
    TMouseDrag drag(left, 1);
    drag.MoveTo(left, 0);
    QVERIFY(!dragger->Dragging());
  }
  QCOMPARE(Items(left), (QStringList{"B", "A"}));
}

void TColumnsDialogTests::draggerRefusesMultipleSelection() {
  QListWidget multi, single;
  multi.setSelectionMode(QAbstractItemView::ExtendedSelection);
  TTwoListBoxDragger dragger;
  QStringList errors;
  dragger.OnError = [&errors](const QString& AMessage) { errors.append(AMessage); };
  dragger.SetListBox(&multi);
  dragger.SetListBox2(&multi);
  QCOMPARE(dragger.ListBox(), nullptr);
  QCOMPARE(dragger.ListBox2(), nullptr);
  QCOMPARE(errors, (QStringList{"Sorry, can't operate with ListBox where MultiSelect=True",
                                "Sorry, can't operate with ListBox2 where MultiSelect=True"}));
  dragger.SetListBox(&single);
  QCOMPARE(dragger.ListBox(), &single);
  QCOMPARE(errors.size(), 2);
}

// --- size and bounds, the modal run --------------------------------------------------------------

void TColumnsDialogTests::defaultSizeShowsWholeNames_data() {
  QTest::addColumn<QString>("all");
  QTest::addColumn<QString>("selection");
  QTest::addColumn<QString>("bounds");
  QTest::addColumn<QString>("expect");  // "design", "whole" (every name whole), "screen", "bounds"
  // Enough names that both lists need their vertical scroll bars, which take width as well.
  QStringList many{"Timestamp", "Fully-Qualifed-User-Name", "MS-Quarantine-Grace-Time", "Client-Friendly-Name"};
  for (int i = 0; i < 70; ++i) many.append(QStringLiteral("Attribute-%1").arg(i));
  const QString manyText = many.join(u'|');
  const QString longSelection = QStringLiteral("Timestamp|Client-Friendly-Name|") + QStringList(many.mid(4, 30)).join(u'|');
  QTest::newRow("short names: the design size") << "A|B|C"
                                                << "A"
                                                << ""
                                                << "design";
  QTest::newRow("long names") << manyText << longSelection << ""
                              << "whole";
  QTest::newRow("longest only in Selected") << "A|B"
                                            << "A|MS-Quarantine-Session-Identifier-Of-The-Access-Server"
                                            << ""
                                            << "whole";
  QTest::newRow("longer than the screen") << QStringLiteral("A|") + QString(300, u'W') << "A"
                                          << ""
                                          << "screen";
  QTest::newRow("stored bounds win") << manyText << longSelection << "20,30,400,300"
                                     << "bounds";
}

void TColumnsDialogTests::defaultSizeShowsWholeNames() {
  QFETCH(QString, all);
  QFETCH(QString, selection);
  QFETCH(QString, bounds);
  QFETCH(QString, expect);
  TFormColumnsCustomize form;
  form.Prepare(all, QString(), selection, bounds);
  form.show();
  QVERIFY(QTest::qWaitForWindowExposed(&form));
  const QRect screen = form.screen()->availableGeometry();
  QVERIFY(form.width() <= screen.width());
  if (expect == QLatin1String("design")) {
    QCOMPARE(form.size(), QSize(364, 273));
    return;
  }
  if (expect == QLatin1String("bounds")) {
    QCOMPARE(form.GetBoundsText(), bounds);
    return;
  }
  if (expect == QLatin1String("screen")) {
    QCOMPARE(form.width(), screen.width());
    return;
  }
  QVERIFY(form.width() > 364);
  QCOMPARE(form.height(), 273);
  // Each name whole: no horizontal scrolling, and each item wide enough for its text and the
  // text margins the item view keeps on either side, inside the list's viewport.
  const int margins = 2 * (form.style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, form.lbAll) + 1);
  for (QListWidget* list : {form.lbAll, form.lbSelected}) {
    QTRY_VERIFY(list->verticalScrollBar()->isVisible() || list->count() < 10);
    QCOMPARE(list->horizontalScrollBar()->maximum(), 0);
    const int viewport = list->viewport()->width();
    for (int i = 0; i < list->count(); ++i) {
      const QString name = list->item(i)->text();
      const QRect item = list->visualItemRect(list->item(i));
      QVERIFY2(item.right() < viewport, qPrintable(name));
      QVERIFY2(list->fontMetrics().horizontalAdvance(name) + margins <= item.width(), qPrintable(name));
    }
  }
}

void TColumnsDialogTests::boundsText_data() {
  QTest::addColumn<QString>("text");
  QTest::addColumn<QRect>("bounds");
  // The main window at 100,100, 800 x 600; the dialog at 150,160, 400 x 300 before.
  QTest::newRow("inside: kept") << "200,150,400,300" << QRect(200, 150, 400, 300);
  QTest::newRow("past the bottom right: corners meet") << "5000,5000,400,300" << QRect(500, 400, 400, 300);
  QTest::newRow("above the top left") << "-50,0,420,310" << QRect(100, 100, 420, 310);
  QTest::newRow("larger than the main window") << "300,300,1000,700" << QRect(100, 100, 1000, 700);
  QTest::newRow("a part not an integer keeps its value") << "x,170,420,y" << QRect(150, 170, 420, 300);
  QTest::newRow("below the smallest size") << "200,150,100,100" << QRect(200, 150, 364, 273);
  QTest::newRow("three parts: ignored") << "1,2,3" << QRect(150, 160, 400, 300);
  QTest::newRow("five parts: ignored") << "1,2,3,4,5" << QRect(150, 160, 400, 300);
  QTest::newRow("empty: ignored") << "" << QRect(150, 160, 400, 300);
}

void TColumnsDialogTests::boundsText() {
  QFETCH(QString, text);
  QFETCH(QRect, bounds);
  QMainWindow main;
  QVERIFY(ShowMainWindow(main));
  TFormColumnsCustomize form(&main);
  form.move(150, 160);  // the frame's position, as the bounds text holds it
  form.resize(400, 300);
  form.SetBoundsText(text);
  QCOMPARE(QRect(form.pos(), form.size()), bounds);
  const QString written = form.GetBoundsText();
  QCOMPARE(written, QStringLiteral("%1,%2,%3,%4").arg(bounds.x()).arg(bounds.y()).arg(bounds.width()).arg(bounds.height()));
  // What GetBoundsText writes, SetBoundsText restores, also after the dialog has been shown.
  form.show();
  QVERIFY(QTest::qWaitForWindowExposed(&form));
  QCOMPARE(form.GetBoundsText(), written);
  TFormColumnsCustomize again(&main);
  again.SetBoundsText(written);
  QCOMPARE(again.GetBoundsText(), written);
}

void TColumnsDialogTests::executeCancelChangesNothing_data() {
  QTest::addColumn<QString>("how");
  QTest::newRow("Cancel") << "button";
  QTest::newRow("Esc") << "escape";
  QTest::newRow("close box") << "close";
}

void TColumnsDialogTests::executeCancelChangesNothing() {
  QFETCH(QString, how);
  TrsStorage storage;
  QMainWindow main;
  QVERIFY(ShowMainWindow(main));
  QString current = QStringLiteral("A|B");
  TWhenDialogShows when([&how](TFormColumnsCustomize& AForm) {
    TFormColumnsCustomize::SelectIndex(AForm.lbAll, 0);
    AForm.actToSelected->trigger();  // a change that Cancel must drop
    AForm.move(AForm.pos() + QPoint(7, 7));
    if (how == QLatin1String("button"))
      AForm.btnCancel->click();
    else if (how == QLatin1String("escape"))
      QTest::keyClick(AForm.lbAll, Qt::Key_Escape);
    else
      AForm.close();
    QVERIFY(!AForm.isVisible());
  });
  QVERIFY(!ExecuteColumnsDialog(QStringLiteral("A|B|C"), QStringLiteral("A"), current, &storage));
  QVERIFY(when.Ran);
  QCOMPARE(current, QStringLiteral("A|B"));
  QVERIFY(!storage.KeyExist(kBoundsKey));
}

void TColumnsDialogTests::executeOkReturnsTheChoiceAndStoresTheBounds() {
  TrsStorage storage;
  storage.WriteString(kBoundsKey, "5000,5000,400,300");
  QMainWindow main;
  QVERIFY(ShowMainWindow(main));
  QString current = QStringLiteral("Timestamp|User-Name");
  QString shownBounds;
  TWhenDialogShows when([&shownBounds](TFormColumnsCustomize& AForm) {
    // The stored bounds, fitted into the main window: bottom-right corners meet.
    shownBounds = AForm.GetBoundsText();
    QCOMPARE(AForm.focusWidget(), AForm.lbAll);
    QCOMPARE(Items(AForm.lbAll), (QStringList{"Class", "Packet-Type"}));
    TFormColumnsCustomize::SelectIndex(AForm.lbAll, 1);
    AForm.actToSelected->trigger();
    TFormColumnsCustomize::SelectIndex(AForm.lbSelected, 0);
    AForm.actDown->trigger();
    AForm.resize(420, 310);
    QTest::keyClick(AForm.lbAll, Qt::Key_Return);  // OK is the default button
  });
  QVERIFY(ExecuteColumnsDialog(QStringLiteral("Timestamp|Class|User-Name|Packet-Type"), QStringLiteral("Timestamp"), current,
                               &storage));
  QVERIFY(when.Ran);
  QCOMPARE(shownBounds, QStringLiteral("500,400,400,300"));
  QCOMPARE(current, QStringLiteral("User-Name|Timestamp|Packet-Type"));
  QCOMPARE(QString::fromStdString(storage.ReadString(kBoundsKey, "")), QStringLiteral("500,400,420,310"));
}

void TColumnsDialogTests::executeCentresOnTheMainWindowWithoutStoredBounds() {
  TrsStorage storage;
  QMainWindow main;
  QVERIFY(ShowMainWindow(main));
  QString current = QStringLiteral("A");
  QPoint offCentre(-1000, -1000);
  bool enterIgnored = false;
  TWhenDialogShows when([&](TFormColumnsCustomize& AForm) {
    offCentre = AForm.frameGeometry().center() - main.frameGeometry().center();
    // With Selected empty, OK is disabled and Enter does nothing.
    TFormColumnsCustomize::SelectIndex(AForm.lbSelected, 0);
    AForm.actToAll->trigger();
    QVERIFY(!AForm.btnOk->isEnabled());
    QTest::keyClick(AForm.lbAll, Qt::Key_Return);
    enterIgnored = AForm.isVisible();
    AForm.btnCancel->click();
  });
  QVERIFY(!ExecuteColumnsDialog(QStringLiteral("A|B"), QStringLiteral("A"), current, &storage));
  QVERIFY(when.Ran);
  QVERIFY2(offCentre.manhattanLength() <= 2, qPrintable(QStringLiteral("%1,%2").arg(offCentre.x()).arg(offCentre.y())));
  QVERIFY(enterIgnored);
  QVERIFY(!storage.KeyExist(kBoundsKey));
}

void TColumnsDialogTests::executeWithoutStorage() {
  // Without settings nothing is read or written; the choice still comes back.
  QString current = QStringLiteral("B");
  TWhenDialogShows when([](TFormColumnsCustomize& AForm) {
    TFormColumnsCustomize::SelectIndex(AForm.lbAll, 0);
    AForm.actToSelected->trigger();
    AForm.btnOk->click();
  });
  QVERIFY(ExecuteColumnsDialog(QStringLiteral("A|B"), QString(), current, nullptr));
  QVERIFY(when.Ran);
  QCOMPARE(current, QStringLiteral("B|A"));
}

QTEST_MAIN(TColumnsDialogTests)
#include "ColumnsDialogTests.moc"
