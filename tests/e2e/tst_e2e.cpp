#include <QApplication>
#include <QDir>
#include <QHostAddress>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <QTime>

#include <algorithm>
#include <functional>
#include <memory>

#include "framemarks.h"
#include "monitorwindow.h"
#include "recordingprobe.h"
#include "simulatedcamera.h"
#include "statusreader.h"

namespace {

const QString Loopback = QStringLiteral("127.0.0.1");
constexpr int StreamTimeoutMs = 30000;
constexpr int FileTimeoutMs = 10000;

// What the video label showed while the test watched it.
struct Watched
{
    QList<int> numbers;   // frame numbers read, in order, repeats left out
    int unreadable = 0;   // pictures that were not a camera frame, once one was shown
    int unstamped = 0;    // frames without a time stamp from `since` through the screenshot
    QTime since = QTime::currentTime();
    int last() const { return numbers.isEmpty() ? -1 : numbers.last(); }
};

// Takes screenshots of the picture until `enough` holds for the frame number
// shown (-1 for no camera frame) or the time is up.
bool watchPicture(const MonitorWindow &monitor, const std::function<bool(int)> &enough,
                  Watched *watched, int timeoutMs = StreamTimeoutMs)
{
    return QTest::qWaitFor([&] {
        const QImage picture = monitor.picture();
        const QTime taken = QTime::currentTime();
        const int number = readFrameNumber(picture);
        if (number < 0) {
            if (!watched->numbers.isEmpty())
                ++watched->unreadable;
        } else if (watched->last() != number) {
            watched->numbers.append(number);
            if (!hasTimeStamp(picture, watched->since, taken))
                ++watched->unstamped;
        }
        return enough(number);
    }, timeoutMs);
}

bool isNonDecreasing(const QList<int> &numbers)
{
    return std::is_sorted(numbers.cbegin(), numbers.cend());
}

QString listed(const QList<int> &numbers)
{
    QStringList texts;
    for (int number : numbers)
        texts.append(QString::number(number));
    return texts.join(u' ');
}

QList<int> range(int first, int last)
{
    QList<int> numbers;
    for (int number = first; number <= last; ++number)
        numbers.append(number);
    return numbers;
}

QStringList recordingsIn(const QString &folder)
{
    return QDir(folder).entryList({QStringLiteral("*.avi")}, QDir::Files, QDir::Name);
}

// A loopback port on which nobody listens.
quint16 closedPort()
{
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    return server.serverPort();
}

// Seconds since midnight of a recording named HH-MM-SS.avi, or -1.
int recordingTime(const QString &name)
{
    static const QRegularExpression pattern(QStringLiteral("^(\\d\\d)-(\\d\\d)-(\\d\\d)\\.avi$"));
    const QRegularExpressionMatch match = pattern.match(name);
    if (!match.hasMatch())
        return -1;
    const QTime time(match.captured(1).toInt(), match.captured(2).toInt(), match.captured(3).toInt());
    return time.isValid() ? time.msecsSinceStartOfDay() / 1000 : -1;
}

// Whether `time` lies from `earliest` through `latest`, all seconds of one day,
// across midnight too.
bool isBetween(int time, int earliest, int latest)
{
    constexpr int Day = 24 * 60 * 60;
    return (time - earliest + Day) % Day <= (latest - earliest + Day) % Day;
}

int secondsOfDay()
{
    return QTime::currentTime().msecsSinceStartOfDay() / 1000;
}

const QStringList StatusTexts{QString(), QStringLiteral("connecting..."), QStringLiteral("stoped"),
                              QStringLiteral("socket error!")};

} // namespace

class EndToEnd : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void showsNewestFrame_data();
    void showsNewestFrame();
    void recording_data();
    void recording();
    void recordingAcrossReconnection();
    void statusTexts();
    void refusedConnection();

private:
    StatusReader status{StatusTexts};
};

void EndToEnd::initTestCase()
{
    QVERIFY2(QGuiApplication::platformName() == QLatin1String("xcb"),
             "runs on an X server only: start it through run-e2e.sh");
    for (const char *tool : {"xdotool", "ffprobe", "ffmpeg"})
        QVERIFY2(!QStandardPaths::findExecutable(QLatin1String(tool)).isEmpty(), tool);
}

