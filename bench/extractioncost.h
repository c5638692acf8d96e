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
    int imagesCut = 0;                  // per timed MiB
};

// A large image that has not ended yet, with the buffer from 0 to 6 MiB long
// (and, for comparison, a search from the buffer's start after each
// delivery), and a stream of whole frames; deliveries of 64 KiB.
std::vector<ExtractionCost> measureExtractionCost(const QByteArray &jpeg, int repetitions);
