#pragma once

#include "cameraoptions.h"

#include <QString>
#include <QStringList>

// Turns camsim's arguments into CameraOptions.
class CommandLine
{
public:
    enum class Outcome { Run, ShowHelp, ShowVersion, Error };

    struct Result
    {
        Outcome outcome = Outcome::Run;
        CameraOptions options;
        QString text; // the help text, or the error message
    };

    static Result parse(const QStringList &arguments);
};
