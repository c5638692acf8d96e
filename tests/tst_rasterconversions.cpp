#include <QImage>
#include <QList>
#include <QMetaEnum>
#include <QStringList>
#include <QTest>

#include <cmath>
#include <cstring>

#include "frames/raster.h"
#include "frames/rasterconversions.h"

namespace {

constexpr char SourceCanary = char(0xEE);
constexpr char DestinationCanary = char(0xCD);
constexpr int DestinationSlack = 64;

// Every message sent through Qt's logging while it lives, as "debug: text".
class CapturedMessages
{
public:
    CapturedMessages()
    {
        captured.clear();
        previous = qInstallMessageHandler(&CapturedMessages::record);
    }
    ~CapturedMessages() { qInstallMessageHandler(previous); }

    QStringList messages() const { return captured; }

private:
    static void record(QtMsgType type, const QMessageLogContext &, const QString &text)
    {
        captured.append((type == QtDebugMsg ? QStringLiteral("debug: ") : QStringLiteral("other: ")) + text);
    }

    static inline QStringList captured;
    QtMessageHandler previous = nullptr;
};

int sampleSize(int depth)
{
    return (depth & 0xFF) / 8;
}

// A raster whose bytes all hold the source canary. A rowStep above 0
// replaces the allocated one; enough memory is allocated to hold it.
RasterPtr makeRaster(int width, int height, int depth, int channels, int rowStep = 0)
{
    const int pixelBytes = qMax(1, sampleSize(depth) * channels);
    const int allocatedWidth = rowStep > 0 ? qMax(width, rowStep / pixelBytes + 1) : width;
    RasterPtr raster(cvCreateImage(cvSize(allocatedWidth, height), depth, channels));
    if (raster->imageSize > 0)
        std::memset(raster->imageData, SourceCanary, size_t(raster->imageSize));
    raster->width = width;
    if (rowStep > 0)
        raster->widthStep = rowStep;
    return raster;
}

QByteArray rasterBytes(const IplImage *raster)
{
    return QByteArray(raster->imageData, raster->imageSize);
}

// Stores the samples row after row, rows starting every whole number of
// samples that fits in the row step.
void writeSamples(IplImage *raster, const QList<double> &samples)
{
    if (samples.isEmpty())
        return;
    const int size = sampleSize(raster->depth);
    const int perRow = raster->width * raster->nChannels;
    const qsizetype rowBytes = qsizetype(raster->widthStep / size) * size;
    for (qsizetype i = 0; i < samples.size(); ++i) {
        char *at = raster->imageData + (i / perRow) * rowBytes + (i % perRow) * size;
        const double value = samples[i];
        if (raster->depth == IPL_DEPTH_16U) {
            const auto sample = quint16(value);
            std::memcpy(at, &sample, sizeof sample);
        } else if (raster->depth == IPL_DEPTH_32F) {
            const auto sample = float(value);
            std::memcpy(at, &sample, sizeof sample);
        } else if (raster->depth == IPL_DEPTH_64F) {
            std::memcpy(at, &value, sizeof value);
        } else {
            *at = char(int(value));
        }
    }
}

QList<double> byteSamples(int count)
{
    QList<double> samples;
    for (int i = 0; i < count; ++i)
        samples.append((i * 37 + 11) % 256);
    return samples;
}

QByteArray bytes(const QList<double> &values)
{
    QByteArray result;
    for (double value : values)
        result.append(char(int(value)));
    return result;
}

// 3-channel samples as display pixels: blue, green, red, 0.
QByteArray displayPixels(const QList<double> &samples)
{
    QByteArray result;
    for (qsizetype i = 0; i < samples.size(); i += 3)
        result.append(bytes(samples.mid(i, 3))).append('\0');
    return result;
}

QString unsupported(const char *depth, int channels)
{
    return QStringLiteral("debug: IplImageToQImage: image format is not supported : depth=%1 and %2 channels\n")
        .arg(QLatin1String(depth))
        .arg(channels);
}

QRgb patternColour(int x, int y)
{
    return qRgba((x * 7 + y) & 0xFF, (y * 41 + x / 3) & 0xFF, (x * x + 5 * y) & 0xFF, (x * 13 + y * 29) & 0xFF);
}

// A picture with transparent, translucent and opaque pixels.
QImage patternImage(int width, int height, QImage::Format format = QImage::Format_ARGB32)
{
    QImage image(width, height, QImage::Format_ARGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, patternColour(x, y));
    return image.convertToFormat(format);
}

// The copy as the decoded image's per-pixel accessor gives it.
void copyThroughPixel(const QImage &image, IplImage *raster)
{
    for (int y = 0; y < image.height(); ++y) {
        char *row = raster->imageData + y * raster->widthStep;
        for (int x = 0; x < image.width(); ++x) {
            row[3 * x] = char(qBlue(image.pixel(x, y)));
            row[3 * x + 1] = char(qGreen(image.pixel(x, y)));
            row[3 * x + 2] = char(qRed(image.pixel(x, y)));
        }
    }
}

} // namespace

