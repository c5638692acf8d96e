#include <QImage>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>

#include "stream/framecutter.h"
#include "testsupport.h"

namespace {
using Deliveries = QList<QByteArray>;
using Images = QList<QByteArray>;

const QByteArray Boundary = "--frame-boundary\r\n";

QByteArray replyHeader()
{
    return "HTTP/1.0 200 OK\r\n"
           "Cache-Control: no-cache\r\n"
           "Content-Type: multipart/x-mixed-replace;boundary=frame-boundary\r\n"
           "\r\n"
           + Boundary;
}

// One part of a multipart reply: its header, the image, the next boundary.
QByteArray part(const QByteArray &jpeg)
{
    return "Content-Type: image/jpeg\r\nContent-Length: " + QByteArray::number(jpeg.size())
        + "\r\n\r\n" + jpeg + "\r\n" + Boundary;
}

Deliveries oneByteEach(const QByteArray &bytes)
{
    Deliveries deliveries;
    for (char byte : bytes)
        deliveries.append(QByteArray(1, byte));
    return deliveries;
}

// Position just past the marker segment that begins with FF code.
qsizetype segmentEnd(const QByteArray &jpeg, uchar code)
{
    const qsizetype at = jpeg.indexOf(QByteArray("\xFF") + char(code));
    const int length = (uchar(jpeg[at + 2]) << 8) | uchar(jpeg[at + 3]);
    return at + 2 + length;
}

qsizetype segmentStart(const QByteArray &jpeg, uchar code)
{
    return jpeg.indexOf(QByteArray("\xFF") + char(code));
}

QByteArray insertedAt(QByteArray bytes, qsizetype position, const QByteArray &extra)
{
    return bytes.insert(position, extra);
}

// Feeds deliveries the way the window's read() does and keeps copies of
// the images cut.
struct Feeder
{
    QByteArray buffer;
    FrameCutter cutter{buffer};
    Images images;
    bool withinBound = true;

    void deliver(const QByteArray &bytes)
    {
        cutter.append(bytes);
        if (buffer.size() > FrameCutter::MaxBufferSize + bytes.size())
            withinBound = false;
        for (QByteArray image = cutter.nextImage(); !image.isEmpty(); image = cutter.nextImage())
            images.append(QByteArray(image.constData(), image.size()));
        cutter.compact();
        if (buffer.size() > FrameCutter::MaxBufferSize)
            withinBound = false;
    }

    void deliver(const Deliveries &deliveries)
    {
        for (const QByteArray &bytes : deliveries)
            deliver(bytes);
    }
};

void verifyDecodes(const Images &images)
{
    for (const QByteArray &image : images) {
        QImage decoded;
        QVERIFY(decoded.loadFromData(image, "JPEG"));
    }
}
}

class TestFrameCutter : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void cutsImages_data();
    void cutsImages();

    void everySplitPoint_data();
    void everySplitPoint();

    void cutOffAtEveryHeaderOffset_data();
    void cutOffAtEveryHeaderOffset();

    void garbageStaysBounded_data();
    void garbageStaysBounded();

    void endlessImageStaysBounded_data();
    void endlessImageStaysBounded();

    void clearStartsAfresh();

    void restartMarkersFromEncoder();

private:
    QByteArray first, second, third, small, exif, progressive;
};

void TestFrameCutter::initTestCase()
{
    first = makeJpeg(QSize(160, 120), 1);
    second = makeJpeg(QSize(160, 120), 2);
    third = makeJpeg(QSize(96, 72), 3);
    small = makeJpeg(QSize(32, 24), 4, 70);
    exif = withExifThumbnail(makeJpeg(QSize(120, 90), 5));
    progressive = encodeJpeg(makeTestPicture(QSize(160, 120), 6), 85, true);
    for (const QByteArray *jpeg : {&first, &second, &third, &small, &exif, &progressive})
        QVERIFY(jpeg->startsWith("\xFF\xD8") && jpeg->endsWith("\xFF\xD9"));
    // The thumbnail's end marker precedes the image's own.
    QVERIFY(exif.indexOf("\xFF\xD9") < exif.size() - 2);
    QVERIFY(progressive.count("\xFF\xDA") > 1);
}

