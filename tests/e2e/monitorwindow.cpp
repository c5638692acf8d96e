#include "monitorwindow.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QPixmap>
#include <QProcessEnvironment>
#include <QScreen>
#include <QTest>

#include "commandrunner.h"

namespace {
constexpr int WindowTimeoutMs = 20000;
constexpr int ClipboardTimeoutMs = 5000;
constexpr int ExitTimeoutMs = 15000;
constexpr int TypingAttempts = 3;
const QString Xdotool = QStringLiteral("xdotool");
const QString ClipboardSentinel = QStringLiteral("<not copied>");
const QRgb LabelBorder = qRgb(0, 0, 110);
}

const QRect MonitorWindow::Connect(10, 10, 75, 23);
const QRect MonitorWindow::Stop(90, 10, 75, 23);
const QRect MonitorWindow::Host(170, 10, 113, 20);
const QRect MonitorWindow::Port(290, 10, 41, 20);
const QRect MonitorWindow::Record(10, 40, 75, 23);
const QRect MonitorWindow::StopRecord(90, 40, 75, 23);
const QRect MonitorWindow::Close(170, 39, 75, 23);
const QRect MonitorWindow::Help(250, 39, 75, 23);
const QRect MonitorWindow::Picture(10, 70, 320, 240);
const QRect MonitorWindow::Status(10, 315, 320, 20);

MonitorWindow::MonitorWindow(const QString &workingDirectory)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    process.setProcessEnvironment(environment);
    process.setProgram(QStringLiteral(MONITOR_PROGRAM));
    process.setWorkingDirectory(workingDirectory);
    process.setProcessChannelMode(QProcess::MergedChannels);
    timeSource.create();
}

MonitorWindow::~MonitorWindow()
{
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished(ExitTimeoutMs);
    }
}

bool MonitorWindow::start()
{
    process.start();
    if (!process.waitForStarted(WindowTimeoutMs)) {
        lastError = QStringLiteral("monitor did not start: ") + process.errorString();
        return false;
    }
    const QStringList search{QStringLiteral("search"), QStringLiteral("--all"),
                             QStringLiteral("--onlyvisible"), QStringLiteral("--pid"),
                             QString::number(process.processId()), QStringLiteral("--name"),
                             QStringLiteral("^Monitor_tarnwick$")};
    const bool shown = QTest::qWaitFor([&] {
        if (process.state() == QProcess::NotRunning)
            return true;
        const CommandResult found = runCommand(Xdotool, search);
        const QList<QByteArray> ids = found.output.trimmed().split('\n');
        if (found.succeeded() && ids.size() == 1)
            windowId = QString::fromLatin1(ids.first());
        return !windowId.isEmpty();
    }, WindowTimeoutMs);
    if (!shown || windowId.isEmpty()) {
        lastError = QStringLiteral("the window \"Monitor_tarnwick\" did not appear; monitor said: ")
                    + output();
        return false;
    }
    // Mapped is not yet painted: wait for the borders of the two labels.
    const bool painted = QTest::qWaitFor([&] {
        const QImage window = screenshot();
        return window.pixel(Picture.topLeft()) == LabelBorder
            && window.pixel(Status.bottomRight()) == LabelBorder;
    }, WindowTimeoutMs);
    if (!painted) {
        lastError = QStringLiteral("the window was not painted");
        return false;
    }
    return focus();
}

bool MonitorWindow::xdotool(const QStringList &arguments)
{
    const CommandResult result = runCommand(Xdotool, arguments);
    if (!result.succeeded()) {
        lastError = result.describe();
        return false;
    }
    return true;
}

// Without a window manager nobody gives the window the keyboard focus.
bool MonitorWindow::focus()
{
    return xdotool({QStringLiteral("windowfocus"), QStringLiteral("--sync"), windowId});
}

bool MonitorWindow::click(const QRect &control)
{
    const QPoint centre = control.center();
    // The X server handles the motion before the press; no need to wait in between.
    return xdotool({QStringLiteral("mousemove"), QStringLiteral("--window"), windowId,
                    QString::number(centre.x()),
                    QString::number(centre.y()), QStringLiteral("click"), QStringLiteral("1")});
}

// Qt stamps its clipboard requests with the last X server time it has seen,
// and the owner of a selection refuses requests older than its ownership. A
// process without input events sees no time go by; a property change on a
// window of its own brings it a fresh one.
void MonitorWindow::refreshServerTime()
{
    timeSource.setTitle(QString::number(++timeRequests));
}

QString MonitorWindow::clipboardText()
{
    refreshServerTime();
    return QGuiApplication::clipboard()->text();
}

bool MonitorWindow::enterText(const QRect &field, const QString &text)
{
    QClipboard *clipboard = QGuiApplication::clipboard();
    QString copied;
    for (int attempt = 0; attempt < TypingAttempts; ++attempt) {
        if (!focus() || !click(field))
            return false;
        if (!xdotool({QStringLiteral("key"), QStringLiteral("--clearmodifiers"),
                      QStringLiteral("ctrl+a"), QStringLiteral("BackSpace")})
            || !xdotool({QStringLiteral("type"), QStringLiteral("--clearmodifiers"),
                         QStringLiteral("--delay"), QStringLiteral("20"), text}))
            return false;
        // Owning the clipboard first, so that only a new copy can change it.
        const bool owned = QTest::qWaitFor([&] {
            refreshServerTime();
            clipboard->setText(ClipboardSentinel);
            return clipboard->ownsClipboard();
        }, ClipboardTimeoutMs);
        if (!owned) {
            lastError = QStringLiteral("cannot take the clipboard");
            return false;
        }
        if (!xdotool({QStringLiteral("key"), QStringLiteral("--clearmodifiers"),
                      QStringLiteral("ctrl+a"), QStringLiteral("ctrl+c")}))
            return false;
        const bool wasCopied = QTest::qWaitFor([&] {
            copied = clipboardText();
            return copied != ClipboardSentinel && !copied.isEmpty();
        }, ClipboardTimeoutMs);
        if (wasCopied && copied == text)
            return true;
    }
    lastError = QStringLiteral("typed \"%1\" but the field holds \"%2\"").arg(text, copied);
    return false;
}

bool MonitorWindow::enterAddress(const QString &host, quint16 port)
{
    return enterText(Host, host) && enterText(Port, QString::number(port));
}

QImage MonitorWindow::screenshot() const
{
    QScreen *screen = QGuiApplication::primaryScreen();
    return screen->grabWindow(windowId.toULongLong()).toImage().convertToFormat(QImage::Format_RGB32);
}

QImage MonitorWindow::picture() const
{
    // Inside the label's 1-pixel border the frame is drawn left-aligned, from
    // x 1, and centred in the 238 rows there, from y 0. The border hides its
    // top row, its two last rows and its two last columns.
    return screenshot().copy(Picture.translated(1, 0));
}

QImage MonitorWindow::statusArea() const
{
    return screenshot().copy(Status);
}

bool MonitorWindow::waitForExit(int *exitCode)
{
    if (!process.waitForFinished(ExitTimeoutMs)) {
        lastError = QStringLiteral("monitor did not exit");
        return false;
    }
    if (process.exitStatus() != QProcess::NormalExit) {
        lastError = QStringLiteral("monitor crashed; it said: ") + output();
        return false;
    }
    *exitCode = process.exitCode();
    return true;
}

QString MonitorWindow::output()
{
    outputSoFar += QString::fromLocal8Bit(process.readAll());
    return outputSoFar;
}
