#pragma once

#include <QByteArray>
#include <QImage>
#include <QSize>

#include <vector>

// A busy scene, the same for the same size and seed: gradients, shapes,
// lines and sensor-like noise, so that it compresses like a camera picture.
QImage busyPicture(const QSize &size, quint32 seed);


// count different busy frames of one size, JPEG at the given quality.
std::vector<QByteArray> busyJpegFrames(const QSize &size, int count, int quality = 85);
