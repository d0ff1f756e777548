// The version text, the pictures in the resources, the splash window and the About box.
#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QVersionNumber>
#include <QtTest>

#include "AboutWindow.h"
#include "SplashWindow.h"

using namespace velloran;

Q_DECLARE_METATYPE(velloran::TFileVersion)

namespace {

TFileVersion Version(uint32_t AMajor, uint32_t AMinor, uint32_t ARelease, uint32_t ABuild) {
  return {AMajor << 16 | AMinor, ARelease << 16 | ABuild};
}

}  // namespace

class TSplashTests : public QObject {
  Q_OBJECT
 private slots:
  void formatVersionText_data();
  void formatVersionText();
  void programVersionIsTheProjectVersion();
  void picturesAreInTheResources();
  void splashWindow();
  void aboutBox();
  void aboutClosesOnAnyKey_data();
  void aboutClosesOnAnyKey();
  void aboutClosesOnAClickOnThePicture_data();
  void aboutClosesOnAClickOnThePicture();
  void aboutCloseButton();
};

void TSplashTests::formatVersionText_data() {
  QTest::addColumn<int>("flags");
  QTest::addColumn<QString>("text");
  QTest::addColumn<QString>("extra");
  QTest::addColumn<TFileVersion>("version");
  QTest::addColumn<QString>("expected");
  const TFileVersion none{};
  const QString empty;
  QTest::newRow("splash") << 0x14 << empty << empty << Version(1, 5, 0, 0) << "  Version 1.05";
  QTest::newRow("splash ignores the build") << 0x14 << empty << empty << Version(1, 5, 2, 317) << "  Version 1.05.2";
  QTest::newRow("About") << 0x34 << empty << empty << Version(1, 5, 2, 317) << "  Version 1.05.2 (317)";
  QTest::newRow("About, build 0") << 0x34 << empty << empty << Version(1, 5, 0, 0) << "  Version 1.05";
  QTest::newRow("splash, no version") << 0x14 << empty << empty << none << " ";
  QTest::newRow("About, no version") << 0x34 << empty << empty << none << " ";
  QTest::newRow("bare number") << 0 << empty << empty << Version(2, 10, 0, 0) << "2.10";
  QTest::newRow("nothing at all") << 0 << empty << empty << none << "";
  QTest::newRow("v wins over Version") << 0x18 << empty << empty << Version(1, 5, 0, 0) << "v1.05";
  QTest::newRow("build alone") << 0x20 << empty << empty << Version(0, 0, 0, 7) << "0.00 (7)";
  QTest::newRow("text") << 0x01 << "Velloran" << empty << Version(1, 5, 0, 0) << "Velloran 1.05";
  QTest::newRow("text, no version") << 0x01 << "Velloran" << empty << none << "Velloran";
  QTest::newRow("percent, text, extra") << 0x07 << "Loading"
                                        << "log" << Version(1, 5, 3, 0) << "%d%% Loading log 1.05.3";
  QTest::newRow("large parts") << 0x30 << empty << empty << Version(65535, 123, 65535, 65535)
                               << "Version 65535.123.65535 (65535)";
}

void TSplashTests::formatVersionText() {
  QFETCH(int, flags);
  QFETCH(QString, text);
  QFETCH(QString, extra);
  QFETCH(TFileVersion, version);
  QTEST(FormatVersionText(flags, text, extra, version), "expected");
}

void TSplashTests::programVersionIsTheProjectVersion() {
  const QVersionNumber project = QVersionNumber::fromString(QStringLiteral(VELLORAN_PROJECT_VERSION));
  const TFileVersion version = ProgramFileVersion();
  QCOMPARE(version.MS, uint32_t(project.majorVersion()) << 16 | uint32_t(project.minorVersion()));
  QCOMPARE(version.LS >> 16, uint32_t(project.microVersion()));
  QCOMPARE(version.LS & 0xFFFF, uint32_t(project.segmentAt(3)));
  QCOMPARE(FormatVersionText(0x14, QString(), QString()), FormatVersionText(0x14, QString(), QString(), version));
  // The text the windows show is the project version as CMake writes it (and as
  // `velloran --version` prints it), not FormatVersionText's zero-padded minor part.
  QCOMPARE(ProgramVersionText(), QStringLiteral(VELLORAN_PROJECT_VERSION));
}

