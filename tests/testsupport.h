#pragma once

#include <QByteArray>
#include <QColor>
#include <QImage>
#include <QSize>
#include <QString>
#include <QTranslator>

#include "jpegencoding.h"

// The frames ffprobe decodes in a video file's first video stream, 0 for a
// stream without frames; -1 when it cannot read the file.
int recordedFrameCount(const QString &file);

// A busy test picture: gradients and a few shapes, so that it compresses
// like a camera scene rather than a flat colour.
QImage makeTestPicture(const QSize &size, int seed = 0);

QByteArray makeJpeg(const QSize &size, int seed = 0, int quality = 85);

// The JPEG with an APP1 (EXIF) segment right after FF D8 that holds a whole
// thumbnail JPEG, FF D8 ... FF D9 included.
QByteArray withExifThumbnail(const QByteArray &jpeg);

// Marks every text looked up in the window's translation context as <text>,
// so a test sees which texts pass through the translation call.
class MarkingTranslator : public QTranslator
{
public:
    bool isEmpty() const override { return false; }
    QString translate(const char *context, const char *sourceText, const char *disambiguation,
                      int n) const override;
};
