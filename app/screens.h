#pragma once

#include <QPoint>
#include <QRect>

class QWidget;

// Available (work-area) geometry of the screen that holds a point, or of the screen that shows a
// widget; the primary screen when none does.
QRect AvailableAreaAt(const QPoint& globalPos);
QRect AvailableAreaOf(const QWidget* widget);
QRect ScreenAreaOf(const QWidget* widget); // the whole screen, for full-screen windows
