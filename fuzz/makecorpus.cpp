// Writes the seed corpora of the fuzz targets: real frames as a camera
// sends them, made with Qt's JPEG writer.
//
// Usage: makecorpus <folder>; writes <folder>/corpus-<target>/.

#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include "jpegencoding.h"

#include <cstdio>

namespace {

QImage picture(int width, int height, int seed)
{
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        auto *row = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            const bool inDisc = (x - width / 2) * (x - width / 2) + (y - height / 2) * (y - height / 2)
                < width * height / 16;
            row[x] = inDisc ? qRgb(240, 230, 40)
                            : qRgb((x * 255 / width + seed) & 0xFF, (y * 255 / height) & 0xFF,
                                   ((x ^ y) * 4 + seed) & 0xFF);
        }
    }
    return image;
}

// The image with an APP1 (EXIF) segment that holds a whole thumbnail JPEG.
QByteArray withThumbnail(const QByteArray &jpeg)
{
    return insertExifThumbnail(jpeg, encodeJpeg(picture(16, 12, 9), 50));
}

QByteArray multipart(const QList<QByteArray> &images)
{
    QByteArray reply = "HTTP/1.0 200 OK\r\n"
                       "Content-Type: multipart/x-mixed-replace;boundary=frame-boundary\r\n\r\n"
                       "--frame-boundary\r\n";
    for (const QByteArray &image : images) {
        reply += "Content-Type: image/jpeg\r\nContent-Length: " + QByteArray::number(image.size())
            + "\r\n\r\n" + image + "\r\n--frame-boundary\r\n";
    }
    return reply;
}

bool writeCorpus(const QDir &folder, const QString &target,
                 const QList<QPair<QString, QByteArray>> &inputs)
{
    const QString path = folder.filePath("corpus-" + target);
    QDir(path).removeRecursively();
    if (!QDir().mkpath(path))
        return false;
    for (const auto &[name, bytes] : inputs) {
        QFile file(path + "/" + name);
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
            return false;
    }
    return true;
}

}

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: makecorpus <folder>\n");
        return 2;
    }
    const QDir folder(QString::fromLocal8Bit(argv[1]));

    const QByteArray tiny = encodeJpeg(picture(32, 24, 1), 75);
    const QByteArray other = encodeJpeg(picture(48, 32, 2), 60);
    const QByteArray frame = encodeJpeg(picture(320, 240, 3), 40);
    const QByteArray large = encodeJpeg(picture(400, 300, 4), 20);
    const QByteArray progressive = encodeJpeg(picture(64, 48, 5), 70, true);
    const QByteArray gray = encodeJpeg(picture(40, 30, 6).convertToFormat(QImage::Format_Grayscale8), 70);
    const QByteArray exif = withThumbnail(encodeJpeg(picture(48, 36, 7), 70));
    if (tiny.isEmpty() || frame.isEmpty() || progressive.isEmpty()) {
        std::fprintf(stderr, "makecorpus: no JPEG writer\n");
        return 1;
    }

    // Leading bytes of a framecutter input: four delivery sizes (0: the
    // rest), then the bound (0: the real one, else a small one).
    const QByteArray whole("\0\0\0\0\0", 5);
    const QByteArray oneByte("\x01\x01\x01\x01\0", 5);
    const QByteArray mixed("\x07\x40\x03\xC8\0", 5);
    const QByteArray smallBound("\x10\x20\x40\x80\x06", 5);
    const bool written =
        writeCorpus(folder, "fuzz_pipeline",
                    {{"tiny.jpg", tiny}, {"frame.jpg", frame}, {"large.jpg", large},
                     {"progressive.jpg", progressive}, {"gray.jpg", gray}, {"exif.jpg", exif}})
        && writeCorpus(folder, "fuzz_framecutter",
                       {{"multipart", whole + multipart({tiny, other})},
                        {"one-byte-deliveries", oneByte + tiny},
                        {"back-to-back", mixed + tiny + other + tiny},
                        {"exif", mixed + multipart({exif})},
                        {"progressive", mixed + progressive},
                        {"cut-off", mixed + tiny.left(tiny.size() / 2) + other},
                        {"endless-image", smallBound + "\xFF\xD8" + QByteArray("\x12\xFF\x00\x34", 4).repeated(300)},
                        {"endless-garbage", smallBound + QByteArray("garbage \xFF\xD9").repeated(100)},
                        {"images-past-bound", smallBound + multipart({tiny, other, exif})}});
    if (!written) {
        std::fprintf(stderr, "makecorpus: cannot write into %s\n", argv[1]);
        return 1;
    }
    return 0;
}
