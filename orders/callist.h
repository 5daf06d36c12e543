#pragma once

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QNetworkReply>
#include <QPointer>
#include <QWidget>

#include <functional>

class COrder;
class COrderItem;
class COrderList;
class COrderWidget;
class CUser;
class CWServerTable;
class QMediaPlayer;
class QNetworkAccessManager;
class QTimer;

// The order pane: one group per order status and every order of the session, kept in step with
// the platform. After the full list it runs two polls for as long as it lives, each re-armed after
// every reply whatever the reply said: new orders every 20 seconds and paid/finished orders every
// 3 seconds. New orders blink at the top of their group with a sound; orders whose status changed
// move to their new group; paid orders the platform reports again unchanged (the buyer asks for
// confirmation) go to the awaiting-confirmation table.
class CAllList : public QWidget
{
    Q_OBJECT
public:
    CAllList(CUser* user, QWidget* parent);
    ~CAllList() override;

    static constexpr int paneWidth = 288;

    void Start(CUser* user);
    COrderList* FindList(int status) const;
    COrder* FindOrder(qint64 id) const;
    COrderItem* FindOrderItem(qint64 id) const;
    void AddOrderItem(COrder* order, int flag);
    void ReinsertOrderItem(COrderItem* item);
    // The orders whose number contains `text`, in arrival order; null when none does. The caller
    // owns the list (not the orders).
    QList<COrder*>* SearchOrders(QString text) const;

    const QList<COrderList*>& Lists() const { return lists; }
    const QList<COrder*>& Orders() const { return orders; }
    CWServerTable* ServerTable() const;
    QMediaPlayer* Player() const { return player; }
    QDateTime NewOrderTime() const { return newOrderTime; }
    QDateTime PayFinishTime() const { return payFinishTime; }

    // While the pane handles a reply the groups hold back their layouts and lay out once at the
    // end, instead of once for every order of the reply.
    bool HoldsLayouts() const { return layoutHold > 0; }

public slots:
    bool HttpAllOrder();
    void HttpNewOrder();
    void HttpPayFinishOrder();
    void RestartHttpAllOrder(int second);
    void RestartHttpAllOrder() { RestartHttpAllOrder(5); }
    void RestartHttpNewOrder(int second);
    void RestartHttpNewOrder() { RestartHttpNewOrder(5); }
    void RestartHttpPayFinishOrder(int second);
    void RestartHttpPayFinishOrder() { RestartHttpPayFinishOrder(3); }
    void Update();
    void replyAllOrder(QNetworkReply* reply);
    void ReplyNewOrder(QNetworkReply* reply);
    void ReplyPayFinishOrder(QNetworkReply* reply);
    void slotError(QNetworkReply::NetworkError);
    void ErrorNewOrder(QNetworkReply::NetworkError);
    void ErrorPayFinishOrder(QNetworkReply::NetworkError);
    void OpenServerTable();
    void SlotOpenOrderDetail(COrder* pOrder);

private:
    class LayoutHold;
    friend class LayoutHold;

    COrder* OrderFromEntry(const QVariantMap& entry) const;
    void Remember(COrder* order);
    void Schedule(QTimer*& which, int second, const std::function<void()>& run);
    void ReleaseLayouts();

    QList<COrderList*> lists;
    QList<COrder*> orders;
    CUser* user = nullptr;
    QNetworkAccessManager* manager = nullptr;
    QNetworkAccessManager* payFinishManager = nullptr;
    QNetworkReply* reply = nullptr;
    QNetworkReply* payFinishReply = nullptr;
    QTimer* timer = nullptr;
    QTimer* payFinishTimer = nullptr;
    QMediaPlayer* player = nullptr;
    QDateTime newOrderTime;
    QDateTime payFinishTime;
    QPointer<CWServerTable> serverTable;

    // The shop of the full list: the new-order replies do not name it, and every order of the
    // session belongs to it.
    qint64 shopId = 0;
    QString shopName;
    int shopCatId = 0;

    // FindOrder answers from here: the first order received with each number.
    QHash<qint64, COrder*> firstOrder;
    // Detail windows opened for orders without a row; closed with the pane, whose orders they show.
    QList<QPointer<COrderWidget>> looseDetails;
    int layoutHold = 0;
    bool updatePending = false;
};
