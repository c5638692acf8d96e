#include "recordingprobe.h"

#include <QDir>
#include <QTemporaryDir>

#include "commandrunner.h"

namespace {
constexpr int ToolTimeoutMs = 60000;
}

QMap<QString, QString> probeVideo(const QString &path, QString *error)
{
    const CommandResult result = runCommand(
        QStringLiteral("ffprobe"),
        {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-select_streams"),
         QStringLiteral("v:0"), QStringLiteral("-count_frames"), QStringLiteral("-show_entries"),
         QStringLiteral("stream=codec_name,width,height,r_frame_rate,nb_read_frames"),
         QStringLiteral("-of"), QStringLiteral("default=noprint_wrappers=1"), path},
        ToolTimeoutMs);
    QMap<QString, QString> fields;
    if (!result.succeeded()) {
        *error = result.describe();
        return fields;
    }
    for (const QByteArray &line : result.output.split('\n')) {
        const qsizetype equals = line.indexOf('=');
        if (equals > 0)
            fields.insert(QString::fromUtf8(line.left(equals)),
                          QString::fromUtf8(line.mid(equals + 1)).trimmed());
    }
    if (fields.isEmpty())
        *error = QStringLiteral("ffprobe found no video stream in ") + path;
    return fields;
}

QList<QImage> decodeFrames(const QString &path, QString *error)
{
    QList<QImage> frames;
    QTemporaryDir folder;
    if (!folder.isValid()) {
        *error = QStringLiteral("no temporary folder: ") + folder.errorString();
        return frames;
    }
    // passthrough: each frame of the file once, whatever its time stamp.
    const CommandResult result = runCommand(
        QStringLiteral("ffmpeg"),
        {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-nostdin"),
         QStringLiteral("-i"), path, QStringLiteral("-vsync"), QStringLiteral("passthrough"),
         folder.filePath(QStringLiteral("%05d.png"))},
        ToolTimeoutMs);
    if (!result.succeeded()) {
        *error = result.describe();
        return frames;
    }
    const QDir dir(folder.path());
    for (const QString &name : dir.entryList({QStringLiteral("*.png")}, QDir::Files, QDir::Name)) {
        QImage frame(dir.filePath(name));
        if (frame.isNull()) {
            *error = QStringLiteral("cannot read the decoded frame ") + name;
            return {};
        }
        frames.append(frame.convertToFormat(QImage::Format_RGB32));
    }
    return frames;
}
