#include "window/widget.h"

#include <QDebug>
#include <QTcpSocket>

#include <cstdlib>

#include "frames/framepipeline.h"
#include "recorder/videorecorder.h"
#include "window/sharedstate.h"
#include "window/widgetform.h"

namespace {
const char LabelStyle[] = "border-width: 1px;border-style: solid;border-color: rgb(0, 0, 110);";
}

Widget::Widget(QWidget *parent)
    : QWidget(parent)
    , ui(new WidgetForm)
{
    ui->setupUi(this);
    socket = new QTcpSocket;
    displayBuffer = static_cast<unsigned char *>(std::malloc(DisplayBufferSize));
    pipeline = std::make_unique<FramePipeline>(ui->Image);
    pipeline->setRecordingStoppedHandler([this] { ui->statuslabel->setText(tr("record error!")); });

    ui->Image->setStyleSheet(LabelStyle);
    ui->statuslabel->setStyleSheet(LabelStyle);

    connect(socket, SIGNAL(connected()), this, SLOT(sendrequest()));
    connect(socket, SIGNAL(readyRead()), this, SLOT(read()));
    connect(socket, SIGNAL(errorOccurred(QAbstractSocket::SocketError)), this, SLOT(socketerror()));
}

Widget::~Widget()
{
    // An open recording is finished so that its file plays.
    stopRecording();

    delete ui;
    delete socket;
    std::free(displayBuffer);
    displayBuffer = nullptr;
}

void Widget::on_help_clicked()
{
    qDebug("help...\n");
}
