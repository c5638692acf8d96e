#include "resulttable.h"

#include <algorithm>
#include <cmath>

ResultTable::ResultTable(QString title, QStringList headings)
    : title(std::move(title))
    , headings(std::move(headings))
{
}

void ResultTable::addRow(QStringList cells)
{
    rows.push_back(std::move(cells));
}

void ResultTable::addNote(QString note)
{
    notes.append(std::move(note));
}

QString ResultTable::toText() const
{
    std::vector<int> widths(size_t(headings.size()), 0);
    const auto widen = [&widths](const QStringList &cells) {
        for (int column = 0; column < cells.size() && column < int(widths.size()); ++column)
            widths[size_t(column)] = std::max(widths[size_t(column)], int(cells[column].size()));
    };
    widen(headings);
    for (const QStringList &row : rows)
        widen(row);

    const auto line = [&widths](const QStringList &cells) {
        QString text;
        for (int column = 0; column < int(widths.size()); ++column) {
            const QString cell = cells.value(column);
            const int width = widths[size_t(column)];
            text += column == 0 ? cell.leftJustified(width) : QStringLiteral("  ") + cell.rightJustified(width);
        }
        return text + u'\n';
    };
    QString text = QStringLiteral("== %1 ==\n").arg(title);
    text += line(headings);
    for (const QStringList &row : rows)
        text += line(row);
    for (const QString &note : notes)
        text += QStringLiteral("  %1\n").arg(note);
    return text;
}

QString formatNumber(double value, int decimals)
{
    if (!std::isfinite(value))
        return QStringLiteral("-");
    return QString::number(value, 'f', decimals);
}
