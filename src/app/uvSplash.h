// The splash window shown while the program starts, and the version text it and the About
// box show.
#pragma once

#include <QPixmap>
#include <QString>
#include <QWidget>
#include <cstdint>

class QLabel;

namespace velloran {

// The program's version as four numbers (major, minor, release, build) in two words, the
// more significant MS = major << 16 | minor and LS = release << 16 | build; both 0 when the
// program has no version.
struct TFileVersion {
  uint32_t MS = 0;
  uint32_t LS = 0;
};
// The version of this build (from the project version in CMake).
TFileVersion ProgramFileVersion();

// Flags: 1 the text, 2 a "%d%% " prefix, 4 " " and the extra text, 8 "v" before the number,
// 16 "Version " before it, 32 the build in parentheses when not 0.
QString FormatVersionText(int AFlags, const QString& AText, const QString& AExtra);
QString FormatVersionText(int AFlags, const QString& AText, const QString& AExtra, TFileVersion AVersion);

// The product picture (348 x 218) and the program's icon, from the resources.
QPixmap ProductPicture();
QIcon ProgramIcon();

class TfrmSplash : public QWidget {
  Q_OBJECT
 public:
  explicit TfrmSplash(QWidget* AParent = nullptr);
  QLabel* lblVersion = nullptr;
  QLabel* imgLight = nullptr;
};

}  // namespace velloran
