#include "orders/orderbook.h"

#include "app/log.h"
#include "orders/corder.h"
#include "orders/orderentry.h"

namespace {

QByteArray StampText(const QDateTime& stamp)
{
    return stamp.isValid() ? stamp.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")).toUtf8() : QByteArrayLiteral("-");
}

// A key counts only when it is there and not null: the platform sends null for a time that has
// not come yet, and that must not wipe a time the record already knows.
bool present(const QVariantMap& map, const QString& key)
{
    const auto it = map.constFind(key);
    return it != map.constEnd() && !it->isNull();
}

CCommodity* commodityFrom(const QVariantMap& entry)
{
    auto* item = new CCommodity;
    item->SetPics(entry.value(QStringLiteral("pics")).toString());
    item->SetName(entry.value(QStringLiteral("name")).toString());
    item->SetNum(entry.value(QStringLiteral("num")).toInt());
    item->SetPrice(entry.value(QStringLiteral("price")).toDouble());
    item->SetTotal(entry.value(QStringLiteral("total")).toDouble());
    return item;
}

qint64 idOf(const QVariantMap& info)
{
    return info.value(QStringLiteral("id")).toLongLong();
}

void FillFromEntry(COrder* order, const OrderEntry& entry)
{
    order->SetMember(entry.member);
    order->SetAmount(entry.amount);
    order->SetStatus(entry.status);
    order->SetCtime(entry.ctime);
    order->SetStime(entry.stime);
    order->SetPtime(entry.ptime);
    order->SetErtime(entry.ertime);
}

} // namespace

COrderBook::COrderBook(QObject* parent) : QObject(parent) {}

COrderBook::~COrderBook()
{
    qDeleteAll(orders);
}

QList<COrder*> COrderBook::SearchOrders(const QString& text) const
{
    QList<COrder*> found;
    for (COrder* order : orders)
        if (QString::number(order->GetId()).contains(text, Qt::CaseInsensitive))
            found.append(order);
    return found;
}

void COrderBook::SetShop(qint64 id, const QString& name, int catId)
{
    shopId = id;
    shopName = name;
    shopCatId = catId;
}

COrder* COrderBook::Create(qint64 id)
{
    auto* order = new COrder;
    order->SetId(id);
    order->SetShopId(shopId);
    order->SetShopName(shopName);
    order->SetShopCatId(shopCatId);
    orders.append(order);
    byId.insert(id, order);
    return order;
}

COrder* COrderBook::Take(const OrderEntry& entry, Arrival how, bool* created)
{
    if (created)
        *created = false;
    if (entry.id <= 0)
        return nullptr;
    if (COrder* known = Find(entry.id))
        return known;
    COrder* order = Create(entry.id);
    FillFromEntry(order, entry);
    if (created)
        *created = true;
    emit OrderAdded(order, how);
    return order;
}

void COrderBook::Announce(const QList<COrder*>& taken, Arrival how)
{
    for (COrder* order : taken)
        emit OrderAdded(order, how);
}

// Older than what the book knows. A stamp equal to the known one is a fact of that same second
// and counts, unless the client's own action came after it and the fact would take the order back.
// Within one second the stamps cannot tell which came first, but an order's life can: it only moves
// on (paid, served, reviewed, completed, or refunded), so a buyer's review stamped in the second of
// the client's own finish is newer than the finish, and a report of the paid order is not.
// A report that would take the order back and is stamped no later than the platform's clock when
// it accepted the client's action was made before that action, however late it arrives.
bool COrderBook::IsStale(const COrder* order, int status, const QDateTime& stamp) const
{
    const auto stage = [](int code) {
        return code == StatusRefunded.first ? int(StatusCompleted.first) + 1 : code;
    };
    const Fact fact = facts.value(order->GetId());
    const bool backward = stage(status) < stage(order->GetStatus());
    const bool ownNewer = fact.ownNewer && backward;
    if (backward && stamp.isValid() && fact.actedAt.isValid() && !(fact.actedAt < stamp))
        return true;
    const QDateTime known = order->GetErtime();
    if (!stamp.isValid() || !known.isValid())
        return ownNewer;
    return stamp < known || (stamp == known && ownNewer);
}

