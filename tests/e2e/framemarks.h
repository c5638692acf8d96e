#pragma once

class QImage;
class QTime;

// The frame number that the simulated camera draws along the bottom eighth of
// its picture: 16 cells across the width, white for a 1 bit, bit 15 leftmost.
// -1 when the picture is not one of the camera's: its top-left corner is not
// plain grey, or a cell is neither clearly black nor clearly white.
int readFrameNumber(const QImage &picture);

// How many clearly blue pixels lie in the plain grey top-left corner of the
// camera's picture, where the viewer stamps the time in blue. For pictures
// that went through JPEG, as recorded frames do.
int countStampPixels(const QImage &picture);

// A time stamp has at least this many blue pixels.
constexpr int StampPixelsMinimum = 100;

// Whether the picture's pure blue pixels in the grey corner are exactly the
// time stamp of some second from `earliest` through `latest` (HH:MM:SS drawn
// with OpenCV's Hershey complex font at scale 1, from x 0, baseline y 30).
bool hasTimeStamp(const QImage &picture, const QTime &earliest, const QTime &latest);
