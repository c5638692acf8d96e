#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QProcess>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <csignal>
#include <deque>
#include <memory>

#include <sys/fsuid.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "testsupport.h"
#include "window/widget.h"

#if defined(__SANITIZE_ADDRESS__)
#define UNDER_ADDRESS_SANITIZER
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define UNDER_ADDRESS_SANITIZER
#endif
#endif

namespace {

const QByteArray StreamRequest = QByteArrayLiteral("GET /?action=stream\n\n");
const QByteArray ReplyHeader = QByteArrayLiteral(
    "HTTP/1.0 200 OK\r\nContent-Type: multipart/x-mixed-replace;boundary=frame\r\n\r\n");
const QByteArray PartHeader = QByteArrayLiteral("--frame\r\nContent-Type: image/jpeg\r\n\r\n");

constexpr qint64 MiB = 1024 * 1024;
constexpr qsizetype FloodBlockSize = 64 * 1024;
// Waits for what a flood or a soak has to get through first.
constexpr int LongWait = 60000;

// Flat fixture colours, far enough apart to be told apart after JPEG and the stamp.
enum Colour { Red, Green, Yellow, Magenta, Cyan, White, Orange, Purple, ColourCount };
constexpr int NotRecognised = -1;
constexpr int NoPicture = -2;

QRgb rgbOf(int colour)
{
    static const QRgb values[ColourCount] = {
        qRgb(220, 40, 40),  qRgb(40, 200, 60),  qRgb(235, 225, 50), qRgb(220, 50, 210),
        qRgb(50, 210, 220), qRgb(245, 245, 245), qRgb(245, 150, 30), qRgb(130, 50, 180),
    };
    return values[colour];
}

QByteArray flatJpeg(int colour, const QSize &size = QSize(320, 240))
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(rgbOf(colour));
    return encodeJpeg(image, 90);
}

// One image of a multipart reply, as a camera streaming server sends it.
QByteArray part(const QByteArray &jpeg)
{
    return "--frame\r\nContent-Type: image/jpeg\r\nContent-Length: " + QByteArray::number(jpeg.size())
        + "\r\n\r\n" + jpeg + "\r\n";
}

QByteArray flatPart(int colour)
{
    return part(flatJpeg(colour));
}

// The fixture colour of a picture, sampled below and right of the time stamp.
int recognise(const QPixmap &pixmap)
{
    if (pixmap.isNull())
        return NoPicture;
    const QImage image = pixmap.toImage();
    if (image.width() < 320 || image.height() < 240)
        return NotRecognised;
    int red = 0, green = 0, blue = 0, samples = 0;
    for (int y : {80, 140, 200}) {
        for (int x : {180, 240, 300}) {
            const QRgb pixel = image.pixel(x, y);
            red += qRed(pixel);
            green += qGreen(pixel);
            blue += qBlue(pixel);
            ++samples;
        }
    }
    for (int colour = 0; colour < ColourCount; ++colour) {
        const QRgb expected = rgbOf(colour);
        if (qAbs(red / samples - qRed(expected)) < 40 && qAbs(green / samples - qGreen(expected)) < 40
            && qAbs(blue / samples - qBlue(expected)) < 40)
            return colour;
    }
    return NotRecognised;
}

// Walks the marker segments in front of the scan; the offset of the first with
// the code, or -1.
qsizetype segmentOffset(const QByteArray &jpeg, uchar code)
{
    qsizetype at = 2;
    while (at + 4 <= jpeg.size() && uchar(jpeg[at]) == 0xFF) {
        const uchar found = uchar(jpeg[at + 1]);
        if (found == code)
            return at;
        if (found == 0xDA)
            return -1;
        at += 2 + ((uchar(jpeg[at + 2]) << 8) | uchar(jpeg[at + 3]));
    }
    return -1;
}

// The offset of the longest marker segment in front of the scan.
qsizetype longestSegmentOffset(const QByteArray &jpeg)
{
    qsizetype longest = -1;
    int longestLength = 0;
    for (qsizetype at = 2; at + 4 <= jpeg.size() && uchar(jpeg[at + 1]) != 0xDA;) {
        const int length = (uchar(jpeg[at + 2]) << 8) | uchar(jpeg[at + 3]);
        if (length > longestLength) {
            longest = at;
            longestLength = length;
        }
        at += 2 + length;
    }
    return longest;
}

