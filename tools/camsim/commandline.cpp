#include "commandline.h"

#include <QCommandLineParser>
#include <QRegularExpression>

#include <cmath>

namespace {

const char description[] =
    "A simulated network camera. It serves a moving test picture, or the JPEG\n"
    "files of a folder, as a stream of JPEG images over TCP, to the request\n"
    "\"GET /?action=stream\" sent bare or as HTTP/1.x. Every client gets its own\n"
    "stream, counting frames from 1. Once listening it prints\n"
    "\"camsim listening on ADDRESS:PORT\" on standard output.\n"
    "\n"
    "The test picture shows the frame number in big digits and, in its bottom\n"
    "eighth, as 16 black or white cells across the width: bit 15 of the frame\n"
    "number modulo 65536 leftmost, white meaning 1. Its top-left 140x40 corner\n"
    "is plain grey.\n"
    "\n"
    "Modes (--mode, one or several joined by commas; default http):\n"
    "  http     multipart/x-mixed-replace reply, one part per JPEG\n"
    "  bare     no HTTP at all: JPEGs back to back with nothing between them,\n"
    "           sent from the moment of connection, whatever the client sends\n"
    "  exif     each JPEG carries an EXIF APP1 segment right after FF D8 that\n"
    "           holds a whole thumbnail JPEG (FF D8 ... FF D9)\n"
    "  burst    frames are held back and sent --burst at a time in one write,\n"
    "           at the average rate of --fps\n"
    "  cut      half of frame --cut-after is sent, then the connection closed\n"
    "  garbage  random bytes below D0 (no FF), of random length, after each frame\n"
    "  silent   the reply header, then never an image\n"
    "  endless  FF D8, then endless entropy-style bytes without FF D9, at --rate\n"
    "  noise    endless random bytes without FF D8, at --rate\n"
    "http or bare goes with any other mode; exif, burst, cut and garbage go with\n"
    "each other; silent, endless and noise go with none of those four.\n"
    "\n"
    "\"GET /?action=snapshot\" is answered with one JPEG; other requests get\n"
    "404 or 400 and the connection is closed.\n"
    "\n"
    "Examples:\n"
    "  camsim                           127.0.0.1:8080, 320x240 at 20 fps\n"
    "  camsim --port 0 --mode bare,exif a free port, bare JPEGs with thumbnails\n"
    "  camsim --folder shots --fps 5    the JPEG files of ./shots in a loop\n"
    "  ffplay http://127.0.0.1:8080/?action=stream";

bool parseCount(const QString &text, quint64 minimum, quint64 maximum, quint64 *value)
{
    bool ok = false;
    const qulonglong number = text.toULongLong(&ok, 10);
    if (!ok || number < minimum || number > maximum)
        return false;
    *value = number;
    return true;
}

bool parseReal(const QString &text, double minimum, double maximum, double *value)
{
    bool ok = false;
    const double number = text.toDouble(&ok);
    if (!ok || !std::isfinite(number) || number < minimum || number > maximum)
        return false;
    *value = number;
    return true;
}

bool parseSize(const QString &text, QSize *size)
{
    static const QRegularExpression pattern(QStringLiteral("^(\\d{1,5})[xX](\\d{1,5})$"));
    const QRegularExpressionMatch match = pattern.match(text);
    if (!match.hasMatch())
        return false;
    const int width = match.captured(1).toInt();
    const int height = match.captured(2).toInt();
    if (width < 16 || height < 16 || width > 8192 || height > 8192)
        return false;
    *size = QSize(width, height);
    return true;
}

bool parseAddress(const QString &text, QHostAddress *address)
{
    if (text.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0) {
        *address = QHostAddress(QHostAddress::LocalHost);
        return true;
    }
    QHostAddress parsed;
    if (!parsed.setAddress(text))
        return false;
    *address = parsed;
    return true;
}

// Applies the comma-separated mode list; returns an error message or an empty string.
QString applyModes(const QString &text, CameraOptions *options)
{
    bool sawHttp = false;
    bool sawBare = false;
    int standalone = 0;
    bool combinable = false;
    for (const QString &rawMode : text.split(QLatin1Char(','))) {
        const QString mode = rawMode.trimmed().toLower();
        if (mode == QLatin1String("http")) {
            sawHttp = true;
        } else if (mode == QLatin1String("bare")) {
            sawBare = true;
        } else if (mode == QLatin1String("exif")) {
            options->exif = combinable = true;
        } else if (mode == QLatin1String("burst")) {
            options->burst = combinable = true;
        } else if (mode == QLatin1String("cut")) {
            options->cut = combinable = true;
        } else if (mode == QLatin1String("garbage")) {
            options->garbage = combinable = true;
        } else if (mode == QLatin1String("silent")) {
            options->payload = CameraOptions::Payload::Silent;
            ++standalone;
        } else if (mode == QLatin1String("endless")) {
            options->payload = CameraOptions::Payload::Endless;
            ++standalone;
        } else if (mode == QLatin1String("noise")) {
            options->payload = CameraOptions::Payload::Noise;
            ++standalone;
        } else {
            return QStringLiteral("unknown mode \"%1\"").arg(rawMode);
        }
    }
    if (sawHttp && sawBare)
        return QStringLiteral("modes http and bare exclude each other");
    if (standalone > 1 || (standalone == 1 && combinable))
        return QStringLiteral("modes silent, endless and noise stand alone (with http or bare only)");
    options->http = !sawBare;
    return QString();
}

} // namespace

