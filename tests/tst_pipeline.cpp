#include <QLabel>
#include <QPixmap>
#include <QTemporaryDir>
#include <QTest>
#include <QTime>

#include <cstdlib>

#include <opencv2/imgproc.hpp>

#include "frames/framedecoder.h"
#include "frames/framepipeline.h"
#include "frames/raster.h"
#include "recorder/videorecorder.h"
#include "testsupport.h"
#include "window/sharedstate.h"

namespace {

bool isStampBlue(QRgb pixel)
{
    return qBlue(pixel) > 200 && qRed(pixel) < 60 && qGreen(pixel) < 60;
}

QImage shownImage(const QLabel &label)
{
    return label.pixmap().toImage().convertToFormat(QImage::Format_RGB32);
}

// The decoded picture with the time drawn into it, made without the pipeline.
QImage stampedReference(const QImage &decoded, const QTime &time)
{
    const QImage source = decoded.convertToFormat(QImage::Format_RGB32);
    RasterPtr raster(cvCreateImage(cvSize(source.width(), source.height()), IPL_DEPTH_8U, 3));
    for (int y = 0; y < source.height(); ++y) {
        auto *row = reinterpret_cast<uchar *>(raster->imageData + y * raster->widthStep);
        for (int x = 0; x < source.width(); ++x) {
            const QRgb pixel = source.pixel(x, y);
            row[3 * x] = qBlue(pixel);
            row[3 * x + 1] = qGreen(pixel);
            row[3 * x + 2] = qRed(pixel);
        }
    }
    stampTime(raster.get(), time);
    QImage stamped(source.size(), QImage::Format_RGB32);
    for (int y = 0; y < source.height(); ++y) {
        const auto *row = reinterpret_cast<const uchar *>(raster->imageData + y * raster->widthStep);
        for (int x = 0; x < source.width(); ++x)
            stamped.setPixel(x, y, qRgb(row[3 * x + 2], row[3 * x + 1], row[3 * x]));
    }
    return stamped;
}

// The largest channel difference within the rows from firstRow on.
int largestDifference(const QImage &a, const QImage &b, int firstRow = 0)
{
    int largest = 0;
    for (int y = firstRow; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y);
            const QRgb q = b.pixel(x, y);
            largest = qMax(largest, qMax(qAbs(qRed(p) - qRed(q)),
                                         qMax(qAbs(qGreen(p) - qGreen(q)), qAbs(qBlue(p) - qBlue(q)))));
        }
    }
    return largest;
}

double meanDifference(const QImage &a, const QImage &b, int firstRow)
{
    double sum = 0;
    int count = 0;
    for (int y = firstRow; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x, ++count) {
            const QRgb p = a.pixel(x, y);
            const QRgb q = b.pixel(x, y);
            sum += qAbs(qRed(p) - qRed(q)) + qAbs(qGreen(p) - qGreen(q)) + qAbs(qBlue(p) - qBlue(q));
        }
    }
    return count ? sum / (3.0 * count) : 0;
}

} // namespace

class PipelineTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void showsStampedPicture();
    void stampSitsInUpperLeftCorner();
    void undecodableImageShowsNoPicture_data();
    void undecodableImageShowsNoPicture();
    void largerImagesFitTheLabel_data();
    void largerImagesFitTheLabel();
    void recordsOnlyWhileRecording();
    void recordsAfterLabelIsUpdated();
    void manyPasses();

private:
    QTemporaryDir folder;
};

void PipelineTest::init()
{
    displayBuffer = static_cast<unsigned char *>(std::malloc(DisplayBufferSize));
    QVERIFY(folder.isValid());
}

void PipelineTest::cleanup()
{
    stopRecording();
    std::free(displayBuffer);
    displayBuffer = nullptr;
}

