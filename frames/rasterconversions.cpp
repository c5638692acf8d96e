#include "frames/rasterconversions.h"

#include <QImage>
#include <QList>
#include <QtDebug>
#include <QtEndian>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <cstring>
#include <optional>

namespace {

// An image format whose rows hold 8-bit channels that QImage::pixel()
// returns unchanged, so a whole row converts to the same bytes.
struct RowLayout
{
    int channels = 0;
    int colorConversion = -1; // -1: rows already in blue, green, red order
};

std::optional<RowLayout> rowLayoutFor(QImage::Format format)
{
    switch (format) {
#if Q_BYTE_ORDER == Q_LITTLE_ENDIAN
    case QImage::Format_RGB32:
    case QImage::Format_ARGB32:
        return RowLayout{4, cv::COLOR_BGRA2BGR};
#endif
    case QImage::Format_RGBX8888:
    case QImage::Format_RGBA8888:
        return RowLayout{4, cv::COLOR_RGBA2BGR};
    case QImage::Format_RGB888:
        return RowLayout{3, cv::COLOR_RGB2BGR};
    case QImage::Format_BGR888:
        return RowLayout{3, -1};
    case QImage::Format_Grayscale8:
        return RowLayout{1, cv::COLOR_GRAY2BGR};
    default:
        return std::nullopt;
    }
}

void copyPixelByPixel(const QImage &image, IplImage *raster)
{
    for (int y = 0; y < image.height(); ++y) {
        auto *row = reinterpret_cast<uchar *>(raster->imageData) + qsizetype(y) * raster->widthStep;
        for (int x = 0; x < image.width(); ++x) {
            const QRgb colour = image.pixel(x, y);
            row[3 * x] = colour & 0xFF;
            row[3 * x + 1] = (colour >> 8) & 0xFF;
            row[3 * x + 2] = (colour >> 16) & 0xFF;
        }
    }
}

QList<QRgb> grayColorTable()
{
    QList<QRgb> table(256);
    for (int i = 0; i < 256; ++i)
        table[i] = 0xFF000000u + QRgb(i) * 0x010101u;
    return table;
}

void copyGrayRows(const IplImage *raster, uchar *destination)
{
    if (raster->width <= 0)
        return;
    const auto *source = reinterpret_cast<const uchar *>(raster->imageData);
    for (int y = 0; y < raster->height; ++y) {
        std::memcpy(destination, source, size_t(raster->width));
        source += raster->widthStep;
        destination += raster->width;
    }
}

void expandColourRows(const IplImage *raster, uchar *destination)
{
    // One 4-byte load and store per pixel; the last pixel of a row is copied
    // byte by byte so that no load reaches past the row's samples.
    const quint32 colourBytes = qToLittleEndian(quint32(0x00FFFFFF));
    const int width = raster->width;
    const auto *source = reinterpret_cast<const uchar *>(raster->imageData);
    for (int y = 0; y < raster->height; ++y) {
        if (width > 0) {
            const uchar *in = source;
            uchar *out = destination;
            for (int x = 1; x < width; ++x) {
                quint32 pixel;
                std::memcpy(&pixel, in, 4);
                pixel &= colourBytes;
                std::memcpy(out, &pixel, 4);
                in += 3;
                out += 4;
            }
            out[0] = in[0];
            out[1] = in[1];
            out[2] = in[2];
            out[3] = 0;
        }
        source += raster->widthStep;
        destination += 4 * qsizetype(width);
    }
}

template <typename Scaled>
uchar clampToByte(Scaled x)
{
    if (x < 0)
        return 0;
    if (x > 255)
        return 255;
    if (x == x)
        return uchar(x);
    return 0;
}

struct SampleScale
{
    double rangeLow;
    double rangeHigh;

    uchar operator()(quint16 sample) const { return uchar(sample >> 8); }

    uchar operator()(float sample) const
    {
        if (rangeHigh == rangeLow)
            return sample > rangeLow ? 255 : 0;
        const float x = float((sample - rangeLow) * 255.0 / (rangeHigh - rangeLow));
        return clampToByte(x);
    }

    uchar operator()(double sample) const
    {
        if (rangeHigh == rangeLow)
            return sample > rangeLow ? 255 : 0;
        const double x = (sample - rangeLow) * 255.0 / (rangeHigh - rangeLow);
        return clampToByte(x);
    }
};

template <typename Sample>
void convertGrayRows(const IplImage *raster, uchar *destination, const SampleScale &scale)
{
    const qsizetype sourceRow = qsizetype(raster->widthStep / int(sizeof(Sample))) * int(sizeof(Sample));
    const auto *source = reinterpret_cast<const uchar *>(raster->imageData);
    for (int y = 0; y < raster->height; ++y) {
        for (int x = 0; x < raster->width; ++x) {
            Sample sample;
            std::memcpy(&sample, source + x * sizeof(Sample), sizeof(Sample));
            *destination++ = scale(sample);
        }
        source += sourceRow;
    }
}

} // namespace

void QImageToIplImage(const QImage &image, IplImage *raster)
{
    const int width = image.width();
    const int height = image.height();
    if (width <= 0 || height <= 0)
        return;

    const std::optional<RowLayout> layout = rowLayoutFor(image.format());
    if (!layout) {
        copyPixelByPixel(image, raster);
        return;
    }
    const cv::Mat source(height, width, CV_8UC(layout->channels), const_cast<uchar *>(image.constBits()),
                         size_t(image.bytesPerLine()));
    cv::Mat target(height, width, CV_8UC3, raster->imageData, size_t(raster->widthStep));
    if (layout->colorConversion < 0)
        source.copyTo(target);
    else
        cv::cvtColor(source, target, layout->colorConversion);
}

void IplImageToQImage(const IplImage *raster, QImage *target, unsigned char *destination, double rangeLow,
                      double rangeHigh)
{
    const int channels = raster->nChannels;
    const SampleScale scale{rangeLow, rangeHigh};

    switch (raster->depth) {
    case IPL_DEPTH_8U:
        if (channels == 1)
            copyGrayRows(raster, destination);
        else if (channels == 3)
            expandColourRows(raster, destination);
        else
            qDebug("IplImageToQImage: image format is not supported : depth=8U and %d channels\n", channels);
        break;
    case IPL_DEPTH_16U:
        if (channels == 1)
            convertGrayRows<quint16>(raster, destination, scale);
        else
            qDebug("IplImageToQImage: image format is not supported : depth=16U and %d channels\n", channels);
        break;
    case IPL_DEPTH_32F:
        if (channels == 1)
            convertGrayRows<float>(raster, destination, scale);
        else
            qDebug("IplImageToQImage: image format is not supported : depth=32F and %d channels\n", channels);
        break;
    case IPL_DEPTH_64F:
        if (channels == 1)
            convertGrayRows<double>(raster, destination, scale);
        else
            qDebug("IplImageToQImage: image format is not supported : depth=64F and %d channels\n", channels);
        break;
    default:
        qDebug("IplImageToQImage: image format is not supported : depth=%d and %d channels\n", raster->depth,
               channels);
        break;
    }

    if (channels == 1)
        target->setColorTable(grayColorTable());
}
