#pragma once

#include <QByteArray>
#include <QString>

#include <vector>

#include "measure.h"

// One stream from the in-process camera into a real window, through its
// socket and read(), as the user drives it: type 127.0.0.1 and the port,
// press connect (and record, when asked).
struct ViewerRunSetup
{
    std::vector<QByteArray> frames;  // sent in turn
    int count = 0;                   // frames to show
    double framesPerSecond = 0;      // 0: as fast as the socket takes them
    bool recording = false;
    QString workFolder;              // where recordings go
    int memorySampleInterval = 0;    // resident memory noted every so many frames (0: not)
    int timeoutMilliseconds = 60000;
};

struct ViewerRunResult
{
    bool complete = false;      // every frame shown, in time
    int shown = 0;
    double framesPerSecond = NotMeasured;   // from the first frame shown to the last
    double cpuMillisecondsPerFrame = NotMeasured;
    double latencyMedian = NotMeasured;     // last byte written to pixmap set, milliseconds
    double latencyP99 = NotMeasured;
    qint64 residentStartKiB = -1;
    std::vector<qint64> residentSamplesKiB;  // after every interval of frames
    qint64 residentEndKiB = -1;
    qint64 peakResidentKiB = -1;
    qint64 recordingBytes = -1;
    QString problem;
};

ViewerRunResult runViewer(const ViewerRunSetup &setup);
