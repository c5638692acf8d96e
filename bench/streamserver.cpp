#include "streamserver.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace {
constexpr int PollMilliseconds = 50;
constexpr int RequestTimeoutMilliseconds = 5000;

const char ReplyHeader[] =
    "HTTP/1.0 200 OK\r\n"
    "Connection: close\r\n"
    "Server: monitor_bench\r\n"
    "Cache-Control: no-store, no-cache, must-revalidate, max-age=0\r\n"
    "Pragma: no-cache\r\n"
    "Content-Type: multipart/x-mixed-replace;boundary=boundarydonotcross\r\n"
    "\r\n";

// Each part ends with the image's last byte; the line break before the next
// boundary starts the next part.
QByteArray multipartPart(const QByteArray &jpeg)
{
    QByteArray part = QByteArrayLiteral("\r\n--boundarydonotcross\r\nContent-Type: image/jpeg\r\nContent-Length: ");
    part += QByteArray::number(jpeg.size());
    part += "\r\n\r\n";
    part += jpeg;
    return part;
}

bool waitReadable(int socket, int milliseconds)
{
    pollfd watched {socket, POLLIN, 0};
    return poll(&watched, 1, milliseconds) > 0;
}
}

StreamServer::StreamServer(const std::vector<QByteArray> &jpegFrames, int frameLimit, double framesPerSecond)
    : frameLimit(frameLimit)
    , framesPerSecond(framesPerSecond)
{
    for (const QByteArray &jpeg : jpegFrames)
        parts.push_back(multipartPart(jpeg));
    if (frameLimit > 0)
        sent.reserve(size_t(frameLimit));
}

StreamServer::~StreamServer()
{
    finish();
    if (listener >= 0)
        close(listener);
}

bool StreamServer::start()
{
    listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listener < 0)
        return false;
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t length = sizeof(address);
    if (bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof(address)) != 0
        || listen(listener, 1) != 0
        || getsockname(listener, reinterpret_cast<sockaddr *>(&address), &length) != 0)
        return false;
    listeningPort = ntohs(address.sin_port);
    worker = std::thread([this] { serve(); });
    pthread_getcpuclockid(worker.native_handle(), &workerClock);
    return true;
}

double StreamServer::threadCpuSeconds() const
{
    timespec time {};
    if (!worker.joinable() || clock_gettime(workerClock, &time) != 0)
        return 0.0;
    return double(time.tv_sec) + double(time.tv_nsec) / 1e9;
}

void StreamServer::finish()
{
    stopping = true;
    if (worker.joinable())
        worker.join();
}

void StreamServer::serve()
{
    int connection = -1;
    while (!stopping && connection < 0) {
        if (waitReadable(listener, PollMilliseconds))
            connection = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    }
    if (connection < 0)
        return;
    acceptTime = Clock::now();
    wasAccepted = true;

    const int on = 1;
    setsockopt(connection, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on));
    const timeval sendTimeout {0, PollMilliseconds * 1000};
    setsockopt(connection, SOL_SOCKET, SO_SNDTIMEO, &sendTimeout, sizeof(sendTimeout));

    if (readRequest(connection) && sendAll(connection, QByteArray::fromRawData(ReplyHeader, sizeof(ReplyHeader) - 1))) {
        const Clock::time_point start = Clock::now();
        const auto period = std::chrono::duration_cast<Clock::duration>(
            std::chrono::duration<double>(framesPerSecond > 0 ? 1.0 / framesPerSecond : 0.0));
        bool open = true;
        for (int frame = 0; open && !stopping && (frameLimit < 0 || frame < frameLimit); ++frame) {
            if (framesPerSecond > 0)
                std::this_thread::sleep_until(start + period * frame);
            open = sendAll(connection, parts[size_t(frame) % parts.size()]);
            if (open)
                sent.push_back(Clock::now());
        }
        if (open)
            waitForClose(connection);
    }
    close(connection);
}

bool StreamServer::readRequest(int connection)
{
    QByteArray request;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(RequestTimeoutMilliseconds);
    while (!stopping && Clock::now() < deadline && request.size() < 8192) {
        if (!waitReadable(connection, PollMilliseconds))
            continue;
        char chunk[1024];
        const ssize_t received = recv(connection, chunk, sizeof(chunk), 0);
        if (received <= 0)
            return false;
        request.append(chunk, qsizetype(received));
        if (request.contains("\r\n\r\n") || request.contains("\n\n"))
            return true;
    }
    return false;
}

bool StreamServer::sendAll(int connection, const QByteArray &bytes)
{
    qsizetype offset = 0;
    while (offset < bytes.size()) {
        const ssize_t written = send(connection, bytes.constData() + offset, size_t(bytes.size() - offset), MSG_NOSIGNAL);
        if (written > 0) {
            offset += written;
        } else if (written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
            if (stopping)
                return false;
        } else {
            return false;
        }
    }
    return true;
}

void StreamServer::waitForClose(int connection)
{
    while (!stopping) {
        if (!waitReadable(connection, PollMilliseconds))
            continue;
        char chunk[1024];
        if (recv(connection, chunk, sizeof(chunk), 0) <= 0)
            return;
    }
}
