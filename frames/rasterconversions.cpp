#include "frames/rasterconversions.h"

#include <QImage>

void QImageToIplImage(const QImage &image, IplImage *raster)
{
    for (int y = 0; y < image.height(); ++y) {
        auto *row = reinterpret_cast<uchar *>(raster->imageData + y * raster->widthStep);
        for (int x = 0; x < image.width(); ++x) {
            row[3 * x] = image.pixel(x, y) & 0xFF;
            row[3 * x + 1] = (image.pixel(x, y) >> 8) & 0xFF;
            row[3 * x + 2] = (image.pixel(x, y) >> 16) & 0xFF;
        }
    }
}

void IplImageToQImage(const IplImage *raster, QImage *, unsigned char *destination, double, double)
{
    // Placeholder: 8-bit, 3-channel only.
    for (int y = 0; y < raster->height; ++y) {
        const auto *src = reinterpret_cast<const uchar *>(raster->imageData + y * raster->widthStep);
        for (int x = 0; x < raster->width; ++x) {
            *destination++ = src[3 * x];
            *destination++ = src[3 * x + 1];
            *destination++ = src[3 * x + 2];
            *destination++ = 0;
        }
    }
}
