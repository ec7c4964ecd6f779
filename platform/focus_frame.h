#pragma once

#include <QPainter>
#include <QWidget>

// Marks a scrolling view (a list, the chat) that has the keyboard's focus:
// a frame in the highlight colour just inside its viewport, for views whose
// style shows the focus on an item at most, and not at all when empty.
inline void paintFocusFrame(QWidget* view, QWidget* viewport)
{
    if (!view->hasFocus())
        return;
    QPainter painter(viewport);
    painter.setPen(QPen(view->palette().color(QPalette::Highlight), 2));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(viewport->rect().adjusted(1, 1, -1, -1));
}
