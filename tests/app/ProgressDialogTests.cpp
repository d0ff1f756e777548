// The progress dialog (layout, showing and hiding with the other windows, the event pump of
// SetPosition, Cancel, Esc and the close box) and the launcher progress of the taskbar
// indicator, the latter also on the wire: a private session bus is started for these tests.
#include <QApplication>
#include <QDialog>
#include <QFontMetrics>
#include <QLabel>
#include <QMainWindow>
#include <QPointer>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QScopeGuard>
#include <QScreen>
#include <QStandardPaths>
#include <QtTest>
#include <algorithm>
#include <functional>
#include <memory>

#include "ProgressDialog.h"

#ifdef VELLORAN_HAVE_DBUS
#include <QDBusConnection>
#include <QDBusMessage>
#endif

using namespace velloran;

namespace {

// Counts how often a window's enabled state changes.
class TEnabledChangeCounter : public QObject {
 public:
  explicit TEnabledChangeCounter(QWidget* AWindow) { AWindow->installEventFilter(this); }
  int Count = 0;

 protected:
  bool eventFilter(QObject*, QEvent* AEvent) override {
    if (AEvent->type() == QEvent::EnabledChange) ++Count;
    return false;
  }
};

// Records the launcher-entry signals seen on the bus.
class TLauncherObserver : public QObject {
  Q_OBJECT
 public:
  struct TUpdate {
    QString Path, Uri;
    QVariantMap Properties;
  };
  QList<TUpdate> Updates;

#ifdef VELLORAN_HAVE_DBUS
 public slots:
  void Update(const QString& AUri, const QVariantMap& AProperties, const QDBusMessage& AMessage) {
    Updates.append({AMessage.path(), AUri, AProperties});
  }
#endif
};

QMainWindow* NewMainWindow(QRect AGeometry = QRect(100, 100, 600, 400)) {
  auto* window = new QMainWindow();
  window->setGeometry(AGeometry);
  window->show();
  return window;
}

}  // namespace

class TProgressTests : public QObject {
  Q_OBJECT
 private slots:
  void initTestCase();
  void cleanupTestCase();
  void cleanup();

  // dialog
  void layoutOfTheDialog();
  void theFormIsWideEnoughForItsTitle_data();
  void theFormIsWideEnoughForItsTitle();
  void showingCentresOnTheMainWindowAndFocusesCancel();
  void setPositionPumpsEventsOnlyWhenVisible();
  void cancelClosesAtTheNextPositionUntilShownAgain_data();
  void cancelClosesAtTheNextPositionUntilShownAgain();
  void closeBoxEnablesTheOthersWithoutCancelling();
  void showingTwiceDisablesOnceHidingTwiceEnablesOnce();
  void onlyVisibleEnabledWindowsAreDisabledAndDestroyedOnesSkipped();
  void freeingTheDialogWhileShownGivesTheWindowsBack();
  void anEventThatFreesTheDialogDuringSetPosition();

  // taskbar indicator
  void indicatorDefaultsAndStep();
  void minAndMaxKeepTheRangeOrdered_data();
  void minAndMaxKeepTheRangeOrdered();
  void shownFraction_data();
  void shownFraction();
  void statesShowOrHideTheBar_data();
  void statesShowOrHideTheBar();
  void launcherSignalCarriesTheProgress();
  void hiddenIndicatorClearsTheLauncherOnEveryChange();
  void destructionClearsOnlyWhatWasShown();

 private:
  std::unique_ptr<TfrmProgressDialog> NewDialog();
  // Waits until the observer has seen ACount updates; false when the bus is missing.
  bool WaitForUpdates(qsizetype ACount);
  // Lets the signals still on their way arrive, then forgets all seen.
  void DrainUpdates();

  QProcess FBus;
  bool FHaveBus = false;
  TLauncherObserver FObserver;
};

