#include "app/ui/screens.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <QWindow>

static QScreen* screenOrPrimary(QScreen* screen)
{
    return screen ? screen : QGuiApplication::primaryScreen();
}

QRect AvailableAreaAt(const QPoint& globalPos)
{
    QScreen* screen = screenOrPrimary(QGuiApplication::screenAt(globalPos));
    return screen ? screen->availableGeometry() : QRect();
}

static QScreen* screenOfWidget(const QWidget* widget)
{
    if (!widget)
        return QGuiApplication::primaryScreen();
    QScreen* screen = QGuiApplication::screenAt(widget->mapToGlobal(widget->rect().center()));
    if (!screen && widget->window()->windowHandle())
        screen = widget->window()->windowHandle()->screen();
    return screenOrPrimary(screen);
}

QRect AvailableAreaOf(const QWidget* widget)
{
    QScreen* screen = screenOfWidget(widget);
    return screen ? screen->availableGeometry() : QRect();
}

QRect ScreenAreaOf(const QWidget* widget)
{
    QScreen* screen = screenOfWidget(widget);
    return screen ? screen->geometry() : QRect();
}

void EnableDisplayScaling()
{
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    QCoreApplication::setAttribute(Qt::AA_UseHighDpiPixmaps);
    QGuiApplication::setHighDpiScaleFactorRoundingPolicy(Qt::HighDpiScaleFactorRoundingPolicy::PassThrough);
}
