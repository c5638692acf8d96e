#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPainter>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTime>

#include <memory>

#include "frames/framepipeline.h"
#include "recorder/videorecorder.h"
#include "testsupport.h"
#include "window/sharedstate.h"
#include "window/widget.h"

namespace {

struct Probe
{
    bool readable = false;
    QString codec;
    QSize size;
    QString rate;
    int frames = -1;
};

// What ffprobe, reading every packet, finds in the file's video stream.
Probe probe(const QString &file)
{
    QProcess process;
    process.start(QStringLiteral("ffprobe"),
                  {"-v", "error", "-count_frames", "-select_streams", "v:0", "-show_entries",
                   "stream=codec_name,width,height,r_frame_rate,nb_read_frames", "-of",
                   "default=nw=1", file});
    Probe result;
    if (!process.waitForFinished(60000) || process.exitCode() != 0)
        return result;
    QMap<QString, QString> values;
    for (const QByteArray &line : process.readAllStandardOutput().split('\n')) {
        const int equals = line.indexOf('=');
        if (equals > 0)
            values.insert(QString::fromLatin1(line.left(equals)), QString::fromLatin1(line.mid(equals + 1)));
    }
    result.readable = values.contains(QStringLiteral("codec_name"));
    result.codec = values.value(QStringLiteral("codec_name"));
    result.size = QSize(values.value(QStringLiteral("width")).toInt(), values.value(QStringLiteral("height")).toInt());
    result.rate = values.value(QStringLiteral("r_frame_rate"));
    const QString frames = values.value(QStringLiteral("nb_read_frames"));
    result.frames = frames == QLatin1String("N/A") ? 0 : frames.toInt();
    return result;
}

QImage firstFrame(const QString &file)
{
    const QString picture = file + QStringLiteral(".png");
    QProcess::execute(QStringLiteral("ffmpeg"),
                      {"-v", "error", "-y", "-i", file, "-frames:v", "1", picture});
    QImage frame(picture);
    QFile::remove(picture);
    return frame.convertToFormat(QImage::Format_RGB32);
}

QStringList recordings()
{
    return QDir::current().entryList({QStringLiteral("*.avi")}, QDir::Files, QDir::Time | QDir::Reversed);
}

QByteArray grayJpeg()
{
    QImage image(320, 240, QImage::Format_RGB32);
    image.fill(QColor(128, 128, 128));
    return encodeJpeg(image);
}

// Pixels of the stamp after motion-JPEG: clearly bluer than red and green.
int bluishPixels(const QImage &frame, const QRect &area)
{
    int count = 0;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            const QRgb pixel = frame.pixel(x, y);
            if (qBlue(pixel) > qRed(pixel) + 50 && qBlue(pixel) > qGreen(pixel) + 50)
                ++count;
        }
    }
    return count;
}

double meanDifference(const QImage &a, const QImage &b, int firstRow, int lastRow)
{
    double sum = 0;
    int count = 0;
    for (int y = firstRow; y <= lastRow; ++y) {
        for (int x = 0; x < a.width(); ++x, ++count) {
            const QRgb p = a.pixel(x, y);
            const QRgb q = b.pixel(x, y);
            sum += qAbs(qRed(p) - qRed(q)) + qAbs(qGreen(p) - qGreen(q)) + qAbs(qBlue(p) - qBlue(q));
        }
    }
    return count ? sum / (3.0 * count) : 0;
}

QPushButton *button(Widget &window, const char *name)
{
    return window.findChild<QPushButton *>(QLatin1String(name));
}

QLabel *label(Widget &window, const char *name)
{
    return window.findChild<QLabel *>(QLatin1String(name));
}

const QRegularExpression TimeName(QStringLiteral("^\\d\\d-\\d\\d-\\d\\d(-\\d+)?\\.avi$"));

} // namespace

class RecorderTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void fileName_data();
    void fileName();
    void takenNameGetsCounter();
    void recordsStampedFrames();
    void stopWithoutStartDoesNothing();
    void startThenStopWithoutFrames();
    void unwritableFolderReportsError();
    void failedStartFinishesOpenRecording();
    void secondStartFinishesFirstFile();
    void closingWindowFinishesFile();
    void framesOfOtherSizes_data();
    void framesOfOtherSizes();
    void undecodableImageAddsNoFrame();

