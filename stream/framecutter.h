#pragma once

#include <QByteArray>

// Cuts complete JPEG images (FF D8 ... FF D9) out of the bytes received.
//
// The end of an image is found by walking its marker segments, so that an
// FF D9 inside a header segment (an EXIF thumbnail, say) does not end it.
// Scanning resumes where the previous call stopped, so the cost per byte
// received does not grow with the length of the buffer.
class FrameCutter
{
public:
    // Several times the largest frame a camera sends: a 1920x1080 JPEG of
    // the highest quality stays under 2 MiB. An image longer than this is
    // dropped, and so is everything in front of a start marker.
    static constexpr qsizetype MaxBufferSize = 8 * 1024 * 1024;

    // A bound other than MaxBufferSize is for tests that reach it quickly.
    explicit FrameCutter(QByteArray &buffer, qsizetype bound = MaxBufferSize);

    void append(const QByteArray &bytes);

    // The oldest complete image not yet taken, or an empty array when none
    // is complete. The result shares the buffer's bytes: it stays valid
    // until the next call of append(), compact() or clear().
    QByteArray nextImage();

    // Removes the bytes consumed so far. Called once nextImage() has returned
    // an empty array, it leaves at most `bound` bytes in the buffer.
    void compact();

    // Empties the buffer and forgets the scan state.
    void clear();

private:
    enum class State { SeekingStart, Segments, EntropyData };

    bool walkSegment();
    bool walkEntropyData();
    bool skipToMarker();
    qsizetype imageStartWithin(qsizetype from, qsizetype end, bool mayHoldImages) const;
    void restartAt(qsizetype start);

    QByteArray &buffer;
    const qsizetype bound;
    State state = State::SeekingStart;
    qsizetype imageStart = 0;
    qsizetype scan = 0;
    qsizetype consumed = 0;
    qsizetype imageEnd = -1;
};
