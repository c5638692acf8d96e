#pragma once

namespace cv {
class VideoWriter;
}

// Process-wide state shared by the window's slots.

constexpr int DisplayBufferSize = 327680;

// 32-bit pixels (blue, green, red, 0) of the frame being shown.
extern unsigned char *displayBuffer;

// The open video writer; null while no file is open.
extern cv::VideoWriter *videoWriter;

// While true, every shown frame is also appended to the video file.
extern bool recording;
