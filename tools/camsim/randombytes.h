#pragma once

#include <QByteArray>
#include <QRandomGenerator>

// Random bytes that never form the JPEG markers a client looks for.
class RandomBytes
{
public:
    RandomBytes();

    // Bytes below 0xD0 (so no FF at all), of a random length from 1 to 2048.
    QByteArray garbage();
    // Entropy-coded style: every FF is followed by 00, so neither FF D8 nor FF D9.
    QByteArray entropy(qsizetype length);
    // Anything except an FF D8 pair.
    QByteArray noise(qsizetype length);

    // Continues a stream whose last byte sent was this one.
    void setPreviousByte(quint8 byte) { previous = byte; }

private:
    QByteArray raw(qsizetype length);

    QRandomGenerator generator;
    quint8 previous = 0;
};
