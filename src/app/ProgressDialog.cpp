#include "ProgressDialog.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QMainWindow>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QWindow>
#include <algorithm>
#include <cstdint>
#include <functional>
#include <string_view>
#include <utility>

#ifdef VELLORAN_HAVE_DBUS
#include <QDBusConnection>
#include <QDBusMessage>
#include <QVariantMap>
#endif

namespace velloran {

namespace {

// The dialog's result while it shows: none, or Cancel; Cancel is a value that no QDialog code
// sets (Accepted is 1), so only the button produces it.
constexpr int kResultNone = 0;
constexpr int kResultCancel = 2;

constexpr int kClientWidth = 250;  // the narrowest the form gets
// The title bar's own parts beside the title: the icon and the close, and on some desktops
// other, buttons.
constexpr int kTitleBarButtons = 120;
constexpr int kLabelHeight = 13, kBarHeight = 19, kButtonWidth = 75, kButtonHeight = 25, kGap = 8;

// The dialog window. Esc presses Cancel instead of rejecting, and closing (close box or
// Close) only hides the window and runs the close handler: the result must survive both,
// because the caller reads Canceled after the window has gone.
class TProgressForm : public QDialog {
 public:
  TProgressForm() : QDialog(nullptr, Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint) {}

  QPushButton* CancelButton = nullptr;
  std::function<void()> OnClose;

 protected:
  void keyPressEvent(QKeyEvent* AEvent) override {
    if (AEvent->matches(QKeySequence::Cancel)) {
      if (CancelButton != nullptr && CancelButton->isEnabled()) CancelButton->click();
      AEvent->accept();
      return;
    }
    QDialog::keyPressEvent(AEvent);
  }