private:
    std::unique_ptr<QTemporaryDir> folder;
    QString originalFolder;
};

void RecorderTest::init()
{
    originalFolder = QDir::currentPath();
    folder = std::make_unique<QTemporaryDir>();
    QVERIFY(folder->isValid());
    QVERIFY(QDir::setCurrent(folder->path()));
}

void RecorderTest::cleanup()
{
    stopRecording();
    QDir::setCurrent(originalFolder);
    folder.reset();
}

void RecorderTest::fileName_data()
{
    QTest::addColumn<QTime>("time");
    QTest::addColumn<QString>("name");
    QTest::newRow("09:05:03") << QTime(9, 5, 3) << QStringLiteral("09-05-03.avi");
    QTest::newRow("23:59:59") << QTime(23, 59, 59) << QStringLiteral("23-59-59.avi");
    QTest::newRow("00:00:00") << QTime(0, 0, 0) << QStringLiteral("00-00-00.avi");
    QTest::newRow("12:30:45.999") << QTime(12, 30, 45, 999) << QStringLiteral("12-30-45.avi");
}

void RecorderTest::fileName()
{
    QFETCH(QTime, time);
    QFETCH(QString, name);
    QCOMPARE(recordingFileName(time), name);
    QCOMPARE(recordingFileName(time).size(), 12);
    QCOMPARE(freeRecordingName(QDir::current(), time), name);
}

void RecorderTest::takenNameGetsCounter()
{
    const QTime time(9, 5, 3);
    const auto take = [](const QString &name) {
        QFile file(name);
        return file.open(QIODevice::WriteOnly);
    };
    QCOMPARE(freeRecordingName(QDir::current(), time), QStringLiteral("09-05-03.avi"));
    QVERIFY(take(QStringLiteral("09-05-03.avi")));
    QCOMPARE(freeRecordingName(QDir::current(), time), QStringLiteral("09-05-03-1.avi"));
    QVERIFY(take(QStringLiteral("09-05-03-1.avi")));
    QCOMPARE(freeRecordingName(QDir::current(), time), QStringLiteral("09-05-03-2.avi"));
    // Only the folder asked about counts.
    QTemporaryDir elsewhere;
    QCOMPARE(freeRecordingName(QDir(elsewhere.path()), time), QStringLiteral("09-05-03.avi"));

    // A recording started in the same second as an earlier one keeps it.
    QVERIFY(startRecording(freeRecordingName(QDir::current(), time)));
    stopRecording();
    QVERIFY(QFile::exists(QStringLiteral("09-05-03-2.avi")));
    QCOMPARE(QFile(QStringLiteral("09-05-03.avi")).size(), 0);
}

void RecorderTest::recordsStampedFrames()
{
    Widget window;
    FramePipeline pipeline(label(window, "Image"));
    const QByteArray jpeg = grayJpeg();

    button(window, "record")->click();
    QVERIFY(recording);
    const int frameCount = 7;
    for (int i = 0; i < frameCount; ++i)
        pipeline.process(jpeg);
    const QImage lastShown = label(window, "Image")->pixmap().toImage().convertToFormat(QImage::Format_RGB32);
    button(window, "stoprecord")->click();
    QVERIFY(!recording);

    const QStringList files = recordings();
    QCOMPARE(files.size(), 1);
    QVERIFY2(TimeName.match(files.first()).hasMatch(), qPrintable(files.first()));
    const Probe found = probe(files.first());
    QVERIFY(found.readable);
    QCOMPARE(found.codec, QStringLiteral("mjpeg"));
    QCOMPARE(found.size, QSize(320, 240));
    QCOMPARE(found.rate, QStringLiteral("20/1"));
    QCOMPARE(found.frames, frameCount);

    const QImage frame = firstFrame(files.first());
    QCOMPARE(frame.size(), QSize(320, 240));
    QVERIFY(bluishPixels(frame, QRect(0, 5, 200, 28)) > 40);
    QCOMPARE(bluishPixels(frame, QRect(0, 45, 320, 195)), 0);
    // The stamp sits where the label showed it; the seconds digits may differ.
    QVERIFY(meanDifference(frame, lastShown, 0, 239) < 6.0);
}

