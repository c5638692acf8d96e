#include <QBuffer>
#include <QImageReader>
#include <QImageWriter>
#include <QTest>

#include <sys/resource.h>

#include "frames/framedecoder.h"
#include "testsupport.h"

namespace {

qint64 peakResidentBytes()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return qint64(usage.ru_maxrss) * 1024;
}

QByteArray encodePng(const QImage &image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter(&buffer, "png").write(image);
    return bytes;
}

// A small real JPEG whose SOF0 segment claims another size.
QByteArray withClaimedSize(QByteArray jpeg, int width, int height)
{
    const int frame = jpeg.indexOf("\xFF\xC0");
    Q_ASSERT(frame > 0);
    jpeg[frame + 5] = char(height >> 8);
    jpeg[frame + 6] = char(height & 0xFF);
    jpeg[frame + 7] = char(width >> 8);
    jpeg[frame + 8] = char(width & 0xFF);
    return jpeg;
}

// Mean absolute difference per channel, over the whole of two equal-sized images.
double meanDifference(const QImage &a, const QImage &b)
{
    const QImage left = a.convertToFormat(QImage::Format_RGB32);
    const QImage right = b.convertToFormat(QImage::Format_RGB32);
    double sum = 0;
    for (int y = 0; y < left.height(); ++y) {
        for (int x = 0; x < left.width(); ++x) {
            const QRgb p = left.pixel(x, y);
            const QRgb q = right.pixel(x, y);
            sum += qAbs(qRed(p) - qRed(q)) + qAbs(qGreen(p) - qGreen(q)) + qAbs(qBlue(p) - qBlue(q));
        }
    }
    return sum / (3.0 * left.width() * left.height());
}

} // namespace

class DecoderTest : public QObject
{
    Q_OBJECT

private slots:
    void decodedSize_data();
    void decodedSize();
    void undecodableBytes_data();
    void undecodableBytes();
    void hostileHeader_data();
    void hostileHeader();
    void hostileHeaderWithoutAllocationLimit();
};

void DecoderTest::decodedSize_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QSize>("source");
    QTest::addColumn<QSize>("expected");

    const auto jpegRow = [](const char *name, QSize source, QSize expected) {
        QTest::newRow(name) << makeJpeg(source, 3) << source << expected;
    };
    jpegRow("320x240 as it is", QSize(320, 240), QSize(320, 240));
    jpegRow("160x120 as it is", QSize(160, 120), QSize(160, 120));
    jpegRow("16x12 as it is", QSize(16, 12), QSize(16, 12));
    jpegRow("320x256 fills the buffer exactly", QSize(320, 256), QSize(320, 256));
    jpegRow("330x250 just over the buffer", QSize(330, 250), QSize(316, 240));
    jpegRow("640x480 halved", QSize(640, 480), QSize(320, 240));
    jpegRow("1280x720 to 320x180", QSize(1280, 720), QSize(320, 180));
    jpegRow("1000x200 to 320x64", QSize(1000, 200), QSize(320, 64));
    jpegRow("200x1000 to 48x240", QSize(200, 1000), QSize(48, 240));
}

void DecoderTest::decodedSize()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QSize, source);
    QFETCH(QSize, expected);

    QCOMPARE(decodedSizeFor(source), expected);
    const QImage decoded = decodeFrame(bytes);
    QCOMPARE(decoded.size(), expected);
    QVERIFY(qint64(decoded.width()) * decoded.height() * 4 <= 327680);

    // The whole picture, scaled, not a crop of it.
    const QImage reference = makeTestPicture(source, 3).scaled(expected, Qt::IgnoreAspectRatio,
                                                               Qt::SmoothTransformation);
    QVERIFY2(meanDifference(decoded, reference) < 12.0,
             qPrintable(QString::number(meanDifference(decoded, reference))));
}

void DecoderTest::undecodableBytes_data()
{
    QTest::addColumn<QByteArray>("bytes");

    const QByteArray jpeg = makeJpeg(QSize(64, 48));
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("text") << QByteArray("HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\n");
    QTest::newRow("start and end markers only") << QByteArray("\xFF\xD8\xFF\xD9", 4);
    QTest::newRow("cut inside the header") << jpeg.left(20);
    QTest::newRow("zero bytes") << QByteArray(4000, '\0');
    QTest::newRow("a picture that is no JPEG") << encodePng(makeTestPicture(QSize(64, 48)));
}

void DecoderTest::undecodableBytes()
{
    QFETCH(QByteArray, bytes);
    QVERIFY(decodeFrame(bytes).isNull());
}

void DecoderTest::hostileHeader_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QSize>("expected");

    const QByteArray jpeg = makeJpeg(QSize(64, 48), 5);
    const int scan = jpeg.indexOf("\xFF\xDA");
    const auto rows = [&](const char *name, int width, int height, QSize expected) {
        const QByteArray claimed = withClaimedSize(jpeg, width, height);
        QTest::addRow("%s, whole body", name) << claimed << expected;
        QTest::addRow("%s, truncated body", name) << claimed.left(scan + 40) << expected;
    };
    rows("65535x65535", 65535, 65535, QSize());
    rows("65500x65500", 65500, 65500, QSize());
    rows("46000x46000", 46000, 46000, QSize());
    rows("7681x4320", 7681, 4320, QSize());
    rows("65500x600", 65500, 600, QSize());
    // The largest claim still decoded: the body is short, so libjpeg pads it.
    rows("7680x4320", 7680, 4320, QSize(320, 180));
}

void DecoderTest::hostileHeader()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QSize, expected);

    const qint64 before = peakResidentBytes();
    const QImage decoded = decodeFrame(bytes);
    const qint64 growth = peakResidentBytes() - before;

    QCOMPARE(decoded.size(), expected.isValid() ? expected : QSize(0, 0));
    QCOMPARE(decoded.isNull(), !expected.isValid());
    QVERIFY2(growth < 64 * 1024 * 1024, qPrintable(QStringLiteral("peak grew by %1 bytes").arg(growth)));
}

// decodeFrame does not lean on the process-wide allocation limit.
void DecoderTest::hostileHeaderWithoutAllocationLimit()
{
    const int limit = QImageReader::allocationLimit();
    QImageReader::setAllocationLimit(0);
    const QByteArray hostile = withClaimedSize(makeJpeg(QSize(64, 48), 5), 65500, 65500);
    const qint64 before = peakResidentBytes();
    const QImage decoded = decodeFrame(hostile);
    const qint64 growth = peakResidentBytes() - before;
    QImageReader::setAllocationLimit(limit);

    QVERIFY(decoded.isNull());
    QVERIFY2(growth < 64 * 1024 * 1024, qPrintable(QStringLiteral("peak grew by %1 bytes").arg(growth)));
}

QTEST_MAIN(DecoderTest)
#include "tst_decoder.moc"
