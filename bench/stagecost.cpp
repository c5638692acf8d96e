#include "stagecost.h"

#include <QApplication>
#include <QBuffer>
#include <QDir>
#include <QImageReader>
#include <QLabel>
#include <QPixmap>
#include <QTime>

#include <turbojpeg.h>

#include <vector>

#include "frames/framedecoder.h"
#include "frames/framepipeline.h"
#include "frames/raster.h"
#include "frames/rasterconversions.h"
#include "measure.h"
#include "recorder/videorecorder.h"
#include "window/sharedstate.h"
#include "window/widget.h"

namespace {
// libjpeg-turbo straight to BGR at the given size, which must be one of its
// scaling factors of the full size.
CallCost turboDecodeCost(const QByteArray &jpeg, const QSize &size, const BenchOptions &options)
{
    tjhandle decompressor = tjInitDecompress();
    if (!decompressor)
        return {};
    std::vector<unsigned char> pixels(size_t(size.width()) * size_t(size.height()) * 3);
    const auto *data = reinterpret_cast<const unsigned char *>(jpeg.constData());
    const auto length = static_cast<unsigned long>(jpeg.size());
    bool ok = true;
    const CallCost cost = medianCostPerCall(
        [&] {
            ok = ok && tjDecompress2(decompressor, data, length, pixels.data(), size.width(), 0,
                                     size.height(), TJPF_BGR, 0) == 0;
        },
        options.repetitions, options.batchMilliseconds);
    tjDestroy(decompressor);
    return ok ? cost : CallCost {};
}

// decodeFrame() with the format named instead of found from the content,
// optionally into an image kept from the previous call.
void decodeNamedJpeg(const QByteArray &jpeg, QImage *target)
{
    QByteArray shared = jpeg;
    QBuffer device(&shared);
    device.open(QIODevice::ReadOnly);
    QImageReader reader(&device, "jpeg");
    const QSize size = reader.size();
    const QSize decoded = decodedSizeFor(size);
    if (decoded != size)
        reader.setScaledSize(decoded);
    reader.read(target);
}

void settle()
{
    QApplication::processEvents();
}
}

StageCosts measureStageCosts(const QByteArray &jpeg, const QString &workFolder, const BenchOptions &options)
{
    StageCosts costs;
    costs.jpegBytes = jpeg.size();
    const int repetitions = options.repetitions;
    const double batch = options.batchMilliseconds;

    // The window provides the display buffer and the label, as in the program.
    Widget window;
    window.setFixedSize(339, 339);
    window.show();
    auto *label = window.findChild<QLabel *>(QStringLiteral("Image"));

    const QImage decoded = decodeFrame(jpeg);
    const QImage probe = QImage::fromData(jpeg);
    costs.size = probe.size();
    costs.shownSize = decoded.size();
    costs.turboFullSize = turboDecodeCost(jpeg, costs.size, options);
    costs.turboShownSize = turboDecodeCost(jpeg, costs.shownSize, options);

    costs.decode = medianCostPerCall([&] { (void)decodeFrame(jpeg); }, repetitions, batch);
    costs.decodeNamed = medianCostPerCall(
        [&] {
            QImage image;
            decodeNamedJpeg(jpeg, &image);
        },
        repetitions, batch);
    QImage reused;
    costs.decodeNamedReused = medianCostPerCall([&] { decodeNamedJpeg(jpeg, &reused); }, repetitions, batch);

    RasterPtr raster(cvCreateImage(cvSize(decoded.width(), decoded.height()), IPL_DEPTH_8U, 3));
    costs.copy = medianCostPerCall([&] { QImageToIplImage(decoded, raster.get()); }, repetitions, batch);
    costs.stamp = medianCostPerCall([&] { stampTime(raster.get(), QTime::currentTime()); },
                                            repetitions, batch);

    const qint64 displayBytes = qint64(raster->width) * raster->height * 4;
    const bool showable = label && displayBuffer && displayBytes <= DisplayBufferSize;
    const auto show = [&] {
        QImage display(displayBuffer, raster->width, raster->height, QImage::Format_RGB32);
        IplImageToQImage(raster.get(), &display, displayBuffer, 0.0, 0.0);
        label->setPixmap(QPixmap::fromImage(display));
    };
    if (showable) {
        costs.show = medianCostPerCall(show, repetitions, batch);
        settle();
    }

    tjhandle decompressor = tjInitDecompress();
    if (showable && decompressor) {
        const auto *data = reinterpret_cast<const unsigned char *>(jpeg.constData());
        const auto length = static_cast<unsigned long>(jpeg.size());
        costs.turboPipeline = medianCostPerCall(
            [&] {
                tjDecompress2(decompressor, data, length, reinterpret_cast<unsigned char *>(raster->imageData),
                              raster->width, raster->widthStep, raster->height, TJPF_BGR, 0);
                stampTime(raster.get(), QTime::currentTime());
                show();
            },
            repetitions, batch);
        settle();
    }
    if (decompressor)
        tjDestroy(decompressor);

    const QDir folder(workFolder);
    const QString tag = QStringLiteral("%1x%2").arg(costs.size.width()).arg(costs.size.height());
    if (startRecording(folder.filePath(QStringLiteral("stage-%1.avi").arg(tag)))) {
        costs.record = medianCostPerCall([&] { recordFrame(raster.get()); }, repetitions, batch);
        stopRecording();
    }

    if (label) {
        FramePipeline pipeline(label);
        costs.pipeline = medianCostPerCall([&] { pipeline.process(jpeg); }, repetitions, batch);
        settle();
        if (startRecording(folder.filePath(QStringLiteral("pipeline-%1.avi").arg(tag)))) {
            costs.pipelineRecording = medianCostPerCall([&] { pipeline.process(jpeg); }, repetitions, batch);
            stopRecording();
        }
        settle();
    }
    return costs;
}
