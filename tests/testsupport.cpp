#include "testsupport.h"

#include <QPainter>
#include <QProcess>

QImage makeTestPicture(const QSize &size, int seed)
{
    QImage image(size, QImage::Format_RGB32);
    for (int y = 0; y < size.height(); ++y) {
        auto *row = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < size.width(); ++x)
            row[x] = qRgb((x * 255 / qMax(1, size.width()) + seed) & 0xFF,
                          (y * 255 / qMax(1, size.height()) + 2 * seed) & 0xFF,
                          ((x ^ y) + 3 * seed) & 0xFF);
    }
    QPainter painter(&image);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(240, 240, 40));
    painter.drawEllipse(QRect(size.width() / 4, size.height() / 4, size.width() / 3, size.height() / 3));
    painter.setBrush(QColor(20, 160, 60));
    painter.drawRect(QRect(size.width() / 2, size.height() / 2, size.width() / 4, size.height() / 5));
    return image;
}

QByteArray makeJpeg(const QSize &size, int seed, int quality)
{
    return encodeJpeg(makeTestPicture(size, seed), quality);
}

QByteArray withExifThumbnail(const QByteArray &jpeg)
{
    return insertExifThumbnail(jpeg, makeJpeg(QSize(40, 30), 7, 60));
}

QString MarkingTranslator::translate(const char *context, const char *sourceText, const char *, int) const
{
    if (qstrcmp(context, "Widget") != 0)
        return QString();
    return u'<' + QString::fromUtf8(sourceText) + u'>';
}

int recordedFrameCount(const QString &file)
{
    QProcess probe;
    probe.start(QStringLiteral("ffprobe"),
                {"-v", "error", "-count_frames", "-select_streams", "v:0", "-show_entries",
                 "stream=nb_read_frames", "-of", "default=nw=1:nk=1", file});
    if (!probe.waitForFinished(120000) || probe.exitCode() != 0)
        return -1;
    const QByteArray count = probe.readAllStandardOutput().trimmed();
    return count == "N/A" ? 0 : count.toInt();
}