void RecorderTest::stopWithoutStartDoesNothing()
{
    Widget window;
    const QString status = label(window, "statuslabel")->text();
    stopRecording();
    button(window, "stoprecord")->click();
    button(window, "stoprecord")->click();

    QVERIFY(!recording);
    QVERIFY(!videoWriter);
    QCOMPARE(label(window, "statuslabel")->text(), status);
    QVERIFY(QDir::current().entryList(QDir::AllEntries | QDir::NoDotAndDotDot).isEmpty());
}

void RecorderTest::startThenStopWithoutFrames()
{
    Widget window;
    button(window, "record")->click();
    QVERIFY(recording);
    button(window, "stoprecord")->click();
    button(window, "stoprecord")->click();

    // What is left: an AVI with its one motion-JPEG stream and no frame.
    const QStringList files = recordings();
    QCOMPARE(files.size(), 1);
    QVERIFY2(TimeName.match(files.first()).hasMatch(), qPrintable(files.first()));
    const Probe found = probe(files.first());
    QVERIFY(found.readable);
    QCOMPARE(found.codec, QStringLiteral("mjpeg"));
    QCOMPARE(found.size, QSize(320, 240));
    QCOMPARE(found.rate, QStringLiteral("20/1"));
    QCOMPARE(found.frames, 0);
}

// As root no permission bit stops a write, so the working folder is removed instead.
void RecorderTest::unwritableFolderReportsError()
{
    Widget window;
    FramePipeline pipeline(label(window, "Image"));
    const QString gone = folder->filePath(QStringLiteral("gone"));
    QVERIFY(QDir().mkdir(gone));
    QVERIFY(QDir::setCurrent(gone));
    QVERIFY(QDir().rmdir(gone));

    button(window, "record")->click();
    QCOMPARE(label(window, "statuslabel")->text(), QStringLiteral("record error!"));
    QVERIFY(!recording);
    QVERIFY(!videoWriter);

    QVERIFY(QDir::setCurrent(folder->path()));
    for (int i = 0; i < 3; ++i)
        pipeline.process(makeJpeg(QSize(320, 240), i));
    QVERIFY(!label(window, "Image")->pixmap().isNull());
    QVERIFY(QDir::current().entryList(QDir::AllEntries | QDir::NoDotAndDotDot).isEmpty());

    QVERIFY(!startRecording(QStringLiteral("missing/recording.avi")));
    QVERIFY(!recording);
    QVERIFY(!QFile::exists(QStringLiteral("missing")));
}

void RecorderTest::failedStartFinishesOpenRecording()
{
    Widget window;
    FramePipeline pipeline(label(window, "Image"));
    QVERIFY(startRecording(QStringLiteral("first.avi")));
    for (int i = 0; i < 2; ++i)
        pipeline.process(makeJpeg(QSize(320, 240), i));

    const QString gone = folder->filePath(QStringLiteral("gone"));
    QVERIFY(QDir().mkdir(gone));
    QVERIFY(QDir::setCurrent(gone));
    QVERIFY(QDir().rmdir(gone));
    button(window, "record")->click();
    QCOMPARE(label(window, "statuslabel")->text(), QStringLiteral("record error!"));
    QVERIFY(!recording);
    pipeline.process(makeJpeg(QSize(320, 240), 5));

    QVERIFY(QDir::setCurrent(folder->path()));
    QCOMPARE(probe(QStringLiteral("first.avi")).frames, 2);
}

