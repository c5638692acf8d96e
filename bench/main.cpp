#include <QApplication>
#include <QCommandLineParser>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <opencv2/core/version.hpp>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <thread>

#include "benchoptions.h"
#include "extractioncost.h"
#include "ffmpegrun.h"
#include "fixtures.h"
#include "resulttable.h"
#include "stagecost.h"
#include "viewerrun.h"

namespace {
constexpr int DistinctFrames = 4;
constexpr double PacedFramesPerSecond = 20.0;
// Below what the viewer keeps up with, so that no backlog builds up in the
// socket and the buffers stay the size of a frame.
constexpr double SoakFramesPerSecond = 200.0;
constexpr qint64 FlatMemoryKiB = 1024;

const QList<QSize> Sizes {QSize(320, 240), QSize(640, 480), QSize(1280, 720)};

QString sizeName(const QSize &size)
{
    return QStringLiteral("%1x%2").arg(size.width()).arg(size.height());
}

QString mebibytes(qint64 kibibytes)
{
    return kibibytes < 0 ? QStringLiteral("-") : QString::number(double(kibibytes) / 1024.0, 'f', 1);
}

bool parseOptions(const QApplication &application, BenchOptions *options)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Measures the viewer's cost per frame, its frame rate, latency and memory against ffmpeg on the same "
        "stream, and the frame extraction's cost per MiB."));
    parser.addHelpOption();
    const QCommandLineOption frames(QStringLiteral("frames"),
                                    QStringLiteral("Frames per end-to-end run at full speed (default 2000)."),
                                    QStringLiteral("N"));
    const QCommandLineOption soak(QStringLiteral("soak"),
                                  QStringLiteral("Watch memory over 10000 frames, recording off and on."));
    const QCommandLineOption smoke(QStringLiteral("smoke"), QStringLiteral("A run of a few seconds, small counts."));
    parser.addOptions({frames, soak, smoke});
    parser.process(application);

    if (parser.isSet(smoke)) {
        options->smoke = true;
        options->frames = 40;
        options->pacedFrames = 10;
        options->soakFrames = 40;
        options->repetitions = 3;
        options->batchMilliseconds = 1.0;
    }
    if (parser.isSet(frames)) {
        bool ok = false;
        const int count = parser.value(frames).toInt(&ok);
        if (!ok || count < 2 || count > 10000000) {
            std::fprintf(stderr, "monitor_bench: --frames needs a whole number from 2 up\n");
            return false;
        }
        options->frames = count;
    }
    options->soakFrames = parser.isSet(soak) ? 10000 : options->frames;
    return true;
}

QString machineLine()
{
    QString ffmpeg = QStringLiteral("ffmpeg not found");
    if (ffmpegAvailable()) {
        QProcess version;
        version.start(QStringLiteral("ffmpeg"), {QStringLiteral("-hide_banner"), QStringLiteral("-version")});
        version.waitForFinished(10000);
        ffmpeg = QString::fromLocal8Bit(version.readAllStandardOutput()).section(u'\n', 0, 0).section(u' ', 0, 2);
    }
    QFile load(QStringLiteral("/proc/loadavg"));
    load.open(QIODevice::ReadOnly);
    return QStringLiteral("Qt %1, OpenCV %2, %3, %4 cores, load average %5")
        .arg(QString::fromLatin1(qVersion()), QStringLiteral(CV_VERSION), ffmpeg)
        .arg(std::thread::hardware_concurrency())
        .arg(QString::fromLatin1(load.readAll()).section(u' ', 0, 2));
}

struct EndToEnd
{
    QSize size;
    ViewerRunResult off;
    ViewerRunResult on;
    FfmpegResult ffmpeg;
    double ratio() const { return off.framesPerSecond / ffmpeg.framesPerSecond; }
};

QStringList viewerCells(const QString &name, const ViewerRunResult &run, double ratio)
{
    return {name,
            formatNumber(run.framesPerSecond, 0),
            formatNumber(run.cpuMillisecondsPerFrame, 3),
            formatNumber(ratio, 2),
            formatNumber(run.latencyMedian, 2),
            formatNumber(run.latencyP99, 2),
            mebibytes(run.peakResidentKiB),
            mebibytes(run.residentStartKiB),
            mebibytes(run.residentEndKiB)};
}

const QStringList RunHeadings {QStringLiteral("run"), QStringLiteral("fps"), QStringLiteral("CPU ms/frame"),
                               QStringLiteral("x ffmpeg"), QStringLiteral("latency ms median"),
                               QStringLiteral("p99"), QStringLiteral("VmHWM MiB"), QStringLiteral("RSS start"),
                               QStringLiteral("RSS end")};