void PipelineTest::showsStampedPicture()
{
    const QByteArray jpeg = makeJpeg(QSize(320, 240), 11);
    const QImage decoded = QImage::fromData(jpeg);
    QLabel label;
    FramePipeline pipeline(&label);

    // The stamp is the wall clock at the pass; a pass across a second boundary is redone.
    QTime before;
    QTime after;
    for (int attempt = 0; attempt < 5; ++attempt) {
        before = QTime::currentTime();
        pipeline.process(jpeg);
        after = QTime::currentTime();
        if (before.second() == after.second())
            break;
    }
    QCOMPARE(before.second(), after.second());

    const QImage shown = shownImage(label);
    QCOMPARE(shown.size(), QSize(320, 240));
    QVERIFY2(largestDifference(shown, decoded, 40) <= 1, "the picture below the stamp differs");
    QVERIFY2(largestDifference(shown, stampedReference(decoded, before)) <= 1,
             qPrintable(QStringLiteral("not stamped with %1").arg(before.toString(Qt::TextDate))));
    QVERIFY(largestDifference(shown, stampedReference(decoded, before.addSecs(-1))) > 100);
}

// The ink of the text drawn by the library itself at the origin (0, 30).
QRect inkAtStampOrigin(const QString &text)
{
    cv::Mat blank(240, 320, CV_8UC3, cv::Scalar::all(0));
    cv::putText(blank, text.toStdString(), cv::Point(0, 30), cv::FONT_HERSHEY_COMPLEX, 1.0,
                cv::Scalar(255, 0, 0), 1, cv::LINE_8);
    cv::Mat blue;
    cv::extractChannel(blank, blue, 0);
    const cv::Rect ink = cv::boundingRect(blue);
    return QRect(ink.x, ink.y, ink.width, ink.height);
}

void PipelineTest::stampSitsInUpperLeftCorner()
{
    const QByteArray jpeg = makeJpeg(QSize(320, 240), 4);
    const QImage decoded = QImage::fromData(jpeg);
    QLabel label;
    FramePipeline pipeline(&label);
    const QString before = QTime::currentTime().toString(Qt::TextDate);
    pipeline.process(jpeg);
    const QString after = QTime::currentTime().toString(Qt::TextDate);
    const QImage shown = shownImage(label);
    QCOMPARE(shown.size(), QSize(320, 240));

    QRect stamp;
    for (int y = 0; y < shown.height(); ++y) {
        for (int x = 0; x < shown.width(); ++x) {
            if (isStampBlue(shown.pixel(x, y)) && !isStampBlue(decoded.pixel(x, y)))
                stamp |= QRect(x, y, 1, 1);
        }
    }
    // The glyphs' left bearing puts the ink a few columns right of the origin.
    QVERIFY(!stamp.isEmpty());
    QVERIFY2(stamp.left() == inkAtStampOrigin(before).left() || stamp.left() == inkAtStampOrigin(after).left(),
             qPrintable(QString::number(stamp.left())));
    QVERIFY(stamp.left() <= 6);
    QCOMPARE(stamp.bottom(), 30);
    QVERIFY2(stamp.top() >= 5 && stamp.top() <= 12, qPrintable(QString::number(stamp.top())));
    QVERIFY2(stamp.right() < 160, qPrintable(QString::number(stamp.right())));
}

void PipelineTest::undecodableImageShowsNoPicture_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("text") << QByteArray("not a picture at all");
    QTest::newRow("markers only") << QByteArray("\xFF\xD8\xFF\xD9", 4);
    QTest::newRow("cut inside the header") << makeJpeg(QSize(320, 240)).left(30);
}

void PipelineTest::undecodableImageShowsNoPicture()
{
    QFETCH(QByteArray, bytes);
    const QByteArray good = makeJpeg(QSize(320, 240), 2);
    QLabel label;
    FramePipeline pipeline(&label);

    pipeline.process(good);
    QVERIFY(!label.pixmap().isNull());
    pipeline.process(bytes);
    QVERIFY(label.pixmap().isNull());
    pipeline.process(good);
    QCOMPARE(label.pixmap().size(), QSize(320, 240));
    QVERIFY(largestDifference(shownImage(label), QImage::fromData(good), 40) <= 1);
}

