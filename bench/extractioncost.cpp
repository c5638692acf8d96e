#include "extractioncost.h"

#include <QRandomGenerator>

#include "stream/framecutter.h"

namespace {
constexpr qsizetype Delivery = 64 * 1024;
constexpr qsizetype MiB = 1024 * 1024;
constexpr qsizetype TimedBytes = MiB;

// The image's bytes through its start-of-scan segment.
QByteArray headerThroughScanStart(const QByteArray &jpeg)
{
    const qsizetype scan = jpeg.indexOf("\xFF\xDA");
    if (scan < 0 || scan + 4 > jpeg.size())
        return jpeg.left(2);
    const int length = (uchar(jpeg[scan + 2]) << 8) | uchar(jpeg[scan + 3]);
    return jpeg.left(scan + 2 + length);
}

// Entropy-coded bytes as a JPEG encoder writes them: every FF stuffed with 00.
QByteArray entropyData(qsizetype size)
{
    QRandomGenerator random(7);
    QByteArray bytes;
    bytes.reserve(size + 1);
    while (bytes.size() < size) {
        const char byte = char(random.bounded(256));
        bytes += byte;
        if (uchar(byte) == 0xFF)
            bytes += '\0';
    }
    bytes.truncate(size);
    if (uchar(bytes.back()) == 0xFF)
        bytes.back() = '\x01';
    return bytes;
}

QByteArray multipartStream(const QByteArray &jpeg, qsizetype size)
{
    QByteArray part = QByteArrayLiteral("\r\n--boundarydonotcross\r\nContent-Type: image/jpeg\r\nContent-Length: ");
    part += QByteArray::number(jpeg.size()) + "\r\n\r\n" + jpeg;
    QByteArray stream;
    while (stream.size() < size)
        stream += part;
    return stream;
}

struct Feed
{
    double appendMilliseconds = 0;
    double scanMilliseconds = 0;
    int images = 0;
};

enum class Scan { Resumed, FromStart };

// Hands bytes to the cutter in deliveries, as read() does. Scan::FromStart
// instead searches the whole buffer for an end marker after each delivery,
// for comparison.
Feed feed(FrameCutter &cutter, const QByteArray &buffer, const QByteArray &bytes, Scan scan = Scan::Resumed)
{
    Feed result;
    for (qsizetype offset = 0; offset < bytes.size(); offset += Delivery) {
        const QByteArray delivery = bytes.mid(offset, Delivery);
        const Clock::time_point start = Clock::now();
        cutter.append(delivery);
        const Clock::time_point appended = Clock::now();
        if (scan == Scan::FromStart) {
            result.images += buffer.indexOf("\xFF\xD9") >= 0 ? 1 : 0;
        } else {
            for (QByteArray image = cutter.nextImage(); !image.isEmpty(); image = cutter.nextImage())
                ++result.images;
            cutter.compact();
        }
        const Clock::time_point scanned = Clock::now();
        result.appendMilliseconds += millisecondsBetween(start, appended);
        result.scanMilliseconds += millisecondsBetween(appended, scanned);
    }
    return result;
}

// Fills a new cutter with `before`, then times the deliveries of `timed`.
ExtractionCost timedFeeds(const QString &what, const QByteArray &before, const QByteArray &timed,
                          int repetitions, Scan scan = Scan::Resumed)
{
    ExtractionCost cost;
    cost.what = what;
    std::vector<double> appendCosts;
    std::vector<double> scanCosts;
    for (int repetition = 0; repetition < repetitions; ++repetition) {
        QByteArray buffer;
        FrameCutter cutter(buffer);
        feed(cutter, buffer, before);
        cost.bufferMiB = double(buffer.size()) / MiB;
        const Feed result = feed(cutter, buffer, timed, scan);
        appendCosts.push_back(result.appendMilliseconds);
        scanCosts.push_back(result.scanMilliseconds);
        cost.imagesCut = result.images;
    }
    cost.appendPerMiB = median(appendCosts);
    cost.scanPerMiB = median(scanCosts);
    return cost;
}

ExtractionCost partialImageCost(const QByteArray &header, const QByteArray &entropy, qsizetype bufferLength,
                                int repetitions, Scan scan = Scan::Resumed)
{
    const QString what = scan == Scan::Resumed ? QStringLiteral("image not ended yet")
                                               : QStringLiteral("same, searched from 0 (for comparison)");
    return timedFeeds(what, header + entropy.left(bufferLength), entropy.mid(bufferLength, TimedBytes),
                      repetitions, scan);
}

ExtractionCost streamCost(const QByteArray &jpeg, int repetitions)
{
    const QByteArray stream = multipartStream(jpeg, 2 * TimedBytes);
    return timedFeeds(QStringLiteral("whole %1 KB frames").arg(jpeg.size() / 1000), stream.left(TimedBytes),
                      stream.mid(TimedBytes, TimedBytes), repetitions);
}
}

std::vector<ExtractionCost> measureExtractionCost(const QByteArray &jpeg, int repetitions)
{
    const QByteArray header = headerThroughScanStart(jpeg);
    const QByteArray entropy = entropyData(7 * MiB);
    std::vector<ExtractionCost> costs;
    for (const qsizetype length : {qsizetype(0), 2 * MiB, 4 * MiB, 6 * MiB})
        costs.push_back(partialImageCost(header, entropy, length, repetitions));
    costs.push_back(partialImageCost(header, entropy, 6 * MiB, repetitions, Scan::FromStart));
    costs.push_back(streamCost(jpeg, repetitions));
    return costs;
}
