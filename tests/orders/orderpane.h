#pragma once

#include <QPointer>
#include <QScrollArea>
#include <QStringList>

#include "app/sound.h"
#include "orders/orderpolls.h"
#include "orders/pane/callist.h"
#include "orders/corder.h"
#include "orders/pane/corderitem.h"
#include "orders/pane/corderlist.h"

// The order pane as the main window holds it: inside a scroll area, shown.
struct OrderPane
{
    QScrollArea area;
    QPointer<CAllList> list;

    explicit OrderPane(CUser* user)
    {
        area.resize(CAllList::paneWidth + 20, 600);
        list = new CAllList(user, area.viewport());
        area.setWidget(list);
        area.show();
    }

    COrderList* group(int status) const { return list->FindList(status); }

    // The orders of a group, top to bottom.
    QList<qint64> ids(int status) const { return group(status)->Ids(); }
};

// Every sound asked for while it lives.
struct SoundLog : QObject
{
    QStringList played;
    SoundLog()
    {
        QObject::connect(Sound::monitor(), &Sound::Monitor::Played, this,
                         [this](const QString& path, const QUrl&) { played.append(path); });
    }
    int count(const QString& path) const { return played.count(path); }
};