void RecorderTest::secondStartFinishesFirstFile()
{
    Widget window;
    FramePipeline pipeline(label(window, "Image"));

    button(window, "record")->click();
    for (int i = 0; i < 3; ++i)
        pipeline.process(makeJpeg(QSize(320, 240), i));
    const QStringList first = recordings();
    QCOMPARE(first.size(), 1);

    button(window, "record")->click();
    QVERIFY(recording);
    for (int i = 0; i < 2; ++i)
        pipeline.process(makeJpeg(QSize(320, 240), i));
    QStringList second = recordings();
    QCOMPARE(second.size(), 2);
    second.removeOne(first.first());
    QVERIFY2(TimeName.match(second.first()).hasMatch(), qPrintable(second.first()));

    // The first file is finished already, before any stop.
    QCOMPARE(probe(first.first()).frames, 3);
    button(window, "stoprecord")->click();
    QCOMPARE(probe(first.first()).frames, 3);
    QCOMPARE(probe(second.first()).frames, 2);
}

void RecorderTest::closingWindowFinishesFile()
{
    QLabel view;
    FramePipeline pipeline(&view);
    auto window = std::make_unique<Widget>();
    window->show();
    button(*window, "record")->click();
    for (int i = 0; i < 4; ++i)
        pipeline.process(makeJpeg(QSize(320, 240), i));
    window.reset();

    QVERIFY(!recording);
    QVERIFY(!videoWriter);
    const QStringList files = recordings();
    QCOMPARE(files.size(), 1);
    const Probe found = probe(files.first());
    QCOMPARE(found.codec, QStringLiteral("mjpeg"));
    QCOMPARE(found.frames, 4);
}

void RecorderTest::framesOfOtherSizes_data()
{
    QTest::addColumn<QSize>("source");
    QTest::addColumn<QSize>("picture");
    QTest::newRow("640x480") << QSize(640, 480) << QSize(320, 240);
    QTest::newRow("160x120") << QSize(160, 120) << QSize(320, 240);
    QTest::newRow("1280x720") << QSize(1280, 720) << QSize(320, 180);
    QTest::newRow("1000x200") << QSize(1000, 200) << QSize(320, 64);
}

void RecorderTest::framesOfOtherSizes()
{
    QFETCH(QSize, source);
    QFETCH(QSize, picture);
    Widget window;
    FramePipeline pipeline(label(window, "Image"));

    QVERIFY(startRecording(QStringLiteral("sizes.avi")));
    const int frameCount = 3;
    for (int i = 0; i < frameCount; ++i)
        pipeline.process(makeJpeg(source, 9));
    stopRecording();

    const Probe found = probe(QStringLiteral("sizes.avi"));
    QCOMPARE(found.size, QSize(320, 240));
    QCOMPARE(found.frames, frameCount);

    // The whole picture, aspect kept, centred on black.
    const QImage frame = firstFrame(QStringLiteral("sizes.avi"));
    QCOMPARE(frame.size(), QSize(320, 240));
    QImage expected(320, 240, QImage::Format_RGB32);
    expected.fill(Qt::black);
    const int top = (240 - picture.height()) / 2;
    QPainter(&expected).drawImage(QPoint((320 - picture.width()) / 2, top),
                                  makeTestPicture(source, 9).scaled(picture, Qt::IgnoreAspectRatio,
                                                                    Qt::SmoothTransformation));
    if (top > 2)
        QVERIFY(meanDifference(frame, expected, 0, top - 2) < 4.0);
    const double difference = meanDifference(frame, expected, top + 40, top + picture.height() - 1);
    QVERIFY2(difference < 15.0, qPrintable(QString::number(difference)));
}

void RecorderTest::undecodableImageAddsNoFrame()
{
    Widget window;
    FramePipeline pipeline(label(window, "Image"));
    QVERIFY(startRecording(QStringLiteral("mixed.avi")));
    pipeline.process(makeJpeg(QSize(320, 240), 1));
    pipeline.process(QByteArray("no picture"));
    pipeline.process(makeJpeg(QSize(320, 240), 2));
    pipeline.process(QByteArray("\xFF\xD8\xFF\xD9", 4));
    pipeline.process(makeJpeg(QSize(320, 240), 3));
    stopRecording();
    QCOMPARE(probe(QStringLiteral("mixed.avi")).frames, 3);
}

QTEST_MAIN(RecorderTest)
#include "tst_recorder.moc"
