// What the viewer's window tests share: a main window on fresh data in a temporary folder that
// is also the user's configuration and cache folder, with the errors and notices it shows
// recorded instead of shown.
#pragma once

#include <QObject>
#include <QSize>
#include <QStringList>
#include <QtTest>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "DataModule.h"
#include "LogData.h"
#include "MainWindow.h"
#include "TestFiles.h"

namespace velloran::test {

class TWindowTestBase : public QObject {
 protected:
  std::unique_ptr<TTempDir> FDir;
  std::unique_ptr<Tdm> FDataModule;
  std::unique_ptr<TData> FData;
  std::unique_ptr<TfrmMain> FWindow;
  QStringList FErrors;
  QStringList FNotices;
  QSize FWindowSize;  // empty: the window's own size

  // For the test class's init slot.
  void SetUpWindow() {
    FDir = std::make_unique<TTempDir>();
    ::setenv("XDG_CONFIG_HOME", FDir->File("config").c_str(), 1);
    ::setenv("XDG_CACHE_HOME", FDir->File("cache").c_str(), 1);  // saved line indexes
    FDataModule = std::make_unique<Tdm>(std::vector<std::string>{"nosplash"}, nullptr, FDir->File("data"));
    FErrors.clear();
    FNotices.clear();
    NewWindow();
  }
  // For the test class's cleanup slot.
  void TearDownWindow() {
    FWindow.reset();
    FData.reset();
    FDataModule.reset();
    FDir.reset();
  }
  void NewWindow() {
    FWindow.reset();
    FData = std::make_unique<TData>();
    FWindow = std::make_unique<TfrmMain>(TMainWindowContext{*FData, FDataModule->rsStorage, {}}, nullptr,
                                         [this](const QString& AMessage) { FErrors << AMessage; });
    FWindow->ShowNotice = [this](const QString& AMessage) { FNotices << AMessage; };
    if (!FWindowSize.isEmpty()) FWindow->resize(FWindowSize);
    FWindow->show();
    QVERIFY(QTest::qWaitForWindowExposed(FWindow.get()));
  }
  // The program closed and started again: the settings are saved and read anew.
  void Restart() {
    FWindow->close();
    FWindow.reset();
    FDataModule.reset();
    FDataModule = std::make_unique<Tdm>(std::vector<std::string>{"nosplash"}, nullptr, FDir->File("data"));
    NewWindow();
  }
  // The records on show, row by row.
  std::vector<uint32_t> RowsOnShow() const {
    std::vector<uint32_t> records;
    for (int row = 0; row < FWindow->Model()->rowCount(); ++row)
      records.push_back(static_cast<uint32_t>(FWindow->Model()->RecordOfRow(row)));
    return records;
  }
};

}  // namespace velloran::test
