#pragma once

#include <QByteArray>

#include <atomic>
#include <ctime>
#include <thread>
#include <vector>

#include "measure.h"

// A camera on 127.0.0.1 in a thread of its own. It answers one stream
// request, a bare "GET /?action=stream" or an HTTP one, with an HTTP/1.0
// multipart/x-mixed-replace reply of JPEG parts, sent as fast as the socket
// takes them or at a fixed rate, and notes when the last byte of each frame
// was written.
class StreamServer
{
public:
    // frameLimit < 0 sends frames until the client goes away; framesPerSecond
    // 0 sends as fast as the socket takes them. The frames are sent in turn.
    StreamServer(const std::vector<QByteArray> &jpegFrames, int frameLimit, double framesPerSecond);
    ~StreamServer();

    StreamServer(const StreamServer &) = delete;
    StreamServer &operator=(const StreamServer &) = delete;

    // Listens on a free port of 127.0.0.1 and starts serving.
    bool start();
    quint16 port() const { return listeningPort; }

    // CPU time of the serving thread so far; call between start() and finish().
    double threadCpuSeconds() const;

    // Ends the connection, if still open, and the thread.
    void finish();

    // After finish(): whether a client connected, when, and when the last
    // byte of each frame sent was written.
    bool accepted() const { return wasAccepted; }
    Clock::time_point acceptedAt() const { return acceptTime; }
    const std::vector<Clock::time_point> &sentAt() const { return sent; }

private:
    void serve();
    bool readRequest(int connection);
    bool sendAll(int connection, const QByteArray &bytes);
    void waitForClose(int connection);

    std::vector<QByteArray> parts;
    int frameLimit;
    double framesPerSecond;
    int listener = -1;
    quint16 listeningPort = 0;
    std::atomic<bool> stopping {false};
    std::thread worker;
    clockid_t workerClock {};
    bool wasAccepted = false;
    Clock::time_point acceptTime;
    std::vector<Clock::time_point> sent;
};