void TestFrameCutter::cutsImages_data()
{
    QTest::addColumn<Deliveries>("deliveries");
    QTest::addColumn<Images>("expected");
    QTest::addColumn<qsizetype>("left");
    QTest::addColumn<bool>("realJpegs");

    const QByteArray header = replyHeader();
    QTest::newRow("reply header, image, boundary")
        << Deliveries{header + part(first)} << Images{first} << qsizetype(1) << true;
    QTest::newRow("reply header delivered apart")
        << Deliveries{header, part(first)} << Images{first} << qsizetype(1) << true;
    QTest::newRow("image complete at the end of a delivery")
        << Deliveries{header + "Content-Type: image/jpeg\r\n\r\n" + first}
        << Images{first} << qsizetype(0) << true;
    QTest::newRow("two images in one delivery")
        << Deliveries{header + part(first) + part(second)} << Images{first, second} << qsizetype(1)
        << true;

    QByteArray tenParts = header;
    Images ten;
    for (int i = 0; i < 10; ++i) {
        ten.append(i % 2 ? second : first);
        tenParts += part(ten.last());
    }
    QTest::newRow("ten images in one delivery") << Deliveries{tenParts} << ten << qsizetype(1) << true;

    QTest::newRow("bare images back to back")
        << Deliveries{first + second + third} << Images{first, second, third} << qsizetype(0) << true;
    QTest::newRow("back to back, split after the next start's first byte")
        << Deliveries{first + second.left(1), second.mid(1)} << Images{first, second} << qsizetype(0)
        << true;
    QTest::newRow("back to back, split inside the end marker")
        << Deliveries{first.chopped(1), first.right(1) + second} << Images{first, second}
        << qsizetype(0) << true;

    QTest::newRow("EXIF thumbnail") << Deliveries{header + part(exif)} << Images{exif} << qsizetype(1)
                                    << true;
    const qsizetype thumbnailEnd = exif.indexOf("\xFF\xD9") + 2;
    QTest::newRow("EXIF thumbnail, split after its end marker")
        << Deliveries{exif.left(thumbnailEnd), exif.mid(thumbnailEnd) + second}
        << Images{exif, second} << qsizetype(0) << true;

    QTest::newRow("one byte at a time")
        << oneByteEach(header + part(small) + part(small)) << Images{small, small} << qsizetype(1)
        << true;

    QTest::newRow("end marker before start marker")
        << Deliveries{QByteArray("\xFF\xD9") + first} << Images{first} << qsizetype(0) << true;
    QTest::newRow("tail of an image, then a whole one")
        << Deliveries{first.mid(first.size() / 2) + part(second)} << Images{second} << qsizetype(1)
        << true;
    QTest::newRow("cut off in entropy data, then a whole one")
        << Deliveries{header + first.left(first.size() / 2) + part(second)} << Images{second}
        << qsizetype(1) << true;
    QTest::newRow("cut off in entropy data after an FF, then a whole one")
        << Deliveries{first.left(first.lastIndexOf(QByteArray("\xFF\x00", 2)) + 1), second} << Images{second}
        << qsizetype(0) << true;
    QTest::newRow("cut off in a quantisation table, then a whole one")
        << Deliveries{first.left(segmentStart(first, 0xDB) + 20) + second} << Images{second}
        << qsizetype(0) << true;
    QTest::newRow("cut off in a segment's length field, then a whole one")
        << Deliveries{first.left(segmentStart(first, 0xC4) + 3) + second} << Images{second}
        << qsizetype(0) << true;
    QTest::newRow("cut off between segments, then a whole one")
        << Deliveries{first.left(segmentEnd(first, 0xC0)), second} << Images{second} << qsizetype(0)
        << true;
    QTest::newRow("cut off in an EXIF thumbnail, then a whole one")
        << Deliveries{exif.left(thumbnailEnd - 40) + part(second)} << Images{second} << qsizetype(1)
        << true;

    QTest::newRow("progressive") << Deliveries{header + part(progressive) + part(first)}
                                 << Images{progressive, first} << qsizetype(1) << true;

    // Fill bytes may precede any marker; a decoder skips stray bytes between segments.
    const QByteArray filled = insertedAt(insertedAt(first, first.size() - 2, "\xFF\xFF\xFF"),
                                         segmentStart(first, 0xDB), "\xFF\xFF");
    QTest::newRow("fill bytes before markers") << Deliveries{filled + second}
                                               << Images{filled, second} << qsizetype(0) << true;
    const QByteArray padded = insertedAt(first, segmentStart(first, 0xDB), QByteArray(3, '\0'));
    QTest::newRow("stray bytes between segments")
        << Deliveries{padded + second} << Images{padded, second} << qsizetype(0) << true;

    const QByteArray scanHeader = first.left(segmentEnd(first, 0xDA));
    const QByteArray entropy("\x12\x34\xFF\x00\x56\xFF\xD0\x78\xFF\xD7\x9A\xFF\xFF\xFF\xD1\xBC"
                             "\xFF\x01\xDE\xFF\x00",
                             21);
    const QByteArray restarts = scanHeader + entropy + "\xFF\xFF\xD9";
    QTest::newRow("restart markers, stuffing and fill in entropy data")
        << Deliveries{restarts + second} << Images{restarts, second} << qsizetype(0) << false;
    QTest::newRow("restart markers, one byte at a time")
        << oneByteEach(restarts) << Images{restarts} << qsizetype(0) << false;
    QTest::newRow("start marker in entropy data")
        << Deliveries{scanHeader + QByteArray("\x12\xFF\x00", 3) + second} << Images{second} << qsizetype(0) << true;
    QTest::newRow("markerless bytes only") << Deliveries{"abc", "def"} << Images{} << qsizetype(1)
                                           << true;
}

