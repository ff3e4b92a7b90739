#include "app/showerror.h"

#include "app/failurealert.h"
#include "app/wordbreaks.h"

#include <QColor>
#include <QLabel>
#include <QScreen>

#include <algorithm>
#include <cmath>

namespace {

// What WCAG 2 asks of normal text against its background.
constexpr double LeastContrast = 4.5;

double relativeLuminance(const QColor &colour)
{
    const auto linear = [](double channel) {
        return channel <= 0.04045 ? channel / 12.92 : std::pow((channel + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * linear(colour.redF()) + 0.7152 * linear(colour.greenF()) +
           0.0722 * linear(colour.blueF());
}

double contrast(const QColor &a, const QColor &b)
{
    const double la = relativeLuminance(a) + 0.05;
    const double lb = relativeLuminance(b) + 0.05;
    return la > lb ? la / lb : lb / la;
}

// A red that can be read on `background`: a dark one on a light window, a light one on a dark
// window, made darker or lighter still where the window needs it. Black and white themselves
// reach 4.5:1 on the side they are taken for, so the search always ends.
QColor failureColour(const QColor &background)
{
    const bool onLight = contrast(Qt::black, background) >= contrast(Qt::white, background);
    QColor colour = onLight ? QColor(0xc0, 0x00, 0x00) : QColor(0xff, 0x50, 0x50);
    while (contrast(colour, background) < LeastContrast) {
        if (onLight)
            colour.setRed(std::max(colour.red() - 8, 0));
        else
            colour.setRgb(255, std::min(colour.green() + 8, 255), std::min(colour.blue() + 8, 255));
    }
    return colour;
}

} // namespace

void showError(QLabel *label, const QString &message)
{
    // The label has no background of its own: it shows on its window's colour at this moment.
    const QString colour = failureColour(label->palette().color(QPalette::Window)).name();
    const QString markup = QStringLiteral("<font color='") + colour + QStringLiteral("'>") +
                           message + QStringLiteral("</font>");
    label->setText(breakLongWords(markup, label->fontMetrics(),
                                  label->screen()->availableGeometry().width() / 2));
    announceFailure(label);
}
