// Start-up of the viewer: the data module (command line, settings), the splash window unless
// "nosplash", the application-wide data and informer, the main window on them, the event loop.
// At exit the main window goes first, then the data it showed, then the data module, so what
// the window writes into the settings while closing is saved.
#include <QApplication>
#include <QMessageBox>
#include <algorithm>
#include <clocale>
#include <cstdio>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "CommandLine.h"
#include "DataModule.h"
#include "Globals.h"
#include "MainWindow.h"
#include "SplashWindow.h"

namespace {

constexpr const char* kProgramTitle = "Velloran Viewer";

// Qt has no top-level handler of its own: an error that escapes an event handler is shown
// here, and the window stays usable.
class TViewerApplication : public QApplication {
 public:
  using QApplication::QApplication;

  bool notify(QObject* AReceiver, QEvent* AEvent) override {
    try {
      return QApplication::notify(AReceiver, AEvent);
    } catch (const std::exception& error) {
      QMessageBox::critical(activeWindow(), kProgramTitle, QString::fromUtf8(error.what()));
    } catch (...) {
      QMessageBox::critical(activeWindow(), kProgramTitle, "An unknown error occurred.");
    }
    return false;
  }
};

}  // namespace

int main(int argc, char** argv) {
  // Usage and version go to the terminal, before any window (or display) is needed.
  const std::vector<std::string> rawArguments(argv + std::min(argc, 1), argv + argc);
  if (velloran::AsksForUsage(rawArguments)) {
    std::fputs(velloran::ViewerUsage().c_str(), stdout);
    return 0;
  }
  if (velloran::AsksForVersion(rawArguments)) {
    std::puts(velloran::ViewerVersionLine().c_str());
    return 0;
  }
  TViewerApplication application(argc, argv);
  // Qt sets the C library's locale from the environment; the settings' numbers and dates
  // follow it, as the storage expects.
  std::setlocale(LC_ALL, "");
  QApplication::setApplicationName("velloran-viewer");
  QApplication::setApplicationDisplayName(kProgramTitle);
  QApplication::setDesktopFileName("velloran-viewer");
  QApplication::setWindowIcon(velloran::ProgramIcon());

  std::vector<std::string> arguments;
  for (const QString& argument : QApplication::arguments().mid(1)) arguments.push_back(argument.toUtf8().toStdString());
  const auto report = [](const std::string& AMessage) {
    QMessageBox::warning(nullptr, kProgramTitle, QString::fromUtf8(AMessage));
  };
  auto dataModule = std::make_unique<velloran::Tdm>(arguments, report);

  velloran::TfrmSplash* splash = nullptr;
  if (dataModule->ShowSplash) {
    splash = new velloran::TfrmSplash();
    QApplication::setWindowIcon(splash->windowIcon());
    splash->show();
    splash->repaint();
    QApplication::processEvents();
  }
  int result = 0;
  velloran::InitGlobals(velloran::TrclInformerProgramKind::ipkGui);
  {
    velloran::TfrmMain mainWindow({*velloran::GlobalData, dataModule->rsStorage, dataModule->StartFile});
    mainWindow.SetSplash(splash);
    mainWindow.show();
    result = QApplication::exec();
  }
  velloran::DoneGlobals();
  dataModule.reset();
  return result;
}
