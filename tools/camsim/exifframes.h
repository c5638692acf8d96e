#pragma once

#include "framesource.h"

#include <QByteArray>

// Wraps another source: each frame gets an EXIF APP1 segment right after
// FF D8 that holds a small scaled copy of the frame as a whole thumbnail
// JPEG, FF D8 ... FF D9 included.
class ExifFrames : public FrameSource
{
public:
    explicit ExifFrames(FrameSource &frames);

    QByteArray frame(quint64 number) override;

    static QByteArray withThumbnail(const QByteArray &jpeg);

private:
    FrameSource &frames;
};