void print(const ResultTable &table)
{
    std::fputs(qPrintable(table.toText()), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

// How far resident memory rose above its level after the first tenth of the frames.
qint64 memoryGrowthKiB(const ViewerRunResult &run)
{
    const std::vector<qint64> &samples = run.residentSamplesKiB;
    if (samples.size() < 2)
        return 0;
    return *std::max_element(samples.begin() + 1, samples.end()) - samples.front();
}

QString verdict(bool met)
{
    return met ? QStringLiteral("met") : QStringLiteral("NOT met");
}
}

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    BenchOptions options;
    if (!parseOptions(application, &options))
        return 2;
    QTemporaryDir workFolder;
    if (!workFolder.isValid()) {
        std::fprintf(stderr, "monitor_bench: no temporary folder\n");
        return 1;
    }
    std::printf("monitor_bench%s: %s\n\n", options.smoke ? " --smoke" : "", qPrintable(machineLine()));
    std::fflush(stdout);

    std::vector<std::vector<QByteArray>> frames;
    for (const QSize &size : Sizes)
        frames.push_back(busyJpegFrames(size, DistinctFrames));

    // 1. Cost per frame of each stage.
    std::vector<StageCosts> stages;
    for (size_t i = 0; i < frames.size(); ++i)
        stages.push_back(measureStageCosts(frames[i].front(), workFolder.path(), options));
    {
        QStringList headings {QStringLiteral("stage, median ms per frame: wall (CPU)")};
        for (const QSize &size : Sizes)
            headings << sizeName(size);
        ResultTable table(QStringLiteral("Cost per frame (median of %1 timed batches)").arg(options.repetitions),
                          headings);
        const auto row = [&](const QString &name, const std::function<QString(const StageCosts &)> &cell) {
            QStringList cells {name};
            for (const StageCosts &costs : stages)
                cells << cell(costs);
            table.addRow(cells);
        };
        const auto milliseconds = [](CallCost StageCosts::*field) {
            return [field](const StageCosts &costs) {
                const CallCost &cost = costs.*field;
                return QStringLiteral("%1 (%2)").arg(formatNumber(cost.wall, 3), formatNumber(cost.cpu, 3));
            };
        };
        row(QStringLiteral("JPEG KB (quality 85)"),
            [](const StageCosts &costs) { return formatNumber(double(costs.jpegBytes) / 1000.0, 1); });
        row(QStringLiteral("decoded at"), [](const StageCosts &costs) { return sizeName(costs.shownSize); });
        row(QStringLiteral("turbojpeg to BGR, full size (floor)"), milliseconds(&StageCosts::turboFullSize));
        row(QStringLiteral("turbojpeg to BGR, decoded size (floor)"), milliseconds(&StageCosts::turboShownSize));
        row(QStringLiteral("decode (decodeFrame)"), milliseconds(&StageCosts::decode));
        row(QStringLiteral("  same, reader told \"jpeg\""), milliseconds(&StageCosts::decodeNamed));
        row(QStringLiteral("  same, into a reused image"), milliseconds(&StageCosts::decodeNamedReused));
        row(QStringLiteral("copy into raster (QImageToIplImage)"), milliseconds(&StageCosts::copy));
        row(QStringLiteral("  copy / decode"), [](const StageCosts &costs) {
            return QStringLiteral("%1%").arg(formatNumber(100.0 * costs.copy.wall / costs.decode.wall, 0));
        });
        row(QStringLiteral("stamp (stampTime)"), milliseconds(&StageCosts::stamp));
        row(QStringLiteral("convert + pixmap + setPixmap"), milliseconds(&StageCosts::show));
        row(QStringLiteral("record (recordFrame)"), milliseconds(&StageCosts::record));
        row(QStringLiteral("pipeline, recording off (process)"), milliseconds(&StageCosts::pipeline));
        row(QStringLiteral("pipeline, recording on (process)"), milliseconds(&StageCosts::pipelineRecording));
        row(QStringLiteral("what if: turbojpeg into raster, stamp, show"), milliseconds(&StageCosts::turboPipeline));
        table.addNote(QStringLiteral("Frames too big for the display buffer are decoded scaled down in the DCT."));
        print(table);
    }

    // 2. End to end, against ffmpeg on the same stream.
    bool failed = false;
    const auto fastRun = [&](size_t index, bool recording) {
        ViewerRunSetup setup;
        setup.frames = frames[index];
        setup.count = options.frames;
        setup.recording = recording;
        setup.workFolder = workFolder.path();
        setup.timeoutMilliseconds = 30000 + options.frames * 50;
        const ViewerRunResult result = runViewer(setup);
        failed = failed || !result.complete;
        return result;
    };
    std::vector<EndToEnd> endToEnd;
    {
        ResultTable table(QStringLiteral("End to end, camera on 127.0.0.1 as fast as it can, %1 frames").arg(options.frames),
                          RunHeadings);
        const bool haveFfmpeg = ffmpegAvailable();
        for (size_t i = 0; i < frames.size(); ++i) {
            EndToEnd run;
            run.size = Sizes[int(i)];
            run.off = fastRun(i, false);
            run.on = fastRun(i, true);
            if (haveFfmpeg)
                run.ffmpeg = runFfmpeg(frames[i], options.frames, workFolder.path());
            else
                run.ffmpeg.problem = QStringLiteral("ffmpeg not found");
            const QString name = sizeName(run.size);
            table.addRow(viewerCells(name + QStringLiteral(" viewer, recording off"), run.off, run.ratio()));
            table.addRow(viewerCells(name + QStringLiteral(" viewer, recording on"), run.on,
                                     run.on.framesPerSecond / run.ffmpeg.framesPerSecond));
            table.addRow({name + QStringLiteral(" ffmpeg -threads 1 -f null"),
                          formatNumber(run.ffmpeg.framesPerSecond, 0),
                          formatNumber(run.ffmpeg.cpuMillisecondsPerFrame, 3)});
            for (const QString &problem : {run.off.problem, run.on.problem, run.ffmpeg.problem}) {
                if (!problem.isEmpty())
                    table.addNote(name + QStringLiteral(": ") + problem);
            }
            endToEnd.push_back(run);
        }
        table.addNote(QStringLiteral("fps and CPU count the frames after the first; ffmpeg's are the difference of "
                                     "a 1-frame and a full run."));
        table.addNote(QStringLiteral("CPU is the viewer's process time less the camera thread's. At full speed the "
                                     "latency is mostly frames queued in the socket."));
        print(table);
    }

    std::vector<std::pair<QString, ViewerRunResult>> paced;
    {
        ResultTable table(QStringLiteral("Latency, camera at %1 fps, %2 frames").arg(PacedFramesPerSecond).arg(options.pacedFrames),
                          RunHeadings);
        const std::vector<std::pair<size_t, bool>> runs {{0, false}, {0, true}, {1, false}};
        for (const auto &[index, recording] : runs) {
            ViewerRunSetup setup;
            setup.frames = frames[index];
            setup.count = options.pacedFrames;
            setup.framesPerSecond = PacedFramesPerSecond;
            setup.recording = recording;
            setup.workFolder = workFolder.path();
            setup.timeoutMilliseconds = 30000 + int(options.pacedFrames * 1000 / PacedFramesPerSecond);
            const ViewerRunResult result = runViewer(setup);
            failed = failed || !result.complete;
            const QString name = sizeName(Sizes[int(index)])
                                 + (recording ? QStringLiteral(", recording on") : QStringLiteral(", recording off"));
            table.addRow(viewerCells(name, result, NotMeasured));
            if (!result.problem.isEmpty())
                table.addNote(name + QStringLiteral(": ") + result.problem);
            paced.emplace_back(name, result);
        }
        table.addNote(QStringLiteral("Latency: from the camera's write of a frame's last byte to setPixmap of that frame."));
        print(table);
    }

    std::vector<std::pair<QString, ViewerRunResult>> soaks;
    {
        ResultTable table(QStringLiteral("Memory over %1 frames at %2 fps, 320x240").arg(options.soakFrames).arg(SoakFramesPerSecond),
                          {QStringLiteral("run"), QStringLiteral("RSS start MiB"),
                           QStringLiteral("RSS after each tenth of the frames, MiB"),
                           QStringLiteral("growth after 1st tenth KiB"), QStringLiteral("VmHWM MiB"),
                           QStringLiteral("latency p99 ms")});
        for (const bool recording : {false, true}) {
            ViewerRunSetup setup;
            setup.frames = frames[0];
            setup.count = options.soakFrames;
            setup.recording = recording;
            setup.workFolder = workFolder.path();
            setup.framesPerSecond = SoakFramesPerSecond;
            setup.memorySampleInterval = std::max(1, options.soakFrames / 10);
            setup.timeoutMilliseconds = 30000 + int(options.soakFrames * 1000 / SoakFramesPerSecond);
            const ViewerRunResult result = runViewer(setup);
            failed = failed || !result.complete;
            const QString name = recording ? QStringLiteral("recording on") : QStringLiteral("recording off");
            QStringList series;
            for (const qint64 sample : result.residentSamplesKiB)
                series << mebibytes(sample);
            table.addRow({name, mebibytes(result.residentStartKiB), series.join(u' '),
                          QString::number(memoryGrowthKiB(result)), mebibytes(result.peakResidentKiB),
                          formatNumber(result.latencyP99, 2)});
            if (!result.problem.isEmpty())
                table.addNote(name + QStringLiteral(": ") + result.problem);
            soaks.emplace_back(name, result);
        }
        print(table);
    }

    // 3. Extraction cost per MiB.
    {
        const std::vector<ExtractionCost> costs = measureExtractionCost(frames[0].front(), options.smoke ? 2 : 15);
        ResultTable table(QStringLiteral("Frame extraction per MiB received, 64 KiB deliveries (median ms per MiB)"),
                          {QStringLiteral("buffer holds"), QStringLiteral("buffer MiB"), QStringLiteral("append"),
                           QStringLiteral("cut + compact"), QStringLiteral("total"), QStringLiteral("images cut")});
        for (const ExtractionCost &cost : costs)
            table.addRow({cost.what, formatNumber(cost.bufferMiB, 1), formatNumber(cost.appendPerMiB, 3),
                          formatNumber(cost.scanPerMiB, 3), formatNumber(cost.appendPerMiB + cost.scanPerMiB, 3),
                          QString::number(cost.imagesCut)});
        print(table);
    }

    // Targets and summary.
    const EndToEnd &small = endToEnd[0];
    const EndToEnd &medium = endToEnd[1];
    double worstCopyShare = 0;
    for (const StageCosts &costs : stages)
        worstCopyShare = std::max(worstCopyShare, costs.copy.wall / costs.decode.wall);
    const double pacedP99 = paced[0].second.latencyP99;
    double worstPacedP99 = 0;
    for (const auto &run : paced)
        worstPacedP99 = std::max(worstPacedP99, run.second.latencyP99);
    qint64 worstGrowth = 0;
    for (const auto &run : soaks)
        worstGrowth = std::max(worstGrowth, memoryGrowthKiB(run.second));

    const bool smallMet = small.ratio() >= 0.7;
    const bool mediumMet = medium.ratio() >= 1.0;
    const bool copyMet = worstCopyShare <= 0.15;
    const bool latencyMet = pacedP99 < 5.0;
    const bool memoryMet = worstGrowth <= FlatMemoryKiB;
    std::printf("Targets:\n");
    std::printf("  320x240, recording off, >= 0.7x ffmpeg: %sx  %s\n", qPrintable(formatNumber(small.ratio(), 2)),
                qPrintable(verdict(smallMet)));
    std::printf("  640x480, recording off, >= 1.0x ffmpeg: %sx  %s\n", qPrintable(formatNumber(medium.ratio(), 2)),
                qPrintable(verdict(mediumMet)));
    std::printf("  copy <= 15%% of decode, at every size: worst %s%%  %s\n",
                qPrintable(formatNumber(100 * worstCopyShare, 0)), qPrintable(verdict(copyMet)));
    std::printf("  p99 latency at 20 fps < 5 ms (320x240, recording off): %s ms  %s (worst run %s ms)\n",
                qPrintable(formatNumber(pacedP99, 2)), qPrintable(verdict(latencyMet)),
                qPrintable(formatNumber(worstPacedP99, 2)));
    std::printf("  memory flat (growth <= %lld KiB after frame %d of %d): %lld KiB  %s%s\n",
                static_cast<long long>(FlatMemoryKiB), options.soakFrames / 10, options.soakFrames,
                static_cast<long long>(worstGrowth), qPrintable(verdict(memoryMet)),
                options.soakFrames < 10000 ? " (run --soak for 10000 frames)" : "");
    std::printf("\nsummary: %s fps %s (%sx ffmpeg), %s fps %s (%sx ffmpeg), recording on %s / %s fps; "
                "copy %s%% of decode; p99 latency at 20 fps %s ms; memory +%lld KiB over %d frames; "
                "targets met %d of 5\n",
                qPrintable(sizeName(small.size)), qPrintable(formatNumber(small.off.framesPerSecond, 0)),
                qPrintable(formatNumber(small.ratio(), 2)), qPrintable(sizeName(medium.size)),
                qPrintable(formatNumber(medium.off.framesPerSecond, 0)), qPrintable(formatNumber(medium.ratio(), 2)),
                qPrintable(formatNumber(small.on.framesPerSecond, 0)),
                qPrintable(formatNumber(medium.on.framesPerSecond, 0)),
                qPrintable(formatNumber(100 * worstCopyShare, 0)), qPrintable(formatNumber(pacedP99, 2)),
                static_cast<long long>(worstGrowth), options.soakFrames,
                int(smallMet) + int(mediumMet) + int(copyMet) + int(latencyMet) + int(memoryMet));
    if (failed)
        std::fprintf(stderr, "monitor_bench: an end-to-end run did not show every frame\n");
    return failed ? 1 : 0;
}
