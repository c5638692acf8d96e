#include "exifframes.h"

#include "jpegencoding.h"

#include <QBuffer>
#include <QImage>
#include <QImageReader>

namespace {

constexpr int maximumSegmentLength = 65535;

QImage decodeScaled(const QByteArray &jpeg)
{
    QByteArray copy = jpeg;
    QBuffer buffer(&copy);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "jpeg");
    const QSize full = reader.size();
    if (full.isValid() && full.width() > 0) {
        const int width = qBound(16, full.width() / 4, 160);
        const int height = qMax(1, full.height() * width / full.width());
        reader.setScaledSize(QSize(width, height));
    }
    return reader.read();
}

} // namespace

ExifFrames::ExifFrames(FrameSource &frames)
    : frames(frames)
{
}

QByteArray ExifFrames::frame(quint64 number)
{
    return withThumbnail(frames.frame(number));
}

QByteArray ExifFrames::withThumbnail(const QByteArray &jpeg)
{
    if (!jpeg.startsWith("\xFF\xD8"))
        return jpeg;
    QImage thumbnail = decodeScaled(jpeg);
    if (thumbnail.isNull())
        return jpeg;

    QByteArray thumbnailBytes;
    for (int quality = 70;; quality -= 20) {
        thumbnailBytes = encodeJpeg(thumbnail, qMax(quality, 10));
        if (thumbnailBytes.size() + ExifThumbnailOverhead <= maximumSegmentLength)
            break;
        if (quality <= 10)
            thumbnail = thumbnail.scaled(thumbnail.size() / 2);
    }

    return insertExifThumbnail(jpeg, thumbnailBytes);
}
