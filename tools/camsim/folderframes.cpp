#include "folderframes.h"

#include <QDir>
#include <QFile>

FolderFrames::FolderFrames(const QString &folder)
{
    const QDir dir(folder);
    if (!dir.exists()) {
        errorText = QStringLiteral("no such folder: %1").arg(folder);
        return;
    }
    const QStringList names = dir.entryList({QStringLiteral("*.jpg"), QStringLiteral("*.jpeg")},
                                            QDir::Files | QDir::Readable, QDir::Name);
    for (const QString &name : names) {
        QFile file(dir.filePath(name));
        if (!file.open(QIODevice::ReadOnly)) {
            skippedFiles << QStringLiteral("%1 (%2)").arg(name, file.errorString());
            continue;
        }
        const QByteArray bytes = file.readAll();
        if (!bytes.startsWith("\xFF\xD8")) {
            skippedFiles << QStringLiteral("%1 (not a JPEG)").arg(name);
            continue;
        }
        files << bytes;
    }
    if (files.isEmpty())
        errorText = QStringLiteral("no readable *.jpg or *.jpeg file in %1").arg(folder);
}

QByteArray FolderFrames::frame(quint64 number)
{
    if (files.isEmpty())
        return QByteArray();
    const quint64 index = (number == 0 ? 0 : number - 1) % quint64(files.size());
    return files.at(qsizetype(index));
}