qsizetype entropyDataOffset(const QByteArray &jpeg)
{
    const qsizetype scan = segmentOffset(jpeg, 0xDA);
    return scan + 2 + ((uchar(jpeg[scan + 2]) << 8) | uchar(jpeg[scan + 3]));
}

QByteArray withClaimedSize(QByteArray jpeg, int width, int height)
{
    const qsizetype frame = segmentOffset(jpeg, 0xC0);
    jpeg[frame + 5] = char(height >> 8);
    jpeg[frame + 6] = char(height & 0xFF);
    jpeg[frame + 7] = char(width >> 8);
    jpeg[frame + 8] = char(width & 0xFF);
    return jpeg;
}

// Flips bits in the entropy-coded data without making or breaking any FF.
QByteArray withFlippedEntropyBytes(QByteArray jpeg)
{
    for (qsizetype at = entropyDataOffset(jpeg) + 4; at < jpeg.size() - 4; at += 7) {
        const uchar byte = uchar(jpeg[at]);
        if (byte != 0xFF && uchar(jpeg[at - 1]) != 0xFF && (byte ^ 0x5A) != 0xFF)
            jpeg[at] = char(byte ^ 0x5A);
    }
    return jpeg;
}

// Random bytes with no FF D8 anywhere, nor across the joint of two copies.
QByteArray bytesWithoutStartMarker(qsizetype size, quint32 seed)
{
    QRandomGenerator random(seed);
    QByteArray bytes(size, Qt::Uninitialized);
    for (qsizetype at = 0; at < size; ++at)
        bytes[at] = char(random.bounded(256));
    for (qsizetype at = 1; at < size; ++at) {
        if (uchar(bytes[at - 1]) == 0xFF && uchar(bytes[at]) == 0xD8)
            bytes[at] = char(0xD7);
    }
    bytes[0] = 'x';
    bytes[size - 1] = 'x';
    return bytes;
}

// Random entropy-coded data: every FF is stuffed, so no marker ever comes.
QByteArray endlessEntropyData(qsizetype size, quint32 seed)
{
    QByteArray bytes = bytesWithoutStartMarker(size, seed);
    for (qsizetype at = 0; at + 1 < size; ++at) {
        if (uchar(bytes[at]) == 0xFF)
            bytes[++at] = 0;
    }
    bytes[size - 1] = 'x';
    return bytes;
}

