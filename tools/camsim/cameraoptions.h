#pragma once

#include <QHostAddress>
#include <QSize>
#include <QString>

// What the simulated camera serves, as given on its command line.
struct CameraOptions
{
    // What follows the reply header: pictures, nothing, or endless bytes.
    enum class Payload { Frames, Silent, Endless, Noise };

    QHostAddress listenAddress{QHostAddress::LocalHost};
    quint16 port = 8080;

    QSize size{320, 240};
    double fps = 20.0;          // 0: as fast as the client reads
    int quality = 80;
    QString folder;             // empty: generated test picture

    quint64 frameLimit = 0;     // 0: no limit
    double durationSeconds = 0; // 0: no limit

    bool http = true;           // false: bare JPEGs, no HTTP at all
    Payload payload = Payload::Frames;
    bool exif = false;
    bool burst = false;
    bool cut = false;
    bool garbage = false;

    int burstSize = 10;
    quint64 cutAfter = 5;
    double floodMegabytesPerSecond = 4.0;

    bool verbose = false;       // one line per client event on stderr
};
