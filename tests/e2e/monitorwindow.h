#pragma once

#include <QImage>
#include <QProcess>
#include <QRect>
#include <QString>
#include <QWindow>

// The monitor program in its window on the X server, driven as a person
// drives it: with the pointer and the keyboard (xdotool), and watched through
// screenshots.
class MonitorWindow
{
public:
    // Where the window's controls lie, from its top-left corner.
    static const QRect Connect;
    static const QRect Stop;
    static const QRect Host;
    static const QRect Port;
    static const QRect Record;
    static const QRect StopRecord;
    static const QRect Close;
    static const QRect Help;
    static const QRect Picture;
    static const QRect Status;

    // The program will run in this folder, where its recordings land.
    explicit MonitorWindow(const QString &workingDirectory);
    ~MonitorWindow();

    // Starts the program and waits until its window is on the screen.
    bool start();
    bool click(const QRect &control);
    // Replaces the text of a line edit and reads it back through the clipboard.
    bool enterText(const QRect &field, const QString &text);
    // The camera's address and port, checked before anything connects.
    bool enterAddress(const QString &host, quint16 port);

    QImage screenshot() const;
    // The 320x240 picture shown in the video label, lined up with the
    // camera's frame: pixel (0, 0) of the frame is pixel (0, 0) here.
    QImage picture() const;
    QImage statusArea() const;

    // Waits for the program to end; false when it does not end in time or crashes.
    bool waitForExit(int *exitCode);
    // Everything the program wrote to stdout and stderr so far.
    QString output();
    QString error() const { return lastError; }

private:
    bool xdotool(const QStringList &arguments);
    bool focus();
    QString clipboardText();
    void refreshServerTime();

    QProcess process;
    QWindow timeSource;
    int timeRequests = 0;
    QString windowId;
    QString outputSoFar;
    QString lastError;
};
