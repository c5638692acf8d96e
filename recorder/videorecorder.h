#pragma once

#include <QString>

struct _IplImage;
typedef struct _IplImage IplImage;
class QDir;
class QTime;

// The frame size and rate of every recording.
constexpr int VideoWidth = 320;
constexpr int VideoHeight = 240;
constexpr double VideoFramesPerSecond = 20.0;

// "09-05-03.avi" for 09:05:03.
QString recordingFileName(const QTime &time);

// The recording name for the time that no file in the folder has yet:
// "09-05-03.avi", else "09-05-03-1.avi", "09-05-03-2.avi", ...
QString freeRecordingName(const QDir &folder, const QTime &time);

// Finishes an open recording, then opens a new one. On success the
// process-wide writer is set and recording is on; on failure (the file
// cannot be created, or its disk is nearly full) both stay off.
bool startRecording(const QString &fileName);

// Turns recording off and finishes the open file, if any.
void stopRecording();

// Appends a stamped frame to the open recording at 320x240, scaled with its
// aspect ratio kept and padded. An empty raster adds no frame. False when
// the disk has become nearly full: the recording is then finished, while
// there is still room for the rest of the file, and recording is off.
bool recordFrame(const IplImage *raster);
