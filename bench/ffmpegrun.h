#pragma once

#include <QByteArray>
#include <QString>

#include <vector>

#include "measure.h"

// ffmpeg decoding the same stream from the in-process camera:
// ffmpeg -threads 1 -i http://127.0.0.1:PORT/?action=stream -frames:v N -f null -
struct FfmpegResult
{
    bool ok = false;
    double framesPerSecond = NotMeasured;        // per frame beyond the first, so start-up is left out
    double cpuMillisecondsPerFrame = NotMeasured;
    QString problem;
};

// Whether an ffmpeg program is on the PATH.
bool ffmpegAvailable();

// Two runs, one frame and count frames; the difference is what the frames cost.
FfmpegResult runFfmpeg(const std::vector<QByteArray> &frames, int count, const QString &workFolder);
