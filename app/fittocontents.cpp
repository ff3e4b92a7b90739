#include "app/fittocontents.h"

#include <QEvent>
#include <QLayout>
#include <QScreen>
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
    // The window's frame takes part of the screen's free area (it is known once it is shown).
    const QRect area = window->screen()->availableGeometry();
    const QSize room = area.size() - (window->frameGeometry().size() - window->size());

    QSize needed = layout->totalMinimumSize().expandedTo(designedMinimum);
    if (layout->hasHeightForWidth()) {
        int width = std::max(window->width(), needed.width());
        // Text too tall for the screen at this width: the least width up to the screen's at
        // which it fits (taller text than the whole screen can show takes all of its width).
        if (layout->totalHeightForWidth(width) > room.height() && width < room.width()) {
            int tooNarrow = width;
            width = room.width();
            while (width - tooNarrow > 1) {
                const int middle = tooNarrow + (width - tooNarrow) / 2;
                if (layout->totalHeightForWidth(middle) > room.height())
                    tooNarrow = middle;
                else
                    width = middle;
            }
            needed.setWidth(std::max(needed.width(), width));
        }
        needed.setHeight(std::max(needed.height(), layout->totalHeightForWidth(width)));
    }
    needed = needed.boundedTo(room);
    if (needed == window->minimumSize())
        return;
    // Grows the window at once where it is smaller; a window that is large enough keeps its size.
    window->setMinimumSize(needed);
    // A window that has grown over the edge of the screen moves back onto it, so that the end of
    // the message and the buttons stay in sight.
    if (window->isVisible()) {
        const QRect frame = window->frameGeometry();
        const QPoint inside(
            std::max(area.left(), std::min(frame.x(), area.right() - frame.width() + 1)),
            std::max(area.top(), std::min(frame.y(), area.bottom() - frame.height() + 1)));
        if (inside != frame.topLeft())
            window->move(inside);
    }
}
