#pragma once

#include <QByteArray>
#include <QSize>
#include <QString>

#include "benchoptions.h"
#include "measure.h"

// Median cost per frame of each stage of the frame pipeline, and of
// libjpeg-turbo's own decode of the same frame.
struct StageCosts
{
    QSize size;
    QSize shownSize;
    qsizetype jpegBytes = 0;
    CallCost turboFullSize;
    CallCost turboShownSize;
    CallCost decode;
    CallCost decodeNamed;       // the reader told "jpeg"
    CallCost decodeNamedReused; // ... and decoding into the same image each time
    CallCost copy;
    CallCost stamp;
    CallCost show;
    CallCost record;
    CallCost pipeline;
    CallCost pipelineRecording;
    CallCost turboPipeline;  // what if: turbojpeg straight into the raster, then stamp and show
};

// Times each stage on one frame; recordings go into workFolder.
StageCosts measureStageCosts(const QByteArray &jpeg, const QString &workFolder, const BenchOptions &options);
