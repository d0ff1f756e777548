// make-artwork: draws the viewer's pictures into PNG files, so that the artwork in
// src/app/resources is reproducible and can be changed as code.
//
//   make-artwork OUTDIR
//
// writes OUTDIR/images/product.png (348 x 218, the splash and About picture),
// OUTDIR/images/velloran-<n>.png (the program icon at 16, 24, 32, 48, 64, 128 and 256 pixels) and
// OUTDIR/icons/<name>-16.png, <name>-24.png (the main window's action icons).
//
// Everything is drawn with QPainter on QImage, without a window; text uses the DejaVu fonts by
// pixel size, so the same machine gives the same bytes on every run.
#include <QColor>
#include <QDir>
#include <QFont>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPen>
#include <QRadialGradient>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

// The palette every picture shares.
const QColor kNavyTop(0x12, 0x3c, 0x7c);
const QColor kNavyBottom(0x06, 0x16, 0x38);
const QColor kAccent(0x38, 0xb6, 0xff);
const QColor kIconBlueTop(0x3a, 0x8d, 0xf0);
const QColor kIconBlueBottom(0x15, 0x4a, 0xa8);
const QColor kOutline(0x33, 0x3f, 0x4f);

QImage NewImage(int AWidth, int AHeight) {
  QImage image(AWidth, AHeight, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  return image;
}

bool Save(const QImage& AImage, const QString& APath) {
  if (AImage.save(APath, "PNG")) return true;
  std::fprintf(stderr, "make-artwork: cannot write %s\n", qPrintable(APath));
  return false;
}

QFont PixelFont(const QString& AFamily, int APixels, bool ABold) {
  QFont font(AFamily);
  font.setPixelSize(APixels);
  font.setBold(ABold);
  font.setHintingPreference(QFont::PreferNoHinting);
  return font;
}

// A magnifying glass: the lens centred on ACentre, the handle towards the lower right.
void DrawMagnifier(QPainter& APainter, QPointF ACentre, qreal ARadius, qreal AWidth, const QColor& AColor, const QColor& ALens) {
  APainter.setPen(Qt::NoPen);
  APainter.setBrush(ALens);
  APainter.drawEllipse(ACentre, ARadius, ARadius);
  const qreal reach = ARadius * 0.7071;
  QPen handle(AColor, AWidth * 1.6, Qt::SolidLine, Qt::RoundCap);
  APainter.setPen(handle);
  APainter.drawLine(ACentre + QPointF(reach + AWidth * 0.4, reach + AWidth * 0.4),
                    ACentre + QPointF(reach + ARadius * 0.9, reach + ARadius * 0.9));
  APainter.setPen(QPen(AColor, AWidth));
  APainter.setBrush(Qt::NoBrush);
  APainter.drawEllipse(ACentre, ARadius, ARadius);
}

// --- the product picture ----------------------------------------------------------------------

// Rows of a stylised report list, the viewer's main view, with one selected row.
void DrawTableCard(QPainter& APainter, const QRectF& ARect) {
  APainter.setPen(QPen(QColor(255, 255, 255, 90), 1));
  APainter.setBrush(QColor(255, 255, 255, 22));
  APainter.drawRoundedRect(ARect, 5, 5);

  const qreal header = 13;
  QPainterPath headerPath;
  headerPath.addRoundedRect(ARect.adjusted(0.5, 0.5, -0.5, 0), 5, 5);
  QPainterPath clip;
  clip.addRect(QRectF(ARect.left(), ARect.top(), ARect.width(), header));
  APainter.setPen(Qt::NoPen);
  APainter.setBrush(QColor(kAccent.red(), kAccent.green(), kAccent.blue(), 170));
  APainter.drawPath(headerPath.intersected(clip));

  const qreal columns[] = {0.06, 0.36, 0.68, 0.94};
  const qreal rowHeight = 11;
  for (int row = 0; row < 5; ++row) {
    const qreal top = ARect.top() + header + 3 + row * rowHeight;
    if (row == 2) {
      APainter.setBrush(QColor(kAccent.red(), kAccent.green(), kAccent.blue(), 75));
      APainter.drawRect(QRectF(ARect.left() + 1, top - 1.5, ARect.width() - 2, rowHeight));
    }
    for (int column = 0; column < 3; ++column) {
      const qreal left = ARect.left() + ARect.width() * columns[column];
      const qreal span = ARect.width() * (columns[column + 1] - columns[column]) - 6;
      const qreal length = span * (0.55 + 0.15 * ((row * 3 + column * 5) % 4));
      APainter.setBrush(QColor(255, 255, 255, row == 2 ? 200 : 120));
      APainter.drawRoundedRect(QRectF(left, top + 2, length, 4), 2, 2);
    }
  }
  // Column rules under the header.
  APainter.setPen(QPen(QColor(255, 255, 255, 40), 1));
  for (int column = 1; column < 3; ++column) {
    const qreal x = ARect.left() + ARect.width() * columns[column] - 3.5;
    APainter.drawLine(QPointF(x, ARect.top() + header), QPointF(x, ARect.bottom() - 1));
  }
}

// Faint lines of the log format itself, as a texture behind the right half.
void DrawLogTexture(QPainter& APainter) {
  static const char* const kLines[] = {
      "<Event><Timestamp data_type=\"4\">12/09/2026 08:15:02.114</Timestamp>",
      "<Computer-Name data_type=\"1\">NPS01</Computer-Name><Packet-Type",
      "data_type=\"0\">4</Packet-Type><Acct-Status-Type data_type=\"0\">1",
  };
  APainter.setFont(PixelFont("DejaVu Sans Mono", 8, false));
  QLinearGradient fade(146, 0, 348, 0);  // the lines fade out towards the right edge
  fade.setColorAt(0, QColor(160, 200, 255, 56));
  fade.setColorAt(1, QColor(160, 200, 255, 0));
  APainter.setPen(QPen(QBrush(fade), 1));
  qreal y = 124;
  for (const char* line : kLines) {
    APainter.drawText(QPointF(146, y), QString::fromLatin1(line));
    y += 11;
  }
}

QImage ProductPicture() {
  const int width = 348, height = 218;
  QImage image = NewImage(width, height);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setRenderHint(QPainter::TextAntialiasing);

  QLinearGradient background(0, 0, width * 0.35, height);
  background.setColorAt(0, kNavyTop);
  background.setColorAt(1, kNavyBottom);
  painter.fillRect(image.rect(), background);
  QRadialGradient glow(QPointF(width - 40, 10), 230);
  glow.setColorAt(0, QColor(70, 150, 255, 80));
  glow.setColorAt(1, QColor(70, 150, 255, 0));
  painter.fillRect(image.rect(), glow);

  // Leave 144..297 x 158..171 quiet: the version label is drawn there; and the band along the
  // bottom edge, where the About box puts its line of text.
  DrawLogTexture(painter);

  QFont title = PixelFont("DejaVu Sans", 30, true);
  while (QFontMetricsF(title).horizontalAdvance("Velloran Viewer") > width - 44) title.setPixelSize(title.pixelSize() - 1);
  painter.setFont(title);
  painter.setPen(QColor(0, 0, 0, 90));
  painter.drawText(QPointF(23, 57), "Velloran Viewer");
  painter.setPen(Qt::white);
  painter.drawText(QPointF(22, 56), "Velloran Viewer");

  painter.setFont(PixelFont("DejaVu Sans", 13, false));
  painter.setPen(QColor(0x9f, 0xc4, 0xff));
  painter.drawText(QPointF(23, 80), "RADIUS accounting log viewer");

  QLinearGradient rule(22, 0, width - 22, 0);
  rule.setColorAt(0, kAccent);
  rule.setColorAt(1, QColor(kAccent.red(), kAccent.green(), kAccent.blue(), 0));
  painter.fillRect(QRectF(22, 93, width - 44, 2), rule);

  DrawTableCard(painter, QRectF(22.5, 110.5, 104, 74));
  DrawMagnifier(painter, QPointF(116, 166), 15, 3.5, Qt::white, QColor(180, 220, 255, 60));
  painter.end();
  return image;
}

// --- the program icon ---------------------------------------------------------------------------

// Drawn on a 256-unit square: a rounded blue tile with a white list and a magnifier. Small
// sizes get fewer, thicker rows so the glyph stays readable.
QImage ProgramIcon(int ASize) {
  QImage image = NewImage(ASize, ASize);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.scale(ASize / 256.0, ASize / 256.0);
  const bool small = ASize <= 24;

  const QRectF tile = small ? QRectF(0, 0, 256, 256) : QRectF(8, 8, 240, 240);
  QLinearGradient fill(0, tile.top(), 0, tile.bottom());
  fill.setColorAt(0, kIconBlueTop);
  fill.setColorAt(1, kIconBlueBottom);
  painter.setPen(small ? Qt::NoPen : QPen(QColor(10, 40, 100, 160), 4));
  painter.setBrush(fill);
  painter.drawRoundedRect(tile.adjusted(2, 2, -2, -2), 48, 48);

  painter.setPen(Qt::NoPen);
  painter.setBrush(Qt::white);
  const int rows = small ? 3 : 4;
  const qreal rowHeight = small ? 32 : 22, pitch = small ? 52 : 40, firstRow = small ? 46 : 50;
  for (int row = 0; row < rows; ++row) {
    const qreal top = firstRow + row * pitch;
    painter.drawRoundedRect(QRectF(48, top, rowHeight, rowHeight), 5, 5);
    const qreal right = row >= rows - 2 ? 132 : 208;  // the lens sits over the lower rows' ends
    painter.drawRoundedRect(QRectF(48 + rowHeight + 16, top, right - 64 - rowHeight, rowHeight), rowHeight / 2, rowHeight / 2);
  }

  const QPointF lens = small ? QPointF(156, 156) : QPointF(150, 150);
  const qreal radius = small ? 44 : 40, stroke = small ? 30 : 20;
  // A ring of the tile itself keeps the lens apart from the rows under it.
  painter.setBrush(fill);
  painter.drawEllipse(lens, radius + stroke, radius + stroke);
  DrawMagnifier(painter, lens, radius, stroke, Qt::white, QColor(255, 255, 255, 70));
  painter.end();
  return image;
}

// --- the action icons ---------------------------------------------------------------------------

// Each is drawn on a 24-unit square and scaled; lines of 1.5 units stay visible at 16 pixels.
using TIconPainter = std::function<void(QPainter&)>;

void FolderOpen(QPainter& APainter) {
  APainter.setPen(QPen(QColor(0x9a, 0x6b, 0x00), 1.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  APainter.setBrush(QColor(0xe0, 0xa5, 0x26));
  QPainterPath back;
  back.moveTo(2, 19);
  back.lineTo(2, 5);
  back.lineTo(8.5, 5);
  back.lineTo(10.5, 7);
  back.lineTo(19, 7);
  back.lineTo(19, 10);
  APainter.drawPath(back);
  APainter.setBrush(QColor(0xf7, 0xc9, 0x48));
  QPainterPath front;
  front.moveTo(2, 19.5);
  front.lineTo(6, 10.5);
  front.lineTo(22.5, 10.5);
  front.lineTo(18.5, 19.5);
  front.closeSubpath();
  APainter.drawPath(front);
}

void Document(QPainter& APainter, const QRectF& ARect) {
  APainter.setPen(QPen(QColor(0x6b, 0x77, 0x85), 1.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  APainter.setBrush(Qt::white);
  QPainterPath page;
  const qreal fold = 5;
  page.moveTo(ARect.topLeft());
  page.lineTo(ARect.right() - fold, ARect.top());
  page.lineTo(ARect.right(), ARect.top() + fold);
  page.lineTo(ARect.bottomRight());
  page.lineTo(ARect.bottomLeft());
  page.closeSubpath();
  APainter.drawPath(page);
  APainter.setBrush(QColor(0xdd, 0xe3, 0xea));
  QPainterPath corner;
  corner.moveTo(ARect.right() - fold, ARect.top());
  corner.lineTo(ARect.right() - fold, ARect.top() + fold);
  corner.lineTo(ARect.right(), ARect.top() + fold);
  APainter.drawPath(corner);
}

void Arrow(QPainter& APainter, QPointF AFrom, QPointF ATo, const QColor& AColor) {
  APainter.setPen(QPen(AColor, 2.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  APainter.drawLine(AFrom, ATo - QPointF(2, 0));
  APainter.setPen(QPen(AColor, 1, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  APainter.setBrush(AColor);
  QPainterPath head;
  head.moveTo(ATo);
  head.lineTo(ATo.x() - 5.5, ATo.y() - 5);
  head.lineTo(ATo.x() - 5.5, ATo.y() + 5);
  head.closeSubpath();
  APainter.drawPath(head);
}

void Export(QPainter& APainter) {
  Document(APainter, QRectF(2.5, 2.5, 13, 19));
  APainter.setPen(QPen(QColor(0xa0, 0xaa, 0xb6), 1.2));
  for (int line = 0; line < 3; ++line) APainter.drawLine(QPointF(5, 9 + line * 3.5), QPointF(11, 9 + line * 3.5));
  Arrow(APainter, QPointF(9.5, 15.5), QPointF(22.5, 15.5), QColor(0x2e, 0x9d, 0x4a));
}

void DoorExit(QPainter& APainter) {
  APainter.setPen(QPen(QColor(0x5d, 0x3a, 0x1a), 1.2, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
  APainter.setBrush(QColor(0x3b, 0x2a, 0x1e));
  APainter.drawRect(QRectF(3.5, 2.5, 11, 19));  // the dark doorway
  APainter.setBrush(QColor(0xb8, 0x7a, 0x3e));
  QPainterPath door;  // swung open towards the viewer
  door.moveTo(3.5, 2.5);
  door.lineTo(10, 4.5);
  door.lineTo(10, 22.5);
  door.lineTo(3.5, 21.5);
  door.closeSubpath();
  APainter.drawPath(door);
  APainter.setPen(Qt::NoPen);
  APainter.setBrush(QColor(0xf2, 0xd2, 0x6b));
  APainter.drawEllipse(QPointF(8.4, 13), 0.9, 0.9);
  Arrow(APainter, QPointF(12, 12), QPointF(22.5, 12), QColor(0xd0, 0x3a, 0x2f));
}

void TableSelectionColumn(QPainter& APainter) {
  const QRectF grid(2.5, 3.5, 19, 17);
  APainter.setPen(Qt::NoPen);
  APainter.setBrush(Qt::white);
  APainter.drawRect(grid);
  APainter.setBrush(QColor(0xd6, 0xe4, 0xf5));
  APainter.drawRect(QRectF(grid.left(), grid.top(), grid.width(), 4.5));
  APainter.setBrush(QColor(0x2f, 0x7f, 0xe0));
  APainter.drawRect(QRectF(grid.left() + grid.width() / 3, grid.top(), grid.width() / 3, grid.height()));
  APainter.setPen(QPen(QColor(0x7d, 0x8a, 0x99), 1));
  for (int row = 1; row < 4; ++row) {
    const qreal y = grid.top() + 4.5 + (row - 1) * 4.25;
    APainter.drawLine(QPointF(grid.left(), y), QPointF(grid.right(), y));
  }
  for (int column = 1; column < 3; ++column) {
    const qreal x = grid.left() + grid.width() * column / 3;
    APainter.drawLine(QPointF(x, grid.top()), QPointF(x, grid.bottom()));
  }
  APainter.setPen(QPen(kOutline, 1.2));
  APainter.setBrush(Qt::NoBrush);
  APainter.drawRect(grid);
}

void Notebook(QPainter& APainter) {
  APainter.setPen(QPen(QColor(0x2b, 0x3f, 0x7a), 1.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  APainter.setBrush(QColor(0x4a, 0x68, 0xc8));
  APainter.drawRoundedRect(QRectF(4.5, 2.5, 16, 19), 1.5, 1.5);
  APainter.setPen(Qt::NoPen);
  APainter.setBrush(Qt::white);
  APainter.drawRect(QRectF(9, 5, 9.5, 14));
  APainter.setPen(QPen(QColor(0x8a, 0x9c, 0xd6), 1));
  for (int line = 0; line < 4; ++line) APainter.drawLine(QPointF(10.5, 8 + line * 3), QPointF(17, 8 + line * 3));
  // The spiral binding along the left edge.
  APainter.setPen(QPen(QColor(0x55, 0x5f, 0x6b), 1.4, Qt::SolidLine, Qt::RoundCap));
  for (int ring = 0; ring < 4; ++ring) {
    const qreal y = 5.5 + ring * 4.3;
    APainter.drawLine(QPointF(2.5, y), QPointF(7, y));
  }
}

void About(QPainter& APainter) {
  QLinearGradient fill(0, 2, 0, 22);
  fill.setColorAt(0, kIconBlueTop);
  fill.setColorAt(1, kIconBlueBottom);
  APainter.setPen(QPen(QColor(0x12, 0x3c, 0x8c), 1));
  APainter.setBrush(fill);
  APainter.drawEllipse(QPointF(12, 12), 10.5, 10.5);
  APainter.setPen(Qt::NoPen);
  APainter.setBrush(Qt::white);
  APainter.drawEllipse(QPointF(12, 7), 1.8, 1.8);
  APainter.drawRoundedRect(QRectF(10.4, 10, 3.2, 8.5), 1, 1);
}

// An arrow down onto a line: the view goes to the end of the log and stays there.
void FollowEnd(QPainter& APainter) {
  QLinearGradient fill(0, 2, 0, 18);
  fill.setColorAt(0, kIconBlueTop);
  fill.setColorAt(1, kIconBlueBottom);
  APainter.setPen(QPen(QColor(0x12, 0x3c, 0x8c), 1, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  APainter.setBrush(fill);
  const QPointF arrow[] = {{9, 2.5}, {15, 2.5}, {15, 9.5}, {20, 9.5}, {12, 17.5}, {4, 9.5}, {9, 9.5}};
  APainter.drawPolygon(arrow, 7);
  APainter.setPen(Qt::NoPen);
  APainter.setBrush(QColor(0x2b, 0x3f, 0x7a));
  APainter.drawRoundedRect(QRectF(3, 19.5, 18, 2.5), 1, 1);
}

QImage ActionIcon(const TIconPainter& ADraw, int ASize) {
  QImage image = NewImage(ASize, ASize);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.scale(ASize / 24.0, ASize / 24.0);
  ADraw(painter);
  painter.end();
  return image;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make-artwork OUTDIR\n");
    return 2;
  }
  // Fonts need a GUI application; no window is ever shown, so no display is needed.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);

  const QDir out(QString::fromLocal8Bit(argv[1]));
  if (!out.mkpath("images") || !out.mkpath("icons")) {
    std::fprintf(stderr, "make-artwork: cannot create the folders in %s\n", argv[1]);
    return 1;
  }
  bool ok = Save(ProductPicture(), out.filePath("images/product.png"));
  for (int size : {16, 24, 32, 48, 64, 128, 256})
    ok = Save(ProgramIcon(size), out.filePath(QString("images/velloran-%1.png").arg(size))) && ok;

  const std::vector<std::pair<const char*, TIconPainter>> actions = {
      {"folder_open", FolderOpen}, {"Export", Export},
      {"door_exit", DoorExit},     {"table_selection_column", TableSelectionColumn},
      {"notebook", Notebook},      {"about", About},
      {"follow_end", FollowEnd},
  };
  for (const auto& [name, draw] : actions)
    for (int size : {16, 24})
      ok = Save(ActionIcon(draw, size), out.filePath(QString("icons/%1-%2.png").arg(name).arg(size))) && ok;
  return ok ? 0 : 1;
}
