#pragma once

#include "framesource.h"

#include <QByteArrayList>
#include <QString>
#include <QStringList>

// The *.jpg / *.jpeg files of a folder, sorted by name, in a loop, as they are.
class FolderFrames : public FrameSource
{
public:
    // Reads every file; error() tells why nothing could be loaded.
    explicit FolderFrames(const QString &folder);

    bool isEmpty() const { return files.isEmpty(); }
    QString error() const { return errorText; }
    QStringList skipped() const { return skippedFiles; }

    QByteArray frame(quint64 number) override;

private:
    QByteArrayList files;
    QStringList skippedFiles;
    QString errorText;
};