void EndToEnd::showsNewestFrame_data()
{
    QTest::addColumn<QStringList>("cameraOptions");
    QTest::addColumn<int>("frames");

    QTest::newRow("plain http") << QStringList{"--mode", "http"} << 40;
    QTest::newRow("back-to-back JPEGs") << QStringList{"--mode", "bare"} << 40;
    QTest::newRow("EXIF thumbnails") << QStringList{"--mode", "http,exif"} << 40;
    QTest::newRow("bursts of 5") << QStringList{"--mode", "burst", "--burst", "5"} << 40;
}

// The picture follows the stream, and once the camera stops sending it shows
// the last frame sent, stamped with the time.
void EndToEnd::showsNewestFrame()
{
    QFETCH(QStringList, cameraOptions);
    QFETCH(int, frames);

    Watched watched;
    SimulatedCamera camera;
    QVERIFY2(camera.start(cameraOptions + QStringList{"--fps", "20", "--frames", QString::number(frames)}),
             qPrintable(camera.error()));
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    MonitorWindow monitor(folder.path());
    QVERIFY2(monitor.start(), qPrintable(monitor.error()));
    QCOMPARE(readFrameNumber(monitor.picture()), -1);
    QVERIFY2(monitor.enterAddress(Loopback, camera.port()), qPrintable(monitor.error()));
    QVERIFY2(monitor.click(MonitorWindow::Connect), qPrintable(monitor.error()));

    const bool reachedLast = watchPicture(monitor, [&](int number) { return number >= frames; }, &watched);
    QVERIFY2(reachedLast, qPrintable(QStringLiteral("shown: %1").arg(listed(watched.numbers))));
    QCOMPARE(watched.last(), frames);
    QVERIFY2(isNonDecreasing(watched.numbers), qPrintable(listed(watched.numbers)));
    QVERIFY2(watched.numbers.size() >= 3, qPrintable(listed(watched.numbers)));
    QCOMPARE(watched.unreadable, 0);
    QCOMPARE(watched.unstamped, 0);

    QVERIFY2(monitor.click(MonitorWindow::Stop), qPrintable(monitor.error()));
    QTRY_COMPARE(status.read(monitor.statusArea()), QStringLiteral("stoped"));
    QCOMPARE(readFrameNumber(monitor.picture()), frames);

    QVERIFY2(monitor.click(MonitorWindow::Close), qPrintable(monitor.error()));
    int exitCode = -1;
    QVERIFY2(monitor.waitForExit(&exitCode), qPrintable(monitor.error()));
    QCOMPARE(exitCode, 0);
    QVERIFY(recordingsIn(folder.path()).isEmpty());
}

void EndToEnd::recording_data()
{
    QTest::addColumn<QStringList>("cameraOptions");
    QTest::addColumn<int>("frames");
    QTest::addColumn<int>("startAt");  // frame shown when 视频录制 is pressed; 0: before connecting
    QTest::addColumn<int>("stopAt");   // frame shown when 停止录制 is pressed; 0: after the last frame

    QTest::newRow("whole stream") << QStringList{"--mode", "http"} << 40 << 0 << 0;
    QTest::newRow("middle of a burst stream")
        << QStringList{"--mode", "burst", "--burst", "4"} << 100 << 12 << 48;
}

