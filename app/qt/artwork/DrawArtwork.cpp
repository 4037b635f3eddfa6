// kestrel-draw-artwork: draws the application icon and the dialog's picture.
// The PNGs it writes are committed; run it again only to change the artwork:
//   kestrel-draw-artwork <source dir>
// writes app/images/ and packaging/icons/hicolor/ below <source dir>.
#include <cstdio>

#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace {

const QColor kChipBody(0x2d, 0x3e, 0x50);
const QColor kChipPins(0xa8, 0xb2, 0xbd);
const QColor kArrow(0xf0, 0x7c, 0x1e);
const QColor kArrowEdge(0xff, 0xf4, 0xe6);

// The motif on a 16 x 16 grid: an arrow diving into a chip. Scaled, it stays
// the same picture at every size the desktop asks for.
void DrawMotif(QPainter& painter, qreal size) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size / 16.0, size / 16.0);

    painter.setPen(Qt::NoPen);
    painter.setBrush(kChipPins);
    for (const qreal y : {8.4, 10.4, 12.4}) {
        painter.drawRect(QRectF(0.8, y, 2.4, 1.0));
        painter.drawRect(QRectF(12.8, y, 2.4, 1.0));
    }
    QLinearGradient body(0, 7, 0, 15);
    body.setColorAt(0, kChipBody.lighter(125));
    body.setColorAt(1, kChipBody);
    painter.setBrush(body);
    painter.drawRoundedRect(QRectF(2.8, 7.2, 10.4, 7.6), 1.2, 1.2);
    painter.setBrush(kChipPins);
    painter.drawEllipse(QPointF(4.6, 13.0), 0.7, 0.7);

    QPainterPath arrow;
    arrow.moveTo(6.6, 0.6);
    arrow.lineTo(9.4, 0.6);
    arrow.lineTo(9.4, 5.6);
    arrow.lineTo(12.4, 5.6);
    arrow.lineTo(8.0, 11.0);
    arrow.lineTo(3.6, 5.6);
    arrow.lineTo(6.6, 5.6);
    arrow.closeSubpath();
    painter.setPen(QPen(kArrowEdge, 0.7, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(kArrow);
    painter.drawPath(arrow);
    painter.restore();
}

QImage Icon(int size) {
    QImage image(size, size, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    DrawMotif(painter, size);
    return image;
}

// The dialog's picture, 150 x 32: the motif and the tool's name on a dark plate.
QImage Banner() {
    QImage image(150, 32, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    QLinearGradient plate(0, 0, 150, 0);
    plate.setColorAt(0, QColor(0x1f, 0x2d, 0x3a));
    plate.setColorAt(1, QColor(0x3b, 0x55, 0x6e));
    painter.setPen(Qt::NoPen);
    painter.setBrush(plate);
    painter.drawRoundedRect(QRectF(0, 0, 150, 32), 4, 4);

    painter.save();
    painter.translate(4, 3);
    DrawMotif(painter, 26);
    painter.restore();

    QFont name("DejaVu Sans");
    name.setPixelSize(15);
    name.setBold(true);
    name.setLetterSpacing(QFont::AbsoluteSpacing, 1.5);
    painter.setFont(name);
    painter.setPen(Qt::white);
    painter.drawText(QRectF(36, 2, 112, 17), Qt::AlignLeft | Qt::AlignVCenter, "KESTREL");
    QFont role("DejaVu Sans");
    role.setPixelSize(10);
    painter.setFont(role);
    painter.setPen(kArrow.lighter(115));
    painter.drawText(QRectF(37, 18, 112, 12), Qt::AlignLeft | Qt::AlignVCenter, "firmware loader");
    return image;
}

bool Save(const QImage& image, const QString& path) {
    if (!QDir().mkpath(QFileInfo(path).path()) || !image.save(path, "PNG")) {
        std::fprintf(stderr, "kestrel-draw-artwork: cannot write %s\n", qPrintable(path));
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: kestrel-draw-artwork <source dir>\n");
        return 2;
    }
    const QDir source(QString::fromLocal8Bit(argv[1]));
    bool ok = Save(Icon(16), source.filePath("app/images/app-icon-16.png")) &&
              Save(Icon(32), source.filePath("app/images/app-icon-32.png")) &&
              Save(Banner(), source.filePath("app/images/banner.png"));
    for (const int size : {16, 32, 48, 64, 128, 256}) {
        const QString dir = QString("packaging/icons/hicolor/%1x%1/apps/kestrel-loader.png").arg(size);
        ok = ok && Save(Icon(size), source.filePath(dir));
    }
    return ok ? 0 : 1;
}
