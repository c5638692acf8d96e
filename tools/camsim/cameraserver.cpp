#include "cameraserver.h"

#include "clientsession.h"

CameraServer::CameraServer(const CameraOptions &options, FrameSource &frames, QObject *parent)
    : QTcpServer(parent), options(options), frames(frames)
{
}

bool CameraServer::listen()
{
    return QTcpServer::listen(options.listenAddress, options.port);
}

QString CameraServer::endpoint() const
{
    const QHostAddress address = serverAddress();
    const QString host = address.protocol() == QAbstractSocket::IPv6Protocol
        ? QStringLiteral("[%1]").arg(address.toString())
        : address.toString();
    return QStringLiteral("%1:%2").arg(host).arg(serverPort());
}

void CameraServer::incomingConnection(qintptr descriptor)
{
    new ClientSession(int(descriptor), options, frames, this);
}
