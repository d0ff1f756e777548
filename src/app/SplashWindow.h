// The splash window shown while the program starts, and the version text it and the About
// box show.
#pragma once

#include <QColor>
#include <QIcon>
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
// The same version as the command-line companion prints it: "MAJOR.MINOR.PATCH" exactly as
// the project version in CMake ("0.1.0"); empty when the program has no version. The splash
// window and the About box show it after "Version ".
QString ProgramVersionText();

// Flags: 1 the text, 2 a "%d%% " prefix, 4 " " and the extra text, 8 "v" before the number,
// 16 "Version " before it, 32 the build in parentheses when not 0.
QString FormatVersionText(int AFlags, const QString& AText, const QString& AExtra);
QString FormatVersionText(int AFlags, const QString& AText, const QString& AExtra, TFileVersion AVersion);

// The product picture (348 x 218) and the program's icon, from the resources. The resource
// paths (see resources/velloran.qrc): ":/velloran/images/product.png",
// ":/velloran/images/velloran-<n>.png" for the icon at n = 16, 24, 32, 48, 64, 128 and 256
// pixels, and ":/velloran/icons/<name>-16.png" and "-24.png" for the main window's actions,
// name = folder_open, Export, door_exit, table_selection_column, notebook, about. Linking this
// unit registers the resources.
QPixmap ProductPicture();
QIcon ProgramIcon();

// Text drawn on the product picture: the colours that suit it, and the label's look there
// (11-pixel font, centred, transparent, clicks pass through to the picture).
inline const QColor kPictureTextColor{0xd6, 0xe6, 0xff};
inline const QColor kPictureDimTextColor{0x8f, 0xb0, 0xdd};
void SetPictureLabelStyle(QLabel* ALabel, const QColor& AColor);

class TfrmSplash : public QWidget {
  Q_OBJECT
 public:
  explicit TfrmSplash(QWidget* AParent = nullptr);
  QLabel* lblVersion = nullptr;
  QLabel* imgLight = nullptr;
};

}  // namespace velloran
