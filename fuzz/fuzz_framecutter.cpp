// Feeds random deliveries to the frame cutter and checks what it cuts.
//
// Input: four bytes that choose the delivery sizes in turn (0: all that is
// left), one that chooses the buffer's bound (0: the real one, else a small
// one that the input soon passes), then the stream. With the real bound the
// images cut must also be those cut from the stream in one delivery.

#include <QByteArray>
#include <QList>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "stream/framecutter.h"

namespace {
constexpr size_t ChunkSizeBytes = 4;
constexpr size_t HeaderBytes = ChunkSizeBytes + 1;

void check(bool condition, const char *what)
{
    if (!condition) {
        std::fprintf(stderr, "fuzz_framecutter: %s\n", what);
        std::abort();
    }
}

class Receiver
{
public:
    explicit Receiver(qsizetype bound) : bound(bound), cutter(buffer, bound) {}

    void deliver(const QByteArray &chunk)
    {
        cutter.append(chunk);
        check(buffer.size() <= bound + chunk.size(), "buffer past its bound after append");
        const char *previousEnd = buffer.constData();
        for (QByteArray image = cutter.nextImage(); !image.isEmpty(); image = cutter.nextImage()) {
            check(image.size() >= 4, "image shorter than its two markers");
            check(image.startsWith("\xFF\xD8"), "image does not start with FF D8");
            check(image.endsWith("\xFF\xD9"), "image does not end with FF D9");
            check(image.constData() >= previousEnd, "images out of order or overlapping");
            check(image.constData() + image.size() <= buffer.constData() + buffer.size(),
                  "image outside the buffer");
            previousEnd = image.constData() + image.size();
            images.append(QByteArray(image.constData(), image.size()));
        }
        cutter.compact();
        check(buffer.size() <= bound, "buffer past its bound after compact");
    }

    QList<QByteArray> images;

private:
    const qsizetype bound;
    QByteArray buffer;
    FrameCutter cutter;
};
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size <= HeaderBytes)
        return 0;
    const uint8_t *chunkSizes = data;
    const uint8_t boundChoice = data[ChunkSizeBytes];
    const qsizetype bound =
        boundChoice == 0 ? FrameCutter::MaxBufferSize : qsizetype(16) << (boundChoice % 12);
    const QByteArray stream(reinterpret_cast<const char *>(data + HeaderBytes),
                            qsizetype(size - HeaderBytes));

    Receiver chunked(bound);
    qsizetype position = 0;
    for (size_t turn = 0; position < stream.size(); ++turn) {
        const uint8_t chosen = chunkSizes[turn % ChunkSizeBytes];
        const qsizetype length = chosen == 0 ? stream.size() - position
                                             : qMin<qsizetype>(chosen, stream.size() - position);
        chunked.deliver(stream.mid(position, length));
        position += length;
    }

    if (bound == FrameCutter::MaxBufferSize) {
        Receiver whole(bound);
        whole.deliver(stream);
        check(chunked.images == whole.images, "images depend on how the stream was delivered");
    }
    return 0;
}
