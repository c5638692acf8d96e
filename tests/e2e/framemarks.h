#pragma once

class QImage;

// The frame number that the simulated camera draws along the bottom eighth of
// its picture: 16 cells across the width, white for a 1 bit, bit 15 leftmost.
// -1 when the picture is not one of the camera's: its top-left corner is not
// plain grey, or a cell is neither clearly black nor clearly white.
int readFrameNumber(const QImage &picture);

// How many clearly blue pixels lie in the plain grey top-left corner of the
// camera's picture, where the viewer stamps the time in blue.
int countStampPixels(const QImage &picture);

// A time stamp has at least this many blue pixels.
constexpr int StampPixelsMinimum = 100;