// The recording holds every frame shown while it was on, in order, stamped.
void EndToEnd::recording()
{
    QFETCH(QStringList, cameraOptions);
    QFETCH(int, frames);
    QFETCH(int, startAt);
    QFETCH(int, stopAt);

    Watched watched;
    SimulatedCamera camera;
    QVERIFY2(camera.start(cameraOptions + QStringList{"--fps", "20", "--frames", QString::number(frames)}),
             qPrintable(camera.error()));
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    MonitorWindow monitor(folder.path());
    QVERIFY2(monitor.start(), qPrintable(monitor.error()));
    QVERIFY2(monitor.enterAddress(Loopback, camera.port()), qPrintable(monitor.error()));

    int shownAtStart = 0;
    int startedEarliest = 0;
    int startedLatest = 0;
    const auto startRecording = [&] {
        shownAtStart = qMax(0, watched.last());
        startedEarliest = secondsOfDay();
        QVERIFY2(monitor.click(MonitorWindow::Record), qPrintable(monitor.error()));
        QTRY_COMPARE_WITH_TIMEOUT(recordingsIn(folder.path()).size(), 1, FileTimeoutMs);
        startedLatest = secondsOfDay();
    };

    if (startAt == 0) {
        startRecording();
        if (QTest::currentTestFailed())
            return;
    }
    QVERIFY2(monitor.click(MonitorWindow::Connect), qPrintable(monitor.error()));
    if (startAt > 0) {
        QVERIFY2(watchPicture(monitor, [&](int number) { return number >= startAt; }, &watched),
                 qPrintable(listed(watched.numbers)));
        startRecording();
        if (QTest::currentTestFailed())
            return;
    }
    int shownAtStop = 0;
    if (stopAt > 0) {
        QVERIFY2(watchPicture(monitor, [&](int number) { return number >= stopAt; }, &watched),
                 qPrintable(listed(watched.numbers)));
        shownAtStop = watched.last();
        QVERIFY2(monitor.click(MonitorWindow::StopRecord), qPrintable(monitor.error()));
    }
    QVERIFY2(watchPicture(monitor, [&](int number) { return number >= frames; }, &watched),
             qPrintable(listed(watched.numbers)));
    QCOMPARE(watched.last(), frames);
    QCOMPARE(watched.unstamped, 0);
    if (stopAt == 0)
        QVERIFY2(monitor.click(MonitorWindow::StopRecord), qPrintable(monitor.error()));
    // The close comes after the stop in the window's event queue.
    QVERIFY2(monitor.click(MonitorWindow::Close), qPrintable(monitor.error()));
    int exitCode = -1;
    QVERIFY2(monitor.waitForExit(&exitCode), qPrintable(monitor.error()));
    QCOMPARE(exitCode, 0);

    const QStringList recordings = recordingsIn(folder.path());
    QCOMPARE(recordings.size(), 1);
    const int named = recordingTime(recordings.first());
    QVERIFY2(named >= 0, qPrintable(recordings.first()));
    QVERIFY2(isBetween(named, startedEarliest, startedLatest), qPrintable(recordings.first()));

    const QString path = folder.filePath(recordings.first());
    QString error;
    const QMap<QString, QString> video = probeVideo(path, &error);
    QVERIFY2(!video.isEmpty(), qPrintable(error));
    QCOMPARE(video.value("codec_name"), QStringLiteral("mjpeg"));
    QCOMPARE(video.value("width"), QStringLiteral("320"));
    QCOMPARE(video.value("height"), QStringLiteral("240"));
    QCOMPARE(video.value("r_frame_rate"), QStringLiteral("20/1"));

    const QList<QImage> recorded = decodeFrames(path, &error);
    QVERIFY2(!recorded.isEmpty(), qPrintable(error));
    QCOMPARE(video.value("nb_read_frames"), QString::number(recorded.size()));
    QList<int> numbers;
    int unstamped = 0;
    for (const QImage &frame : recorded) {
        QCOMPARE(frame.size(), QSize(320, 240));
        numbers.append(readFrameNumber(frame));
        if (countStampPixels(frame) < StampPixelsMinimum)
            ++unstamped;
    }
    QCOMPARE(unstamped, 0);
    const int first = numbers.first();
    const int last = numbers.last();
    QCOMPARE(numbers, range(first, last));
    if (startAt == 0)
        QCOMPARE(first, 1);
    else
        QVERIFY2(first > shownAtStart, qPrintable(QStringLiteral("%1 recorded first, %2 shown before")
                                                      .arg(first).arg(shownAtStart)));
    if (stopAt == 0)
        QCOMPARE(last, frames);
    else
        QVERIFY2(last >= shownAtStop && last < frames,
                 qPrintable(QStringLiteral("%1 recorded last, %2 shown at the stop")
                                .arg(last).arg(shownAtStop)));
}

