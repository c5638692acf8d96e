#include "randombytes.h"

#include <cstring>
#include <vector>

RandomBytes::RandomBytes()
    : generator(QRandomGenerator::global()->generate())
{
}

QByteArray RandomBytes::raw(qsizetype length)
{
    if (length <= 0)
        return QByteArray();
    std::vector<quint32> words(size_t(length + 3) / 4);
    generator.fillRange(words.data(), qsizetype(words.size()));
    QByteArray bytes(length, Qt::Uninitialized);
    std::memcpy(bytes.data(), words.data(), size_t(length));
    return bytes;
}

QByteArray RandomBytes::garbage()
{
    const qsizetype length = qsizetype(generator.bounded(1, 2049));
    QByteArray bytes = raw(length);
    for (char &byte : bytes)
        byte = char(quint8(byte) % 0xD0);
    previous = quint8(bytes.back());
    return bytes;
}

QByteArray RandomBytes::entropy(qsizetype length)
{
    QByteArray bytes = raw(length);
    for (char &byte : bytes) {
        if (previous == 0xFF)
            byte = 0;
        previous = quint8(byte);
    }
    return bytes;
}

QByteArray RandomBytes::noise(qsizetype length)
{
    QByteArray bytes = raw(length);
    for (char &byte : bytes) {
        if (previous == 0xFF && quint8(byte) == 0xD8)
            byte = char(0xD7);
        previous = quint8(byte);
    }
    return bytes;
}