void PipelineTest::largerImagesFitTheLabel_data()
{
    QTest::addColumn<QSize>("source");
    QTest::addColumn<QSize>("shown");
    QTest::newRow("640x480") << QSize(640, 480) << QSize(320, 240);
    QTest::newRow("1280x720") << QSize(1280, 720) << QSize(320, 180);
    QTest::newRow("1000x200") << QSize(1000, 200) << QSize(320, 64);
    QTest::newRow("160x120 as it is") << QSize(160, 120) << QSize(160, 120);
}

void PipelineTest::largerImagesFitTheLabel()
{
    QFETCH(QSize, source);
    QFETCH(QSize, shown);
    QLabel label;
    FramePipeline pipeline(&label);
    pipeline.process(makeJpeg(source, 6));

    const QImage image = shownImage(label);
    QCOMPARE(image.size(), shown);
    const QImage reference = makeTestPicture(source, 6).scaled(shown, Qt::IgnoreAspectRatio,
                                                               Qt::SmoothTransformation);
    const double difference = meanDifference(image, reference, 40);
    QVERIFY2(difference < 12.0, qPrintable(QString::number(difference)));
}

void PipelineTest::recordsOnlyWhileRecording()
{
    const QString file = folder.filePath(QStringLiteral("flag.avi"));
    const QByteArray jpeg = makeJpeg(QSize(320, 240), 8);
    QLabel label;
    FramePipeline pipeline(&label);

    QVERIFY(startRecording(file));
    recording = false;
    for (int i = 0; i < 3; ++i)
        pipeline.process(jpeg);
    recording = true;
    for (int i = 0; i < 2; ++i)
        pipeline.process(jpeg);
    stopRecording();

    QCOMPARE(recordedFrameCount(file), 2);
}

void PipelineTest::recordsAfterLabelIsUpdated()
{
    const QString file = folder.filePath(QStringLiteral("order.avi"));
    QLabel label;
    FramePipeline pipeline(&label);
    qint64 pixmapBeforePass = 0;
    int shownCount = 0;
    int updatedCount = 0;
    // Stopping on the third picture shown keeps its frame out of the file
    // only if the label is updated before the frame is written.
    pipeline.setFrameShownHandler([&] {
        ++shownCount;
        if (!label.pixmap().isNull() && label.pixmap().cacheKey() != pixmapBeforePass)
            ++updatedCount;
        if (shownCount == 3)
            stopRecording();
    });

    QVERIFY(startRecording(file));
    for (int i = 0; i < 4; ++i) {
        pixmapBeforePass = label.pixmap().cacheKey();
        pipeline.process(makeJpeg(QSize(320, 240), i));
    }
    QCOMPARE(shownCount, 4);
    QCOMPARE(updatedCount, 4);
    QCOMPARE(recordedFrameCount(file), 2);
}

void PipelineTest::manyPasses()
{
    const QString file = folder.filePath(QStringLiteral("many.avi"));
    const QList<QByteArray> images = {makeJpeg(QSize(320, 240), 1), makeJpeg(QSize(640, 480), 2),
                                      QByteArray("garbage"), makeJpeg(QSize(160, 120), 3),
                                      makeJpeg(QSize(1000, 200), 4)};
    QLabel label;
    FramePipeline pipeline(&label);

    QVERIFY(startRecording(file));
    int good = 0;
    for (int pass = 0; pass < 250; ++pass) {
        const QByteArray &image = images.at(pass % images.size());
        pipeline.process(image);
        good += image.startsWith("\xFF\xD8") ? 1 : 0;
    }
    stopRecording();
    QCOMPARE(recordedFrameCount(file), good);
}

QTEST_MAIN(PipelineTest)
#include "tst_pipeline.moc"
