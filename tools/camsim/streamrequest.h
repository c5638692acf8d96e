#pragma once

#include <QByteArray>

// Reads a client's request: the bare "GET /?action=stream\n\n" or an
// HTTP/1.x request line with headers, ended by an empty line.
class StreamRequest
{
public:
    enum class Kind { Incomplete, Stream, Snapshot, NotFound, BadRequest };

    static Kind parse(const QByteArray &received);

    static constexpr int maximumSize = 16 * 1024;
};
