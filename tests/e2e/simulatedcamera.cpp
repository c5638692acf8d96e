#include "simulatedcamera.h"

#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QTest>

namespace {
constexpr int StartTimeoutMs = 15000;
constexpr int StopTimeoutMs = 10000;
}

SimulatedCamera::SimulatedCamera()
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    process.setProcessEnvironment(environment);
    process.setProgram(QStringLiteral(CAMSIM_PROGRAM));
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
}

SimulatedCamera::~SimulatedCamera()
{
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished(StopTimeoutMs);
    }
}

bool SimulatedCamera::start(const QStringList &options)
{
    process.setArguments(QStringList{QStringLiteral("--listen"), QStringLiteral("127.0.0.1"),
                                     QStringLiteral("--port"), QStringLiteral("0")}
                         + options);
    process.start();
    if (!process.waitForStarted(StartTimeoutMs)) {
        lastError = QStringLiteral("camsim did not start: ") + process.errorString();
        return false;
    }
    static const QRegularExpression listening(
        QStringLiteral("^camsim listening on 127\\.0\\.0\\.1:(\\d+)$"));
    QString said;
    const bool ready = QTest::qWaitFor([&] {
        while (process.canReadLine()) {
            const QString line = QString::fromLocal8Bit(process.readLine()).trimmed();
            said += line + u'\n';
            const QRegularExpressionMatch match = listening.match(line);
            if (match.hasMatch())
                listeningPort = quint16(match.captured(1).toUInt());
        }
        return listeningPort != 0 || process.state() == QProcess::NotRunning;
    }, StartTimeoutMs);
    if (!ready || listeningPort == 0) {
        lastError = QStringLiteral("camsim %1 did not report its port; it said: %2")
                        .arg(process.arguments().join(u' '), said);
        return false;
    }
    return true;
}

bool SimulatedCamera::stop()
{
    if (process.state() == QProcess::NotRunning) {
        lastError = QStringLiteral("camsim was not running");
        return false;
    }
    process.terminate();
    if (!process.waitForFinished(StopTimeoutMs)) {
        lastError = QStringLiteral("camsim did not quit on SIGTERM");
        process.kill();
        process.waitForFinished(StopTimeoutMs);
        return false;
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        lastError = QStringLiteral("camsim ended with exit code %1").arg(process.exitCode());
        return false;
    }
    return true;
}
