#pragma once

#include <QByteArray>

class QImage;

// The image as a baseline (or progressive) JPEG.
QByteArray encodeJpeg(const QImage &image, int quality = 85, bool progressive = false);

// The JPEG with an EXIF APP1 segment right after FF D8 whose TIFF block
// points at the thumbnail, a whole JPEG of its own (FF D8 ... FF D9). The
// thumbnail must leave the segment within its 65535-byte limit.
QByteArray insertExifThumbnail(const QByteArray &jpeg, const QByteArray &thumbnail);

// What insertExifThumbnail() adds to the thumbnail's own length.
constexpr int ExifThumbnailOverhead = 2 + 6 + 68;