qint64 statusKiB(const char *field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(qstrlen(field)).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

qint64 residentBytes()
{
    return statusKiB("VmRSS:") * 1024;
}

// The highest resident size since the last resetPeakResident().
qint64 peakResidentBytes()
{
    return statusKiB("VmHWM:") * 1024;
}

void resetPeakResident()
{
    QFile clearRefs(QStringLiteral("/proc/self/clear_refs"));
    if (clearRefs.open(QIODevice::WriteOnly))
        clearRefs.write("5");
}

// What ffprobe prints for the file, its warnings after its answer.
QString probe(const QString &file, const QStringList &arguments)
{
    QProcess ffprobe;
    ffprobe.start(QStringLiteral("ffprobe"), QStringList{"-v", "warning"} + arguments + QStringList{file});
    if (!ffprobe.waitForFinished(120000))
        return QString();
    return QString::fromUtf8(ffprobe.readAllStandardOutput() + ffprobe.readAllStandardError()).trimmed();
}

QStringList recordingsIn(const QString &folder)
{
    return QDir(folder).entryList({QStringLiteral("*.avi")}, QDir::Files, QDir::Name);
}

// A camera on 127.0.0.1 that answers the stream request with whatever the test
// queues, as fast as the client takes it or a few bytes per event-loop turn.
class TestCamera : public QObject
{
public:
    TestCamera()
    {
        server.listen(QHostAddress::LocalHost);
        connect(&server, &QTcpServer::newConnection, this, &TestCamera::accept);
        pump.setInterval(0);
        connect(&pump, &QTimer::timeout, this, &TestCamera::writeSome);
    }

    quint16 port() const { return server.serverPort(); }
    // Waits for the stream request on the given connection, counted from 1.
    bool waitForRequest(int connection)
    {
        return QTest::qWaitFor([&] { return connectionCount == connection && request.endsWith("\n\n"); });
    }

    // 0: as fast as the client reads.
    void setBytesPerTurn(int bytes) { bytesPerTurn = bytes; }

    void send(const QByteArray &bytes, qint64 times = 1)
    {
        if (bytes.isEmpty() || times <= 0)
            return;
        queue.push_back({bytes, times, 0});
        pump.start();
    }

    bool drained() const { return queue.empty() && (!client || client->bytesToWrite() == 0); }
    bool waitUntilDrained(int timeout = LongWait)
    {
        return QTest::qWaitFor([this] { return drained(); }, timeout);
    }

    // Drops what is still queued and closes once the socket has written the rest.
    void hangUp()
    {
        queue.clear();
        if (client)
            client->disconnectFromHost();
    }

private:
    struct Piece
    {
        QByteArray bytes;
        qint64 timesLeft;
        qsizetype offset;
    };

    static constexpr qint64 HighWater = 256 * 1024;
    static constexpr qint64 Chunk = 64 * 1024;

    void accept()
    {
        client.reset(server.nextPendingConnection());
        client->setParent(nullptr);
        client->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        ++connectionCount;
        request.clear();
        queue.clear();
        connect(client.get(), &QTcpSocket::readyRead, this, [this] { request += client->readAll(); });
    }

    void writeSome()
    {
        if (queue.empty()) {
            pump.stop();
            return;
        }
        if (!client || client->state() != QAbstractSocket::ConnectedState)
            return;
        if (bytesPerTurn > 0) {
            writeFromQueue(bytesPerTurn);
            client->flush();
            return;
        }
        while (!queue.empty() && client->bytesToWrite() < HighWater)
            writeFromQueue(Chunk);
    }

    void writeFromQueue(qint64 budget)
    {
        while (budget > 0 && !queue.empty()) {
            Piece &piece = queue.front();
            const qint64 count = qMin(budget, qint64(piece.bytes.size() - piece.offset));
            client->write(piece.bytes.constData() + piece.offset, count);
            budget -= count;
            piece.offset += count;
            if (piece.offset == piece.bytes.size()) {
                piece.offset = 0;
                if (--piece.timesLeft == 0)
                    queue.pop_front();
            }
        }
    }

    QTcpServer server;
    std::unique_ptr<QTcpSocket> client;
    QByteArray request;
    std::deque<Piece> queue;
    QTimer pump;
    int bytesPerTurn = 0;
    int connectionCount = 0;
};

// The window, driven through its children as a user drives it.
class Viewer
{
public:
    Viewer()
    {
        window.show();
        image = window.findChild<QLabel *>("Image");
        status = window.findChild<QLabel *>("statuslabel");
    }

    void connectTo(quint16 port)
    {
        auto *host = window.findChild<QLineEdit *>("lineEdit");
        host->clear();
        QTest::keyClicks(host, QStringLiteral("127.0.0.1"));
        auto *portField = window.findChild<QLineEdit *>("port");
        portField->clear();
        QTest::keyClicks(portField, QString::number(port));
        click("connect");
    }

    void click(const char *button) { QTest::mouseClick(window.findChild<QPushButton *>(button), Qt::LeftButton); }

    // Connects to the camera and waits until its first picture, red, shows.
    bool watch(TestCamera &camera)
    {
        connectTo(camera.port());
        if (!camera.waitForRequest(1))
            return false;
        camera.send(ReplyHeader + flatPart(Red));
        return QTest::qWaitFor([this] { return shown() == int(Red); });
    }

    int shown() const { return recognise(image->pixmap()); }

    Widget window;
    QLabel *image = nullptr;
    QLabel *status = nullptr;
};

// Every picture the label shows, looked at once per event-loop turn.
class PictureLog : public QObject
{
public:
    explicit PictureLog(const QLabel *label)
        : label(label)
    {
        timer.setInterval(0);
        connect(&timer, &QTimer::timeout, this, &PictureLog::look);
        timer.start();
        look();
    }

    void clear() { pictures.clear(); }
    QList<int> pictures;

private:
    void look()
    {
        const QPixmap pixmap = label->pixmap();
        if (pixmap.cacheKey() == lastKey)
            return;
        lastKey = pixmap.cacheKey();
        pictures.append(recognise(pixmap));
    }

    const QLabel *label;
    QTimer timer;
    qint64 lastKey = -1;
};

// A small tmpfs mounted over a folder for the life of the object (needs root).
class SmallDisk
{
public:
    SmallDisk(const QString &folder, const QByteArray &size)
        : folder(folder)
    {
        QProcess mount;
        mount.start(QStringLiteral("mount"), {"-t", "tmpfs", "-o", "size=" + QString::fromLatin1(size), "tmpfs", folder});
        mounted = mount.waitForFinished(10000) && mount.exitStatus() == QProcess::NormalExit && mount.exitCode() == 0;
        if (!mounted)
            error = QString::fromLocal8Bit(mount.readAllStandardError()).trimmed() + mount.errorString();
    }
    ~SmallDisk()
    {
        if (mounted)
            QProcess::execute(QStringLiteral("umount"), {"-l", folder});
    }

    const QString folder;
    bool mounted = false;
    QString error;
};

// Writes beyond the size stop with EFBIG, as on a full disk, instead of SIGXFSZ.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        getrlimit(RLIMIT_FSIZE, &saved);
        previousHandler = std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limited{bytes, saved.rlim_max};
        setrlimit(RLIMIT_FSIZE, &limited);
    }
    ~FileSizeLimit() { lift(); }

    void lift()
    {
        if (!active)
            return;
        const rlimit restored{saved.rlim_max, saved.rlim_max};
        setrlimit(RLIMIT_FSIZE, &restored);
        std::signal(SIGXFSZ, previousHandler);
        active = false;
    }

