#pragma once

#include <QByteArray>
#include <QMutex>
#include <QWidget>

#include <memory>

#include "stream/framecutter.h"

class QTcpSocket;
class WidgetForm;
class FramePipeline;

class Widget : public QWidget
{
    Q_OBJECT

public:
    explicit Widget(QWidget *parent = nullptr);
    ~Widget() override;

private slots:
    void on_help_clicked();
    void on_connect_clicked();
    void on_stop_clicked();
    void on_record_clicked();
    void on_stoprecord_clicked();
    void sendrequest();
    void read();
    void socketerror();

private:
    WidgetForm *ui;
    QTcpSocket *socket;
    QByteArray frameBuffer;
    QMutex bufferMutex;

    FrameCutter cutter{frameBuffer};
    std::unique_ptr<FramePipeline> pipeline;
};
