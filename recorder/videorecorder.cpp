#include "recorder/videorecorder.h"

#include <QDir>
#include <QFileInfo>
#include <QSize>
#include <QStorageInfo>
#include <QTime>

#include <opencv2/core.hpp>
#include <opencv2/core/core_c.h>
#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>

#include <memory>

#include "window/sharedstate.h"

namespace {
// Room kept free on the recording's disk, so that the writer's buffered
// frames and the file's index still fit when the recording is finished.
constexpr qint64 ReservedDiskSpace = 8 * 1024 * 1024;
constexpr int FramesBetweenSpaceChecks = 20;

QString recordingFolder;
int framesSinceSpaceCheck = 0;

bool hasRoomToRecord(const QString &folder)
{
    const QStorageInfo storage(folder);
    return !storage.isValid() || storage.bytesAvailable() >= ReservedDiskSpace;
}

std::unique_ptr<cv::VideoWriter> openWriter(const std::string &fileName)
{
    const int fourcc = cv::VideoWriter::fourcc('M', 'J', 'P', 'G');
    const cv::Size size(VideoWidth, VideoHeight);
    for (const int backend : {cv::CAP_FFMPEG, cv::CAP_OPENCV_MJPEG}) {
        auto writer = std::make_unique<cv::VideoWriter>(fileName, backend, fourcc, VideoFramesPerSecond,
                                                        size, true);
        if (writer->isOpened())
            return writer;
    }
    return nullptr;
}

void writeAtVideoSize(const cv::Mat &frame)
{
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
}

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
    const QString folder = QFileInfo(fileName).absolutePath();
    if (!hasRoomToRecord(folder))
        return false;
    std::unique_ptr<cv::VideoWriter> writer = openWriter(fileName.toLocal8Bit().toStdString());
    if (!writer)
        return false;
    videoWriter = writer.release();
    recording = true;
    recordingFolder = folder;
    framesSinceSpaceCheck = 0;
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

bool recordFrame(const IplImage *raster)
{
    if (!videoWriter || raster->width == 0 || raster->height == 0)
        return true;
    writeAtVideoSize(cv::cvarrToMat(raster, false));
    if (++framesSinceSpaceCheck < FramesBetweenSpaceChecks)
        return true;
    framesSinceSpaceCheck = 0;
    if (hasRoomToRecord(recordingFolder))
        return true;
    stopRecording();
    return false;
}
