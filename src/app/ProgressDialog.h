// The progress display of long work on the GUI thread: a small modeless dialog with a message,
// a bar and Cancel that disables the other windows and lets pending events run at every step;
// and the progress on the program's launcher button.
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QWidget>
#include <vector>

class QDialog;
class QLabel;
class QProgressBar;
class QPushButton;

namespace velloran {

class TfrmProgressDialog : public QObject {
  Q_OBJECT
 public:
  explicit TfrmProgressDialog(QObject* AOwner = nullptr);
  ~TfrmProgressDialog() override;

  // The window title; the form widens so that the title bar shows it whole (never narrower
  // than the design's 250 pixels, never wider than the screen).
  void SetCaption(const QString& AValue);
  void SetMessage(const QString& AValue);
  bool Visible() const;
  // True: disables every other visible, enabled top-level window and shows the dialog
  // (modeless), with Cancel reset. False: hides it and enables those windows again.
  void SetVisible(bool AValue);
  // Whether the user pressed Cancel (or Esc) since the dialog was last made visible.
  bool Canceled() const;
  // When visible: the bar shows AValue, pending events run, and a cancelled dialog closes.
  // Returns the visibility at the start.
  virtual bool SetPosition(int AValue);
  virtual void Close();

  QDialog* Form() const { return FForm; }  // for tests and for centring

 private:
  // Centres the (hidden) form on the active or main window, or on the screen without one.
  void PlaceOverAnchor();
  // The form's width for ACaption: the title as the title bar shows it, with the program's
  // name the platform appends, plus room for the title bar's buttons.
  static int TitleWidth(const QString& ACaption);
  // Places the label, the bar and Cancel for a form AWidth wide and fixes the form's size.
  void LayOut(int AWidth);
  // Disables every other visible, enabled top-level window and remembers it; the form itself
  // is hidden at that point and stays enabled.
  void DisableOthers();
  // Enables the remembered windows again (those still alive) and forgets them; the form's close
  // handler, so it runs however the form is closed.
  void EnableOthers();

  QDialog* FForm = nullptr;
  QProgressBar* FProgressBar = nullptr;
  QPushButton* FCancelButton = nullptr;
  QLabel* FMessageLabel = nullptr;
  std::vector<QPointer<QWidget>> FDisabledWindows;
  bool FDisabled = false;  // DisableOthers ran and EnableOthers has not yet
};

enum TTaskbarProgressState { pbstMarquee, pbstNormal, pbstError, pbstPaused };

// Progress on the program's button in the task bar or dock: on Linux the freedesktop
// launcher-entry D-Bus signal (com.canonical.Unity.LauncherEntry), which KDE, Ubuntu's dock
// and others show; nothing where Qt has no D-Bus module or no session bus.
class TTaskbarProgressIndicator : public QObject {
  Q_OBJECT
 public:
  explicit TTaskbarProgressIndicator(QObject* AOwner = nullptr);
  // Takes the progress off the button when it showed some.
  ~TTaskbarProgressIndicator() override;

  int Min() const { return FMin; }
  void SetMin(int AValue);
  int Max() const { return FMax; }
  void SetMax(int AValue);
  int Position() const { return FPosition; }
  void SetPosition(int AValue);
  int Step() const { return FStep; }
  void SetStep(int AValue) { FStep = AValue; }
  bool Smooth() const { return FSmooth; }
  void SetSmooth(bool AValue);
  bool SmoothReverse() const { return FSmoothReverse; }
  void SetSmoothReverse(bool AValue);
  TTaskbarProgressState ProgressBarState() const { return FProgressBarState; }
  void SetProgressBarState(TTaskbarProgressState AValue);
  bool MarqueeEnabled() const { return FMarqueeEnabled; }
  void SetMarqueeEnabled(bool AValue);
  bool ShowInTaskbar() const { return FShowInTaskbar; }
  void SetShowInTaskbar(bool AValue);
  void StepIt();
  void StepBy(int ADelta);

  // What the button was last told: progress shown, and its fraction 0..1 (for tests).
  bool ShownProgress() const { return FShownProgress; }
  double ShownFraction() const { return FShownFraction; }

 private:
  // (Position - Min) / (Max - Min) within 0..1; 0 for an empty range.
  double Fraction() const;
  void UpdateTaskbar();
  // Records what the button shows and tells the launcher over the session bus, when there is one.
  void Send(bool AVisible, double AFraction);

  int FMin = 0, FMax = 100, FPosition = 0, FStep = 10;
  bool FSmooth = false, FSmoothReverse = false;
  TTaskbarProgressState FProgressBarState = pbstNormal;
  bool FMarqueeEnabled = false, FShowInTaskbar = false;
  bool FShownProgress = false;
  double FShownFraction = 0;
};

}  // namespace velloran
