#include "peerconnection.h"

#include <QTimer>

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

QString describePeer(int descriptor)
{
    sockaddr_storage address = {};
    socklen_t length = sizeof address;
    if (::getpeername(descriptor, reinterpret_cast<sockaddr *>(&address), &length) != 0)
        return QStringLiteral("?");
    char text[INET6_ADDRSTRLEN] = {};
    if (address.ss_family == AF_INET) {
        const auto *ipv4 = reinterpret_cast<const sockaddr_in *>(&address);
        ::inet_ntop(AF_INET, &ipv4->sin_addr, text, sizeof text);
        return QStringLiteral("%1:%2").arg(QLatin1String(text)).arg(ntohs(ipv4->sin_port));
    }
    if (address.ss_family == AF_INET6) {
        const auto *ipv6 = reinterpret_cast<const sockaddr_in6 *>(&address);
        ::inet_ntop(AF_INET6, &ipv6->sin6_addr, text, sizeof text);
        return QStringLiteral("[%1]:%2").arg(QLatin1String(text)).arg(ntohs(ipv6->sin6_port));
    }
    return QStringLiteral("?");
}

} // namespace

PeerConnection::PeerConnection(int descriptor, QObject *parent)
    : QObject(parent),
      descriptor(descriptor),
      peer(describePeer(descriptor)),
      readNotifier(descriptor, QSocketNotifier::Read),
      writeNotifier(descriptor, QSocketNotifier::Write)
{
    ::fcntl(descriptor, F_SETFL, ::fcntl(descriptor, F_GETFL) | O_NONBLOCK);
    writeNotifier.setEnabled(false);
    connect(&readNotifier, &QSocketNotifier::activated, this, &PeerConnection::readAvailable);
    connect(&writeNotifier, &QSocketNotifier::activated, this, &PeerConnection::writeBacklog);
}

PeerConnection::~PeerConnection()
{
    readNotifier.setEnabled(false);
    writeNotifier.setEnabled(false);
    if (descriptor >= 0)
        ::close(descriptor);
}

void PeerConnection::write(const QByteArray &bytes)
{
    if (!isOpen() || bytes.isEmpty())
        return;
    outgoing += bytes;
    if (!writeNotifier.isEnabled())
        flush();
}

void PeerConnection::closeAfterWriting()
{
    if (!isOpen())
        return;
    closing = true;
    if (!writeNotifier.isEnabled())
        flush();
}

void PeerConnection::readAvailable()
{
    char buffer[64 * 1024];
    for (;;) {
        const ssize_t count = ::recv(descriptor, buffer, sizeof buffer, 0);
        if (count > 0) {
            if (!closing)
                emit received(QByteArray(buffer, qsizetype(count)));
            if (descriptor < 0)
                return;
            continue;
        }
        if (count == 0) {
            readEnded = true;
            readNotifier.setEnabled(false);
            emit readFinished();
            return;
        }
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK)
            fail();
        return;
    }
}

void PeerConnection::writeBacklog()
{
    if (flush())
        emit bytesWritten();
}

// Sends as much of the backlog as the socket takes; false when it failed.
bool PeerConnection::flush()
{
    while (outgoingOffset < outgoing.size()) {
        const ssize_t count = ::send(descriptor, outgoing.constData() + outgoingOffset,
                                     size_t(outgoing.size() - outgoingOffset), MSG_NOSIGNAL);
        if (count > 0) {
            outgoingOffset += count;
            continue;
        }
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            // Keep the buffer compact without moving it on every partial send.
            if (outgoingOffset > 1024 * 1024 && outgoingOffset * 2 > outgoing.size()) {
                outgoing.remove(0, outgoingOffset);
                outgoingOffset = 0;
            }
            writeNotifier.setEnabled(true);
            return true;
        }
        fail();
        return false;
    }
    outgoing.clear();
    outgoingOffset = 0;
    writeNotifier.setEnabled(false);
    if (closing)
        shutDown();
    return true;
}

void PeerConnection::fail()
{
    outgoing.clear();
    outgoingOffset = 0;
    shutDown();
}

void PeerConnection::shutDown()
{
    if (descriptor < 0)
        return;
    readNotifier.setEnabled(false);
    writeNotifier.setEnabled(false);
    // Unread input would turn the close into a reset that can destroy what was sent.
    char discard[4096];
    while (::recv(descriptor, discard, sizeof discard, MSG_DONTWAIT) > 0) {
    }
    ::shutdown(descriptor, SHUT_WR);
    ::close(descriptor);
    descriptor = -1;
    closing = true;
    if (!closedEmitted) {
        closedEmitted = true;
        // Later, so that no caller finds itself deleted in the middle of a write.
        QTimer::singleShot(0, this, &PeerConnection::closed);
    }
}
