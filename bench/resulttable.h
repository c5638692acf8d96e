#pragma once

#include <QString>
#include <QStringList>

#include <vector>

// A titled text table with right-aligned columns after the first.
class ResultTable
{
public:
    ResultTable(QString title, QStringList headings);

    void addRow(QStringList cells);
    void addNote(QString note);
    QString toText() const;

private:
    QString title;
    QStringList headings;
    std::vector<QStringList> rows;
    QStringList notes;
};

// "1.23" style numbers; "-" for a figure that was not measured.
QString formatNumber(double value, int decimals);
