#include "exifframes.h"

#include <QBuffer>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>
#include <QtEndian>

namespace {

constexpr int maximumSegmentLength = 65535;
constexpr int thumbnailOffset = 68; // from the TIFF header, see tiffWithThumbnail()

QByteArray encode(const QImage &image, int quality)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    writer.setQuality(quality);
    writer.write(image);
    return bytes;
}

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

void appendShort(QByteArray &bytes, quint16 value)
{
    char raw[2];
    qToLittleEndian(value, raw);
    bytes.append(raw, 2);
}

void appendLong(QByteArray &bytes, quint32 value)
{
    char raw[4];
    qToLittleEndian(value, raw);
    bytes.append(raw, 4);
}

void appendEntry(QByteArray &bytes, quint16 tag, quint16 type, quint32 value)
{
    appendShort(bytes, tag);
    appendShort(bytes, type);
    appendLong(bytes, 1);
    if (type == 3) {
        appendShort(bytes, quint16(value));
        appendShort(bytes, 0);
    } else {
        appendLong(bytes, value);
    }
}

// Little-endian TIFF: IFD0 with the orientation, IFD1 pointing at the thumbnail.
QByteArray tiffWithThumbnail(const QByteArray &thumbnail)
{
    QByteArray tiff("II*\0\x08\0\0\0", 8);
    appendShort(tiff, 1);
    appendEntry(tiff, 0x0112, 3, 1);  // Orientation: normal
    appendLong(tiff, 26);             // next IFD
    appendShort(tiff, 3);
    appendEntry(tiff, 0x0103, 3, 6);  // Compression: JPEG
    appendEntry(tiff, 0x0201, 4, thumbnailOffset);
    appendEntry(tiff, 0x0202, 4, quint32(thumbnail.size()));
    appendLong(tiff, 0);
    Q_ASSERT(tiff.size() == thumbnailOffset);
    return tiff + thumbnail;
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

    const int overhead = 2 + 6 + thumbnailOffset;
    QByteArray thumbnailBytes;
    for (int quality = 70;; quality -= 20) {
        thumbnailBytes = encode(thumbnail, qMax(quality, 10));
        if (thumbnailBytes.size() + overhead <= maximumSegmentLength)
            break;
        if (quality <= 10)
            thumbnail = thumbnail.scaled(thumbnail.size() / 2);
    }

    QByteArray payload("Exif\0\0", 6);
    payload += tiffWithThumbnail(thumbnailBytes);
    const quint16 length = quint16(payload.size() + 2);
    QByteArray segment("\xFF\xE1", 2);
    segment += char(length >> 8);
    segment += char(length & 0xFF);
    segment += payload;
    return jpeg.left(2) + segment + jpeg.mid(2);
}
