#include "testpattern.h"

#include "jpegencoding.h"

#include <QFont>
#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>

namespace {

// Bounces t back and forth across [0, span].
int bounce(quint64 t, int span)
{
    if (span <= 0)
        return 0;
    const quint64 period = 2 * quint64(span);
    const int phase = int(t % period);
    return phase <= span ? phase : int(period) - phase;
}

} // namespace

TestPattern::TestPattern(const QSize &size, int quality)
    : size(size), quality(quality)
{
}

QByteArray TestPattern::frame(quint64 number)
{
    return encodeJpeg(render(number), quality);
}

QImage TestPattern::render(quint64 number) const
{
    QImage image(size, QImage::Format_RGB32);
    paintBackground(image, number);
    paintShapes(image, number);
    paintDigits(image, number);
    paintCornerAndStrip(image, number);
    return image;
}

void TestPattern::paintBackground(QImage &image, quint64 number) const
{
    const int width = image.width();
    const int height = image.height();
    const int shift = int(number % 256);
    for (int y = 0; y < height; ++y) {
        auto *row = reinterpret_cast<QRgb *>(image.scanLine(y));
        const int green = 40 + y * 160 / height;
        for (int x = 0; x < width; ++x) {
            const int red = (x * 255 / width + 3 * shift) & 0xFF;
            const int blue = 64 + (((x + shift) ^ y) & 0x7F);
            row[x] = qRgb(red, green, blue);
        }
    }
}

void TestPattern::paintShapes(QImage &image, quint64 number) const
{
    const int width = image.width();
    const int height = image.height();
    const int diameter = qMax(8, qMin(width, height) / 4);
    const int top = greyHeight;
    const int bottom = height - height / 8 - diameter;

    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(Qt::black, 2));

    // A ball bouncing around the free area.
    painter.setBrush(QColor(250, 200, 30));
    painter.drawEllipse(bounce(number * 5, width - diameter),
                        top + bounce(number * 3, bottom - top), diameter, diameter);

    // A bar turning around the centre.
    painter.translate(width / 2.0, (top + height - height / 8) / 2.0);
    painter.rotate(double(number % 360) * 4.0);
    painter.setBrush(QColor(30, 170, 90));
    const double length = qMin(width, height) * 0.45;
    painter.drawRect(QRectF(-length / 2, -length / 16, length, length / 8));
}

void TestPattern::paintDigits(QImage &image, quint64 number) const
{
    const int width = image.width();
    const int height = image.height();
    const QRectF band(0, greyHeight, width, height - height / 8 - greyHeight);
    const QString text = QString::number(number);

    QFont font(QStringLiteral("DejaVu Sans"));
    font.setStyleHint(QFont::SansSerif);
    font.setBold(true);
    font.setPixelSize(qMax(8, int(band.height() * 0.7)));
    const QFontMetricsF metrics(font);
    const double textWidth = metrics.horizontalAdvance(text);
    const double widest = width * 0.9;
    if (textWidth > widest)
        font.setPixelSize(qMax(6, int(font.pixelSize() * widest / textWidth)));

    QPainterPath path;
    path.addText(0, 0, font, text);
    const QRectF bounds = path.boundingRect();
    path.translate(band.center() - bounds.center());

    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(Qt::black, qMax(2.0, font.pixelSize() / 14.0)));
    painter.setBrush(Qt::white);
    painter.drawPath(path);
}

void TestPattern::paintCornerAndStrip(QImage &image, quint64 number) const
{
    const int width = image.width();
    const int height = image.height();
    QPainter painter(&image);
    painter.fillRect(QRect(0, 0, qMin(greyWidth, width), qMin(greyHeight, height)),
                     QColor(128, 128, 128));

    const int stripTop = height - height / 8;
    const unsigned bits = unsigned(number % 65536);
    for (int cell = 0; cell < stripCells; ++cell) {
        const int left = cell * width / stripCells;
        const int right = (cell + 1) * width / stripCells - 1;
        const bool set = (bits >> (stripCells - 1 - cell)) & 1u;
        painter.fillRect(QRect(QPoint(left, stripTop), QPoint(right, height - 1)),
                         set ? Qt::white : Qt::black);
    }
}