class TestRasterConversions : public QObject
{
    Q_OBJECT

private slots:
    void imageIntoRaster_data();
    void imageIntoRaster();
    void imageIntoRasterMatchesPixelLoop_data();
    void imageIntoRasterMatchesPixelLoop();
    void rasterIntoDisplayPixels_data();
    void rasterIntoDisplayPixels();
};

void TestRasterConversions::imageIntoRaster_data()
{
    QTest::addColumn<QImage>("image");
    QTest::addColumn<QSize>("rasterSize");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("0x0 image") << QImage() << QSize(3, 2) << QByteArray(2 * 12, SourceCanary);
    QTest::newRow("0x0 image, 0x0 raster") << QImage() << QSize(0, 0) << QByteArray();

    QImage translucent(1, 1, QImage::Format_ARGB32);
    translucent.setPixel(0, 0, 0x80112233);
    QTest::newRow("alpha dropped") << translucent << QSize(1, 1) << QByteArray("\x33\x22\x11\xEE");

    QImage indexed(1, 1, QImage::Format_Indexed8);
    indexed.setColorTable({0x80112233});
    indexed.fill(0);
    QTest::newRow("indexed, translucent entry") << indexed << QSize(1, 1) << QByteArray("\x33\x22\x11\xEE");

    QImage gray(2, 1, QImage::Format_Grayscale8);
    gray.scanLine(0)[0] = 0x7F;
    gray.scanLine(0)[1] = 0x40;
    QTest::newRow("gray") << gray << QSize(2, 1) << QByteArray("\x7F\x7F\x7F\x40\x40\x40\xEE\xEE");

    QImage small(2, 1, QImage::Format_RGB32);
    small.setPixel(0, 0, 0xFF010203);
    small.setPixel(1, 0, 0xFF040506);
    QByteArray larger(3 * 12, SourceCanary);
    larger.replace(0, 6, "\x03\x02\x01\x06\x05\x04");
    QTest::newRow("raster larger than image") << small << QSize(4, 3) << larger;

    const QImage wide = patternImage(321, 2);
    QByteArray wideRows;
    for (int y = 0; y < 2; ++y) {
        for (int x = 0; x < 321; ++x) {
            const QRgb colour = patternColour(x, y);
            wideRows.append(char(qBlue(colour))).append(char(qGreen(colour))).append(char(qRed(colour)));
        }
        wideRows.append(SourceCanary);
    }
    QTest::newRow("width 321, row step 964") << wide << QSize(321, 2) << wideRows;
}

void TestRasterConversions::imageIntoRaster()
{
    QFETCH(QImage, image);
    QFETCH(QSize, rasterSize);
    QFETCH(QByteArray, expected);

    RasterPtr raster = makeRaster(rasterSize.width(), rasterSize.height(), IPL_DEPTH_8U, 3);
    QImageToIplImage(image, raster.get());

    QCOMPARE(rasterBytes(raster.get()), expected);
}

void TestRasterConversions::imageIntoRasterMatchesPixelLoop_data()
{
    QTest::addColumn<QImage>("image");

    const QMetaEnum formats = QMetaEnum::fromType<QImage::Format>();
    for (int format = QImage::Format_Mono; format < QImage::NImageFormats; ++format) {
        for (int width : {1, 2, 321}) {
            QTest::addRow("%s, width %d", formats.valueToKey(format) + 7, width)
                << patternImage(width, 3, QImage::Format(format));
        }
    }

    QImage indexed(321, 3, QImage::Format_Indexed8);
    indexed.setColorTable({0x00000000, 0x80112233, 0xFFFFFFFF, 0x01FF8040});
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 321; ++x)
            indexed.setPixel(x, y, uint((x + y) % 4));
    QTest::newRow("Indexed8, translucent table") << indexed;

    // Rows longer than the pixels, and a fourth byte that is not 0xFF.
    constexpr int width = 321, height = 3, rowBytes = width * 4 + 12;
    auto *pixels = new uchar[rowBytes * height];
    for (int i = 0; i < rowBytes * height; ++i)
        pixels[i] = uchar(i * 29 + 3);
    const QImage padded(
        pixels, width, height, rowBytes, QImage::Format_RGB32, [](void *data) { delete[] static_cast<uchar *>(data); },
        pixels);
    QTest::newRow("RGB32, padded rows") << padded;
}

