#include "stream/framecutter.h"

#include <cstring>

namespace {
constexpr uchar Marker = 0xFF;
constexpr uchar StartOfImage = 0xD8;
constexpr uchar EndOfImage = 0xD9;
constexpr uchar StartOfScan = 0xDA;
constexpr uchar Temporary = 0x01;

bool isRestart(uchar code)
{
    return code >= 0xD0 && code <= 0xD7;
}
}

FrameCutter::FrameCutter(QByteArray &buffer)
    : buffer(buffer)
{
}

void FrameCutter::append(const QByteArray &bytes)
{
    buffer.append(bytes);
}

void FrameCutter::reset()
{
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
            const qsizetype start = buffer.indexOf("\xFF\xD8", scan);
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
    if (scan + 2 > size)
        return false;
    if (data[scan] != Marker) {
        // Not a marker: resynchronise as if in entropy-coded data.
        state = State::EntropyData;
        return true;
    }
    const uchar code = data[scan + 1];
    if (code == Marker) {
        ++scan; // fill byte
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
    if (isRestart(code) || code == Temporary) {
        scan += 2;
        return true;
    }
    if (code == 0x00) {
        state = State::EntropyData;
        scan += 2;
        return true;
    }
    if (scan + 4 > size)
        return false;
    const int length = (data[scan + 2] << 8) | data[scan + 3];
    if (length < 2) {
        state = State::EntropyData;
        scan += 2;
        return true;
    }
    if (scan + 2 + length > size)
        return false;
    scan += 2 + length;
    if (code == StartOfScan)
        state = State::EntropyData;
    return true;
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
        if (code == 0x00 || isRestart(code)) {
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
    if (buffer.size() > MaxBufferSize && state != State::SeekingStart) {
        // An image this long cannot be shown: drop what was walked of it and
        // look for a start marker in the rest.
        buffer.remove(0, scan);
        state = State::SeekingStart;
        imageStart = 0;
        scan = 0;
    }
}
