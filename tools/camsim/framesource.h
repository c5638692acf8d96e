#pragma once

#include <QByteArray>

// Gives the JPEG bytes of frame number 1, 2, 3, ...
class FrameSource
{
public:
    virtual ~FrameSource() = default;
    virtual QByteArray frame(quint64 number) = 0;
};