void TestRasterConversions::imageIntoRasterMatchesPixelLoop()
{
    QFETCH(QImage, image);
    QVERIFY(!image.isNull());

    RasterPtr raster = makeRaster(image.width() + 2, image.height() + 1, IPL_DEPTH_8U, 3);
    RasterPtr reference = makeRaster(image.width() + 2, image.height() + 1, IPL_DEPTH_8U, 3);
    QImageToIplImage(image, raster.get());
    copyThroughPixel(image, reference.get());

    QCOMPARE(rasterBytes(raster.get()), rasterBytes(reference.get()));
}

void TestRasterConversions::rasterIntoDisplayPixels_data()
{
    QTest::addColumn<int>("depth");
    QTest::addColumn<int>("channels");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<int>("rowStep"); // 0: as allocated
    QTest::addColumn<QList<double>>("samples");
    QTest::addColumn<double>("rangeLow");
    QTest::addColumn<double>("rangeHigh");
    QTest::addColumn<QByteArray>("expected");
    QTest::addColumn<QString>("message");
    QTest::addColumn<bool>("grayTable");

    const QString none;
    const double nan = std::nan("");

    QTest::newRow("8U/3 0x0") << IPL_DEPTH_8U << 3 << QSize(0, 0) << 0 << QList<double>() << 0.0 << 0.0
                              << QByteArray() << none << false;
    QTest::newRow("8U/3 zero height") << IPL_DEPTH_8U << 3 << QSize(5, 0) << 0 << QList<double>() << 0.0 << 0.0
                                      << QByteArray() << none << false;
    QTest::newRow("8U/1 0x0") << IPL_DEPTH_8U << 1 << QSize(0, 0) << 0 << QList<double>() << 0.0 << 0.0
                              << QByteArray() << none << true;
    QTest::newRow("8U/1 zero width") << IPL_DEPTH_8U << 1 << QSize(0, 4) << 0 << QList<double>() << 0.0 << 0.0
                                     << QByteArray() << none << true;
    QTest::newRow("32F/1 0x0") << IPL_DEPTH_32F << 1 << QSize(0, 0) << 0 << QList<double>() << 0.0 << 1.0
                               << QByteArray() << none << true;

    const QList<double> twoByTwo{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    QTest::newRow("8U/3 2x2") << IPL_DEPTH_8U << 3 << QSize(2, 2) << 0 << twoByTwo << 0.0 << 0.0
                              << QByteArray("\x01\x02\x03\x00\x04\x05\x06\x00\x07\x08\x09\x00\x0A\x0B\x0C\x00", 16)
                              << none << false;
    const QList<double> wide = byteSamples(321 * 3 * 3);
    QTest::newRow("8U/3 width 321, row step 964")
        << IPL_DEPTH_8U << 3 << QSize(321, 3) << 0 << wide << 0.0 << 0.0 << displayPixels(wide) << none << false;
    const QList<double> frame = byteSamples(320 * 240 * 3);
    QTest::newRow("8U/3 320x240") << IPL_DEPTH_8U << 3 << QSize(320, 240) << 0 << frame << 0.0 << 0.0
                                  << displayPixels(frame) << none << false;

    const QList<double> gray = byteSamples(5 * 3);
    QTest::newRow("8U/1 rows of 5, row step 8")
        << IPL_DEPTH_8U << 1 << QSize(5, 3) << 0 << gray << 0.0 << 0.0 << bytes(gray) << none << true;
    QTest::newRow("8U/1 rows of 5, row step 7")
        << IPL_DEPTH_8U << 1 << QSize(5, 3) << 7 << gray << 0.0 << 0.0 << bytes(gray) << none << true;

    QTest::newRow("16U/1 high bytes") << IPL_DEPTH_16U << 1 << QSize(4, 1) << 0
                                      << QList<double>{0x1234, 0x00FF, 0xFFFF, 0x0100} << 0.0 << 0.0
                                      << QByteArray("\x12\x00\xFF\x01", 4) << none << true;
    const QList<double> wordRows{0x0100, 0x0200, 0x0300, 0x0400, 0x0500, 0x0600, 0x0700, 0x0800, 0x0900};
    QTest::newRow("16U/1 row step 8") << IPL_DEPTH_16U << 1 << QSize(3, 3) << 0 << wordRows << 0.0 << 0.0
                                      << QByteArray("\x01\x02\x03\x04\x05\x06\x07\x08\x09") << none << true;
    QTest::newRow("16U/1 row step 11") << IPL_DEPTH_16U << 1 << QSize(3, 3) << 11 << wordRows << 0.0 << 0.0
                                       << QByteArray("\x01\x02\x03\x04\x05\x06\x07\x08\x09") << none << true;

    const QList<double> unitRange{0.5, 1.0, 1.2, -0.1, nan};
    const QByteArray unitBytes("\x7F\xFF\xFF\x00\x00", 5);
    QTest::newRow("32F/1 bounds 0 and 1") << IPL_DEPTH_32F << 1 << QSize(5, 1) << 0 << unitRange << 0.0 << 1.0
                                          << unitBytes << none << true;
    QTest::newRow("64F/1 bounds 0 and 1") << IPL_DEPTH_64F << 1 << QSize(5, 1) << 0 << unitRange << 0.0 << 1.0
                                          << unitBytes << none << true;
    const QList<double> aroundZero{3.0, -3.0, 0.0, nan};
    const QByteArray stepBytes("\xFF\x00\x00\x00", 4);
    QTest::newRow("32F/1 equal bounds 0") << IPL_DEPTH_32F << 1 << QSize(4, 1) << 0 << aroundZero << 0.0 << 0.0
                                          << stepBytes << none << true;
    QTest::newRow("64F/1 equal bounds 0") << IPL_DEPTH_64F << 1 << QSize(4, 1) << 0 << aroundZero << 0.0 << 0.0
                                          << stepBytes << none << true;
    QTest::newRow("32F/1 equal bounds 0 and -0") << IPL_DEPTH_32F << 1 << QSize(3, 1) << 0
                                                 << QList<double>{3.0, 0.0, -3.0} << 0.0 << -0.0
                                                 << QByteArray("\xFF\x00\x00", 3) << none << true;
    QTest::newRow("64F/1 equal bounds 2") << IPL_DEPTH_64F << 1 << QSize(3, 1) << 0 << QList<double>{2.5, 2.0, 1.5}
                                          << 2.0 << 2.0 << QByteArray("\xFF\x00\x00", 3) << none << true;
    QTest::newRow("32F/1 fraction dropped")
        << IPL_DEPTH_32F << 1 << QSize(4, 1) << 0 << QList<double>{254.9, 255.0, 0.99, -0.5} << 0.0 << 255.0
        << QByteArray("\xFE\xFF\x00\x00", 4) << none << true;
    QTest::newRow("64F/1 bounds 10 and 20") << IPL_DEPTH_64F << 1 << QSize(3, 1) << 0
                                            << QList<double>{15.0, 10.0, 20.0} << 10.0 << 20.0
                                            << QByteArray("\x7F\x00\xFF", 3) << none << true;
    const QList<double> reversedRange{0.25, 1.0, 0.0};
    const QByteArray reversedBytes("\xBF\x00\xFF", 3);
    QTest::newRow("32F/1 bounds 1 and 0") << IPL_DEPTH_32F << 1 << QSize(3, 1) << 0 << reversedRange << 1.0 << 0.0
                                          << reversedBytes << none << true;
    QTest::newRow("64F/1 bounds 1 and 0") << IPL_DEPTH_64F << 1 << QSize(3, 1) << 0 << reversedRange << 1.0 << 0.0
                                          << reversedBytes << none << true;
    // 128 / (1 + 1e-9) rounds up to 128 as a float and truncates to 127 as a double.
    QTest::newRow("32F/1 scaled value held as float") << IPL_DEPTH_32F << 1 << QSize(1, 1) << 0
                                                      << QList<double>{128.0} << 0.0 << 255.000000255
                                                      << QByteArray("\x80") << none << true;
    QTest::newRow("64F/1 scaled value held as double") << IPL_DEPTH_64F << 1 << QSize(1, 1) << 0
                                                       << QList<double>{128.0} << 0.0 << 255.000000255
                                                       << QByteArray("\x7F") << none << true;
    const QList<double> floatRows{0.0, 0.5, 1.0, 1.0, 0.5, 0.0};
    const QByteArray floatRowBytes("\x00\x7F\xFF\xFF\x7F\x00", 6);
    QTest::newRow("32F/1 row step 19") << IPL_DEPTH_32F << 1 << QSize(3, 2) << 19 << floatRows << 0.0 << 1.0
                                       << floatRowBytes << none << true;
    QTest::newRow("64F/1 row step 37") << IPL_DEPTH_64F << 1 << QSize(3, 2) << 37 << floatRows << 0.0 << 1.0
                                       << floatRowBytes << none << true;

    QTest::newRow("8U/4") << IPL_DEPTH_8U << 4 << QSize(2, 2) << 0 << byteSamples(16) << 0.0 << 0.0 << QByteArray()
                          << unsupported("8U", 4) << false;
    QTest::newRow("8U/2") << IPL_DEPTH_8U << 2 << QSize(2, 2) << 0 << byteSamples(8) << 0.0 << 0.0 << QByteArray()
                          << unsupported("8U", 2) << false;
    QTest::newRow("16U/3") << IPL_DEPTH_16U << 3 << QSize(2, 2) << 0 << QList<double>() << 0.0 << 0.0
                           << QByteArray() << unsupported("16U", 3) << false;
    QTest::newRow("32F/3") << IPL_DEPTH_32F << 3 << QSize(2, 2) << 0 << QList<double>() << 0.0 << 1.0
                           << QByteArray() << unsupported("32F", 3) << false;
    QTest::newRow("64F/2") << IPL_DEPTH_64F << 2 << QSize(2, 2) << 0 << QList<double>() << 0.0 << 1.0
                           << QByteArray() << unsupported("64F", 2) << false;
    QTest::newRow("8S/1") << int(IPL_DEPTH_8S) << 1 << QSize(2, 2) << 0 << byteSamples(4) << 0.0 << 0.0
                          << QByteArray() << unsupported("-2147483640", 1) << true;
    QTest::newRow("8S/3") << int(IPL_DEPTH_8S) << 3 << QSize(2, 2) << 0 << byteSamples(12) << 0.0 << 0.0
                          << QByteArray() << unsupported("-2147483640", 3) << false;
    QTest::newRow("1U/1") << IPL_DEPTH_1U << 1 << QSize(8, 2) << 0 << QList<double>() << 0.0 << 0.0
                          << QByteArray() << unsupported("1", 1) << true;
}

void TestRasterConversions::rasterIntoDisplayPixels()
{
    QFETCH(int, depth);
    QFETCH(int, channels);
    QFETCH(QSize, size);
    QFETCH(int, rowStep);
    QFETCH(QList<double>, samples);
    QFETCH(double, rangeLow);
    QFETCH(double, rangeHigh);
    QFETCH(QByteArray, expected);
    QFETCH(QString, message);
    QFETCH(bool, grayTable);

    RasterPtr raster = makeRaster(size.width(), size.height(), depth, channels, rowStep);
    writeSamples(raster.get(), samples);
    QByteArray destination(expected.size() + DestinationSlack, DestinationCanary);
    QImage target(2, 2, QImage::Format_Indexed8);
    const QList<QRgb> ownTable{0xFF102030, 0x80405060};
    target.setColorTable(ownTable);
    const qint64 targetKey = target.cacheKey();

    CapturedMessages captured;
    IplImageToQImage(raster.get(), &target, reinterpret_cast<uchar *>(destination.data()), rangeLow, rangeHigh);

    QCOMPARE(captured.messages(), message.isEmpty() ? QStringList() : QStringList{message});
    QCOMPARE(destination.left(expected.size()), expected);
    QCOMPARE(destination.mid(expected.size()), QByteArray(DestinationSlack, DestinationCanary));
    if (grayTable) {
        const QList<QRgb> table = target.colorTable();
        QCOMPARE(table.size(), 256);
        QCOMPARE(table[0], 0xFF000000u);
        QCOMPARE(table[128], 0xFF808080u);
        QCOMPARE(table[255], 0xFFFFFFFFu);
        for (int i = 0; i < 256; ++i)
            QCOMPARE(table[i], qRgb(i, i, i));
    } else {
        QCOMPARE(target.colorTable(), ownTable);
        QCOMPARE(target.cacheKey(), targetKey);
    }
}

QTEST_MAIN(TestRasterConversions)
#include "tst_rasterconversions.moc"