void TSplashTests::picturesAreInTheResources() {
  QCOMPARE(ProductPicture().size(), QSize(348, 218));
  const QList<QSize> sizes = ProgramIcon().availableSizes();
  for (const int size : {16, 24, 32, 48, 64, 128, 256})
    QVERIFY2(sizes.contains(QSize(size, size)), qPrintable(QString::number(size)));
  // The main window's action icons, by the paths it loads them from.
  for (const char* name : {"folder_open", "Export", "door_exit", "table_selection_column", "notebook", "about"})
    for (const int size : {16, 24}) {
      const QString path = QStringLiteral(":/velloran/icons/%1-%2.png").arg(QLatin1String(name)).arg(size);
      QVERIFY2(QPixmap(path).size() == QSize(size, size), qPrintable(path));
    }
}

void TSplashTests::splashWindow() {
  TfrmSplash splash;
  QCOMPARE(splash.size(), QSize(350, 220));
  QCOMPARE(splash.minimumSize(), splash.maximumSize());
  QVERIFY(splash.windowFlags() & Qt::FramelessWindowHint);
  QVERIFY(splash.windowFlags() & Qt::WindowStaysOnTopHint);
  QVERIFY(!splash.windowIcon().isNull());
  QCOMPARE(splash.geometry().center(), QGuiApplication::primaryScreen()->availableGeometry().center());

  QCOMPARE(splash.imgLight->geometry(), QRect(1, 1, 348, 218));
  QCOMPARE(splash.imgLight->pixmap().size(), QSize(348, 218));
  QCOMPARE(splash.lblVersion->geometry(), QRect(144, 158, 153, 13));
  QVERIFY(splash.lblVersion->alignment() & Qt::AlignHCenter);
  QCOMPARE(splash.lblVersion->text(), QStringLiteral("Version " VELLORAN_PROJECT_VERSION));
  QVERIFY2(splash.lblVersion->fontMetrics().height() <= 13, "the version text must fit its band on the picture");
  QCOMPARE(splash.children().last(), splash.lblVersion);  // in front of the picture
}