COrderBook::Outcome COrderBook::Apply(COrder* order, int status, const QDateTime& stamp, const char* source)
{
    const QDateTime known = order->GetErtime();
    // Later than the stamp the book knew, or, knowing none, than the payment: a status that stays
    // as it was comes back as news only then.
    const QDateTime before = known.isValid() ? known : order->GetPtime();
    const bool later = stamp.isValid() && (!before.isValid() || before < stamp);
    if (stamp.isValid() && (!known.isValid() || known < stamp)) {
        order->SetErtime(stamp);
        facts[order->GetId()].ownNewer = false;
    }
    if (status == order->GetStatus())
        return later ? Renewed : Same;
    qCDebug(lcOrders, "order %lld: status %d -> %d from %s, stamped %s", static_cast<long long>(order->GetId()),
            order->GetStatus(), status, source, StampText(stamp).constData());
    SetStatus(order, status);
    return Changed;
}

COrderBook::Outcome COrderBook::ApplyEntry(COrder* order, const OrderEntry& entry, const char* source)
{
    if (!order)
        return Stale;
    if (IsStale(order, entry.status, entry.ertime)) {
        if (entry.status != order->GetStatus())
            LogStale(order, source, entry.status, entry.ertime);
        // An old entry may still fill what the record lacks.
        if (!order->GetStime().isValid() && entry.stime.isValid())
            order->SetStime(entry.stime);
        if (!order->GetPtime().isValid() && entry.ptime.isValid())
            order->SetPtime(entry.ptime);
        return Stale;
    }
    order->SetStime(entry.stime);
    order->SetPtime(entry.ptime);
    return Apply(order, entry.status, entry.ertime, source);
}

bool COrderBook::ApplyDetail(COrder* order, const QVariantMap& info, quint64 asked)
{
    if (!order || idOf(info) != order->GetId())
        return false;
    if (present(info, QStringLiteral("ctime")))
        order->SetCtime(ReadStamp(info.value(QStringLiteral("ctime"))));
    if (present(info, QStringLiteral("ptime")))
        order->SetPtime(ReadStamp(info.value(QStringLiteral("ptime"))));
    if (present(info, QStringLiteral("stime")))
        order->SetStime(ReadStamp(info.value(QStringLiteral("stime"))));
    order->SetAmount(info.value(QStringLiteral("amount")).toDouble());
    if (present(info, QStringLiteral("taker")))
        order->SetTaker(info.value(QStringLiteral("taker")).toString());
    if (present(info, QStringLiteral("address")))
        order->SetAddress(info.value(QStringLiteral("address")).toString());
    if (present(info, QStringLiteral("tel")))
        order->SetTel(info.value(QStringLiteral("tel")).toString());
    if (present(info, QStringLiteral("message")))
        order->SetMessage(info.value(QStringLiteral("message")).toString());
    if (present(info, QStringLiteral("content")))
        order->SetContent(info.value(QStringLiteral("content")).toString());
    // An order known only from its detail has no member from a list yet.
    if (order->GetMember().isEmpty() && present(info, QStringLiteral("member")))
        order->SetMember(info.value(QStringLiteral("member")).toString());
    if (present(info, QStringLiteral("prepare_type")))
        order->SetPrepareType(info.value(QStringLiteral("prepare_type")).toBool());

    order->ClearCommodities();
    for (const QVariant& entry : info.value(QStringLiteral("out")).toList())
        order->AddCommodity(commodityFrom(entry.toMap()));
    // Only takeout items make a takeout order; a detail never turns the flag off again.
    if (order->GetTotalNum() > 0)
        order->SetTakeout(true);
    for (const QVariant& entry : info.value(QStringLiteral("commo")).toList())
        order->AddCommodity(commodityFrom(entry.toMap()));

    // Last: whoever follows the status sees the rest of the detail already in place. A detail with
    // a stamp is judged like any entry; without one, by what reached the book while it travelled.
    const int status = info.value(QStringLiteral("status")).toInt();
    if (present(info, QStringLiteral("ertime"))) {
        const QDateTime stamp = ReadStamp(info.value(QStringLiteral("ertime")));
        if (!IsStale(order, status, stamp))
            Apply(order, status, stamp, "StaffOrder2");
        else if (status != order->GetStatus())
            LogStale(order, "StaffOrder2", status, stamp);
    } else if (status != order->GetStatus() && RevisionOf(order->GetId()) != asked) {
        LogStale(order, "StaffOrder2 sent before the last change", status, QDateTime());
    } else {
        Apply(order, status, QDateTime(), "StaffOrder2");
    }
    return true;
}

