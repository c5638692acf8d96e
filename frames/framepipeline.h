#pragma once

#include <functional>

struct _IplImage;
typedef struct _IplImage IplImage;
class QByteArray;
class QLabel;
class QTime;

// Draws the time of day in blue into the raster's upper-left corner.
void stampTime(IplImage *raster, const QTime &time);

// Turns one cut JPEG image into the picture on the label and, while
// recording, into the next frame of the video.
class FramePipeline
{
public:
    explicit FramePipeline(QLabel *view);

    void process(const QByteArray &image);

    // Called right after each picture has been put on the label.
    void setFrameShownHandler(std::function<void()> handler);

    // Called when the recording had to stop because its disk is nearly full.
    void setRecordingStoppedHandler(std::function<void()> handler);

private:
    void show(const IplImage *raster);

    QLabel *view;
    std::function<void()> frameShown;
    std::function<void()> recordingStopped;
};
