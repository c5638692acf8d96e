#include "streamformat.h"

#include <chrono>

namespace {

const QByteArray noCacheHeaders =
    "Connection: close\r\n"
    "Server: camsim\r\n"
    "Cache-Control: no-store, no-cache, must-revalidate, max-age=0\r\n"
    "Pragma: no-cache\r\n"
    "Expires: Thu, 01 Jan 1970 00:00:00 GMT\r\n"
    "Access-Control-Allow-Origin: *\r\n";

} // namespace

StreamFormat::StreamFormat(bool http)
    : http(http)
{
}

QByteArray StreamFormat::replyHeader() const
{
    if (!http)
        return QByteArray();
    return "HTTP/1.0 200 OK\r\n" + noCacheHeaders
        + "Content-Type: multipart/x-mixed-replace;boundary=" + boundary + "\r\n"
        + "\r\n";
}

QByteArray StreamFormat::partHeader(qsizetype length, qint64 microsecondsSinceEpoch) const
{
    if (!http)
        return QByteArray();
    QByteArray header = QByteArray("--") + boundary + "\r\n"
        + "Content-Type: image/jpeg\r\n";
    if (length >= 0)
        header += "Content-Length: " + QByteArray::number(length) + "\r\n";
    header += "X-Timestamp: " + timestamp(microsecondsSinceEpoch) + "\r\n\r\n";
    return header;
}

QByteArray StreamFormat::partTrailer() const
{
    return http ? QByteArray("\r\n") : QByteArray();
}

QByteArray StreamFormat::snapshotReply(const QByteArray &jpeg, qint64 microsecondsSinceEpoch)
{
    return "HTTP/1.0 200 OK\r\n" + noCacheHeaders
        + "Content-Type: image/jpeg\r\n"
        + "Content-Length: " + QByteArray::number(jpeg.size()) + "\r\n"
        + "X-Timestamp: " + timestamp(microsecondsSinceEpoch) + "\r\n"
        + "\r\n" + jpeg;
}

QByteArray StreamFormat::notFoundReply()
{
    return "HTTP/1.0 404 Not Found\r\n" + noCacheHeaders
        + "Content-Type: text/plain\r\n\r\n"
        + "404: Not Found\r\n";
}

QByteArray StreamFormat::badRequestReply()
{
    return "HTTP/1.0 400 Bad Request\r\n" + noCacheHeaders
        + "Content-Type: text/plain\r\n\r\n"
        + "400: Bad Request\r\n";
}

QByteArray StreamFormat::timestamp(qint64 microsecondsSinceEpoch)
{
    const qint64 seconds = microsecondsSinceEpoch / 1000000;
    const qint64 micros = microsecondsSinceEpoch % 1000000;
    return QByteArray::number(seconds) + '.' + QByteArray::number(micros).rightJustified(6, '0');
}

qint64 StreamFormat::now()
{
    using namespace std::chrono;
    return duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
}
