#include "window/widget.h"

#include <QTcpSocket>

#include "stream/portnumber.h"
#include "window/widgetform.h"

namespace {
const char StreamRequest[] = "GET /?action=stream\n\n";
constexpr qint64 StreamRequestLength = sizeof(StreamRequest) - 1;
static_assert(StreamRequestLength == 21);
}

void Widget::on_connect_clicked()
{
    ui->statuslabel->setText(tr("connecting..."));
    const std::optional<quint16> port = parsePortNumber(ui->port->text());
    if (!port) {
        ui->statuslabel->setText(tr("invalid port!"));
        return;
    }
    socket->connectToHost(ui->lineEdit->text(), *port, QIODevice::ReadWrite);
}

void Widget::sendrequest()
{
    // Nothing of an earlier connection may end up in front of this stream.
    cutter.clear();
    socket->write(StreamRequest, StreamRequestLength);
}

void Widget::on_stop_clicked()
{
    socket->abort();
    cutter.clear();
    ui->statuslabel->setText(tr("stoped"));
}

void Widget::socketerror()
{
    ui->statuslabel->setText(tr("socket error!"));
}
