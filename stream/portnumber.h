#pragma once

#include <QString>

#include <optional>

// The port typed by the user: a whole decimal number from 1 to 65535,
// surrounding spaces allowed. Anything else gives no port.
std::optional<quint16> parsePortNumber(const QString &text);
