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

// Hands bytes to the cutter in deliveries, as read() does.
Feed feed(FrameCutter &cutter, const QByteArray &bytes)
{
    Feed result;
    for (qsizetype offset = 0; offset < bytes.size(); offset += Delivery) {
        const QByteArray delivery = bytes.mid(offset, Delivery);
        const Clock::time_point start = Clock::now();
        cutter.append(delivery);
        const Clock::time_point appended = Clock::now();
        for (QByteArray image = cutter.nextImage(); !image.isEmpty(); image = cutter.nextImage())
            ++result.images;
        cutter.compact();
        const Clock::time_point scanned = Clock::now();
        result.appendMilliseconds += millisecondsBetween(start, appended);
        result.scanMilliseconds += millisecondsBetween(appended, scanned);
    }
    return result;
}

ExtractionCost partialImageCost(const QByteArray &header, const QByteArray &entropy, qsizetype bufferLength,
                                int repetitions)
{
    ExtractionCost cost;
    cost.what = QStringLiteral("image not ended yet");
    std::vector<double> appendCosts;
    std::vector<double> scanCosts;
    for (int repetition = 0; repetition < repetitions; ++repetition) {
        QByteArray buffer;
        FrameCutter cutter(buffer);
        feed(cutter, header + entropy.left(bufferLength));
        cost.bufferMiB = double(buffer.size()) / MiB;
        const Feed timed = feed(cutter, entropy.mid(bufferLength, TimedBytes));
        appendCosts.push_back(timed.appendMilliseconds);
        scanCosts.push_back(timed.scanMilliseconds);
        cost.imagesCut = timed.images;
    }
    cost.appendPerMiB = median(appendCosts);
    cost.scanPerMiB = median(scanCosts);
    return cost;
}

ExtractionCost streamCost(const QByteArray &jpeg, int repetitions)
{
    ExtractionCost cost;
    cost.what = QStringLiteral("whole %1 KB frames").arg(jpeg.size() / 1000);
    const QByteArray stream = multipartStream(jpeg, 2 * TimedBytes);
    std::vector<double> appendCosts;
    std::vector<double> scanCosts;
    for (int repetition = 0; repetition < repetitions; ++repetition) {
        QByteArray buffer;
        FrameCutter cutter(buffer);
        feed(cutter, stream.left(TimedBytes));
        cost.bufferMiB = double(buffer.size()) / MiB;
        const Feed timed = feed(cutter, stream.mid(TimedBytes, TimedBytes));
        appendCosts.push_back(timed.appendMilliseconds);
        scanCosts.push_back(timed.scanMilliseconds);
        cost.imagesCut = timed.images;
    }
    cost.appendPerMiB = median(appendCosts);
    cost.scanPerMiB = median(scanCosts);
    return cost;
}
}

std::vector<ExtractionCost> measureExtractionCost(const QByteArray &jpeg, int repetitions)
{
    const QByteArray header = headerThroughScanStart(jpeg);
    const QByteArray entropy = entropyData(7 * MiB);
    return {partialImageCost(header, entropy, 0, repetitions),
            partialImageCost(header, entropy, 6 * MiB, repetitions),
            streamCost(jpeg, repetitions)};
}
