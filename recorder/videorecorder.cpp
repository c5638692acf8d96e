#include "recorder/videorecorder.h"

#include <QDir>
#include <QFileInfo>
#include <QSize>
#include <QTime>

#include <opencv2/core.hpp>
#include <opencv2/core/core_c.h>
#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>

#include <memory>

#include "window/sharedstate.h"

QString recordingFileName(const QTime &time)
{
    QString name = time.toString(Qt::TextDate) + QStringLiteral(".avi");
    name.replace(u':', u'-');
    return name;
}

QString freeRecordingName(const QDir &folder, const QTime &time)
{
    const QString name = recordingFileName(time);
    if (!QFileInfo::exists(folder.filePath(name)))
        return name;
    const QString stem = name.chopped(4);
    for (int n = 1;; ++n) {
        const QString candidate = QStringLiteral("%1-%2.avi").arg(stem).arg(n);
        if (!QFileInfo::exists(folder.filePath(candidate)))
            return candidate;
    }
}

bool startRecording(const QString &fileName)
{
    stopRecording();
    auto writer = std::make_unique<cv::VideoWriter>(
        fileName.toLocal8Bit().toStdString(), cv::VideoWriter::fourcc('M', 'J', 'P', 'G'),
        VideoFramesPerSecond, cv::Size(VideoWidth, VideoHeight), true);
    if (!writer->isOpened())
        return false;
    videoWriter = writer.release();
    recording = true;
    return true;
}

void stopRecording()
{
    recording = false;
    if (videoWriter) {
        videoWriter->release();
        delete videoWriter;
        videoWriter = nullptr;
    }
}

void recordFrame(const IplImage *raster)
{
    if (!videoWriter || raster->width == 0 || raster->height == 0)
        return;
    const cv::Mat frame = cv::cvarrToMat(raster, false);
    if (frame.cols == VideoWidth && frame.rows == VideoHeight) {
        videoWriter->write(frame);
        return;
    }
    static cv::Mat padded;
    padded.create(VideoHeight, VideoWidth, CV_8UC3);
    padded.setTo(cv::Scalar::all(0));
    const QSize fitted = QSize(frame.cols, frame.rows)
                             .scaled(VideoWidth, VideoHeight, Qt::KeepAspectRatio)
                             .expandedTo(QSize(1, 1));
    const cv::Rect area((VideoWidth - fitted.width()) / 2, (VideoHeight - fitted.height()) / 2,
                        fitted.width(), fitted.height());
    cv::Mat target = padded(area);
    const bool shrinking = fitted.width() < frame.cols;
    cv::resize(frame, target, target.size(), 0, 0, shrinking ? cv::INTER_AREA : cv::INTER_LINEAR);
    videoWriter->write(padded);
}
