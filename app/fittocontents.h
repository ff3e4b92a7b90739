#pragma once

#include <QObject>
#include <QSize>

class QWidget;

// Keeps a window large enough to show every widget of its layout whole, word-wrapped messages
// included, and never smaller than the size it was designed with, but never larger than the free
// area of its screen: text too tall for the screen widens the window instead. Qt derives a
// window's minimum size from its layout but leaves out the height that wrapped text needs at the
// window's width, so a long message would be cut off at the bottom.
class FitToContents : public QObject
{
public:
    // Owned by the window; the window's minimum size as set up so far is the least it keeps.
    explicit FitToContents(QWidget *window);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void fit();

    QWidget *window;
    QSize designedMinimum;
};