void TestFrameCutter::cutsImages()
{
    QFETCH(Deliveries, deliveries);
    QFETCH(Images, expected);
    QFETCH(qsizetype, left);
    QFETCH(bool, realJpegs);

    Feeder feeder;
    feeder.deliver(deliveries);
    QCOMPARE(feeder.images, expected);
    QCOMPARE(feeder.buffer.size(), left);
    QVERIFY(feeder.withinBound);
    if (realJpegs)
        verifyDecodes(feeder.images);
}

void TestFrameCutter::everySplitPoint_data()
{
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<Images>("expected");

    QTest::newRow("multipart part") << replyHeader() + part(small) << Images{small};
    QTest::newRow("bare images back to back") << small + small << Images{small, small};
    QTest::newRow("EXIF thumbnail") << exif << Images{exif};
    QTest::newRow("progressive") << progressive << Images{progressive};
    QTest::newRow("cut off in a segment, then a whole one")
        << first.left(segmentStart(first, 0xC4) + 9) + small << Images{small};
    QTest::newRow("cut off where a start marker straddles a segment's end")
        << first.left(segmentEnd(first, 0xDB) - 1) + small << Images{small};
}

void TestFrameCutter::everySplitPoint()
{
    QFETCH(QByteArray, stream);
    QFETCH(Images, expected);

    for (qsizetype split = 1; split < stream.size(); ++split) {
        Feeder feeder;
        feeder.deliver(Deliveries{stream.left(split), stream.mid(split)});
        if (feeder.images != expected)
            QFAIL(qPrintable(QString("split at %1 of %2").arg(split).arg(stream.size())));
    }
}

void TestFrameCutter::cutOffAtEveryHeaderOffset_data()
{
    QTest::addColumn<QByteArray>("cutOff");
    QTest::addColumn<qsizetype>("headerEnd");

    QTest::newRow("baseline") << first << segmentEnd(first, 0xDA) + 8;
    QTest::newRow("EXIF thumbnail") << exif << segmentEnd(exif, 0xDA) + 8;
    QTest::newRow("progressive, second scan")
        << progressive << progressive.indexOf("\xFF\xDA", segmentEnd(progressive, 0xDA)) + 20;
}

// A broken connection may leave an image cut off anywhere in its header.
void TestFrameCutter::cutOffAtEveryHeaderOffset()
{
    QFETCH(QByteArray, cutOff);
    QFETCH(qsizetype, headerEnd);

    for (const QByteArray &whole : {second, exif, progressive}) {
        QStringList failed;
        for (qsizetype length = 1; length < headerEnd; ++length) {
            Feeder feeder;
            feeder.deliver(cutOff.left(length) + whole);
            if (feeder.images != Images{whole})
                failed << QString("%1:%2").arg(length).arg(feeder.images.size());
        }
        if (!failed.isEmpty())
            QFAIL(qPrintable("cut off after " + failed.join(' ')));
    }
}

void TestFrameCutter::garbageStaysBounded_data()
{
    QTest::addColumn<QByteArray>("pattern");
    QTest::addColumn<qsizetype>("leftAfterCompact");

    QTest::newRow("no marker bytes") << QByteArray("garbage without markers ") << qsizetype(1);
    QTest::newRow("lone FF bytes") << QByteArray("\xFF\x12\xFF\xD9\xFF\xFF\x00\xFF", 8) << qsizetype(1);
    QTest::newRow("start markers that begin nothing")
        << QByteArray("\xFF\xD8junk\xFF\xD8\x00\x01", 10) << qsizetype(10);
}

