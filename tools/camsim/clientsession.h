#pragma once

#include "cameraoptions.h"
#include "peerconnection.h"
#include "randombytes.h"
#include "streamformat.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

class FrameSource;

// One client's connection: reads its request and sends it its own stream,
// frames counted from 1. Deletes itself when the connection is gone.
class ClientSession : public QObject
{
    Q_OBJECT

public:
    // Takes ownership of the connected descriptor.
    ClientSession(int descriptor, const CameraOptions &options, FrameSource &frames,
                  QObject *parent);

private:
    enum class State { AwaitingRequest, Streaming, Stopped, Closing };

    void readRequest(const QByteArray &bytes);
    void peerStoppedSending();
    void startStream();
    void startFrames();
    void startFlood();
    void captureOnSchedule();
    void captureWhileDrained();
    void captureFrame();
    void writePending();
    void flood();
    void stopSending(const QString &reason);
    void closeAfter(const QByteArray &bytes, const QString &reason);
    void stopTimers();
    void log(const QString &message) const;

    const CameraOptions &options;
    FrameSource &frames;
    const StreamFormat format;
    PeerConnection connection;
    RandomBytes random;

    State state = State::AwaitingRequest;
    QByteArray request;
    QByteArray pending;
    int pendingFrames = 0;
    quint64 frameNumber = 0;

    QElapsedTimer clock;
    qint64 scheduleStartNs = 0;
    quint64 scheduledFrames = 0;
    qint64 floodBytesSent = 0;

    QTimer captureTimer;
    QTimer drainTimer;
    QTimer floodTimer;
    QTimer durationTimer;
};
