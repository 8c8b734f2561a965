// Draws the program's pictures into resources/: the socket picture, the
// application icon and the start picture. Build and run it with
//   cmake --build --preset default --target draw_artwork
//   build/default/draw_artwork resources
// and commit what it writes.

#include <QApplication>
#include <QDir>
#include <QFont>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include <cmath>
#include <cstdio>

namespace {

// A five-pin round connector seen from the front: a ring, the insulator with
// five holes on a half circle, and the key notch.
void DrawSocket(QPainter& p, const QRectF& box, const QColor& ink, const QColor& paper, qreal ringWidth)
{
    const QPointF c = box.center();
    const qreal r = std::min(box.width(), box.height()) / 2;
    p.setPen(Qt::NoPen);
    p.setBrush(ink);
    p.drawEllipse(c, r, r);
    p.setBrush(paper);
    p.drawEllipse(c, r - ringWidth, r - ringWidth);
    // Key notch at the top.
    p.setBrush(ink);
    const qreal notch = r * 0.22;
    p.drawRect(QRectF(c.x() - notch / 2, c.y() - r + ringWidth * 0.5, notch, r * 0.28));
    // Five holes, 45 degrees apart, on the lower half circle.
    const qreal pinRadius = r * 0.13;
    for (int i = 0; i < 5; ++i) {
        const qreal angle = M_PI * i / 4;  // 0 .. 180 degrees
        const QPointF pin(c.x() + std::cos(angle) * r * 0.56, c.y() + std::sin(angle) * r * 0.56 - r * 0.08);
        p.drawEllipse(pin, pinRadius, pinRadius);
    }
}

QImage Socket()
{
    // Drawn large and smooth, then reduced to black on white.
    QImage grey(440, 430, QImage::Format_RGB32);
    grey.fill(Qt::white);
    {
        QPainter p(&grey);
        p.setRenderHint(QPainter::Antialiasing);
        DrawSocket(p, QRectF(20, 15, 400, 400), Qt::black, Qt::white, 48);
    }
    const QImage small = grey.scaled(44, 43, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    QImage mono(44, 43, QImage::Format_Mono);
    mono.setColor(0, qRgb(255, 255, 255));
    mono.setColor(1, qRgb(0, 0, 0));
    for (int y = 0; y < 43; ++y)
        for (int x = 0; x < 44; ++x)
            mono.setPixel(x, y, qGray(small.pixel(x, y)) < 128 ? 1 : 0);
    return mono;
}

QImage Icon(int size)
{
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient back(0, 0, 0, size);
    back.setColorAt(0, QColor(0x1d, 0x3b, 0x78));
    back.setColorAt(1, QColor(0x0d, 0x1b, 0x3d));
    p.setBrush(back);
    p.setPen(Qt::NoPen);
    p.drawRoundedRect(QRectF(0, 0, size, size), size * 0.18, size * 0.18);
    const qreal margin = size * 0.12;
    DrawSocket(p, QRectF(margin, margin, size - 2 * margin, size - 2 * margin), QColor(0xe8, 0xe8, 0xe8),
               QColor(0x0d, 0x1b, 0x3d), size * 0.11);
    // One lit lamp.
    p.setBrush(QColor(255, 255, 0));
    p.setPen(QPen(Qt::black, size / 32.0));
    const qreal lamp = size * 0.14;
    p.drawEllipse(QPointF(size - lamp * 1.1, size - lamp * 1.1), lamp, lamp);
    return image;
}

QImage StartPicture()
{
    QImage image(305, 261, QImage::Format_RGB32);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);

    QLinearGradient back(0, 0, 0, 261);
    back.setColorAt(0, QColor(0x0d, 0x1b, 0x3d));
    back.setColorAt(1, QColor(0x3b, 0x1e, 0x5a));
    p.fillRect(image.rect(), back);

    // A stave across the picture.
    p.setPen(QPen(QColor(255, 255, 255, 38), 1));
    for (int line = 0; line < 5; ++line)
        p.drawLine(QPointF(0, 150 + line * 9), QPointF(305, 132 + line * 9));

    // Glow behind the socket.
    QRadialGradient glow(QPointF(82, 92), 78);
    glow.setColorAt(0, QColor(255, 255, 120, 90));
    glow.setColorAt(1, QColor(255, 255, 120, 0));
    p.setBrush(glow);
    p.setPen(Qt::NoPen);
    p.drawEllipse(QPointF(82, 92), 78, 78);
    DrawSocket(p, QRectF(30, 40, 104, 104), QColor(0xd8, 0xd8, 0xe0), QColor(0x17, 0x1c, 0x3a), 11);

    QFont title("DejaVu Sans");
    title.setPixelSize(29);
    title.setBold(true);
    p.setFont(title);
    p.setPen(Qt::white);
    p.drawText(QRectF(140, 52, 162, 40), Qt::AlignLeft | Qt::AlignVCenter, "Roraridov");
    QFont subtitle("DejaVu Sans");
    subtitle.setPixelSize(13);
    p.setFont(subtitle);
    p.setPen(QColor(0xff, 0xe8, 0x6a));
    p.drawText(QRectF(142, 92, 160, 20), Qt::AlignLeft | Qt::AlignVCenter, "MIDI thru router");
    p.setPen(QColor(0xc8, 0xc8, 0xe0));
    p.drawText(QRectF(142, 110, 160, 20), Qt::AlignLeft | Qt::AlignVCenter, "3 inputs  \u2192  3 outputs");

    // The six lamps, some lit.
    const bool lit[6] = {true, false, false, true, false, true};
    for (int i = 0; i < 6; ++i) {
        const qreal x = 40 + i * 45 + (i >= 3 ? 12 : 0);
        p.setPen(QPen(Qt::black, 1.5));
        p.setBrush(lit[i] ? QColor(255, 255, 0) : QColor(192, 192, 192));
        p.drawEllipse(QPointF(x, 212), 9, 9);
    }
    QFont small("DejaVu Sans");
    small.setPixelSize(10);
    small.setBold(true);
    p.setFont(small);
    p.setPen(QColor(0xc8, 0xc8, 0xe0));
    p.drawText(QRectF(20, 226, 130, 16), Qt::AlignCenter, "INS 1-3");
    p.drawText(QRectF(167, 226, 130, 16), Qt::AlignCenter, "OUTS 1-3");

    p.setPen(QPen(QColor(255, 255, 255, 90), 1));
    p.setBrush(Qt::NoBrush);
    p.drawRect(QRectF(0.5, 0.5, 304, 260));
    return image;
}

}  // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QDir out(argc > 1 ? argv[1] : ".");
    bool ok = Socket().save(out.filePath("socket.png"));
    ok = Icon(16).save(out.filePath("icon-16.png")) && ok;
    ok = Icon(32).save(out.filePath("icon-32.png")) && ok;
    ok = StartPicture().save(out.filePath("start.jpg"), "JPG", 90) && ok;
    std::printf(ok ? "written to %s\n" : "could not write to %s\n", qPrintable(out.absolutePath()));
    return ok ? 0 : 1;
}
