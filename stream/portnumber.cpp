#include "stream/portnumber.h"

std::optional<quint16> parsePortNumber(const QString &text)
{
    const QString digits = text.trimmed();
    if (digits.isEmpty())
        return std::nullopt;
    int port = 0;
    for (const QChar c : digits) {
        if (c < u'0' || c > u'9')
            return std::nullopt;
        port = port * 10 + (c.unicode() - u'0');
        if (port > 65535)
            return std::nullopt;
    }
    if (port < 1)
        return std::nullopt;
    return static_cast<quint16>(port);
}
