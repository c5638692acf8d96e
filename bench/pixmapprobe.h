#pragma once

#include <functional>

class QLabel;

// Calls a handler right after each QLabel::setPixmap on one label, from any
// caller, the window's frame pipeline included. The link step routes every
// setPixmap call of this program through the probe (see CMakeLists.txt).
// One probe at a time.
class PixmapProbe
{
public:
    PixmapProbe(const QLabel *label, std::function<void()> handler);
    ~PixmapProbe();

    PixmapProbe(const PixmapProbe &) = delete;
    PixmapProbe &operator=(const PixmapProbe &) = delete;

    static void pixmapSet(const QLabel *label);

private:
    const QLabel *label;
    std::function<void()> handler;
};
