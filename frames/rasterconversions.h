#pragma once

#include <opencv2/core/core_c.h>

class QImage;

// Copies a decoded image into an 8-bit, 3-channel raster (blue, green, red)
// at least as wide and as high as the image.
void QImageToIplImage(const QImage &image, IplImage *raster);

// Writes a raster's pixels into a caller's buffer: 32-bit pixels (blue,
// green, red, 0) for 3-channel rasters, one gray byte for 1-channel ones,
// whose target image also gets a gray colour table. Float samples are
// scaled from [rangeLow, rangeHigh] to [0, 255].
void IplImageToQImage(const IplImage *raster, QImage *target, unsigned char *destination,
                      double rangeLow, double rangeHigh);