// One recording goes on across 断开 and a new 连接; the new stream starts
// afresh and nothing of the old one is shown again.
void EndToEnd::recordingAcrossReconnection()
{
    constexpr int Frames = 20;
    Watched first;
    Watched second;
    SimulatedCamera camera;
    QVERIFY2(camera.start({"--fps", "20", "--frames", QString::number(Frames)}), qPrintable(camera.error()));
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    MonitorWindow monitor(folder.path());
    QVERIFY2(monitor.start(), qPrintable(monitor.error()));
    QVERIFY2(monitor.enterAddress(Loopback, camera.port()), qPrintable(monitor.error()));

    QVERIFY2(monitor.click(MonitorWindow::Record), qPrintable(monitor.error()));
    QTRY_COMPARE_WITH_TIMEOUT(recordingsIn(folder.path()).size(), 1, FileTimeoutMs);
    QVERIFY2(monitor.click(MonitorWindow::Connect), qPrintable(monitor.error()));
    QVERIFY2(watchPicture(monitor, [&](int number) { return number >= Frames; }, &first),
             qPrintable(listed(first.numbers)));
    QCOMPARE(first.unstamped, 0);
    QVERIFY2(monitor.click(MonitorWindow::Stop), qPrintable(monitor.error()));
    QTRY_COMPARE(status.read(monitor.statusArea()), QStringLiteral("stoped"));

    QVERIFY2(monitor.click(MonitorWindow::Connect), qPrintable(monitor.error()));
    QVERIFY2(watchPicture(monitor, [&](int number) { return number >= 0 && number < Frames; }, &second),
             qPrintable(listed(second.numbers)));
    QVERIFY2(watchPicture(monitor, [&](int number) { return number >= Frames; }, &second),
             qPrintable(listed(second.numbers)));
    QVERIFY2(isNonDecreasing(second.numbers.mid(1)), qPrintable(listed(second.numbers)));
    QCOMPARE(second.unstamped, 0);

    QVERIFY2(monitor.click(MonitorWindow::StopRecord), qPrintable(monitor.error()));
    QVERIFY2(monitor.click(MonitorWindow::Close), qPrintable(monitor.error()));
    int exitCode = -1;
    QVERIFY2(monitor.waitForExit(&exitCode), qPrintable(monitor.error()));
    QCOMPARE(exitCode, 0);

    const QStringList recordings = recordingsIn(folder.path());
    QCOMPARE(recordings.size(), 1);
    QString error;
    const QList<QImage> recorded = decodeFrames(folder.filePath(recordings.first()), &error);
    QVERIFY2(!recorded.isEmpty(), qPrintable(error));
    QList<int> numbers;
    for (const QImage &frame : recorded)
        numbers.append(readFrameNumber(frame));
    QCOMPARE(numbers, range(1, Frames) + range(1, Frames));
}

// The status line through a connection that never brings a picture, the
// camera going away, and 断开; 帮助 changes nothing of it.
void EndToEnd::statusTexts()
{
    auto camera = std::make_unique<SimulatedCamera>();
    QVERIFY2(camera->start({"--mode", "silent"}), qPrintable(camera->error()));
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    MonitorWindow monitor(folder.path());
    QVERIFY2(monitor.start(), qPrintable(monitor.error()));
    QCOMPARE(status.read(monitor.statusArea()), QString());
    QVERIFY2(monitor.enterAddress(Loopback, camera->port()), qPrintable(monitor.error()));

    QVERIFY2(monitor.click(MonitorWindow::Connect), qPrintable(monitor.error()));
    QTRY_COMPARE(status.read(monitor.statusArea()), QStringLiteral("connecting..."));
    const QImage emptyPicture = monitor.picture();
    QCOMPARE(readFrameNumber(emptyPicture), -1);
    QCOMPARE(countStampPixels(emptyPicture), 0);

    QVERIFY2(monitor.click(MonitorWindow::Help), qPrintable(monitor.error()));
    QTRY_VERIFY2(monitor.output().contains(QLatin1String("help...")), qPrintable(monitor.output()));
    QCOMPARE(status.read(monitor.statusArea()), QStringLiteral("connecting..."));

    QVERIFY2(camera->stop(), qPrintable(camera->error()));
    camera.reset();
    QTRY_COMPARE(status.read(monitor.statusArea()), QStringLiteral("socket error!"));

    QVERIFY2(monitor.click(MonitorWindow::Stop), qPrintable(monitor.error()));
    QTRY_COMPARE(status.read(monitor.statusArea()), QStringLiteral("stoped"));

    QVERIFY2(monitor.click(MonitorWindow::Close), qPrintable(monitor.error()));
    int exitCode = -1;
    QVERIFY2(monitor.waitForExit(&exitCode), qPrintable(monitor.error()));
    QCOMPARE(exitCode, 0);
}

void EndToEnd::refusedConnection()
{
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    MonitorWindow monitor(folder.path());
    QVERIFY2(monitor.start(), qPrintable(monitor.error()));
    const quint16 port = closedPort();
    QVERIFY(port != 0);
    QVERIFY2(monitor.enterAddress(Loopback, port), qPrintable(monitor.error()));

    QVERIFY2(monitor.click(MonitorWindow::Connect), qPrintable(monitor.error()));
    QTRY_COMPARE(status.read(monitor.statusArea()), QStringLiteral("socket error!"));
    QCOMPARE(readFrameNumber(monitor.picture()), -1);

    QVERIFY2(monitor.click(MonitorWindow::Close), qPrintable(monitor.error()));
    int exitCode = -1;
    QVERIFY2(monitor.waitForExit(&exitCode), qPrintable(monitor.error()));
    QCOMPARE(exitCode, 0);
}

QTEST_MAIN(EndToEnd)
#include "tst_e2e.moc"
