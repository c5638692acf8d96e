#include "clientsession.h"

#include "framesource.h"
#include "streamrequest.h"

#include <algorithm>
#include <climits>
#include <cmath>

namespace {

// With --fps 0, the next frame goes out once less than this is left unsent.
constexpr qint64 drainThreshold = 32 * 1024;
// With a rate, captures are skipped while a slow client leaves this much unsent.
constexpr qint64 backlogLimit = 8 * 1024 * 1024;
// Endless and noise streams write only while less than this is unsent.
constexpr qint64 floodBufferLimit = 256 * 1024;
constexpr int floodTickMs = 10;
constexpr qint64 floodChunkLimit = 4 * 1024 * 1024;

} // namespace

ClientSession::ClientSession(int descriptor, const CameraOptions &options, FrameSource &frames,
                             QObject *parent)
    : QObject(parent),
      options(options),
      frames(frames),
      format(options.http),
      connection(descriptor)
{
    captureTimer.setSingleShot(true);
    captureTimer.setTimerType(Qt::PreciseTimer);
    drainTimer.setSingleShot(true);
    drainTimer.setInterval(0);
    floodTimer.setInterval(floodTickMs);
    floodTimer.setTimerType(Qt::PreciseTimer);
    durationTimer.setSingleShot(true);
    durationTimer.setTimerType(Qt::PreciseTimer);

    connect(&captureTimer, &QTimer::timeout, this, &ClientSession::captureOnSchedule);
    connect(&drainTimer, &QTimer::timeout, this, &ClientSession::captureWhileDrained);
    connect(&floodTimer, &QTimer::timeout, this, &ClientSession::flood);
    connect(&durationTimer, &QTimer::timeout, this, [this] {
        stopSending(QStringLiteral("after %1 s").arg(this->options.durationSeconds));
    });
    connect(&connection, &PeerConnection::received, this, &ClientSession::readRequest);
    connect(&connection, &PeerConnection::readFinished, this, &ClientSession::peerStoppedSending);
    connect(&connection, &PeerConnection::closed, this, [this] {
        log(QStringLiteral("gone after %1 frames").arg(frameNumber));
        state = State::Closing;
        stopTimers();
        deleteLater();
    });

    log(QStringLiteral("connected"));
    if (!options.http)
        startStream();
}

void ClientSession::readRequest(const QByteArray &bytes)
{
    if (state != State::AwaitingRequest)
        return;
    request += bytes;
    switch (StreamRequest::parse(request)) {
    case StreamRequest::Kind::Incomplete:
        return;
    case StreamRequest::Kind::Stream:
        request.clear();
        startStream();
        return;
    case StreamRequest::Kind::Snapshot:
        closeAfter(StreamFormat::snapshotReply(frames.frame(1), StreamFormat::now()),
                   QStringLiteral("snapshot sent"));
        return;
    case StreamRequest::Kind::NotFound:
        closeAfter(StreamFormat::notFoundReply(), QStringLiteral("not found"));
        return;
    case StreamRequest::Kind::BadRequest:
        closeAfter(StreamFormat::badRequestReply(), QStringLiteral("bad request"));
        return;
    }
}

// The peer has shut down its sending side; it may still be reading.
void ClientSession::peerStoppedSending()
{
    if (state == State::AwaitingRequest)
        closeAfter(QByteArray(), QStringLiteral("no complete request"));
    else if (state == State::Stopped)
        closeAfter(QByteArray(), QStringLiteral("peer done"));
}

void ClientSession::startStream()
{
    state = State::Streaming;
    log(QStringLiteral("streaming"));
    connection.write(format.replyHeader());
    clock.start();
    if (options.durationSeconds > 0) {
        const double milliseconds = std::ceil(options.durationSeconds * 1000.0);
        durationTimer.start(int(std::min(milliseconds, double(INT_MAX))));
    }
    switch (options.payload) {
    case CameraOptions::Payload::Frames:
        startFrames();
        break;
    case CameraOptions::Payload::Silent:
        stopSending(QStringLiteral("(silent)"));
        break;
    case CameraOptions::Payload::Endless:
    case CameraOptions::Payload::Noise:
        startFlood();
        break;
    }
}

void ClientSession::startFrames()
{
    if (options.fps > 0) {
        scheduleStartNs = clock.nsecsElapsed();
        scheduledFrames = 0;
        captureOnSchedule();
    } else {
        connect(&connection, &PeerConnection::bytesWritten, this, &ClientSession::captureWhileDrained);
        captureWhileDrained();
    }
}