  void closeEvent(QCloseEvent* AEvent) override {
    AEvent->accept();  // QWidget::close hides the window once the event is accepted
    if (OnClose) OnClose();
  }
};

// The window the dialog is centred on and kept above: the active window, else the first
// visible main window; null when there is neither.
QWidget* AnchorWindow(const QWidget* AForm) {
  QWidget* active = QApplication::activeWindow();
  if (active != nullptr && active != AForm) return active;
  for (QWidget* window : QApplication::topLevelWidgets())
    if (window != AForm && window->isVisible() && qobject_cast<QMainWindow*>(window) != nullptr) return window;
  return nullptr;
}

}  // namespace

TfrmProgressDialog::TfrmProgressDialog(QObject* AOwner) : QObject(AOwner) {
  auto* form = new TProgressForm();
  FForm = form;
  FForm->setModal(false);

  FMessageLabel = new QLabel(FForm);
  FMessageLabel->setAlignment(Qt::AlignCenter);
  FProgressBar = new QProgressBar(FForm);
  FProgressBar->setRange(0, 100);
  FProgressBar->setTextVisible(false);  // the bar alone, as the design has it
  FCancelButton = new QPushButton(QStringLiteral("Cancel"), FForm);
  form->CancelButton = FCancelButton;

  LayOut(kClientWidth);

  connect(FCancelButton, &QPushButton::clicked, FForm, [this] { FForm->setResult(kResultCancel); });
  form->OnClose = [this] { EnableOthers(); };
}

TfrmProgressDialog::~TfrmProgressDialog() {
  // Freed while still shown (a display ended by an error): give the windows back.
  EnableOthers();
  delete FForm;
}

void TfrmProgressDialog::SetCaption(const QString& AValue) {
  if (FForm == nullptr) return;
  FForm->setWindowTitle(AValue);
  LayOut(TitleWidth(AValue));
}

int TfrmProgressDialog::TitleWidth(const QString& ACaption) {
  // What the title bar shows: the platform appends the application's display name to a title
  // that does not already end with it (QPlatformWindow::formatWindowTitle, " \u2014 "), and
  // the title bar's buttons and icon take room of their own. Measured in the title bar font,
  // which the window system keeps to itself; Qt's stand-in for it is the MDI title bar font.
  QString title = ACaption;
  const QString program = QGuiApplication::applicationDisplayName();
  if (!program.isEmpty() && !title.endsWith(program)) {
    title += QStringLiteral(" \u2014 ");
    title += program;
  }
  const QFontMetrics metrics(QApplication::font("QMdiSubWindowTitleBar"));
  int width = std::max(kClientWidth, metrics.horizontalAdvance(title) + kTitleBarButtons);
  if (const QScreen* screen = QGuiApplication::primaryScreen())
    width = std::min(width, std::max(kClientWidth, screen->availableGeometry().width()));
  return width;
}

void TfrmProgressDialog::LayOut(int AWidth) {
  // The design's client area is 250 x 80 for a 13-pixel label; a taller font pushes the bar,
  // the button and the bottom edge down by as much, so nothing is clipped. A wider form (for
  // a long title) widens the label and the bar and keeps Cancel in the middle.
  const int labelHeight = std::max(kLabelHeight, FMessageLabel->fontMetrics().height());
  const int barTop = 6 + labelHeight + kGap;
  const int buttonTop = barTop + kBarHeight + kGap;
  FMessageLabel->setGeometry(4, 6, AWidth - 7, labelHeight);
  FProgressBar->setGeometry(4, barTop, AWidth - 7, kBarHeight);
  FCancelButton->setGeometry((AWidth - kButtonWidth) / 2, buttonTop, kButtonWidth, kButtonHeight);
  FForm->setFixedSize(AWidth, buttonTop + kButtonHeight + 1);
}

void TfrmProgressDialog::SetMessage(const QString& AValue) {
  if (FMessageLabel != nullptr) FMessageLabel->setText(AValue);
}

bool TfrmProgressDialog::Visible() const { return FForm != nullptr && FForm->isVisible(); }

void TfrmProgressDialog::SetVisible(bool AValue) {
  if (AValue == Visible()) return;
  if (!AValue) {
    FForm->hide();
    EnableOthers();
    return;
  }
  // The form is still hidden here, so DisableOthers leaves it alone.
  DisableOthers();
  PlaceOverAnchor();
  FForm->show();
  FForm->activateWindow();
  FForm->setResult(kResultNone);
  FCancelButton->setEnabled(true);
  FCancelButton->setFocus();
}

bool TfrmProgressDialog::Canceled() const { return FForm != nullptr && FForm->result() == kResultCancel; }

bool TfrmProgressDialog::SetPosition(int AValue) {
  const bool visible = Visible();
  if (!visible) return false;
  FProgressBar->setValue(AValue);
  // Any queued event runs here, including one that ends the display and frees this dialog.
  const QPointer<TfrmProgressDialog> alive(this);
  QCoreApplication::processEvents();
  if (alive != nullptr && Canceled()) Close();
  return visible;
}

void TfrmProgressDialog::Close() {
  if (FForm != nullptr) FForm->close();
}

void TfrmProgressDialog::PlaceOverAnchor() {
  const QWidget* anchor = AnchorWindow(FForm);
  QRect area;
  if (anchor != nullptr)
    area = anchor->frameGeometry();
  else if (const QScreen* screen = QGuiApplication::primaryScreen())
    area = screen->availableGeometry();
  if (!area.isValid()) return;
  // The native window first, so that its frame is known where the platform tells it early.
  FForm->winId();
  QRect frame = FForm->frameGeometry();
  frame.moveCenter(area.center());
  FForm->move(frame.topLeft());
  // Keeps the tool window above the window it belongs to, as a dialog with a parent would be;
  // a real parent is out of the question because disabling it would disable the dialog too.
  QWindow* handle = FForm->windowHandle();
  if (anchor != nullptr && handle != nullptr) handle->setTransientParent(anchor->windowHandle());
}

void TfrmProgressDialog::DisableOthers() {
  EnableOthers();  // a list left from an earlier showing is given back first
  for (QWidget* window : QApplication::topLevelWidgets()) {
    if (window == FForm || !window->isVisible() || !window->isEnabled()) continue;
    window->setEnabled(false);
    FDisabledWindows.emplace_back(window);
  }
  FDisabled = true;
}

void TfrmProgressDialog::EnableOthers() {
  if (!FDisabled) return;
  FDisabled = false;
  const std::vector<QPointer<QWidget>> windows = std::exchange(FDisabledWindows, {});
  for (const QPointer<QWidget>& window : windows)
    if (window != nullptr) window->setEnabled(true);  // a window destroyed meanwhile is skipped
}

// --- TTaskbarProgressIndicator ------------------------------------------------------------------

namespace {

constexpr char kLauncherAppUri[] = "application://velloran-viewer.desktop";

// The object path of the launcher entry only has to be stable and ours: the FNV-1a hash of the
// application URI.
constexpr uint32_t Fnv1a(std::string_view AText) {
  uint32_t hash = 2166136261u;
  for (const char c : AText) hash = (hash ^ static_cast<uint8_t>(c)) * 16777619u;
  return hash;
}

}  // namespace

TTaskbarProgressIndicator::TTaskbarProgressIndicator(QObject* AOwner) : QObject(AOwner) {}

TTaskbarProgressIndicator::~TTaskbarProgressIndicator() {
  if (FShownProgress) Send(false, 0);
}

void TTaskbarProgressIndicator::SetMin(int AValue) {
  if (AValue == FMin) return;
  FMin = AValue;
  if (FMin > FMax) FMax = FMin;
  UpdateTaskbar();
}

void TTaskbarProgressIndicator::SetMax(int AValue) {
  if (AValue == FMax) return;
  FMax = AValue;
  if (FMax < FMin) FMin = FMax;
  UpdateTaskbar();
}

void TTaskbarProgressIndicator::SetPosition(int AValue) {
  if (AValue == FPosition) return;
  FPosition = AValue;
  UpdateTaskbar();
}

void TTaskbarProgressIndicator::SetSmooth(bool AValue) {
  if (AValue == FSmooth) return;
  FSmooth = AValue;
  UpdateTaskbar();
}

void TTaskbarProgressIndicator::SetSmoothReverse(bool AValue) {
  if (AValue == FSmoothReverse) return;
  FSmoothReverse = AValue;
  UpdateTaskbar();
}

void TTaskbarProgressIndicator::SetProgressBarState(TTaskbarProgressState AValue) {
  if (AValue == FProgressBarState) return;
  FProgressBarState = AValue;
  UpdateTaskbar();
}

void TTaskbarProgressIndicator::SetMarqueeEnabled(bool AValue) {
  if (AValue == FMarqueeEnabled) return;
  FMarqueeEnabled = AValue;
  UpdateTaskbar();
}

void TTaskbarProgressIndicator::SetShowInTaskbar(bool AValue) {
  if (AValue == FShowInTaskbar) return;
  FShowInTaskbar = AValue;
  UpdateTaskbar();
}

void TTaskbarProgressIndicator::StepIt() {
  FPosition += FStep;
  UpdateTaskbar();
}

void TTaskbarProgressIndicator::StepBy(int ADelta) {
  FPosition += ADelta;
  UpdateTaskbar();
}

double TTaskbarProgressIndicator::Fraction() const {
  if (FMax == FMin) return 0;
  const double done = static_cast<double>(int64_t{FPosition} - FMin) / static_cast<double>(int64_t{FMax} - FMin);
  return std::clamp(done, 0.0, 1.0);
}

void TTaskbarProgressIndicator::UpdateTaskbar() {
  if (!FShowInTaskbar) {
    Send(false, 0);
    return;
  }
  switch (FProgressBarState) {
    case pbstMarquee:
      // The launcher entry has no indeterminate form: a marquee is a bar shown without a value.
      Send(FMarqueeEnabled, 0);
      return;
    case pbstNormal:
    case pbstError:
    case pbstPaused:
      // Nor has it an error or a paused colour: those states show their value like a normal one.
      Send(true, Fraction());
      return;
  }
}

void TTaskbarProgressIndicator::Send(bool AVisible, double AFraction) {
  FShownProgress = AVisible;
  FShownFraction = AFraction;
#ifdef VELLORAN_HAVE_DBUS
  if (QCoreApplication::instance() == nullptr) return;  // D-Bus needs the application object
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) return;  // no session bus, no launcher to tell
  QDBusMessage update =
      QDBusMessage::createSignal(QStringLiteral("/com/canonical/unity/launcherentry/%1").arg(Fnv1a(kLauncherAppUri)),
                                 QStringLiteral("com.canonical.Unity.LauncherEntry"), QStringLiteral("Update"));
  update << QString::fromLatin1(kLauncherAppUri)
         << QVariantMap{{QStringLiteral("progress"), AFraction}, {QStringLiteral("progress-visible"), AVisible}};
  bus.send(update);
#endif
}

}  // namespace velloran
