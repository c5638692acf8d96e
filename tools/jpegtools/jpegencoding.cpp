#include "jpegencoding.h"

#include <QBuffer>
#include <QImage>
#include <QImageWriter>
#include <QtEndian>

namespace {

constexpr int ThumbnailOffset = 68; // from the TIFF header, see tiffWithThumbnail()

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
    appendEntry(tiff, 0x0112, 3, 1); // Orientation: normal
    appendLong(tiff, 26);            // next IFD
    appendShort(tiff, 3);
    appendEntry(tiff, 0x0103, 3, 6); // Compression: JPEG
    appendEntry(tiff, 0x0201, 4, ThumbnailOffset);
    appendEntry(tiff, 0x0202, 4, quint32(thumbnail.size()));
    appendLong(tiff, 0);
    Q_ASSERT(tiff.size() == ThumbnailOffset);
    return tiff + thumbnail;
}

} // namespace

QByteArray encodeJpeg(const QImage &image, int quality, bool progressive)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    writer.setQuality(quality);
    writer.setProgressiveScanWrite(progressive);
    writer.write(image);
    return bytes;
}

QByteArray insertExifThumbnail(const QByteArray &jpeg, const QByteArray &thumbnail)
{
    QByteArray payload("Exif\0\0", 6);
    payload += tiffWithThumbnail(thumbnail);
    const quint16 length = quint16(payload.size() + 2);
    QByteArray segment("\xFF\xE1", 2);
    segment += char(length >> 8);
    segment += char(length & 0xFF);
    segment += payload;
    return jpeg.left(2) + segment + jpeg.mid(2);
}
