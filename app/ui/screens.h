#pragma once

#include <QPoint>
#include <QRect>

class QWidget;

// Available (work-area) geometry of the screen that holds a point, or of the screen that shows a
// widget; the primary screen when none does.
QRect AvailableAreaAt(const QPoint& globalPos);
QRect AvailableAreaOf(const QWidget* widget);
QRect ScreenAreaOf(const QWidget* widget); // the whole screen, for full-screen windows

// Follows the display's scaling (125 %, 150 %, 200 % ...) exactly: every window is that many times
// its size at 100 %, and pictures with an @2x version are drawn from it. Qt 5 would otherwise
// ignore the setting, or round 1.5 up to 2 once scaling is on. Call before the application object
// exists.
void EnableDisplayScaling();