private:
    rlimit saved{};
    void (*previousHandler)(int) = SIG_DFL;
    bool active = true;
};

// Root passes every permission check; file access as nobody makes modes count.
class UnprivilegedFileAccess
{
public:
    UnprivilegedFileAccess()
    {
        if (geteuid() == 0)
            previous = setfsuid(65534);
    }
    ~UnprivilegedFileAccess()
    {
        if (previous >= 0)
            setfsuid(uid_t(previous));
    }

private:
    int previous = -1;
};

} // namespace

class tst_Hostile : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void floodKeepsMemoryBounded_data();
    void floodKeepsMemoryBounded();
    void goodFrameShowsAfterBadBytes_data();
    void goodFrameShowsAfterBadBytes();
    void reconnectShowsNothingOfTheCutConnection_data();
    void reconnectShowsNothingOfTheCutConnection();
    void trickleShowsEveryFrame();
    void soakWhileRecording();
    void recordingCannotStart_data();
    void recordingCannotStart();
    void recordingOntoFullDisk();
    void recordingStopsBeforeDiskIsFull();

private:
    QString startFolder;
};

void tst_Hostile::initTestCase()
{
    startFolder = QDir::currentPath();
    QVERIFY(segmentOffset(flatJpeg(Red), 0xC0) > 0);
}

void tst_Hostile::cleanup()
{
    QDir::setCurrent(startFolder);
}

void tst_Hostile::floodKeepsMemoryBounded_data()
{
    QTest::addColumn<QByteArray>("head");
    QTest::addColumn<QByteArray>("block");

    QTest::newRow("bytes without a start marker") << QByteArray() << bytesWithoutStartMarker(FloodBlockSize, 1);
    const QByteArray jpeg = flatJpeg(Orange);
    QTest::newRow("image that never ends")
        << PartHeader + jpeg.left(entropyDataOffset(jpeg)) << endlessEntropyData(FloodBlockSize, 2);
}

void tst_Hostile::floodKeepsMemoryBounded()
{
    QFETCH(QByteArray, head);
    QFETCH(QByteArray, block);
    const qint64 flood = 64 * MiB;

    TestCamera camera;
    Viewer viewer;
    QVERIFY(viewer.watch(camera));

    const qint64 residentBefore = residentBytes();
    resetPeakResident();
    camera.send(head);
    camera.send(block, flood / block.size());
    camera.send("\r\n" + flatPart(Green));
    QTRY_COMPARE_WITH_TIMEOUT(viewer.shown(), int(Green), LongWait);
    QVERIFY(camera.waitUntilDrained());

    const qint64 growth = residentBytes() - residentBefore;
    const qint64 peakGrowth = peakResidentBytes() - residentBefore;
    qInfo("resident before %lld KiB, growth %lld KiB, peak growth %lld KiB, after %lld MiB sent",
          residentBefore / 1024, growth / 1024, peakGrowth / 1024, flood / MiB);
#ifndef UNDER_ADDRESS_SANITIZER
    // The receive buffer is bounded at 8 MiB; allow for its growth policy and
    // the socket buffers.
    QVERIFY2(peakGrowth < 64 * MiB, qPrintable(QString::number(peakGrowth)));
    QVERIFY2(growth < 64 * MiB, qPrintable(QString::number(growth)));
#else
    // The sanitizer's quarantine holds on to freed memory, so sizes say nothing here.
#endif
}