void TProgressTests::initTestCase() {
#ifdef VELLORAN_HAVE_DBUS
  // A private session bus, so the launcher signal can be watched; it must exist before the
  // first use of QDBusConnection::sessionBus, which reads the address once.
  const QString daemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
  if (daemon.isEmpty()) return;
  FBus.start(daemon, {QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--print-address=1")});
  if (!FBus.waitForStarted() || !FBus.waitForReadyRead(10000)) return;
  const QString address = QString::fromUtf8(FBus.readLine()).trimmed();
  qputenv("DBUS_SESSION_BUS_ADDRESS", address.toUtf8());
  QDBusConnection observer = QDBusConnection::connectToBus(address, QStringLiteral("observer"));
  QVERIFY(observer.isConnected());
  QVERIFY(observer.connect(QString(), QString(), QStringLiteral("com.canonical.Unity.LauncherEntry"), QStringLiteral("Update"),
                           &FObserver, SLOT(Update(QString, QVariantMap, QDBusMessage))));
  QVERIFY(QDBusConnection::sessionBus().isConnected());
  FHaveBus = true;
#endif
}

void TProgressTests::cleanupTestCase() {
#ifdef VELLORAN_HAVE_DBUS
  QDBusConnection::disconnectFromBus(QStringLiteral("observer"));
#endif
  if (FBus.state() != QProcess::NotRunning) {
    FBus.terminate();
    FBus.waitForFinished(5000);
  }
}

void TProgressTests::cleanup() {
  qDeleteAll(QApplication::topLevelWidgets());
  DrainUpdates();
}

std::unique_ptr<TfrmProgressDialog> TProgressTests::NewDialog() {
  auto dialog = std::make_unique<TfrmProgressDialog>();
  dialog->SetCaption(QStringLiteral("Loading"));
  dialog->SetMessage(QStringLiteral("Loading data, please wait..."));
  return dialog;
}

void TProgressTests::DrainUpdates() {
#ifdef VELLORAN_HAVE_DBUS
  // The indicators send on the session bus connection; a marker sent on it after them arrives
  // after theirs.
  if (FHaveBus) {
    const QString marker = QStringLiteral("test:drained");
    QDBusMessage update = QDBusMessage::createSignal(QStringLiteral("/test"), QStringLiteral("com.canonical.Unity.LauncherEntry"),
                                                     QStringLiteral("Update"));
    update << marker << QVariantMap();
    QVERIFY(QDBusConnection::sessionBus().send(update));
    QVERIFY(QTest::qWaitFor([&] { return !FObserver.Updates.isEmpty() && FObserver.Updates.last().Uri == marker; }, 5000));
  }
#endif
  FObserver.Updates.clear();
}

bool TProgressTests::WaitForUpdates(qsizetype ACount) {
  if (!FHaveBus) return false;
  return QTest::qWaitFor([&] { return FObserver.Updates.size() >= ACount; }, 5000) && FObserver.Updates.size() == ACount;
}

// --- dialog ---------------------------------------------------------------------------------------

void TProgressTests::layoutOfTheDialog() {
  auto dialog = NewDialog();
  QDialog* form = dialog->Form();
  auto* label = form->findChild<QLabel*>();
  auto* bar = form->findChild<QProgressBar*>();
  auto* cancel = form->findChild<QPushButton*>();
  QVERIFY(label && bar && cancel);

  QCOMPARE(form->windowTitle(), QStringLiteral("Loading"));
  QCOMPARE(label->text(), QStringLiteral("Loading data, please wait..."));
  QVERIFY(label->alignment() & Qt::AlignHCenter);
  QCOMPARE(cancel->text(), QStringLiteral("Cancel"));
  QCOMPARE(bar->minimum(), 0);
  QCOMPARE(bar->maximum(), 100);

  // The design positions; a font taller than 13 pixels moves everything under the label down,
  // a form wider than the design's 250 pixels (for its title) widens the label and the bar.
  const int grow = label->height() - 13;
  QVERIFY(grow >= 0);
  const int width = form->width();
  QVERIFY(width >= 250);
  QCOMPARE(label->geometry(), QRect(4, 6, width - 7, 13 + grow));
  QCOMPARE(bar->geometry(), QRect(4, 27 + grow, width - 7, 19));
  QCOMPARE(cancel->geometry(), QRect((width - 75) / 2, 54 + grow, 75, 25));
  QCOMPARE(form->minimumSize(), QSize(width, 80 + grow));
  QCOMPARE(form->maximumSize(), form->minimumSize());

  QCOMPARE(form->windowType(), Qt::Tool);
  QVERIFY(form->windowFlags() & Qt::WindowCloseButtonHint);
  QVERIFY(!form->isModal());
}

void TProgressTests::theFormIsWideEnoughForItsTitle_data() {
  QTest::addColumn<QString>("caption");
  QTest::newRow("short") << "Load";
  QTest::newRow("usual") << "Loading";
  QTest::newRow("long") << "Exporting 1,234,567 records of the accounting log to a file";
  QTest::newRow("already ends with the program's name") << "Loading \u2014 Velloran Viewer";
  QTest::newRow("wider than the screen") << QStringLiteral("Loading ").repeated(200);
}

void TProgressTests::theFormIsWideEnoughForItsTitle() {
  QFETCH(QString, caption);
  // The title bar shows "<caption> \u2014 <display name>" (the platform appends the name unless
  // the caption ends with it) in its own font, beside its buttons; the form must leave room for
  // all of it, but for no more than that and not beyond the screen.
  const QString program = QGuiApplication::applicationDisplayName();
  QGuiApplication::setApplicationDisplayName(QStringLiteral("Velloran Viewer"));
  const auto restore = qScopeGuard([&program] { QGuiApplication::setApplicationDisplayName(program); });
  const QString title =
      caption.endsWith(QStringLiteral("Velloran Viewer")) ? caption : caption + QStringLiteral(" \u2014 Velloran Viewer");
  const int titleBar = QFontMetrics(QApplication::font("QMdiSubWindowTitleBar")).horizontalAdvance(title) + 120;
  const int screen = QGuiApplication::primaryScreen()->availableGeometry().width();
  const int least = std::min(std::max(250, titleBar), screen);

  auto dialog = NewDialog();
  const int usual = dialog->Form()->width();  // for "Loading"
  dialog->SetCaption(caption);
  QDialog* form = dialog->Form();
  QCOMPARE(form->windowTitle(), caption);
  const int width = form->width();
  QVERIFY2(width >= least, qPrintable(QStringLiteral("%1 < %2").arg(width).arg(least)));
  // Little more: a doubled program name or a fixed wide form would show here.
  QVERIFY2(width <= std::max(250, least + 40), qPrintable(QString::number(width)));
  QVERIFY(width <= screen);
  QCOMPARE(form->minimumSize(), form->maximumSize());
  // Everything follows the width.
  auto* bar = form->findChild<QProgressBar*>();
  auto* cancel = form->findChild<QPushButton*>();
  QCOMPARE(bar->width(), width - 7);
  QVERIFY(qAbs(cancel->geometry().center().x() - width / 2) <= 1);
  dialog->SetVisible(true);
  QCOMPARE(form->width(), width);

  // The caption of before afterwards gives the width of before.
  dialog->SetVisible(false);
  dialog->SetCaption(QStringLiteral("Loading"));
  QCOMPARE(form->width(), usual);
}

void TProgressTests::showingCentresOnTheMainWindowAndFocusesCancel() {
  QMainWindow* main = NewMainWindow(QRect(300, 200, 640, 480));
  QVERIFY(QTest::qWaitForWindowExposed(main));
  auto dialog = NewDialog();
  dialog->SetVisible(true);
  QVERIFY(dialog->Visible());
  QVERIFY(!main->isEnabled());
  QVERIFY(dialog->Form()->isEnabled());
  const QPoint offset = dialog->Form()->frameGeometry().center() - main->frameGeometry().center();
  QVERIFY2(offset.manhattanLength() <= 2, qPrintable(QStringLiteral("off by %1,%2").arg(offset.x()).arg(offset.y())));
  auto* cancel = dialog->Form()->findChild<QPushButton*>();
  QTRY_VERIFY(cancel->hasFocus());
}

void TProgressTests::setPositionPumpsEventsOnlyWhenVisible() {
  auto dialog = NewDialog();
  auto* bar = dialog->Form()->findChild<QProgressBar*>();
  bool fired = false;
  QTimer::singleShot(0, this, [&fired] { fired = true; });

  QCOMPARE(dialog->SetPosition(40), false);
  QVERIFY(!fired);
  QCOMPARE(bar->value(), bar->minimum() - 1);  // a fresh QProgressBar: "no value yet"
  QVERIFY(!dialog->Visible());

  dialog->SetVisible(true);
  QCOMPARE(dialog->SetPosition(40), true);
  QVERIFY(fired);
  QCOMPARE(bar->value(), 40);
  QVERIFY(dialog->Visible());
  QVERIFY(!dialog->Canceled());
}

void TProgressTests::cancelClosesAtTheNextPositionUntilShownAgain_data() {
  QTest::addColumn<bool>("byEscape");
  QTest::newRow("Cancel button") << false;
  QTest::newRow("Esc") << true;
}

void TProgressTests::cancelClosesAtTheNextPositionUntilShownAgain() {
  QFETCH(bool, byEscape);
  QMainWindow* main = NewMainWindow();
  auto dialog = NewDialog();
  dialog->SetVisible(true);
  dialog->SetPosition(10);
  auto* cancel = dialog->Form()->findChild<QPushButton*>();
  if (byEscape)
    QTest::keyClick(cancel, Qt::Key_Escape);  // the focused button passes Esc on to the dialog
  else
    QTest::mouseClick(cancel, Qt::LeftButton);

  // Pressing Cancel only marks the dialog; the progress step closes it.
  QVERIFY(dialog->Canceled());
  QVERIFY(dialog->Visible());
  QVERIFY(!main->isEnabled());

  QCOMPARE(dialog->SetPosition(20), true);
  QVERIFY(dialog->Canceled());
  QVERIFY(!dialog->Visible());
  QVERIFY(main->isEnabled());
  QCOMPARE(dialog->SetPosition(30), false);
  QVERIFY(dialog->Canceled());

  dialog->SetVisible(true);
  QVERIFY(!dialog->Canceled());
  QVERIFY(!main->isEnabled());
  QVERIFY(cancel->isEnabled());
  dialog->SetPosition(40);
  QVERIFY(dialog->Visible());
}

void TProgressTests::closeBoxEnablesTheOthersWithoutCancelling() {
  QMainWindow* main = NewMainWindow();
  auto dialog = NewDialog();
  dialog->SetVisible(true);
  QVERIFY(!main->isEnabled());

  QVERIFY(dialog->Form()->close());  // what the close box does
  QVERIFY(main->isEnabled());
  QVERIFY(!dialog->Visible());
  QVERIFY(!dialog->Canceled());

  bool fired = false;
  QTimer::singleShot(0, this, [&fired] { fired = true; });
  QCOMPARE(dialog->SetPosition(50), false);
  QVERIFY(!fired);
  QVERIFY(!dialog->Canceled());

  // The display's end still hides it: the windows are not enabled a second time.
  TEnabledChangeCounter changes(main);
  dialog->SetVisible(false);
  QCOMPARE(changes.Count, 0);
}

void TProgressTests::showingTwiceDisablesOnceHidingTwiceEnablesOnce() {
  QMainWindow* main = NewMainWindow();
  TEnabledChangeCounter changes(main);
  auto dialog = NewDialog();

  dialog->SetVisible(true);
  dialog->SetVisible(true);
  QCOMPARE(changes.Count, 1);
  QVERIFY(!main->isEnabled());

  dialog->SetVisible(false);
  dialog->SetVisible(false);
  QCOMPARE(changes.Count, 2);
  QVERIFY(main->isEnabled());
}

void TProgressTests::onlyVisibleEnabledWindowsAreDisabledAndDestroyedOnesSkipped() {
  QMainWindow* main = NewMainWindow();
  auto* doomed = new QWidget();
  doomed->show();
  auto* hidden = new QWidget();
  auto* disabledByOthers = new QWidget();
  disabledByOthers->setEnabled(false);
  disabledByOthers->show();

  auto dialog = NewDialog();
  dialog->SetVisible(true);
  QVERIFY(!main->isEnabled());
  QVERIFY(!doomed->isEnabled());
  QVERIFY(hidden->isEnabled());

  delete doomed;
  hidden->show();  // appeared during the display: not ours to enable or disable
  dialog->SetVisible(false);
  QVERIFY(main->isEnabled());
  QVERIFY(hidden->isEnabled());
  QVERIFY(!disabledByOthers->isEnabled());
}

void TProgressTests::freeingTheDialogWhileShownGivesTheWindowsBack() {
  QMainWindow* main = NewMainWindow();
  auto* dialog = new TfrmProgressDialog();
  dialog->SetVisible(true);
  QVERIFY(!main->isEnabled());
  delete dialog;
  QVERIFY(main->isEnabled());
}

void TProgressTests::anEventThatFreesTheDialogDuringSetPosition() {
  QMainWindow* main = NewMainWindow();
  auto* dialog = new TfrmProgressDialog();
  QPointer<TfrmProgressDialog> watch(dialog);
  dialog->SetVisible(true);
  QTest::mouseClick(dialog->Form()->findChild<QPushButton*>(), Qt::LeftButton);
  // As the main window does when an error ends the display inside a progress step.
  QTimer::singleShot(0, this, [dialog] { delete dialog; });
  QCOMPARE(dialog->SetPosition(60), true);
  QVERIFY(watch.isNull());
  QVERIFY(main->isEnabled());
}

// --- taskbar indicator ----------------------------------------------------------------------------

void TProgressTests::indicatorDefaultsAndStep() {
  TTaskbarProgressIndicator indicator;
  QCOMPARE(indicator.Min(), 0);
  QCOMPARE(indicator.Max(), 100);
  QCOMPARE(indicator.Position(), 0);
  QCOMPARE(indicator.Step(), 10);
  QCOMPARE(indicator.ProgressBarState(), pbstNormal);
  QVERIFY(!indicator.ShowInTaskbar() && !indicator.Smooth() && !indicator.SmoothReverse() && !indicator.MarqueeEnabled());
  QVERIFY(!indicator.ShownProgress());

  indicator.SetShowInTaskbar(true);
  indicator.SetStep(25);
  QCOMPARE(indicator.Position(), 0);  // Step only stores
  indicator.StepIt();
  indicator.StepIt();
  QCOMPARE(indicator.Position(), 50);
  QCOMPARE(indicator.ShownFraction(), 0.5);
  indicator.StepBy(-20);
  QCOMPARE(indicator.Position(), 30);
  QCOMPARE(indicator.ShownFraction(), 0.3);
}

void TProgressTests::minAndMaxKeepTheRangeOrdered_data() {
  QTest::addColumn<int>("min");
  QTest::addColumn<int>("max");
  QTest::addColumn<bool>("setMin");
  QTest::addColumn<int>("value");
  QTest::addColumn<int>("expectedMin");
  QTest::addColumn<int>("expectedMax");
  QTest::newRow("Min above Max raises Max") << 0 << 20 << true << 50 << 50 << 50;
  QTest::newRow("Min inside the range") << 0 << 100 << true << 10 << 10 << 100;
  QTest::newRow("Min equal to Max") << 0 << 20 << true << 20 << 20 << 20;
  QTest::newRow("Max below Min lowers Min") << 30 << 100 << false << -5 << -5 << -5;
  QTest::newRow("Max inside the range") << 30 << 100 << false << 60 << 30 << 60;
}

void TProgressTests::minAndMaxKeepTheRangeOrdered() {
  QFETCH(int, min);
  QFETCH(int, max);
  QFETCH(bool, setMin);
  QFETCH(int, value);
  TTaskbarProgressIndicator indicator;
  indicator.SetMax(max);
  indicator.SetMin(min);
  QCOMPARE(indicator.Min(), min);
  QCOMPARE(indicator.Max(), max);
  if (setMin)
    indicator.SetMin(value);
  else
    indicator.SetMax(value);
  QTEST(indicator.Min(), "expectedMin");
  QTEST(indicator.Max(), "expectedMax");
}

void TProgressTests::shownFraction_data() {
  QTest::addColumn<int>("min");
  QTest::addColumn<int>("max");
  QTest::addColumn<int>("position");
  QTest::addColumn<double>("fraction");
  QTest::newRow("start") << 0 << 100 << 0 << 0.0;
  QTest::newRow("middle") << 0 << 100 << 42 << 0.42;
  QTest::newRow("end") << 0 << 100 << 100 << 1.0;
  QTest::newRow("offset range") << 50 << 150 << 100 << 0.5;
  QTest::newRow("empty range") << 10 << 10 << 10 << 0.0;
  QTest::newRow("beyond Max") << 0 << 100 << 150 << 1.0;
  QTest::newRow("below Min") << 0 << 100 << -20 << 0.0;
  QTest::newRow("whole int range") << -2147483647 - 1 << 2147483647 << 0 << 0.5;
}

void TProgressTests::shownFraction() {
  QFETCH(int, min);
  QFETCH(int, max);
  QFETCH(int, position);
  QFETCH(double, fraction);
  TTaskbarProgressIndicator indicator;
  indicator.SetShowInTaskbar(true);
  indicator.SetMax(max);
  indicator.SetMin(min);
  indicator.SetPosition(position);
  QVERIFY(indicator.ShownProgress());
  QVERIFY2(qAbs(indicator.ShownFraction() - fraction) < 1e-9, qPrintable(QString::number(indicator.ShownFraction())));
}

void TProgressTests::statesShowOrHideTheBar_data() {
  QTest::addColumn<int>("state");
  QTest::addColumn<bool>("marquee");
  QTest::addColumn<bool>("shown");
  QTest::addColumn<double>("fraction");
  QTest::newRow("normal") << int(pbstNormal) << false << true << 0.3;
  QTest::newRow("error shows its value") << int(pbstError) << false << true << 0.3;
  QTest::newRow("paused shows its value") << int(pbstPaused) << false << true << 0.3;
  QTest::newRow("marquee switched off") << int(pbstMarquee) << false << false << 0.0;
  QTest::newRow("marquee") << int(pbstMarquee) << true << true << 0.0;
}

void TProgressTests::statesShowOrHideTheBar() {
  QFETCH(int, state);
  QFETCH(bool, marquee);
  TTaskbarProgressIndicator indicator;
  indicator.SetPosition(30);
  indicator.SetShowInTaskbar(true);
  indicator.SetProgressBarState(static_cast<TTaskbarProgressState>(state));
  indicator.SetMarqueeEnabled(marquee);
  QTEST(indicator.ShownProgress(), "shown");
  QTEST(indicator.ShownFraction(), "fraction");
}

void TProgressTests::launcherSignalCarriesTheProgress() {
  if (!FHaveBus) QSKIP("no dbus-daemon to start a private session bus");
  auto indicator = std::make_unique<TTaskbarProgressIndicator>();
  indicator->SetShowInTaskbar(true);
  indicator->SetPosition(25);
  QVERIFY(WaitForUpdates(2));
  const TLauncherObserver::TUpdate update = FObserver.Updates.last();
  QVERIFY2(update.Path.startsWith(QStringLiteral("/com/canonical/unity/launcherentry/")), qPrintable(update.Path));
  QCOMPARE(update.Uri, QStringLiteral("application://velloran-viewer.desktop"));
  QCOMPARE(update.Properties.value(QStringLiteral("progress-visible")), QVariant(true));
  QCOMPARE(update.Properties.value(QStringLiteral("progress")), QVariant(0.25));

  indicator.reset();
  QVERIFY(WaitForUpdates(3));
  QCOMPARE(FObserver.Updates.last().Path, update.Path);  // one entry, whatever the object
  QCOMPARE(FObserver.Updates.last().Properties.value(QStringLiteral("progress-visible")), QVariant(false));
}

void TProgressTests::hiddenIndicatorClearsTheLauncherOnEveryChange() {
  if (!FHaveBus) QSKIP("no dbus-daemon to start a private session bus");
  TTaskbarProgressIndicator indicator;
  const std::vector<std::function<void()>> changes = {
      [&] { indicator.SetPosition(40); },
      [&] { indicator.SetMin(10); },
      [&] { indicator.SetMax(90); },
      [&] { indicator.SetSmooth(true); },
      [&] { indicator.SetSmoothReverse(true); },
      [&] { indicator.SetProgressBarState(pbstPaused); },
      [&] { indicator.SetMarqueeEnabled(true); },
      [&] { indicator.StepIt(); },
      [&] { indicator.StepBy(5); },
  };
  for (size_t i = 0; i < changes.size(); ++i) {
    changes[i]();
    QVERIFY2(WaitForUpdates(qsizetype(i + 1)), qPrintable(QString::number(i)));
    QCOMPARE(FObserver.Updates.last().Properties.value(QStringLiteral("progress-visible")), QVariant(false));
  }
  indicator.SetStep(3);                         // stores only: nothing is sent
  indicator.SetPosition(indicator.Position());  // unchanged: nothing is sent
  indicator.SetShowInTaskbar(true);
  QVERIFY(WaitForUpdates(qsizetype(changes.size() + 1)));
  QCOMPARE(FObserver.Updates.last().Properties.value(QStringLiteral("progress-visible")), QVariant(true));
}

void TProgressTests::destructionClearsOnlyWhatWasShown() {
  if (!FHaveBus) QSKIP("no dbus-daemon to start a private session bus");
  {
    TTaskbarProgressIndicator silent;
    silent.SetStep(5);
  }
  {
    TTaskbarProgressIndicator hidden;
    hidden.SetPosition(10);  // sends "not visible" once, while ShowInTaskbar is false
  }
  // Messages of one connection arrive in order: a marker sent last proves nothing else came.
  TTaskbarProgressIndicator marker;
  marker.SetShowInTaskbar(true);
  QVERIFY(WaitForUpdates(2));
  QCOMPARE(FObserver.Updates[0].Properties.value(QStringLiteral("progress-visible")), QVariant(false));
  QCOMPARE(FObserver.Updates[1].Properties.value(QStringLiteral("progress-visible")), QVariant(true));
}

QTEST_MAIN(TProgressTests)
#include "ProgressDialogTests.moc"