void ClientSession::captureOnSchedule()
{
    if (state != State::Streaming)
        return;
    if (connection.bytesToWrite() <= backlogLimit)
        captureFrame();
    if (state != State::Streaming)
        return;

    const double intervalNs = 1e9 / options.fps;
    ++scheduledFrames;
    const qint64 nowNs = clock.nsecsElapsed();
    qint64 dueNs = scheduleStartNs + qint64(double(scheduledFrames) * intervalNs);
    if (double(nowNs - dueNs) > intervalNs) {
        // Fell behind: keep the rate from here instead of catching up in a rush.
        scheduleStartNs = dueNs = nowNs;
        scheduledFrames = 0;
    }
    const qint64 waitNs = std::max<qint64>(0, dueNs - nowNs);
    captureTimer.start(int((waitNs + 999999) / 1000000));
}

// As fast as the client takes them: one frame (or one burst) per event loop
// pass while little is left unsent, else wait for the backlog to drain.
void ClientSession::captureWhileDrained()
{
    if (state != State::Streaming || connection.bytesToWrite() >= drainThreshold)
        return;
    const int burstSize = options.burst ? options.burstSize : 1;
    for (int i = 0; i < burstSize && state == State::Streaming; ++i)
        captureFrame();
    if (state == State::Streaming && connection.bytesToWrite() < drainThreshold)
        drainTimer.start();
}

void ClientSession::captureFrame()
{
    ++frameNumber;
    const qint64 timestamp = StreamFormat::now();
    const QByteArray jpeg = frames.frame(frameNumber);

    pending += format.partHeader(jpeg.size(), timestamp);
    if (options.cut && frameNumber == options.cutAfter) {
        pending += jpeg.left(jpeg.size() / 2);
        writePending();
        closeAfter(QByteArray(), QStringLiteral("cut in frame %1").arg(frameNumber));
        return;
    }
    pending += jpeg;
    pending += format.partTrailer();
    if (options.garbage)
        pending += random.garbage();
    ++pendingFrames;

    const int burstSize = options.burst ? options.burstSize : 1;
    const bool last = options.frameLimit > 0 && frameNumber >= options.frameLimit;
    if (pendingFrames >= burstSize || last)
        writePending();
    if (last)
        stopSending(QStringLiteral("after %1 frames").arg(frameNumber));
}

void ClientSession::writePending()
{
    connection.write(pending);
    pending.clear();
    pendingFrames = 0;
}

void ClientSession::startFlood()
{
    if (options.payload == CameraOptions::Payload::Endless) {
        connection.write(format.partHeader(-1, StreamFormat::now()) + "\xFF\xD8");
        random.setPreviousByte(0xD8);
    }
    floodBytesSent = 0;
    floodTimer.start();
    flood();
}

void ClientSession::flood()
{
    if (state != State::Streaming)
        return;
    const double bytesPerSecond = options.floodMegabytesPerSecond * 1e6;
    const qint64 earned = qint64(bytesPerSecond * double(clock.nsecsElapsed()) / 1e9);
    // After a stall, carry at most a few ticks' worth over.
    const qint64 slack = qint64(bytesPerSecond * floodTickMs * 5 / 1000.0) + 1;
    if (earned - floodBytesSent > slack)
        floodBytesSent = earned - slack;
    if (connection.bytesToWrite() >= floodBufferLimit)
        return;
    const qint64 length = std::min(earned - floodBytesSent, floodChunkLimit);
    if (length <= 0)
        return;
    connection.write(options.payload == CameraOptions::Payload::Endless ? random.entropy(length)
                                                                        : random.noise(length));
    floodBytesSent += length;
}

void ClientSession::stopSending(const QString &reason)
{
    if (state != State::Streaming)
        return;
    writePending();
    state = State::Stopped;
    stopTimers();
    log(QStringLiteral("stopped sending %1, connection kept open").arg(reason));
    if (connection.peerStoppedSending())
        closeAfter(QByteArray(), QStringLiteral("peer done"));
}

void ClientSession::closeAfter(const QByteArray &bytes, const QString &reason)
{
    if (state == State::Closing)
        return;
    state = State::Closing;
    stopTimers();
    log(QStringLiteral("closing: %1").arg(reason));
    connection.write(bytes);
    connection.closeAfterWriting();
}

void ClientSession::stopTimers()
{
    captureTimer.stop();
    drainTimer.stop();
    floodTimer.stop();
    durationTimer.stop();
}

void ClientSession::log(const QString &message) const
{
    if (options.verbose)
        qInfo().noquote() << "camsim:" << connection.peerName() << message;
}