void tst_Hostile::goodFrameShowsAfterBadBytes_data()
{
    QTest::addColumn<QByteArray>("bad");

    const QByteArray jpeg = flatJpeg(Magenta);
    const qsizetype entropy = entropyDataOffset(jpeg);
    const qsizetype huffman = segmentOffset(jpeg, 0xC4);

    QTest::newRow("header claiming 65535x65535") << part(withClaimedSize(jpeg, 65535, 65535));
    // Qt's reader refuses sides above 65500; the largest it takes:
    QTest::newRow("header claiming 65500x65500") << part(withClaimedSize(jpeg, 65500, 65500));
    QTest::newRow("header claiming 65500x1") << part(withClaimedSize(jpeg, 65500, 1));
    QTest::newRow("header claiming 1x65500") << part(withClaimedSize(jpeg, 1, 65500));
    QTest::newRow("header claiming 8000x4000") << part(withClaimedSize(jpeg, 8000, 4000));
    QTest::newRow("header claiming 0x0") << part(withClaimedSize(jpeg, 0, 0));
    QTest::newRow("cut off in the header") << PartHeader + jpeg.left(huffman + 20) + "\r\n";
    // The rest that the cut segment claims runs past the next picture's start.
    QTest::newRow("cut off early in a long header segment")
        << PartHeader + jpeg.left(longestSegmentOffset(jpeg) + 8) + "\r\n";
    QTest::newRow("cut off in the entropy data")
        << PartHeader + jpeg.left((entropy + jpeg.size()) / 2) + "\r\n";
    QTest::newRow("end marker missing") << PartHeader + jpeg.chopped(2) + "\r\n";
    QTest::newRow("entropy data cut short") << part(jpeg.left((entropy + jpeg.size()) / 2) + "\xFF\xD9");
    QTest::newRow("start marker alone") << PartHeader + "\xFF\xD8" + "\r\n";
    QTest::newRow("start and end marker only") << part("\xFF\xD8\xFF\xD9");
    QTest::newRow("entropy bytes flipped") << part(withFlippedEntropyBytes(jpeg));
    QTest::newRow("busy picture with bytes flipped")
        << part(withFlippedEntropyBytes(makeJpeg(QSize(320, 240), 3)));
    QTest::newRow("garbage between frames") << bytesWithoutStartMarker(20000, 3);
    QTest::newRow("end markers and fill bytes") << QByteArray("\xFF\xD9\xFF\xFF\xFF\x00\xFF\xD9\xFF", 9);
    QTest::newRow("text between frames") << QByteArray("HTTP/1.0 500 Oops\r\nX: y\r\n\r\n").repeated(50);
}

void tst_Hostile::goodFrameShowsAfterBadBytes()
{
    QFETCH(QByteArray, bad);

    TestCamera camera;
    Viewer viewer;
    QVERIFY(viewer.watch(camera));

    const qint64 residentBefore = residentBytes();
    resetPeakResident();
    camera.send(bad + flatPart(Green));
    QTRY_COMPARE_WITH_TIMEOUT(viewer.shown(), int(Green), 10000);
    const qint64 peakGrowth = peakResidentBytes() - residentBefore;
    qInfo("peak growth %lld KiB", peakGrowth / 1024);
#ifndef UNDER_ADDRESS_SANITIZER
    // No decoding beyond Qt's allocation limit.
    QVERIFY2(peakGrowth < (QImageReader::allocationLimit() + 64) * MiB, qPrintable(QString::number(peakGrowth)));
#endif

    camera.send(flatPart(Yellow));
    QTRY_COMPARE(viewer.shown(), int(Yellow));
}

void tst_Hostile::reconnectShowsNothingOfTheCutConnection_data()
{
    QTest::addColumn<qsizetype>("cut");

    // The cut picture is Magenta: glued to the next connection's first bytes it
    // would make a whole Magenta picture.
    const QByteArray jpeg = flatJpeg(Magenta);
    const qsizetype entropy = entropyDataOffset(jpeg);
    QTest::newRow("cut in the header") << segmentOffset(jpeg, 0xC4) + 20;
    QTest::newRow("cut in the entropy data") << (entropy + jpeg.size()) / 2;
    QTest::newRow("cut before the end marker") << jpeg.size() - 2;
}

