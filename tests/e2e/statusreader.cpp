#include "statusreader.h"

#include <QLabel>
#include <QPixmap>
#include <QWidget>

namespace {

const QString LabelStyle =
    QStringLiteral("border-width: 1px;border-style: solid;border-color: rgb(0, 0, 110);");
const QSize WindowSize(339, 339);
const QRect LabelGeometry(10, 315, 320, 20);
// Pixels that may differ from the rendering and still count as a match.
constexpr int Tolerance = 16;

int differingPixels(const QImage &one, const QImage &other)
{
    if (one.size() != other.size())
        return one.width() * one.height();
    int count = 0;
    for (int y = 0; y < one.height(); ++y) {
        for (int x = 0; x < one.width(); ++x) {
            const QRgb a = one.pixel(x, y);
            const QRgb b = other.pixel(x, y);
            const int difference = qMax(qAbs(qRed(a) - qRed(b)),
                                        qMax(qAbs(qGreen(a) - qGreen(b)), qAbs(qBlue(a) - qBlue(b))));
            if (difference > 48)
                ++count;
        }
    }
    return count;
}

} // namespace

StatusReader::StatusReader(const QStringList &candidates)
    : texts(candidates)
{
    for (const QString &text : texts)
        renderings.append(render(text));
}

QImage StatusReader::render(const QString &text)
{
    QWidget window;
    window.resize(WindowSize);
    QLabel label(&window);
    label.setGeometry(LabelGeometry);
    label.setFrameShape(QFrame::StyledPanel);
    label.setStyleSheet(LabelStyle);
    label.setText(text);
    return window.grab(LabelGeometry).toImage().convertToFormat(QImage::Format_RGB32);
}

QString StatusReader::read(const QImage &statusArea) const
{
    int best = -1;
    int bestDifference = 0;
    for (int i = 0; i < renderings.size(); ++i) {
        const int difference = differingPixels(statusArea, renderings.at(i));
        if (best < 0 || difference < bestDifference) {
            best = i;
            bestDifference = difference;
        }
    }
    if (best >= 0 && bestDifference <= Tolerance)
        return texts.at(best);
    return QStringLiteral("<no known text: nearest \"%1\", %2 pixels differ>")
        .arg(best >= 0 ? texts.at(best) : QString())
        .arg(bestDifference);
}