CommandLine::Result CommandLine::parse(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromLatin1(description));
    const QCommandLineOption helpOption = parser.addHelpOption();
    const QCommandLineOption versionOption = parser.addVersionOption();

    const QCommandLineOption listenOption(
        QStringLiteral("listen"),
        QStringLiteral("Address to listen on (default 127.0.0.1). Any other address than loopback "
                       "exposes the camera to the network."),
        QStringLiteral("address"), QStringLiteral("127.0.0.1"));
    const QCommandLineOption portOption(
        QStringLiteral("port"),
        QStringLiteral("TCP port (default 8080; 0 picks a free port)."),
        QStringLiteral("port"), QStringLiteral("8080"));
    const QCommandLineOption sizeOption(
        QStringLiteral("size"),
        QStringLiteral("Size of the test picture, 16x16 to 8192x8192 (default 320x240)."),
        QStringLiteral("WxH"), QStringLiteral("320x240"));
    const QCommandLineOption fpsOption(
        QStringLiteral("fps"),
        QStringLiteral("Frames per second, 0.01 to 1000 (default 20; 0 = as fast as the client "
                       "reads them)."),
        QStringLiteral("rate"), QStringLiteral("20"));
    const QCommandLineOption qualityOption(
        QStringLiteral("quality"),
        QStringLiteral("JPEG quality of the test picture, 0 to 100 (default 80)."),
        QStringLiteral("quality"), QStringLiteral("80"));
    const QCommandLineOption folderOption(
        QStringLiteral("folder"),
        QStringLiteral("Serve the *.jpg/*.jpeg files of this folder, sorted by name, in a "
                       "loop, as they are, instead of the test picture."),
        QStringLiteral("dir"));
    const QCommandLineOption framesOption(
        QStringLiteral("frames"),
        QStringLiteral("Stop sending after this many frames and keep the connection "
                       "open (default 0 = no limit)."),
        QStringLiteral("count"), QStringLiteral("0"));
    const QCommandLineOption durationOption(
        QStringLiteral("duration"),
        QStringLiteral("Stop sending this many seconds after the request and keep the "
                       "connection open (default 0 = no limit)."),
        QStringLiteral("seconds"), QStringLiteral("0"));
    const QCommandLineOption modeOption(
        QStringLiteral("mode"),
        QStringLiteral("What to send: http, bare, exif, burst, cut, garbage, silent, "
                       "endless or noise, several joined by commas (see above; "
                       "default http)."),
        QStringLiteral("modes"), QStringLiteral("http"));
    const QCommandLineOption burstOption(
        QStringLiteral("burst"),
        QStringLiteral("Frames per burst in mode burst, 1 to 1000 (default 10)."),
        QStringLiteral("count"), QStringLiteral("10"));
    const QCommandLineOption cutAfterOption(
        QStringLiteral("cut-after"),
        QStringLiteral("In mode cut, the number of the frame that is sent only half "
                       "before the connection is closed (default 5)."),
        QStringLiteral("frame"), QStringLiteral("5"));
    const QCommandLineOption rateOption(
        QStringLiteral("rate"),
        QStringLiteral("Megabytes (10^6 bytes) per second in modes endless and noise, "
                       "0.001 to 1000 (default 4)."),
        QStringLiteral("MB/s"), QStringLiteral("4"));
    const QCommandLineOption verboseOption(
        QStringLiteral("verbose"),
        QStringLiteral("Tell on standard error when a client comes, is served and goes."));
    parser.addOptions({listenOption, portOption, sizeOption, fpsOption, qualityOption,
                       folderOption, framesOption, durationOption, modeOption, burstOption,
                       cutAfterOption, rateOption, verboseOption});

    Result result;
    const auto fail = [&result](const QString &message) {
        result.outcome = Outcome::Error;
        result.text = message;
        return result;
    };

    if (!parser.parse(arguments))
        return fail(parser.errorText());
    if (parser.isSet(helpOption)) {
        result.outcome = Outcome::ShowHelp;
        result.text = parser.helpText();
        return result;
    }
    if (parser.isSet(versionOption)) {
        result.outcome = Outcome::ShowVersion;
        return result;
    }
    if (!parser.positionalArguments().isEmpty())
        return fail(QStringLiteral("unexpected argument \"%1\"").arg(parser.positionalArguments().first()));

    CameraOptions &options = result.options;
    quint64 count = 0;
    double real = 0;

    if (!parseAddress(parser.value(listenOption), &options.listenAddress))
        return fail(QStringLiteral("--listen: not an IP address: %1").arg(parser.value(listenOption)));
    if (!parseCount(parser.value(portOption), 0, 65535, &count))
        return fail(QStringLiteral("--port: expected 0 to 65535, got %1").arg(parser.value(portOption)));
    options.port = quint16(count);
    if (!parseSize(parser.value(sizeOption), &options.size))
        return fail(QStringLiteral("--size: expected WxH from 16x16 to 8192x8192, got %1").arg(parser.value(sizeOption)));
    if (!parseReal(parser.value(fpsOption), 0, 1000, &options.fps)
        || (options.fps > 0 && options.fps < 0.01))
        return fail(QStringLiteral("--fps: expected 0 or 0.01 to 1000, got %1").arg(parser.value(fpsOption)));
    if (!parseCount(parser.value(qualityOption), 0, 100, &count))
        return fail(QStringLiteral("--quality: expected 0 to 100, got %1").arg(parser.value(qualityOption)));
    options.quality = int(count);
    if (parser.isSet(folderOption)) {
        options.folder = parser.value(folderOption);
        if (options.folder.isEmpty())
            return fail(QStringLiteral("--folder: empty folder name"));
    }
    if (!parseCount(parser.value(framesOption), 0, Q_UINT64_C(1) << 62, &options.frameLimit))
        return fail(QStringLiteral("--frames: expected a count, got %1").arg(parser.value(framesOption)));
    if (!parseReal(parser.value(durationOption), 0, 1e9, &options.durationSeconds))
        return fail(QStringLiteral("--duration: expected seconds, got %1").arg(parser.value(durationOption)));
    if (!parseCount(parser.value(burstOption), 1, 1000, &count))
        return fail(QStringLiteral("--burst: expected 1 to 1000, got %1").arg(parser.value(burstOption)));
    options.burstSize = int(count);
    if (!parseCount(parser.value(cutAfterOption), 1, Q_UINT64_C(1) << 62, &options.cutAfter))
        return fail(QStringLiteral("--cut-after: expected a frame number from 1, got %1").arg(parser.value(cutAfterOption)));
    if (!parseReal(parser.value(rateOption), 0.001, 1000, &real))
        return fail(QStringLiteral("--rate: expected 0.001 to 1000, got %1").arg(parser.value(rateOption)));
    options.floodMegabytesPerSecond = real;
    options.verbose = parser.isSet(verboseOption);
    const QString modeError = applyModes(parser.value(modeOption), &options);
    if (!modeError.isEmpty())
        return fail(QStringLiteral("--mode: ") + modeError);
    return result;
}
