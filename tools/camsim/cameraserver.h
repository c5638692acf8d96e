#pragma once

#include "cameraoptions.h"

#include <QString>
#include <QTcpServer>

class FrameSource;

// Listens for clients and gives each one its own ClientSession.
class CameraServer : public QTcpServer
{
    Q_OBJECT

public:
    CameraServer(const CameraOptions &options, FrameSource &frames, QObject *parent = nullptr);

    bool listen();
    // "ADDRESS:PORT" of the listening socket, IPv6 addresses in brackets.
    QString endpoint() const;

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    const CameraOptions &options;
    FrameSource &frames;
};
