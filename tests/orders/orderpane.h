#pragma once

#include <QPointer>
#include <QScrollArea>
#include <QStringList>

#include "app/sound.h"
#include "common/mainwindow.h"
#include "common/testsession.h"
#include "main/ui/windowkeeper.h"
#include "orders/orderpolls.h"
#include "orders/ui/callist.h"
#include "orders/corder.h"
#include "orders/ui/corderitem.h"
#include "orders/ui/corderlist.h"
#include "session/csession.h"

#include <memory>

// The order pane as the main window holds it: inside a scroll area, shown, following the book of a
// session of `user` whose polls have started, with the windows it asks for opened by a keeper.
struct OrderPane
{
    std::unique_ptr<CSession> session;
    QScrollArea area;
    QPointer<CAllList> list;
    // Before the session goes, the windows that work for it go.
    std::unique_ptr<CWindowKeeper> windows;

    explicit OrderPane(const CUser& user, const SessionOptions& options = TestOptions())
        : OrderPane(user, true, options)
    {
    }
    // A pane whose book the test fills itself: nothing is asked of the platform.
    OrderPane() : OrderPane(CUser(), false) {}

    OrderPane(const CUser& user, bool start, const SessionOptions& options = TestOptions())
        : session(MakeSession(user, options))
    {
        area.resize(CAllList::paneWidth + 20, 600);
        list = new CAllList(session.get(), area.viewport());
        area.setWidget(list);
        windows = std::make_unique<CWindowKeeper>(session.get(), &area);
        QObject::connect(list, &CAllList::OrderDetailWanted, windows.get(), &CWindowKeeper::OpenOrderDetail);
        QObject::connect(list, &CAllList::ServerTableWanted, windows.get(), &CWindowKeeper::OpenServerTable);
        QObject::connect(windows.get(), &CWindowKeeper::OrderDetailAsked, list, &CAllList::SlotOpenOrderDetail);
        area.show();
        if (start)
            session->Start();
    }

    COrderPolls* polls() const { return session->Polls(); }
    CWServerTable* serverTable() const { return ServerTableWindow(); }
    COrderWidget* detailWindow(qint64 id) const { return DetailWindowOf(id); }

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
