#pragma once

#include <QObject>
#include <QSocketNotifier>

#include <memory>

// Turns SIGINT and SIGTERM into the signal terminationRequested(), delivered
// by the event loop. One instance per process.
class SignalWatcher : public QObject
{
    Q_OBJECT

public:
    explicit SignalWatcher(QObject *parent = nullptr);
    ~SignalWatcher() override;

signals:
    void terminationRequested(int signalNumber);

private:
    static void handle(int signalNumber);
    void readSignal();

    static int pipeEnds[2];
    std::unique_ptr<QSocketNotifier> notifier;
};
