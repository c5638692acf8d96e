#include "viewerrun.h"

#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include "measure.h"
#include "pixmapprobe.h"
#include "streamserver.h"
#include "window/widget.h"

namespace {
template <typename Child>
Child *child(const QWidget &window, const char *name)
{
    return window.findChild<Child *>(QString::fromLatin1(name));
}

qint64 folderBytes(const QString &folder, const QStringList &before)
{
    qint64 bytes = 0;
    const QFileInfoList entries = QDir(folder).entryInfoList({QStringLiteral("*.avi")}, QDir::Files);
    for (const QFileInfo &entry : entries) {
        if (!before.contains(entry.fileName()))
            bytes += entry.size();
    }
    return bytes;
}
}

ViewerRunResult runViewer(const ViewerRunSetup &setup)
{
    ViewerRunResult result;
    StreamServer server(setup.frames, setup.count, setup.framesPerSecond);
    if (!server.start()) {
        result.problem = QStringLiteral("the camera could not listen on 127.0.0.1");
        return result;
    }

    Widget window;
    window.setFixedSize(339, 339);
    window.show();
    auto *host = child<QLineEdit>(window, "lineEdit");
    auto *port = child<QLineEdit>(window, "port");
    auto *connectButton = child<QPushButton>(window, "connect");
    auto *stopButton = child<QPushButton>(window, "stop");
    auto *recordButton = child<QPushButton>(window, "record");
    auto *stopRecordButton = child<QPushButton>(window, "stoprecord");
    auto *image = child<QLabel>(window, "Image");
    if (!host || !port || !connectButton || !stopButton || !recordButton || !stopRecordButton || !image) {
        result.problem = QStringLiteral("the window lacks a named child");
        return result;
    }

    const auto viewerCpuSeconds = [&server] { return processCpuSeconds() - server.threadCpuSeconds(); };
    std::vector<Clock::time_point> shownAt;
    shownAt.reserve(size_t(setup.count));
    double cpuAtFirst = 0;
    double cpuAtLast = 0;
    QEventLoop loop;
    PixmapProbe probe(image, [&] {
        if (int(shownAt.size()) >= setup.count)
            return;
        shownAt.push_back(Clock::now());
        const int shown = int(shownAt.size());
        if (shown == 1)
            cpuAtFirst = viewerCpuSeconds();
        if (setup.memorySampleInterval > 0 && shown % setup.memorySampleInterval == 0)
            result.residentSamplesKiB.push_back(residentKiB());
        if (shown == setup.count) {
            cpuAtLast = viewerCpuSeconds();
            loop.quit();
        }
    });

    const QString previousFolder = QDir::currentPath();
    QStringList recordingsBefore;
    if (setup.recording) {
        recordingsBefore = QDir(setup.workFolder).entryList({QStringLiteral("*.avi")}, QDir::Files);
        QDir::setCurrent(setup.workFolder);
        recordButton->click();
    }

    host->setText(QStringLiteral("127.0.0.1"));
    port->setText(QString::number(server.port()));
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    resetPeakResident();
    result.residentStartKiB = residentKiB();
    deadline.start(setup.timeoutMilliseconds);
    connectButton->click();
    loop.exec();
    result.residentEndKiB = residentKiB();
    result.peakResidentKiB = peakResidentKiB();

    stopButton->click();
    if (setup.recording) {
        stopRecordButton->click();
        QDir::setCurrent(previousFolder);
        result.recordingBytes = folderBytes(setup.workFolder, recordingsBefore);
    }
    server.finish();

    result.shown = int(shownAt.size());
    result.complete = result.shown == setup.count;
    if (!result.complete) {
        result.problem = QStringLiteral("%1 of %2 frames shown in %3 s")
                             .arg(result.shown)
                             .arg(setup.count)
                             .arg(setup.timeoutMilliseconds / 1000);
        return result;
    }
    if (setup.count > 1) {
        result.framesPerSecond = (setup.count - 1) / (millisecondsBetween(shownAt.front(), shownAt.back()) / 1000.0);
        result.cpuMillisecondsPerFrame = (cpuAtLast - cpuAtFirst) * 1000.0 / (setup.count - 1);
    }
    // The cutter shows every image in order, so the n-th shown is the n-th sent.
    const std::vector<Clock::time_point> &sentAt = server.sentAt();
    std::vector<double> latencies;
    for (size_t frame = 0; frame < shownAt.size() && frame < sentAt.size(); ++frame)
        latencies.push_back(millisecondsBetween(sentAt[frame], shownAt[frame]));
    result.latencyMedian = median(latencies);
    result.latencyP99 = percentile(latencies, 0.99);
    return result;
}
