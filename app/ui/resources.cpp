#include "app/ui/resources.h"

#include <QGuiApplication>
#include <QPixmap>
#include <QPixmapCache>
#include <QtGlobal>

static void initResourcesOutsideNamespace()
{
    Q_INIT_RESOURCE(tarvik);
}

void InitTarvikResources()
{
    initResourcesOutsideNamespace();
}

QPixmap TarvikPixmap(const QString& path)
{
    const int dot = path.lastIndexOf(QLatin1Char('.'));
    if (qGuiApp && qGuiApp->devicePixelRatio() > 1.0 && dot > 0) {
        const QString sharp = path.left(dot) + QStringLiteral("@2x") + path.mid(dot);
        QPixmap pixmap;
        if (QPixmapCache::find(sharp, &pixmap))
            return pixmap;
        if (pixmap.load(sharp)) {
            pixmap.setDevicePixelRatio(2.0);
            QPixmapCache::insert(sharp, pixmap);
            return pixmap;
        }
    }
    return QPixmap(path);
}
