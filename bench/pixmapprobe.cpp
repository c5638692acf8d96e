#include "pixmapprobe.h"

#include <QLabel>
#include <QPixmap>

namespace {
PixmapProbe *activeProbe = nullptr;
}

// The linker's --wrap renames every call of QLabel::setPixmap(const QPixmap &)
// to the first function; the second is Qt's own.
extern "C" {
void __real__ZN6QLabel9setPixmapERK7QPixmap(QLabel *label, const QPixmap &pixmap);

void __wrap__ZN6QLabel9setPixmapERK7QPixmap(QLabel *label, const QPixmap &pixmap)
{
    __real__ZN6QLabel9setPixmapERK7QPixmap(label, pixmap);
    PixmapProbe::pixmapSet(label);
}
}

PixmapProbe::PixmapProbe(const QLabel *label, std::function<void()> handler)
    : label(label)
    , handler(std::move(handler))
{
    Q_ASSERT(!activeProbe);
    activeProbe = this;
}

PixmapProbe::~PixmapProbe()
{
    activeProbe = nullptr;
}

void PixmapProbe::pixmapSet(const QLabel *label)
{
    if (activeProbe && activeProbe->label == label && activeProbe->handler)
        activeProbe->handler();
}
