#pragma once

#include <QByteArray>
#include <QObject>
#include <QSocketNotifier>
#include <QString>

// One accepted TCP connection on a non-blocking descriptor. Unlike
// QTcpSocket it keeps sending after the peer has shut down its sending
// side (as "nc -q" does once the request is written).
class PeerConnection : public QObject
{
    Q_OBJECT

public:
    // Takes ownership of the descriptor.
    explicit PeerConnection(int descriptor, QObject *parent = nullptr);
    ~PeerConnection() override;

    QString peerName() const { return peer; }
    bool isOpen() const { return descriptor >= 0 && !closing; }
    bool peerStoppedSending() const { return readEnded; }

    // Sends at once what the socket takes and keeps the rest for later.
    void write(const QByteArray &bytes);
    qint64 bytesToWrite() const { return qint64(outgoing.size()) - outgoingOffset; }
    // Sends what is left, then closes.
    void closeAfterWriting();

signals:
    void received(const QByteArray &bytes);
    void readFinished();       // the peer will send nothing more
    void bytesWritten();       // part of the backlog went out
    void closed();             // the connection is gone

private:
    void readAvailable();
    void writeBacklog();
    bool flush();
    void fail();
    void shutDown();

    int descriptor;
    QString peer;
    QSocketNotifier readNotifier;
    QSocketNotifier writeNotifier;
    QByteArray outgoing;
    qsizetype outgoingOffset = 0;
    bool readEnded = false;
    bool closing = false;
    bool closedEmitted = false;
};
