#pragma once

#include <QImage>
#include <QList>
#include <QMap>
#include <QString>

// The first video stream of a file as ffprobe reports it, after decoding every
// frame: codec_name, width, height, r_frame_rate and nb_read_frames.
// Empty when ffprobe fails; *error then says why.
QMap<QString, QString> probeVideo(const QString &path, QString *error);

// Every frame of the video as ffmpeg decodes it, in order, none dropped or
// repeated. Empty when ffmpeg fails; *error then says why.
QList<QImage> decodeFrames(const QString &path, QString *error);
