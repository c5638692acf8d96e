#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

// The simulated camera (camsim) on a free loopback port, for one test.
class SimulatedCamera
{
public:
    SimulatedCamera();
    ~SimulatedCamera();

    // Starts it with these options on 127.0.0.1 and waits until it listens.
    bool start(const QStringList &options);
    quint16 port() const { return listeningPort; }
    // Asks it to quit, as a user's Ctrl+C does; true when it exits with 0.
    bool stop();
    QString error() const { return lastError; }

private:
    QProcess process;
    quint16 listeningPort = 0;
    QString lastError;
};
