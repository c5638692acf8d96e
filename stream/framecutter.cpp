#include "stream/framecutter.h"

#include <QByteArrayView>

#include <cstring>

namespace {
constexpr uchar Marker = 0xFF;
constexpr uchar Stuffing = 0x00;
constexpr uchar StartOfImage = 0xD8;
constexpr uchar EndOfImage = 0xD9;
constexpr uchar StartOfScan = 0xDA;
constexpr uchar Temporary = 0x01;
const QByteArrayView StartMarker("\xFF\xD8", 2);
constexpr qsizetype NeedMoreBytes = -2;

bool isRestart(uchar code)
{
    return code >= 0xD0 && code <= 0xD7;
}

// Markers that stand alone, without a length field.
bool isStandalone(uchar code)
{
    return isRestart(code) || code == Temporary;
}

// APPn and COM: free-form contents.
bool isApplicationOrComment(uchar code)
{
    return (code >= 0xE0 && code <= 0xEF) || code == 0xFE;
}

// Markers of the segments that may follow a start marker.
bool isHeaderSegment(uchar code)
{
    return (code >= 0xC0 && code <= 0xCF) || (code >= 0xDB && code <= 0xDF)
        || isApplicationOrComment(code);
}
}

FrameCutter::FrameCutter(QByteArray &buffer, qsizetype bound)
    : buffer(buffer)
    , bound(qMax<qsizetype>(bound, 1))
{
}

void FrameCutter::append(const QByteArray &bytes)
{
    buffer.append(bytes);
}

void FrameCutter::clear()
{
    buffer.clear();
    state = State::SeekingStart;
    imageStart = 0;
    scan = 0;
    consumed = 0;
    imageEnd = -1;
}

void FrameCutter::restartAt(qsizetype start)
{
    imageStart = start;
    consumed = start;
    scan = start + 2;
    state = State::Segments;
}

QByteArray FrameCutter::nextImage()
{
    for (;;) {
        bool progress = false;
        switch (state) {
        case State::SeekingStart: {
            const qsizetype start = buffer.indexOf(StartMarker, scan);
            if (start < 0) {
                // Everything scanned but a last FF, which may begin a marker.
                scan = qMax(scan, buffer.size() - 1);
                consumed = scan;
                return {};
            }
            restartAt(start);
            progress = true;
            break;
        }
        case State::Segments:
            progress = walkSegment();
            break;
        case State::EntropyData:
            progress = walkEntropyData();
            break;
        }
        if (imageEnd >= 0) {
            const QByteArray image =
                QByteArray::fromRawData(buffer.constData() + imageStart, imageEnd - imageStart);
            consumed = scan = imageEnd;
            imageEnd = -1;
            state = State::SeekingStart;
            return image;
        }
        if (!progress)
            return {};
    }
}

// Steps over one marker where a marker is expected. False when more bytes are needed.
bool FrameCutter::walkSegment()
{
    const auto *data = reinterpret_cast<const uchar *>(buffer.constData());
    const qsizetype size = buffer.size();
    if (scan >= size)
        return false;
    if (data[scan] != Marker)
        return skipToMarker();
    if (scan + 2 > size)
        return false;
    const uchar code = data[scan + 1];
    if (code == Marker || code == Stuffing) {
        // A fill byte, or an FF that begins no marker.
        ++scan;
        return true;
    }
    if (code == StartOfImage) {
        // The image was cut off; start again at the new one.
        restartAt(scan);
        return true;
    }
    if (code == EndOfImage) {
        imageEnd = scan + 2;
        return true;
    }
    if (isStandalone(code)) {
        scan += 2;
        return true;
    }
    if (scan + 4 > size)
        return false;
    if (data[scan + 2] == Marker && data[scan + 3] == StartOfImage) {
        // Cut off right after the marker: a start marker in its length field.
        restartAt(scan + 2);
        return true;
    }
    const int length = (data[scan + 2] << 8) | data[scan + 3];
    if (length < 2) {
        scan += 2;
        return true;
    }
    const qsizetype end = scan + 2 + length;
    if (end > size)
        return false;
    const qsizetype cut = imageStartWithin(scan + 2, end, isApplicationOrComment(code));
    if (cut == NeedMoreBytes)
        return false;
    if (cut >= 0) {
        // The image was cut off inside this segment, whose length runs into the next image.
        restartAt(cut);
        return true;
    }
    scan = end;
    if (code == StartOfScan)
        state = State::EntropyData;
    return true;
}

// The position of a new image that begins inside the segment bytes from
// `from` to `end` (or straddles its end): FF D8 followed by the marker of a
// header segment. An application or comment segment may hold whole images
// (EXIF thumbnails), so there only an image that does not end inside it
// counts. -1 when there is none, NeedMoreBytes when the bytes after a start
// marker are still missing.
qsizetype FrameCutter::imageStartWithin(qsizetype from, qsizetype end, bool mayHoldImages) const
{
    const auto *data = reinterpret_cast<const uchar *>(buffer.constData());
    const qsizetype size = buffer.size();
    if (end == size && data[end - 1] == Marker)
        return NeedMoreBytes;
    const qsizetype last = qMin(end + 1, size);
    qsizetype outermost = -1;
    int open = 0;
    for (qsizetype at = from; at + 1 < last; ++at) {
        const void *found = std::memchr(data + at, Marker, last - 1 - at);
        if (!found)
            break;
        at = static_cast<const uchar *>(found) - data;
        const uchar code = data[at + 1];
        if (code == StartOfImage) {
            if (at + 4 > size)
                return NeedMoreBytes;
            if (data[at + 2] != Marker || !isHeaderSegment(data[at + 3]))
                continue;
            if (!mayHoldImages)
                return at;
            if (open++ == 0)
                outermost = at;
        } else if (code == EndOfImage && open > 0) {
            --open;
        }
    }
    return open > 0 ? outermost : -1;
}

// Bytes where a marker belongs are padding, skipped up to the next FF as a
// decoder does.
bool FrameCutter::skipToMarker()
{
    const auto *data = reinterpret_cast<const uchar *>(buffer.constData());
    const qsizetype size = buffer.size();
    const void *found = std::memchr(data + scan, Marker, size - scan);
    scan = found ? static_cast<const uchar *>(found) - data : size;
    return found != nullptr;
}

// Steps through entropy-coded data up to the next marker. False when more bytes are needed.
bool FrameCutter::walkEntropyData()
{
    const auto *data = reinterpret_cast<const uchar *>(buffer.constData());
    const qsizetype size = buffer.size();
    for (;;) {
        const void *found = scan < size ? std::memchr(data + scan, Marker, size - scan) : nullptr;
        if (!found) {
            scan = size;
            return false;
        }
        const qsizetype at = static_cast<const uchar *>(found) - data;
        if (at + 1 >= size) {
            scan = at;
            return false;
        }
        const uchar code = data[at + 1];
        if (code == Stuffing || isStandalone(code)) {
            scan = at + 2;
            continue;
        }
        if (code == Marker) {
            scan = at + 1;
            continue;
        }
        scan = at;
        state = State::Segments;
        return true;
    }
}

void FrameCutter::compact()
{
    if (consumed > 0) {
        buffer.remove(0, consumed);
        scan -= consumed;
        imageStart -= consumed;
        consumed = 0;
    }
    if (buffer.size() > bound && state != State::SeekingStart) {
        // An image this long cannot be shown: drop it, all but a last byte,
        // which may begin the next start marker.
        buffer.remove(0, buffer.size() - 1);
        state = State::SeekingStart;
        imageStart = 0;
        scan = 0;
    }
}
