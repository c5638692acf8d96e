#include "window/widget.h"

#include <QMutexLocker>
#include <QTcpSocket>

#include "frames/framepipeline.h"

void Widget::read()
{
    QMutexLocker lock(&bufferMutex);
    cutter.append(socket->readAll());
    for (QByteArray image = cutter.nextImage(); !image.isEmpty(); image = cutter.nextImage())
        pipeline->process(image);
    cutter.compact();
}
