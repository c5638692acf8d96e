#include "commandrunner.h"

#include <QProcess>

QString CommandResult::describe() const
{
    QString text = commandLine;
    if (!finished)
        text += QStringLiteral(" did not finish");
    else
        text += QStringLiteral(" exited with %1").arg(exitCode);
    const QString said = QString::fromLocal8Bit(errorOutput + output).trimmed();
    if (!said.isEmpty())
        text += QStringLiteral(": ") + said.left(2000);
    return text;
}

CommandResult runCommand(const QString &program, const QStringList &arguments, int timeoutMs)
{
    CommandResult result;
    result.commandLine = (QStringList{program} + arguments).join(u' ');
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForStarted(timeoutMs)) {
        result.errorOutput = process.errorString().toLocal8Bit();
        return result;
    }
    process.closeWriteChannel();
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished(5000);
    } else {
        result.finished = process.exitStatus() == QProcess::NormalExit;
        result.exitCode = process.exitCode();
    }
    result.output = process.readAllStandardOutput();
    result.errorOutput = process.readAllStandardError();
    return result;
}
