#pragma once

#include <QImage>
#include <QSize>

class QByteArray;

// The largest picture shown and recorded.
constexpr int FrameWidth = 320;
constexpr int FrameHeight = 240;

// The size an image of the given size is decoded at: as it is when its
// 32-bit pixels fit the display buffer, else scaled down to fit within
// 320x240 with its aspect ratio kept.
QSize decodedSizeFor(const QSize &size);

// Decodes a cut JPEG image; a null image when the bytes are no JPEG, do not
// decode, or their header claims more pixels than 8K UHD.
QImage decodeFrame(const QByteArray &bytes);