void tst_Hostile::reconnectShowsNothingOfTheCutConnection()
{
    QFETCH(qsizetype, cut);
    const QByteArray cutPicture = flatJpeg(Magenta);

    TestCamera camera;
    Viewer viewer;
    viewer.connectTo(camera.port());
    QVERIFY(camera.waitForRequest(1));
    camera.send(ReplyHeader + flatPart(Red) + PartHeader + cutPicture.left(cut));
    QTRY_COMPARE(viewer.shown(), int(Red));
    QVERIFY(camera.waitUntilDrained());
    camera.hangUp();
    QTRY_COMPARE(viewer.status->text(), QStringLiteral("socket error!"));

    PictureLog log(viewer.image);
    log.clear();
    viewer.connectTo(camera.port());
    QVERIFY(camera.waitForRequest(2));
    // A few bytes per turn, so that a glued picture would stay on the label
    // for many turns before the next one replaces it.
    camera.setBytesPerTurn(16);
    camera.send(cutPicture.mid(cut) + "\r\n" + flatPart(Green));
    QTRY_COMPARE_WITH_TIMEOUT(viewer.shown(), int(Green), 20000);
    QVERIFY2(!log.pictures.contains(Magenta), "a picture glued from both connections was shown");
    QCOMPARE(log.pictures.last(), int(Green));
    QVERIFY2(log.pictures.count(Green) == 1, "the new connection's picture was shown more than once");
}

void tst_Hostile::trickleShowsEveryFrame()
{
    const QList<int> sent{Red, Green, Yellow, Magenta, Cyan};
    QByteArray stream = ReplyHeader;
    for (int colour : sent)
        stream += flatPart(colour);

    TestCamera camera;
    Viewer viewer;
    PictureLog log(viewer.image);
    viewer.connectTo(camera.port());
    QVERIFY(camera.waitForRequest(1));
    camera.setBytesPerTurn(1);
    camera.send(stream);
    QTRY_COMPARE_WITH_TIMEOUT(viewer.shown(), int(Cyan), LongWait);
    QVERIFY(camera.waitUntilDrained());

    log.pictures.removeAll(NoPicture); // the empty label before the first picture
    QCOMPARE(log.pictures, sent);
}

void tst_Hostile::soakWhileRecording()
{
#ifdef UNDER_ADDRESS_SANITIZER
    // A shorter soak under the sanitizer, which slows every frame and keeps
    // freed memory in quarantine, so resident sizes say nothing there.
    const int frames = 1000;
#else
    const int frames = 10000;
#endif
    const int checkpoint = frames / 10;
    const QByteArray pair = flatPart(Red) + flatPart(Green);
    const auto sendFrames = [&pair](TestCamera &camera, int count, int lastColour) {
        camera.send(pair, (count - 1) / 2);
        if ((count - 1) % 2)
            camera.send(flatPart(Red));
        camera.send(flatPart(lastColour));
    };

    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    QVERIFY(QDir::setCurrent(folder.path()));
    TestCamera camera;
    Viewer viewer;
    viewer.connectTo(camera.port());
    QVERIFY(camera.waitForRequest(1));
    viewer.click("record");
    QCOMPARE(recordingsIn(folder.path()).size(), 1);

    camera.send(ReplyHeader);
    sendFrames(camera, checkpoint, Yellow);
    QTRY_COMPARE_WITH_TIMEOUT(viewer.shown(), int(Yellow), LongWait);
    const qint64 residentAtCheckpoint = residentBytes();
    sendFrames(camera, frames - checkpoint, Magenta);
    QTRY_COMPARE_WITH_TIMEOUT(viewer.shown(), int(Magenta), 3 * LongWait);
    const qint64 residentAtEnd = residentBytes();
    viewer.click("stoprecord");

    qInfo("resident after %d frames %lld KiB, after %d frames %lld KiB", checkpoint,
          residentAtCheckpoint / 1024, frames, residentAtEnd / 1024);
#ifndef UNDER_ADDRESS_SANITIZER
    QVERIFY2(residentAtEnd - residentAtCheckpoint < 4 * MiB,
             qPrintable(QString::number(residentAtEnd - residentAtCheckpoint)));
#endif
    const QStringList files = recordingsIn(folder.path());
    QCOMPARE(files.size(), 1);
    QCOMPARE(recordedFrameCount(folder.filePath(files.first())), frames);
}

