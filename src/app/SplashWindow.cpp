#include "SplashWindow.h"

#include <QFrame>
#include <QGuiApplication>
#include <QIcon>
#include <QLabel>
#include <QScreen>
#include <string_view>

// The resources live in this static library; nothing refers to the object rcc makes for them,
// so the linker would drop it. Registering them here, at static initialisation, pulls it in
// for every program that uses this unit (the viewer and its tests). Q_INIT_RESOURCE must run
// outside a namespace.
static int InitVelloranResources() {
  Q_INIT_RESOURCE(velloran);
  return 0;
}
[[maybe_unused]] static const int kResourcesRegistered = InitVelloranResources();

// The build system passes the version parts as bare tokens; the build part is written as "0"
// followed by CMake's tweak number ("0", "0317"), which as a C++ literal would be octal. Each
// part is therefore read as decimal text.
#define VELLORAN_TEXT_(x) #x
#define VELLORAN_TEXT(x) VELLORAN_TEXT_(x)

namespace velloran {

namespace {

constexpr uint32_t DecimalPart(std::string_view AText) {
  uint32_t value = 0;
  for (const char c : AText) {
    if (c < '0' || c > '9' || value > 0xFFFF) return 0xFFFF'FFFF;
    value = value * 10 + static_cast<uint32_t>(c - '0');
  }
  return value;
}
static_assert(DecimalPart("0317") == 317 && DecimalPart("0") == 0 && DecimalPart("08") == 8);

#if defined(VELLORAN_VERSION_MAJOR) && defined(VELLORAN_VERSION_MINOR) && defined(VELLORAN_VERSION_RELEASE) && \
    defined(VELLORAN_VERSION_BUILD)
constexpr uint32_t kMajor = DecimalPart(VELLORAN_TEXT(VELLORAN_VERSION_MAJOR));
constexpr uint32_t kMinor = DecimalPart(VELLORAN_TEXT(VELLORAN_VERSION_MINOR));
constexpr uint32_t kRelease = DecimalPart(VELLORAN_TEXT(VELLORAN_VERSION_RELEASE));
constexpr uint32_t kBuild = DecimalPart(VELLORAN_TEXT(VELLORAN_VERSION_BUILD));
static_assert(kMajor <= 0xFFFF && kMinor <= 0xFFFF && kRelease <= 0xFFFF && kBuild <= 0xFFFF,
              "each version part is a decimal number of at most 65535");
constexpr TFileVersion kProgramVersion{kMajor << 16 | kMinor, kRelease << 16 | kBuild};
#else
constexpr TFileVersion kProgramVersion{};  // built without a version: "no version resource"
#endif

constexpr int kSplashWidth = 350, kSplashHeight = 220;

}  // namespace

// The labels sit on the picture in bands 13 pixels high; a fixed pixel size keeps the text
// inside them whatever the desktop's font size, as the picture does not scale either.
void SetPictureLabelStyle(QLabel* ALabel, const QColor& AColor) {
  QFont font = ALabel->font();
  font.setPixelSize(11);
  ALabel->setFont(font);
  QPalette palette = ALabel->palette();
  palette.setColor(QPalette::WindowText, AColor);
  ALabel->setPalette(palette);
  ALabel->setAlignment(Qt::AlignCenter);
  ALabel->setAutoFillBackground(false);  // the picture shows through
  // A click on a label is a click on the picture under it (the About box closes on it).
  ALabel->setAttribute(Qt::WA_TransparentForMouseEvents);
}

TFileVersion ProgramFileVersion() { return kProgramVersion; }

QString ProgramVersionText() {
  const TFileVersion version = ProgramFileVersion();
  if (version.MS == 0 && version.LS == 0) return {};
  // Plain numbers, no zero padding: FormatVersionText writes the minor part with two digits,
  // which is not how the project numbers its releases.
  return QStringLiteral("%1.%2.%3").arg(version.MS >> 16).arg(version.MS & 0xFFFF).arg(version.LS >> 16);
}

QString FormatVersionText(int AFlags, const QString& AText, const QString& AExtra) {
  return FormatVersionText(AFlags, AText, AExtra, ProgramFileVersion());
}

QString FormatVersionText(int AFlags, const QString& AText, const QString& AExtra, TFileVersion AVersion) {
  // "%d%% " is kept as text: the caller formats the percentage into it later.
  QString prefix;
  if ((AFlags & 2) != 0) prefix = QStringLiteral("%d%% ") + prefix;
  if ((AFlags & 1) != 0) prefix += AText;
  if ((AFlags & 4) != 0) prefix += QLatin1Char(' ') + AExtra;

  const uint32_t major = AVersion.MS >> 16, minor = AVersion.MS & 0xFFFF;
  const uint32_t release = AVersion.LS >> 16, build = AVersion.LS & 0xFFFF;
  QString version;
  if (AVersion.MS != 0 || AVersion.LS != 0) {
    version = QStringLiteral("%1.%2").arg(major).arg(minor, 2, 10, QLatin1Char('0'));
    if (release != 0) version += QStringLiteral(".%1").arg(release);
    if ((AFlags & 8) != 0)
      version = QLatin1Char('v') + version;
    else if ((AFlags & 16) != 0)
      version = QStringLiteral("Version ") + version;
    if ((AFlags & 32) != 0 && build != 0) version += QStringLiteral(" (%1)").arg(build);
  }

  if (prefix.isEmpty()) return version;
  if (version.isEmpty()) return prefix;
  return prefix + QLatin1Char(' ') + version;
}

QPixmap ProductPicture() { return QPixmap(QStringLiteral(":/velloran/images/product.png")); }

QIcon ProgramIcon() {
  QIcon icon;
  for (const int size : {16, 24, 32, 48, 64, 128, 256})
    icon.addFile(QStringLiteral(":/velloran/images/velloran-%1.png").arg(size), QSize(size, size));
  return icon;
}

TfrmSplash::TfrmSplash(QWidget* AParent)
    : QWidget(AParent, Qt::SplashScreen | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
  setFixedSize(kSplashWidth, kSplashHeight);
  setWindowIcon(ProgramIcon());

  // Bevel1: the frame line around the window, under the picture.
  auto* bevel = new QFrame(this);
  bevel->setFrameStyle(QFrame::Box | QFrame::Plain);
  bevel->setLineWidth(1);
  bevel->setGeometry(rect());

  imgLight = new QLabel(this);
  imgLight->setGeometry(1, 1, 348, 218);
  imgLight->setPixmap(ProductPicture());

  lblVersion = new QLabel(this);
  lblVersion->setGeometry(144, 158, 153, 13);
  SetPictureLabelStyle(lblVersion, kPictureTextColor);
  if (const QString version = ProgramVersionText(); !version.isEmpty()) lblVersion->setText(QStringLiteral("Version ") + version);
  lblVersion->raise();

  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    QRect area(QPoint(), size());
    area.moveCenter(screen->availableGeometry().center());
    move(area.topLeft());
  }
}

}  // namespace velloran
