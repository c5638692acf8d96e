// The pass from received bytes to pixels on arbitrary input: decode, copy
// into a raster, stamp the time, convert into a display buffer of exactly
// the window's size, so that any write past it is caught.

#include <QByteArray>
#include <QGuiApplication>
#include <QImage>
#include <QTime>

#include <cstdint>
#include <memory>

#include "frames/framedecoder.h"
#include "frames/framepipeline.h"
#include "frames/raster.h"
#include "frames/rasterconversions.h"
#include "window/sharedstate.h"

namespace {
std::unique_ptr<unsigned char[]> fuzzDisplayBuffer;

// Image handlers complain about every broken input; only a fatal message matters.
void dropMessage(QtMsgType, const QMessageLogContext &, const QString &) {}
}

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    // Qt keeps the argument count by reference; libFuzzer's own stay untouched.
    static int argumentCount = 1;
    static char programName[] = "fuzz_pipeline";
    static char *arguments[] = {programName, nullptr};
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static QGuiApplication application(argumentCount, arguments);
    qInstallMessageHandler(dropMessage);
    fuzzDisplayBuffer = std::make_unique<unsigned char[]>(DisplayBufferSize);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes =
        QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    const QImage decoded = decodeFrame(bytes);
    RasterPtr raster(cvCreateImage(cvSize(decoded.width(), decoded.height()), IPL_DEPTH_8U, 3));
    QImageToIplImage(decoded, raster.get());
    stampTime(raster.get(), QTime(23, 59, 58));

    const qint64 displayBytes = qint64(raster->width) * raster->height * 4;
    if (displayBytes > 0 && displayBytes <= DisplayBufferSize) {
        QImage display(fuzzDisplayBuffer.get(), raster->width, raster->height, QImage::Format_RGB32);
        IplImageToQImage(raster.get(), &display, fuzzDisplayBuffer.get(), 0.0, 0.0);
    }
    return 0;
}
