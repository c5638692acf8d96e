#include "window/widget.h"

#include <QDir>
#include <QTime>

#include "recorder/videorecorder.h"
#include "window/widgetform.h"

void Widget::on_record_clicked()
{
    const QString name = freeRecordingName(QDir::current(), QTime::currentTime());
    if (!startRecording(name))
        ui->statuslabel->setText(tr("record error!"));
}

void Widget::on_stoprecord_clicked()
{
    stopRecording();
}
