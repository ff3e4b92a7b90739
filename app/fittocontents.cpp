#include "app/fittocontents.h"

#include <QEvent>
#include <QLayout>
#include <QWidget>

#include <algorithm>

FitToContents::FitToContents(QWidget *fitted)
    : QObject(fitted), window(fitted), designedMinimum(fitted->minimumSize())
{
    window->installEventFilter(this);
}

bool FitToContents::eventFilter(QObject *watched, QEvent *event)
{
    // The layout has handled the event by the time a filter sees it, so its sizes are current.
    switch (event->type()) {
    case QEvent::LayoutRequest:
    case QEvent::Resize:
    case QEvent::Show:
        fit();
        break;
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}

void FitToContents::fit()
{
    QLayout *layout = window->layout();
    if (!layout)
        return;
    QSize needed = layout->totalMinimumSize().expandedTo(designedMinimum);
    if (layout->hasHeightForWidth()) {
        const int width = std::max(window->width(), needed.width());
        needed.setHeight(std::max(needed.height(), layout->totalHeightForWidth(width)));
    }
    // Grows the window at once where it is smaller; a window that is large enough keeps its size.
    if (needed != window->minimumSize())
        window->setMinimumSize(needed);
}
