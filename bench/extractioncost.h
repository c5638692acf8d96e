#pragma once

#include <QByteArray>
#include <QString>

#include <vector>

#include "measure.h"

// What FrameCutter costs per MiB received, fed as Widget::read() feeds it.
struct ExtractionCost
{
    QString what;
    double bufferMiB = 0;           // buffer length when the timed deliveries start
    double appendPerMiB = NotMeasured;  // milliseconds
    double scanPerMiB = NotMeasured;    // nextImage() and compact(), milliseconds
    int imagesCut = 0;              // per timed MiB
};

// A large image that has not ended yet, at a short and a long buffer, and a
// stream of whole frames for comparison; deliveries of 64 KiB.
std::vector<ExtractionCost> measureExtractionCost(const QByteArray &jpeg, int repetitions);
