#include "framemarks.h"

#include <QImage>
#include <QRect>
#include <QTime>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

namespace {

constexpr int StripCells = 16;
// The camera keeps this corner plain grey; the stamp reaches a little past it.
const QRect Corner(0, 0, 144, 48);
// Below the time stamp and above the digits the corner is plain mid-grey.
const QRect PlainCorner(2, 36, 136, 10);
constexpr int SecondsPerDay = 24 * 60 * 60;

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

// The corner of a raster on which the viewer has drawn this time.
cv::Mat stampedCorner(const QTime &time)
{
    cv::Mat corner(Corner.height(), Corner.width(), CV_8UC3, cv::Scalar(128, 128, 128));
    const std::string text = time.toString(Qt::TextDate).toLatin1().toStdString();
    cv::putText(corner, text, cv::Point(0, 30), cv::FONT_HERSHEY_COMPLEX, 1.0,
                cv::Scalar(255, 0, 0, 0), 1, cv::LINE_8, false);
    return corner;
}

bool matchesStamp(const QImage &picture, const cv::Mat &corner)
{
    for (int y = 0; y < corner.rows; ++y) {
        for (int x = 0; x < corner.cols; ++x) {
            const cv::Vec3b drawn = corner.at<cv::Vec3b>(y, x);
            const bool stamped = drawn == cv::Vec3b(255, 0, 0);
            if (stamped != (picture.pixel(x, y) == qRgb(0, 0, 255)))
                return false;
        }
    }
    return true;
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
    const QRect area = Corner.intersected(picture.rect());
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            const QRgb pixel = picture.pixel(x, y);
            if (qBlue(pixel) >= 160 && qBlue(pixel) - qMax(qRed(pixel), qGreen(pixel)) >= 60)
                ++count;
        }
    }
    return count;
}

bool hasTimeStamp(const QImage &picture, const QTime &earliest, const QTime &latest)
{
    if (!picture.rect().contains(Corner))
        return false;
    const int seconds = (earliest.secsTo(latest) + SecondsPerDay) % SecondsPerDay;
    const QTime first(earliest.hour(), earliest.minute(), earliest.second());
    for (int offset = 0; offset <= seconds; ++offset) {
        if (matchesStamp(picture, stampedCorner(first.addSecs(offset))))
            return true;
    }
    return false;
}
