#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

struct CommandResult
{
    QString commandLine;
    bool finished = false; // false: could not start, crashed or timed out
    int exitCode = -1;
    QByteArray output;
    QByteArray errorOutput;

    bool succeeded() const { return finished && exitCode == 0; }
    // The command line and what it said, for failure messages.
    QString describe() const;
};

// Runs a program to its end; kills it after timeoutMs.
CommandResult runCommand(const QString &program, const QStringList &arguments,
                         int timeoutMs = 10000);
