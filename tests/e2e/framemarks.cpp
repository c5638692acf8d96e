#include "framemarks.h"

#include <QImage>
#include <QRect>

namespace {

constexpr int StripCells = 16;
constexpr int CornerWidth = 140;
constexpr int CornerHeight = 40;

// Below the time stamp and above the digits the corner is plain mid-grey.
const QRect PlainCorner(2, 36, 136, 10);

int meanGrey(const QImage &image, const QRect &area)
{
    int sum = 0;
    int count = 0;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            sum += qGray(image.pixel(x, y));
            ++count;
        }
    }
    return count ? sum / count : -1;
}

} // namespace

int readFrameNumber(const QImage &picture)
{
    const int width = picture.width();
    const int height = picture.height();
    if (width < StripCells * 4 || height < 64)
        return -1;
    const int corner = meanGrey(picture, PlainCorner);
    if (corner < 108 || corner > 148)
        return -1;
    const int middle = height - height / 16;
    int number = 0;
    for (int cell = 0; cell < StripCells; ++cell) {
        const int left = cell * width / StripCells;
        const int right = (cell + 1) * width / StripCells - 1;
        const int centre = (left + right) / 2;
        const int grey = meanGrey(picture, QRect(centre - 2, middle - 2, 5, 5));
        if (grey > 185)
            number |= 1 << (StripCells - 1 - cell);
        else if (grey >= 70)
            return -1;
    }
    return number;
}

int countStampPixels(const QImage &picture)
{
    int count = 0;
    const int width = qMin(CornerWidth, picture.width());
    const int height = qMin(CornerHeight, picture.height());
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const QRgb pixel = picture.pixel(x, y);
            if (qBlue(pixel) >= 160 && qBlue(pixel) - qMax(qRed(pixel), qGreen(pixel)) >= 60)
                ++count;
        }
    }
    return count;
}