COrder* COrderBook::TakeDetail(const QVariantMap& info, Arrival how, quint64 asked)
{
    const qint64 id = idOf(info);
    if (id <= 0)
        return nullptr;
    if (COrder* known = Find(id)) {
        ApplyDetail(known, info, asked);
        return known;
    }
    COrder* order = Create(id);
    if (present(info, QStringLiteral("ertime")))
        order->SetErtime(ReadStamp(info.value(QStringLiteral("ertime"))));
    // Filled before anyone hears of it, so its status arrives with it rather than as a change.
    QSignalBlocker quiet(this);
    ApplyDetail(order, info, RevisionOf(id));
    order->SetStatus(info.value(QStringLiteral("status")).toInt());
    quiet.unblock();
    emit OrderAdded(order, how);
    return order;
}

COrder* COrderBook::Adopt(const COrder& copy)
{
    if (copy.GetId() <= 0)
        return nullptr;
    if (COrder* known = Find(copy.GetId()))
        return known;
    COrder* order = Create(copy.GetId());
    order->SetStatus(copy.GetStatus());
    order->SetCtime(copy.GetCtime());
    order->SetPtime(copy.GetPtime());
    order->SetStime(copy.GetStime());
    order->SetErtime(copy.GetErtime());
    order->SetAmount(copy.GetAmount());
    order->SetAddCash(copy.GetAddCash());
    order->SetMember(copy.GetMember());
    if (copy.GetShopId() != 0) {
        order->SetShopId(copy.GetShopId());
        order->SetShopName(copy.GetShopName());
        order->SetShopCatId(copy.GetShopCatId());
    }
    emit OrderAdded(order, Adopted);
    return order;
}

COrderBook::Outcome COrderBook::ApplyAction(COrder* order, int from, int to, const char* action,
                                            const QDateTime& answeredAt)
{
    if (!order)
        return Stale;
    if (answeredAt.isValid() && order->GetStatus() == to) {
        Fact& fact = facts[order->GetId()];
        if (!fact.actedAt.isValid() || fact.actedAt < answeredAt)
            fact.actedAt = answeredAt;
    }
    if (order->GetStatus() == to)
        return Same; // a poll brought the action's result first
    if (order->GetStatus() != from) {
        LogStale(order, action, to, QDateTime());
        return Stale;
    }
    Fact& fact = facts[order->GetId()];
    fact.ownNewer = true;
    if (answeredAt.isValid() && (!fact.actedAt.isValid() || fact.actedAt < answeredAt))
        fact.actedAt = answeredAt;
    SetStatus(order, to);
    return Changed;
}

void COrderBook::SetStatus(COrder* order, int status)
{
    if (!order || order->GetStatus() == status)
        return;
    const int previous = order->GetStatus();
    order->SetStatus(status);
    ++facts[order->GetId()].revision;
    emit StatusChanged(order, previous);
}

void COrderBook::LogStale(const COrder* order, const char* source, int status, const QDateTime& stamp) const
{
    qCDebug(lcOrders, "order %lld: status %d from %s (stamped %s) ignored, older than status %d (stamped %s%s)",
            static_cast<long long>(order->GetId()), status, source, StampText(stamp).constData(),
            order->GetStatus(), StampText(order->GetErtime()).constData(),
            facts.value(order->GetId()).ownNewer ? ", then changed by the client" : "");
}