void tst_Hostile::recordingCannotStart_data()
{
    QTest::addColumn<bool>("removeFolder");

    QTest::newRow("working folder removed") << true;
    QTest::newRow("working folder read-only") << false;
}

void tst_Hostile::recordingCannotStart()
{
    QFETCH(bool, removeFolder);

    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    QVERIFY(QDir::setCurrent(folder.path()));
    TestCamera camera;
    Viewer viewer;
    QVERIFY(viewer.watch(camera));

    if (removeFolder) {
        QVERIFY(QDir().rmdir(folder.path()));
        viewer.click("record");
    } else {
        QVERIFY(::chmod(QFile::encodeName(folder.path()).constData(), 0555) == 0);
        const UnprivilegedFileAccess asNobody;
        viewer.click("record");
    }
    QCOMPARE(viewer.status->text(), QStringLiteral("record error!"));

    camera.send(flatPart(Green));
    QTRY_COMPARE(viewer.shown(), int(Green));
    viewer.click("stoprecord");
    QDir::setCurrent(startFolder);
    QVERIFY(recordingsIn(folder.path()).isEmpty());
}

void tst_Hostile::recordingOntoFullDisk()
{
    const rlim_t diskSpace = 200 * 1024;
    QByteArray busyFrames;
    for (int seed = 0; seed < 10; ++seed)
        busyFrames += part(makeJpeg(QSize(320, 240), seed * 25));

    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    QVERIFY(QDir::setCurrent(folder.path()));
    TestCamera camera;
    Viewer viewer;
    PictureLog log(viewer.image);
    QVERIFY(viewer.watch(camera));

    {
        FileSizeLimit fullDisk(diskSpace);
        viewer.click("record");
        QCOMPARE(recordingsIn(folder.path()).size(), 1);
        log.clear();
        camera.send(busyFrames, 20);
        camera.send(flatPart(Green));
        QTRY_COMPARE_WITH_TIMEOUT(viewer.shown(), int(Green), LongWait);
        viewer.click("stoprecord");
    }
    QVERIFY(!log.pictures.contains(NoPicture));

    camera.send(flatPart(Yellow));
    QTRY_COMPARE(viewer.shown(), int(Yellow));

    const QString file = folder.filePath(recordingsIn(folder.path()).value(0));
    // What a player makes of it, for the record: nothing here is promised.
    qInfo("truncated recording: %lld bytes; ffprobe: %s; frames read: %d", QFileInfo(file).size(),
          qPrintable(probe(file, {"-show_entries", "format=duration:stream=nb_frames,duration", "-of", "compact"})
                         .replace(u'\n', QStringLiteral(" | "))),
          recordedFrameCount(file));
    QVERIFY(QFileInfo(file).size() <= qint64(diskSpace));
}

void tst_Hostile::recordingStopsBeforeDiskIsFull()
{
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const SmallDisk disk(folder.path(), "12m");
    if (!disk.mounted)
        QSKIP(qPrintable("a small tmpfs cannot be mounted here: " + disk.error));
    QVERIFY(QDir::setCurrent(folder.path()));

    TestCamera camera;
    Viewer viewer;
    QVERIFY(viewer.watch(camera));

    viewer.click("record");
    QCOMPARE(recordingsIn(folder.path()).size(), 1);
    QByteArray busyFrames;
    for (int seed = 0; seed < 10; ++seed)
        busyFrames += part(makeJpeg(QSize(320, 240), seed * 25));
    // Far more than the disk holds.
    camera.send(busyFrames, 200);
    QTRY_COMPARE_WITH_TIMEOUT(viewer.status->text(), QStringLiteral("record error!"), LongWait);

    // The picture goes on, and the file was finished while there was room.
    camera.send(flatPart(Green));
    QTRY_COMPARE_WITH_TIMEOUT(viewer.shown(), int(Green), 3 * LongWait);
    const QString file = folder.filePath(recordingsIn(folder.path()).value(0));
    QVERIFY(recordedFrameCount(file) > 100);
    const QString duration = probe(file, {"-show_entries", "format=duration", "-of", "csv=p=0"});
    QVERIFY2(duration.toDouble() > 5.0, qPrintable(duration));
    QDir::setCurrent(startFolder);
}

QTEST_MAIN(tst_Hostile)
#include "tst_hostile.moc"
