#include "streamrequest.h"

#include <QList>
#include <QUrl>
#include <QUrlQuery>

StreamRequest::Kind StreamRequest::parse(const QByteArray &received)
{
    // The request ends with an empty line: LF LF or LF CR LF.
    qsizetype end = -1;
    for (qsizetype i = received.indexOf('\n'); i >= 0; i = received.indexOf('\n', i + 1)) {
        const qsizetype next = i + 1;
        if (next < received.size() && received.at(next) == '\n') {
            end = next;
            break;
        }
        if (next + 1 < received.size() && received.at(next) == '\r' && received.at(next + 1) == '\n') {
            end = next + 1;
            break;
        }
    }
    if (end < 0)
        return received.size() > maximumSize ? Kind::BadRequest : Kind::Incomplete;

    QByteArray line = received.left(received.indexOf('\n'));
    if (line.endsWith('\r'))
        line.chop(1);
    const QList<QByteArray> words = line.split(' ');
    if (words.size() < 2 || words.size() > 3 || words.at(0) != "GET" || words.at(1).isEmpty())
        return Kind::BadRequest;
    if (words.size() == 3 && !words.at(2).startsWith("HTTP/1."))
        return Kind::BadRequest;

    const QUrl target = QUrl::fromEncoded(words.at(1));
    if (!target.isValid())
        return Kind::BadRequest;
    const QString path = target.path();
    if (path != QLatin1String("/") && !path.isEmpty())
        return Kind::NotFound;
    const QString action = QUrlQuery(target).queryItemValue(QStringLiteral("action"));
    if (action == QLatin1String("stream"))
        return Kind::Stream;
    if (action == QLatin1String("snapshot"))
        return Kind::Snapshot;
    return Kind::NotFound;
}
