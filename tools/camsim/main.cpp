#include "cameraserver.h"
#include "commandline.h"
#include "exifframes.h"
#include "folderframes.h"
#include "signalwatcher.h"
#include "testpattern.h"

#include <QGuiApplication>

#include <cstdio>
#include <memory>

namespace {

void printError(const QString &message)
{
    std::fprintf(stderr, "camsim: %s\n", qPrintable(message));
}

} // namespace

int main(int argc, char *argv[])
{
    // Text in the test picture needs a GUI application, but no display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("camsim"));
    QCoreApplication::setApplicationVersion(QStringLiteral("1.0"));

    const CommandLine::Result parsed = CommandLine::parse(QCoreApplication::arguments());
    switch (parsed.outcome) {
    case CommandLine::Outcome::ShowHelp:
        std::fputs(qPrintable(parsed.text), stdout);
        return 0;
    case CommandLine::Outcome::ShowVersion:
        std::printf("camsim %s\n", qPrintable(QCoreApplication::applicationVersion()));
        return 0;
    case CommandLine::Outcome::Error:
        printError(parsed.text);
        std::fputs("Try 'camsim --help' for the options.\n", stderr);
        return 2;
    case CommandLine::Outcome::Run:
        break;
    }
    const CameraOptions &options = parsed.options;

    std::unique_ptr<FrameSource> pictures;
    if (options.folder.isEmpty()) {
        pictures = std::make_unique<TestPattern>(options.size, options.quality);
    } else {
        auto folder = std::make_unique<FolderFrames>(options.folder);
        for (const QString &skipped : folder->skipped())
            printError(QStringLiteral("skipped %1").arg(skipped));
        if (folder->isEmpty()) {
            printError(folder->error());
            return 1;
        }
        pictures = std::move(folder);
    }
    std::unique_ptr<ExifFrames> withExif;
    if (options.exif)
        withExif = std::make_unique<ExifFrames>(*pictures);
    FrameSource &frames = withExif ? static_cast<FrameSource &>(*withExif) : *pictures;
    if (frames.frame(1).isEmpty()) {
        printError(QStringLiteral("cannot encode JPEG pictures (is Qt's JPEG image plugin installed?)"));
        return 1;
    }

    SignalWatcher signalWatcher;
    QObject::connect(&signalWatcher, &SignalWatcher::terminationRequested, &app,
                     [] { QCoreApplication::exit(0); });

    CameraServer server(options, frames);
    if (!server.listen()) {
        printError(QStringLiteral("cannot listen on %1 port %2: %3")
                       .arg(options.listenAddress.toString())
                       .arg(options.port)
                       .arg(server.errorString()));
        return 1;
    }
    std::printf("camsim listening on %s\n", qPrintable(server.endpoint()));
    std::fflush(stdout);
    return QCoreApplication::exec();
}
