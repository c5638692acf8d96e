#include "frames/framedecoder.h"

#include <QBuffer>
#include <QByteArray>
#include <QImageReader>

#include "window/sharedstate.h"

namespace {
// Headers claiming more pixels than 8K UHD are refused unread: no camera
// sends them, and a forged one would cost up to Qt's allocation limit and
// a long scan per frame.
constexpr qint64 MaxSourcePixels = qint64(7680) * 4320;
}

QSize decodedSizeFor(const QSize &size)
{
    if (qint64(size.width()) * size.height() * 4 <= DisplayBufferSize)
        return size;
    const QSize scaled = size.scaled(FrameWidth, FrameHeight, Qt::KeepAspectRatio);
    return scaled.expandedTo(QSize(1, 1));
}

QImage decodeFrame(const QByteArray &bytes)
{
    QByteArray shared = bytes;
    QBuffer device(&shared);
    device.open(QIODevice::ReadOnly);
    // Every cut image begins with FF D8. Naming the format spares the probing
    // of every image plugin and keeps other decoders away from what a server sends.
    QImageReader reader(&device, "jpeg");
    reader.setAutoDetectImageFormat(false);
    const QSize size = reader.size();
    if (size.isValid()) {
        if (qint64(size.width()) * size.height() > MaxSourcePixels)
            return QImage();
        const QSize decoded = decodedSizeFor(size);
        if (decoded != size)
            reader.setScaledSize(decoded);
    }
    return reader.read();
}