void TSplashTests::aboutBox() {
  QWidget owner;
  owner.setGeometry(200, 150, 800, 600);
  owner.show();
  TfrmAbout about(&owner);
  about.show();
  QVERIFY(QTest::qWaitForWindowExposed(&about));
  QCOMPARE(about.windowTitle(), QStringLiteral("About"));
  QCOMPARE(about.minimumSize(), about.maximumSize());
  QVERIFY(about.windowFlags() & Qt::WindowCloseButtonHint);
  QVERIFY(!(about.windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
  QVERIFY((about.frameGeometry().center() - owner.frameGeometry().center()).manhattanLength() <= 2);

  // The picture at the top, at its own size, with the version and the line of text on it.
  QCOMPARE(about.width(), 348);
  QCOMPARE(about.img->geometry(), QRect(0, 0, 348, 218));
  QCOMPARE(about.img->pixmap().size(), QSize(348, 218));
  QCOMPARE(about.lblVersion->geometry(), QRect(145, 157, 150, 13));
  QCOMPARE(about.lblVersion->text(), QStringLiteral("Version " VELLORAN_PROJECT_VERSION));
  QCOMPARE(about.lblText->geometry(), QRect(8, 200, 332, 13));
  QVERIFY(!about.lblText->text().isEmpty());
  QVERIFY2(about.lblText->fontMetrics().horizontalAdvance(about.lblText->text()) <= 332, "the line must fit the picture's width");

  // Below it, in the desktop's font: the licence and Close, side by side, whole and inside the
  // box whatever the font's size.
  QVERIFY(about.height() > 218);
  const QRect box = about.rect();
  QVERIFY(about.lblLicense->isVisible());
  QVERIFY(about.lblLicense->text().contains(QStringLiteral("MIT License")));
  const QRect license = about.lblLicense->geometry();
  QVERIFY(license.top() >= 218);
  QVERIFY(box.contains(license));
  QVERIFY(about.lblLicense->heightForWidth(license.width()) <= license.height());
  for (const QString& line : about.lblLicense->text().split(u'\n'))
    QVERIFY2(about.lblLicense->fontMetrics().horizontalAdvance(line) <= license.width(), qPrintable(line));
  QPushButton* close = about.btnClose;
  QVERIFY(close->isVisible());
  QCOMPARE(close->text(), QStringLiteral("Close"));
  QVERIFY(close->isDefault());
  QVERIFY(close->y() >= 218);
  QVERIFY(box.contains(close->geometry()));
  QVERIFY(close->width() >= close->sizeHint().width() && close->height() >= close->sizeHint().height());
  QVERIFY(!close->geometry().intersects(license));
}

void TSplashTests::aboutClosesOnAnyKey_data() {
  QTest::addColumn<int>("key");
  QTest::addColumn<bool>("throughTheWindow");
  // To the box itself, and as the platform delivers a key: to the focused Close button first.
  for (const bool window : {false, true}) {
    const char* way = window ? "through the window" : "to the box";
    QTest::addRow("letter, %s", way) << int(Qt::Key_A) << window;
    QTest::addRow("Esc, %s", way) << int(Qt::Key_Escape) << window;
    QTest::addRow("Enter, %s", way) << int(Qt::Key_Return) << window;
    QTest::addRow("Shift, %s", way) << int(Qt::Key_Shift) << window;
    QTest::addRow("Space, %s", way) << int(Qt::Key_Space) << window;
  }
}

void TSplashTests::aboutClosesOnAnyKey() {
  QFETCH(int, key);
  QFETCH(bool, throughTheWindow);
  TfrmAbout about;
  QSignalSpy finished(&about, &QDialog::finished);
  about.open();
  QVERIFY(QTest::qWaitForWindowActive(&about));
  if (throughTheWindow) {
    QCOMPARE(QApplication::focusWidget(), about.btnClose);
    QTest::keyClick(about.windowHandle(), Qt::Key(key));
  } else {
    QTest::keyClick(&about, Qt::Key(key));
  }
  QTRY_COMPARE(finished.count(), 1);
  QCOMPARE(finished.first().first().toInt(), int(QDialog::Accepted));
  QVERIFY(!about.isVisible());
}

void TSplashTests::aboutClosesOnAClickOnThePicture_data() {
  QTest::addColumn<QPoint>("where");
  QTest::addColumn<int>("button");
  QTest::addColumn<bool>("closes");
  QTest::newRow("on the picture") << QPoint(20, 20) << int(Qt::LeftButton) << true;
  QTest::newRow("on the version") << QPoint(220, 163) << int(Qt::LeftButton) << true;
  QTest::newRow("on the line of text") << QPoint(174, 206) << int(Qt::LeftButton) << true;
  QTest::newRow("right button") << QPoint(20, 20) << int(Qt::RightButton) << false;
}

void TSplashTests::aboutClosesOnAClickOnThePicture() {
  QFETCH(QPoint, where);
  QFETCH(int, button);
  QFETCH(bool, closes);
  TfrmAbout about;
  QSignalSpy finished(&about, &QDialog::finished);
  about.open();
  QVERIFY(QTest::qWaitForWindowExposed(&about));
  // Through the window, as the platform delivers it, so the labels on top are passed.
  QTest::mouseClick(about.windowHandle(), Qt::MouseButton(button), {}, where);
  if (!closes) {
    QCOMPARE(finished.count(), 0);
    QVERIFY(about.isVisible());
    return;
  }
  QTRY_COMPARE(finished.count(), 1);
  QCOMPARE(finished.first().first().toInt(), int(QDialog::Accepted));
}

void TSplashTests::aboutCloseButton() {
  TfrmAbout about;
  QSignalSpy finished(&about, &QDialog::finished);
  about.open();
  QVERIFY(QTest::qWaitForWindowExposed(&about));
  // A click in the strip beside the button is not a click on the picture.
  QTest::mouseClick(about.windowHandle(), Qt::LeftButton, {}, QPoint(about.lblLicense->x() + 2, about.height() - 3));
  QCOMPARE(finished.count(), 0);
  QTest::mouseClick(about.btnClose, Qt::LeftButton);
  QTRY_COMPARE(finished.count(), 1);
  QCOMPARE(finished.first().first().toInt(), int(QDialog::Accepted));
  QVERIFY(!about.isVisible());
}

QTEST_MAIN(TSplashTests)
#include "SplashWindowTests.moc"
