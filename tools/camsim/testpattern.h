#pragma once

#include "framesource.h"

#include <QImage>
#include <QSize>

// A generated moving picture that shows its frame number twice: as big
// digits in the middle and as a strip of 16 black/white cells along the
// bottom eighth (bit 15 of number mod 65536 leftmost, white = 1).
// The top-left 140x40 corner stays plain mid-grey.
class TestPattern : public FrameSource
{
public:
    TestPattern(const QSize &size, int quality);

    QByteArray frame(quint64 number) override;
    QImage render(quint64 number) const;

    // The 140x40 corner, grey up to the next 16-pixel block edge so that
    // JPEG's colour subsampling bleeds nothing of the picture into it.
    static constexpr int greyWidth = 144;
    static constexpr int greyHeight = 48;
    static constexpr int stripCells = 16;

private:
    void paintBackground(QImage &image, quint64 number) const;
    void paintShapes(QImage &image, quint64 number) const;
    void paintDigits(QImage &image, quint64 number) const;
    void paintCornerAndStrip(QImage &image, quint64 number) const;

    QSize size;
    int quality;
};
