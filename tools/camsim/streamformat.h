#pragma once

#include <QByteArray>

// The bytes around the pictures: the HTTP reply header and the part header
// and trailer of each JPEG in a multipart/x-mixed-replace stream, or nothing
// at all for bare JPEGs back to back.
class StreamFormat
{
public:
    explicit StreamFormat(bool http);

    QByteArray replyHeader() const;
    // A negative length leaves out Content-Length.
    QByteArray partHeader(qsizetype length, qint64 microsecondsSinceEpoch) const;
    QByteArray partTrailer() const;

    static QByteArray snapshotReply(const QByteArray &jpeg, qint64 microsecondsSinceEpoch);
    static QByteArray notFoundReply();
    static QByteArray badRequestReply();

    static QByteArray timestamp(qint64 microsecondsSinceEpoch);
    static qint64 now();

    static constexpr char boundary[] = "camsimframe";

private:
    bool http;
};
