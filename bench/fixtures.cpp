#include "fixtures.h"

#include "jpegencoding.h"

#include <QPainter>
#include <QRandomGenerator>

QImage busyPicture(const QSize &size, quint32 seed)
{
    QRandomGenerator random(seed);
    const int width = size.width();
    const int height = size.height();
    QImage picture(size, QImage::Format_RGB32);

    QLinearGradient sky(0, 0, width, height);
    sky.setColorAt(0.0, QColor(40, 70, 140));
    sky.setColorAt(0.5, QColor(180, 170, 120));
    sky.setColorAt(1.0, QColor(60, 110, 50));
    QPainter painter(&picture);
    painter.fillRect(picture.rect(), sky);
    painter.setRenderHint(QPainter::Antialiasing);
    const auto coordinate = [&](int range) { return int(random.bounded(range)); };
    const auto colour = [&] { return QColor(coordinate(256), coordinate(256), coordinate(256)); };
    for (int i = 0; i < 10; ++i) {
        painter.setPen(QPen(colour(), 1 + coordinate(3)));
        painter.setBrush(colour());
        const QRect box(coordinate(width), coordinate(height), width / 16 + coordinate(width / 5),
                        height / 16 + coordinate(height / 5));
        if (i % 2 == 0)
            painter.drawEllipse(box);
        else
            painter.drawRect(box);
    }
    for (int i = 0; i < 4; ++i) {
        painter.setPen(QPen(colour(), 1));
        painter.drawLine(coordinate(width), coordinate(height), coordinate(width), coordinate(height));
    }
    painter.end();

    for (int y = 0; y < height; ++y) {
        auto *row = reinterpret_cast<QRgb *>(picture.scanLine(y));
        for (int x = 0; x < width; ++x) {
            const int noise = int(random.bounded(5)) - 2;
            const auto add = [noise](int channel) { return qBound(0, channel + noise, 255); };
            row[x] = qRgb(add(qRed(row[x])), add(qGreen(row[x])), add(qBlue(row[x])));
        }
    }
    return picture;
}

std::vector<QByteArray> busyJpegFrames(const QSize &size, int count, int quality)
{
    std::vector<QByteArray> frames;
    for (int i = 0; i < count; ++i)
        frames.push_back(encodeJpeg(busyPicture(size, quint32(1000 + i)), quality));
    return frames;
}
