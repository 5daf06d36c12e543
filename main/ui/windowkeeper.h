#pragma once

#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>

class COrder;
class CSession;
class CWIncome;
class CWServerTable;
class CWSettings;
class CWUserInfo;
class CWidget;
class QWidget;

// Every window of a session besides the main one: the profile, the income list, the settings, one
// detail window per order and the confirmation table. Each is there once: asked for again, the open
// one comes to the front. A new one is centred on the screen of `anchor` (the main window). They work
// for the session and go with the keeper, before it; the confirmation table only hides when closed
// and keeps its rows for the next time.
class CWindowKeeper : public QObject
{
    Q_OBJECT
public:
    CWindowKeeper(CSession* session, QWidget* anchor, QObject* parent = nullptr);
    ~CWindowKeeper() override;

    void OpenUserInfo();
    void OpenIncome();
    void OpenSettings();
    // `order` is the book's record of it.
    void OpenOrderDetail(COrder* order);
    // `asked`: orders whose buyers ask for a confirmation, added to the table (the first row selected).
    void OpenServerTable(const QList<COrder*>& asked = QList<COrder*>());

signals:
    // A window of the keeper's wants an order's detail (a row of the income list or of the
    // confirmation table): the order pane takes it into the book and asks for its window.
    void OrderDetailAsked(COrder* order);

private:
    // Brings an open window back (shown again, restored, active) and, with `toFront`, to the front;
    // false when there is none.
    bool Raise(CWidget* window, bool toFront = true) const;
    void Place(CWidget* window) const;

    CSession* session;
    QPointer<QWidget> anchor;
    QPointer<CWUserInfo> userInfo;
    QPointer<CWIncome> income;
    QPointer<CWSettings> settings;
    QPointer<CWServerTable> serverTable;
    // One detail window per order. Held as QObject: a window is forgotten from its destroyed(), when
    // it is no longer a COrderWidget.
    QHash<qint64, QPointer<QObject>> details;
};
