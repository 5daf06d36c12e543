#pragma once

#include <QApplication>
#include <QWidget>

#include "main/ui/cwmain.h"

// The main window a login opened, found among the top-level windows; null before a login and
// once it has gone.
inline CWMain* MainWindow()
{
    for (QWidget* window : QApplication::topLevelWidgets())
        if (auto* main = qobject_cast<CWMain*>(window))
            return main;
    return nullptr;
}
