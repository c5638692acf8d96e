#include "frames/framepipeline.h"

#include <QByteArray>
#include <QLabel>
#include <QPixmap>
#include <QTime>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "frames/framedecoder.h"
#include "frames/raster.h"
#include "frames/rasterconversions.h"
#include "recorder/videorecorder.h"
#include "window/sharedstate.h"

void stampTime(IplImage *raster, const QTime &time)
{
    if (raster->width == 0 || raster->height == 0)
        return;
    const std::string text = time.toString(Qt::TextDate).toLatin1().toStdString();
    cv::Mat view = cv::cvarrToMat(raster, false);
    cv::putText(view, text, cv::Point(0, 30), cv::FONT_HERSHEY_COMPLEX, 1.0,
                cv::Scalar(255, 0, 0, 0), 1, cv::LINE_8, false);
}

FramePipeline::FramePipeline(QLabel *view)
    : view(view)
{
}

void FramePipeline::setFrameShownHandler(std::function<void()> handler)
{
    frameShown = std::move(handler);
}

void FramePipeline::setRecordingStoppedHandler(std::function<void()> handler)
{
    recordingStopped = std::move(handler);
}

void FramePipeline::process(const QByteArray &image)
{
    const QImage decoded = decodeFrame(image);
    RasterPtr raster(cvCreateImage(cvSize(decoded.width(), decoded.height()), IPL_DEPTH_8U, 3));
    QImageToIplImage(decoded, raster.get());
    stampTime(raster.get(), QTime::currentTime());
    show(raster.get());
    if (recording && !recordFrame(raster.get()) && recordingStopped)
        recordingStopped();
}

void FramePipeline::show(const IplImage *raster)
{
    const qint64 bytes = qint64(raster->width) * raster->height * 4;
    if (!displayBuffer || bytes > DisplayBufferSize || bytes == 0) {
        view->setPixmap(QPixmap());
    } else {
        QImage display(displayBuffer, raster->width, raster->height, QImage::Format_RGB32);
        IplImageToQImage(raster, &display, displayBuffer, 0.0, 0.0);
        view->setPixmap(QPixmap::fromImage(display));
    }
    if (frameShown)
        frameShown();
}
