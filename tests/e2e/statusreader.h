#pragma once

#include <QImage>
#include <QString>
#include <QStringList>

// Reads the window's status label by comparing a screenshot of it with labels
// of the same kind that this process renders with each candidate text.
class StatusReader
{
public:
    explicit StatusReader(const QStringList &candidates);

    // The candidate whose rendering the screenshot matches, or a description
    // of the mismatch.
    QString read(const QImage &statusArea) const;

    // The status label as the window shows it with this text.
    static QImage render(const QString &text);

private:
    QStringList texts;
    QList<QImage> renderings;
};