void TestFrameCutter::garbageStaysBounded()
{
    QFETCH(QByteArray, pattern);
    QFETCH(qsizetype, leftAfterCompact);

    constexpr qsizetype Chunk = 1024 * 1024;
    const QByteArray chunk = pattern.repeated(Chunk / pattern.size());
    Feeder feeder;
    qsizetype delivered = 0;
    while (delivered <= 2 * FrameCutter::MaxBufferSize) {
        feeder.deliver(chunk);
        delivered += chunk.size();
        QVERIFY(feeder.withinBound);
        QVERIFY(feeder.buffer.size() <= leftAfterCompact);
    }
    QVERIFY(feeder.images.isEmpty());

    feeder.deliver(part(first));
    QCOMPARE(feeder.images, Images{first});
}

void TestFrameCutter::endlessImageStaysBounded_data()
{
    QTest::addColumn<QByteArray>("start");
    QTest::addColumn<QByteArray>("pattern");

    const QByteArray scanHeader = first.left(segmentEnd(first, 0xDA));
    QTest::newRow("entropy data without end")
        << scanHeader << QByteArray("\x12\x34\xFF\x00\x56\xFF\xD3\x78", 8);
    QTest::newRow("bytes without markers after the start") << QByteArray("\xFF\xD8")
                                                          << QByteArray("endless");
    QByteArray application("\xFF\xE5\xFF\xFF");
    application += QByteArray(0xFFFF - 2, 'a');
    QTest::newRow("header segments without end") << QByteArray("\xFF\xD8") << application;
}

void TestFrameCutter::endlessImageStaysBounded()
{
    QFETCH(QByteArray, start);
    QFETCH(QByteArray, pattern);

    const QByteArray chunk = pattern.repeated(1024 * 1024 / pattern.size());
    Feeder feeder;
    feeder.deliver(start);
    qsizetype delivered = 0;
    while (delivered <= 2 * FrameCutter::MaxBufferSize) {
        feeder.deliver(chunk);
        delivered += chunk.size();
        QVERIFY(feeder.withinBound);
    }
    QVERIFY(feeder.images.isEmpty());

    feeder.deliver(first);
    QCOMPARE(feeder.images, Images{first});
    verifyDecodes(feeder.images);
}

void TestFrameCutter::clearStartsAfresh()
{
    Feeder feeder;
    feeder.deliver(replyHeader() + part(first) + part(second).left(300));
    QCOMPARE(feeder.images, Images{first});

    feeder.cutter.clear();
    QVERIFY(feeder.buffer.isEmpty());
    feeder.deliver(replyHeader() + "Content-Type: image/jpeg\r\n\r\n" + third.left(1));
    feeder.deliver(third.mid(1) + "\r\n");
    QCOMPARE(feeder.images, (Images{first, third}));
    QCOMPARE(feeder.buffer.size(), qsizetype(1));
}

void TestFrameCutter::restartMarkersFromEncoder()
{
    const QString ffmpeg = QStandardPaths::findExecutable("ffmpeg");
    if (ffmpeg.isEmpty())
        QSKIP("ffmpeg is not installed");
    // Its JPEG encoder marks the slices of a picture with restart markers.
    QProcess encoder;
    encoder.start(ffmpeg, {"-hide_banner", "-loglevel", "error", "-f", "lavfi", "-i",
                           "testsrc=size=96x64", "-frames:v", "1", "-threads", "4", "-slices", "4",
                           "-c:v", "mjpeg", "-f", "mjpeg", "-"});
    QVERIFY(encoder.waitForFinished(60000));
    QCOMPARE(encoder.exitCode(), 0);
    const QByteArray jpeg = encoder.readAllStandardOutput();
    QVERIFY(jpeg.contains("\xFF\xDD"));
    QVERIFY(jpeg.contains("\xFF\xD1"));

    Feeder feeder;
    feeder.deliver(oneByteEach(replyHeader() + part(jpeg) + part(first)));
    QCOMPARE(feeder.images, (Images{jpeg, first}));
    verifyDecodes(feeder.images);
}

QTEST_MAIN(TestFrameCutter)
#include "tst_framecutter.moc"
