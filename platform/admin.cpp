#include "admin.h"

#include "assets.h"
#include "demo.h"
#include "util.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>

#include <climits>
#include <cmath>

namespace Velm {

namespace {

// Longer than any message, review or address the client shows.
const int MaxTextLength = 2000;

int Bad(QJsonObject* reply, const QString& text, int httpStatus = 400)
{
    *reply = Failure(text);
    return httpStatus;
}

int Ok(QJsonObject* reply, const QJsonValue& info)
{
    *reply = Success(info);
    return 200;
}

// A whole JSON number in [lowest, highest]; checked before it is converted, as a double outside
// the range of qint64 has no defined conversion.
bool ReadWhole(const QJsonValue& v, qint64 lowest, qint64 highest, qint64* value)
{
    if (!v.isDouble())
        return false;
    const double number = v.toDouble();
    if (!(number >= static_cast<double>(lowest) && number <= static_cast<double>(highest)) ||
        number != std::floor(number))
        return false;
    *value = static_cast<qint64>(number);
    return true;
}

// Yuan as a JSON number, at most MaxMoneyCents either way (from 0 unless negative is allowed).
bool ReadMoney(const QJsonObject& request, const QString& key, bool negativeAllowed, qint64* cents,
               QString* error)
{
    const QJsonValue v = request.value(key);
    const double limit = static_cast<double>(MaxMoneyCents) / 100.0;
    const double yuan = v.toDouble();
    if (v.isDouble() && yuan <= limit && yuan >= (negativeAllowed ? -limit : 0.0)) {
        *cents = Cents(yuan);
        return true;
    }
    *error = key + QStringLiteral(": expected a number of yuan from %1 to %2")
                       .arg(negativeAllowed ? -limit : 0.0, 0, 'f', 0)
                       .arg(limit, 0, 'f', 0);
    return false;
}

// A time is "yyyy-MM-dd hh:mm:ss", seconds since the epoch, or null (or 0) for "not yet". Times
// the wire format cannot show are refused: they would turn into empty texts in every reply.
bool ReadTime(const QJsonObject& request, const QString& key, qint64* value, QString* error)
{
    const QJsonValue v = request.value(key);
    if (v.isNull()) {
        *value = 0;
        return true;
    }
    if (v.isDouble() && v.toDouble() >= 0 && v.toDouble() <= static_cast<double>(MaxTime)) {
        *value = static_cast<qint64>(v.toDouble());
        return true;
    }
    if (v.isString() && ParseTime(v.toString(), value) && IsWireTime(*value))
        return true;
    *error = key + QStringLiteral(": expected \"yyyy-MM-dd hh:mm:ss\", seconds since the epoch or null, "
                                  "from 1970 to 9999");
    return false;
}

// Order numbers, shop ids: positive and exact as a JSON number.
bool ReadId(const QJsonObject& request, const QString& key, qint64* id, QString* error)
{
    if (ReadWhole(request.value(key), 1, Q_INT64_C(1) << 53, id))
        return true;
    *error = key + QStringLiteral(": expected a positive whole number");
    return false;
}

bool ReadItems(const QJsonValue& value, bool takeout, QVector<Item>* items, QString* error)
{
    if (!value.isArray()) {
        *error = QStringLiteral("out and commo must be arrays");
        return false;
    }
    for (const QJsonValue& entry : value.toArray()) {
        const QJsonObject object = entry.toObject();
        if (!entry.isObject() || !object.value(QStringLiteral("name")).isString()) {
            *error = QStringLiteral("every item needs a name");
            return false;
        }
        Item item;
        item.takeout = takeout;
        item.name = object.value(QStringLiteral("name")).toString();
        if (item.name.size() > MaxTextLength ||
            object.value(QStringLiteral("pics")).toString().size() > MaxTextLength) {
            *error = QStringLiteral("name, pics: at most %1 characters").arg(MaxTextLength);
            return false;
        }
        qint64 num = 1;
        // A line with quantity 0 is real platform data (an item taken off an order), so 0 is allowed.
        if (object.contains(QStringLiteral("num")) &&
            !ReadWhole(object.value(QStringLiteral("num")), 0, MaxQuantity, &num)) {
            *error = QStringLiteral("num: expected a whole number from 0 to %1").arg(MaxQuantity);
            return false;
        }
        item.num = static_cast<int>(num);
        if (object.contains(QStringLiteral("price")) &&
            !ReadMoney(object, QStringLiteral("price"), false, &item.priceCents, error))
            return false;
        if (object.contains(QStringLiteral("total"))) {
            if (!ReadMoney(object, QStringLiteral("total"), false, &item.totalCents, error))
                return false;
        } else {
            // Both factors are bounded, so the product is far inside 64 bits.
            item.totalCents = item.priceCents * item.num;
            if (item.totalCents > MaxMoneyCents) {
                *error = QStringLiteral("price × num: at most %1 yuan").arg(MaxMoneyCents / 100);
                return false;
            }
        }
        item.pics = object.value(QStringLiteral("pics"))
                        .toString(Assets::ItemPath(QLatin1String(Assets::DefaultItem)));
        items->append(item);
    }
    return true;
}

// Copies the fields present in `request` onto `order`.
bool ApplyFields(const QJsonObject& request, Order* order, bool* itemsGiven, bool* ertimeGiven,
                 QString* error)
{
    const QString texts[] = {QStringLiteral("member"),  QStringLiteral("password"), QStringLiteral("taker"),
                             QStringLiteral("address"), QStringLiteral("tel"),      QStringLiteral("message"),
                             QStringLiteral("content"), QStringLiteral("reply")};
    QString* fields[] = {&order->member, &order->password, &order->taker,   &order->address,
                         &order->tel,    &order->message,  &order->content, &order->reply};
    for (int i = 0; i < 8; ++i) {
        if (!request.contains(texts[i]))
            continue;
        if (!request.value(texts[i]).isString() ||
            request.value(texts[i]).toString().size() > MaxTextLength) {
            *error =
                texts[i] + QStringLiteral(": expected a string of at most %1 characters").arg(MaxTextLength);
            return false;
        }
        *fields[i] = request.value(texts[i]).toString();
    }
    if (request.contains(QStringLiteral("status"))) {
        qint64 status = 0;
        if (!ReadWhole(request.value(QStringLiteral("status")), Unpaid, Refunded, &status) ||
            !IsKnownStatus(static_cast<int>(status))) {
            *error = QStringLiteral("status: one of 0, 1, 2, 3, 4 and 9");
            return false;
        }
        order->status = static_cast<int>(status);
        if (order->status != Paid)
            order->confirmRequested = false;
    }
    if (request.contains(QStringLiteral("amount")) &&
        !ReadMoney(request, QStringLiteral("amount"), false, &order->amountCents, error))
        return false;
    if (request.contains(QStringLiteral("prepare_type")))
        order->prepareType = request.value(QStringLiteral("prepare_type")).toBool();
    if (request.contains(QStringLiteral("confirm")))
        order->confirmRequested = request.value(QStringLiteral("confirm")).toBool();
    const std::pair<QString, qint64*> times[] = {{QStringLiteral("ctime"), &order->ctime},
                                                 {QStringLiteral("ptime"), &order->ptime},
                                                 {QStringLiteral("stime"), &order->stime},
                                                 {QStringLiteral("ertime"), &order->ertime}};
    for (const auto& time : times) {
        if (request.contains(time.first) && !ReadTime(request, time.first, time.second, error))
            return false;
    }
    *ertimeGiven = request.contains(QStringLiteral("ertime"));
    *itemsGiven = request.contains(QStringLiteral("out")) || request.contains(QStringLiteral("commo"));
    if (*itemsGiven) {
        order->items.clear();
        if (request.contains(QStringLiteral("out")) &&
            !ReadItems(request.value(QStringLiteral("out")), true, &order->items, error))
            return false;
        if (request.contains(QStringLiteral("commo")) &&
            !ReadItems(request.value(QStringLiteral("commo")), false, &order->items, error))
            return false;
    }
    return true;
}

QJsonObject FullOrder(const Order& order, const QString& urlBase)
{
    QJsonObject info = Api::OrderDetail(order, urlBase);
    info.insert(QStringLiteral("shop_id"), order.shopId);
    info.insert(QStringLiteral("member"), order.member);
    info.insert(QStringLiteral("ertime"),
                order.ertime > 0 ? QJsonValue(FormatTime(order.ertime)) : QJsonValue());
    info.insert(QStringLiteral("password"), order.password);
    info.insert(QStringLiteral("reply"), order.reply);
    info.insert(QStringLiteral("confirm"), order.confirmRequested);
    return info;
}

} // namespace

int Admin::Handle(const std::string& method, const QString& path, const std::string& body,
                  const QString& urlBase, QJsonObject* reply)
{
    QJsonObject request;
    if (!body.empty()) {
        QJsonParseError error;
        const QJsonDocument document =
            QJsonDocument::fromJson(QByteArray(body.data(), static_cast<int>(body.size())), &error);
        if (error.error != QJsonParseError::NoError || !document.isObject())
            return Bad(reply, QStringLiteral("the request body must be a JSON object"));
        request = document.object();
    }
    const QStringList parts = path.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    const bool get = method == "GET";
    const bool post = method == "POST";
    const bool del = method == "DELETE";
    const QString first = parts.value(0);

    if (first == QLatin1String("orders") && parts.size() == 1 && post)
        return CreateOrder(request, urlBase, reply);
    if (first == QLatin1String("orders") && parts.size() == 2 && (get || post)) {
        bool ok = false;
        const qint64 id = parts.at(1).toLongLong(&ok);
        if (!ok)
            return Bad(reply, QStringLiteral("order number expected: ") + parts.at(1).left(40));
        return get ? ShowOrder(id, urlBase, reply) : ChangeOrder(id, request, urlBase, reply);
    }
    if (parts.size() == 1 && post) {
        if (first == QLatin1String("generate"))
            return Generate(request, reply);
        if (first == QLatin1String("cash"))
            return SetCash(request, reply);
        if (first == QLatin1String("income"))
            return AddIncome(request, reply);
        if (first == QLatin1String("faults"))
            return SetFault(request, reply);
        if (first == QLatin1String("offer"))
            return SetOffer(request, reply);
    }
    if (first == QLatin1String("faults")) {
        if (parts.size() == 1 && get)
            return Ok(reply, faults.List());
        if (parts.size() == 1 && del)
            return ClearFaults(QString(), reply);
        if (parts.size() == 2 && del)
            return ClearFaults(parts.at(1), reply);
        if (parts.size() == 2 && post && parts.at(1) == QLatin1String("clear"))
            return ClearFaults(request.value(QStringLiteral("endpoint")).toString(), reply);
    }
    if (first == QLatin1String("events") && parts.size() <= 2 && get) {
        bool ok = true;
        const qint64 after = parts.size() == 2 ? parts.at(1).toLongLong(&ok) : 0;
        if (!ok || after < 0)
            return Bad(reply, QStringLiteral("event number expected: ") + parts.at(1).left(40));
        return Events(after, reply);
    }
    if (first == QLatin1String("income") && parts.size() == 1 && del)
        return ClearIncome(request, reply);
    if (first == QLatin1String("sessions") && parts.value(1) == QLatin1String("expire") && post)
        return ExpireSessions(request, reply);
    return Bad(reply,
               QStringLiteral("no such admin call: ") + QString::fromStdString(method) + QLatin1Char(' ') +
                   path,
               404);
}

std::optional<qint64> Admin::ShopOf(const QJsonObject& request)
{
    if (request.contains(QStringLiteral("shop_id"))) {
        qint64 id = 0;
        QString error;
        if (ReadId(request, QStringLiteral("shop_id"), &id, &error) && store.ShopById(id))
            return id;
        return std::nullopt;
    }
    if (const std::optional<Shop> shop = store.FirstShop())
        return shop->id;
    return std::nullopt;
}

int Admin::CreateOrder(const QJsonObject& request, const QString& urlBase, QJsonObject* reply)
{
    const std::optional<qint64> shop = ShopOf(request);
    if (!shop)
        return Bad(reply, QStringLiteral("no such shop (start the server with --seed for the demo shop)"));
    Order order;
    order.shopId = *shop;
    order.status = Paid;
    order.ctime = Now();
    order.ptime = -1;
    order.stime = -1;
    bool itemsGiven = false;
    bool ertimeGiven = false;
    QString error;
    if (!ApplyFields(request, &order, &itemsGiven, &ertimeGiven, &error))
        return Bad(reply, error);
    if (request.contains(QStringLiteral("id"))) {
        if (!ReadId(request, QStringLiteral("id"), &order.id, &error))
            return Bad(reply, error);
        if (store.OrderById(0, order.id))
            return Bad(reply, QStringLiteral("order %1 exists already").arg(order.id), 409);
    }
    // Times not given follow the status: paid at creation, served now.
    if (order.ptime < 0)
        order.ptime = order.status == Unpaid ? 0 : order.ctime;
    if (order.stime < 0)
        order.stime =
            (order.status == Served || order.status == Reviewed || order.status == Completed) ? Now() : 0;
    if (!itemsGiven) {
        Item item;
        item.name = QStringLiteral("招牌牛肉拉面");
        item.pics = Assets::ItemPath(QStringLiteral("beef-noodles"));
        item.num = 1;
        item.priceCents = item.totalCents = 1800;
        order.items.append(item);
    }
    if (!request.contains(QStringLiteral("amount"))) {
        // Every total is at most MaxMoneyCents, so the sum is checked before it could overflow.
        for (const Item& item : order.items) {
            order.amountCents += item.totalCents;
            if (order.amountCents > MaxMoneyCents)
                return Bad(reply, QStringLiteral("the items add up to more than %1 yuan: give an amount")
                                      .arg(MaxMoneyCents / 100));
        }
    }
    if (!request.contains(QStringLiteral("password")))
        order.password = RandomDigits(6);
    if (!request.contains(QStringLiteral("member")))
        order.member = QStringLiteral("139****") + RandomDigits(4);
    if (!ertimeGiven)
        order.ertime = 0;
    QVector<Order> orders{order};
    if (!store.CreateOrders(&orders))
        return Bad(reply, QStringLiteral("the order could not be stored"), 500);
    return Ok(reply, FullOrder(orders.first(), urlBase));
}

int Admin::ChangeOrder(qint64 id, const QJsonObject& request, const QString& urlBase, QJsonObject* reply)
{
    QString error;
    const ChangeResult result = store.ChangeOrder(id, [&](Order* order, ChangeScope* scope) {
        scope->confirmRequest = request.value(QStringLiteral("confirm")).toBool();
        return ApplyFields(request, order, &scope->replaceItems, &scope->keepErtime, &error);
    });
    switch (result) {
    case ChangeResult::Done:
        return ShowOrder(id, urlBase, reply);
    case ChangeResult::NoOrder:
        return Bad(reply, QStringLiteral("no order %1").arg(id), 404);
    case ChangeResult::Refused:
        return Bad(reply, error);
    case ChangeResult::Failed:
        break;
    }
    return Bad(reply, QStringLiteral("the order could not be changed"), 500);
}

int Admin::ShowOrder(qint64 id, const QString& urlBase, QJsonObject* reply)
{
    bool failed = false;
    const std::optional<Order> order = store.OrderById(0, id, &failed);
    if (!order)
        return Bad(reply, failed ? QStringLiteral("database error") : QStringLiteral("no order %1").arg(id),
                   failed ? 500 : 404);
    return Ok(reply, FullOrder(*order, urlBase));
}

int Admin::Events(qint64 after, QJsonObject* reply)
{
    QJsonArray list;
    for (const OrderEvent& event : store.Events(after)) {
        list.append(QJsonObject{{QStringLiteral("seq"), event.seq},
                                {QStringLiteral("at"), event.atMsecs},
                                {QStringLiteral("id"), event.id},
                                {QStringLiteral("kind"), event.kind},
                                {QStringLiteral("status"), event.status},
                                {QStringLiteral("previous"), event.previous},
                                {QStringLiteral("ertime"), FormatTime(event.ertime)},
                                {QStringLiteral("request"), event.request}});
    }
    return Ok(reply, QJsonObject{{QStringLiteral("events"), list}});
}

int Admin::Generate(const QJsonObject& request, QJsonObject* reply)
{
    const std::optional<qint64> shop = ShopOf(request);
    if (!shop)
        return Bad(reply, QStringLiteral("no such shop (start the server with --seed for the demo shop)"));
    const int count = request.value(QStringLiteral("count")).toInt(0);
    const int days = request.value(QStringLiteral("days")).toInt(30);
    if (count < 1 || count > 200000 || days < 1 || days > 3650)
        return Bad(reply, QStringLiteral("count: 1 to 200000, days: 1 to 3650"));
    if (!Demo::Generate(store, *shop, count, days))
        return Bad(reply, QStringLiteral("the orders could not be stored"), 500);
    QJsonObject info;
    info.insert(QStringLiteral("created"), count);
    return Ok(reply, info);
}

int Admin::SetCash(const QJsonObject& request, QJsonObject* reply)
{
    const std::optional<qint64> shop = ShopOf(request);
    if (!shop)
        return Bad(reply, QStringLiteral("no such shop"));
    std::optional<qint64> balance;
    std::optional<qint64> total;
    QString error;
    for (const auto& field : {std::make_pair(QStringLiteral("yuer"), &balance),
                              std::make_pair(QStringLiteral("allcash"), &total)}) {
        if (!request.contains(field.first))
            continue;
        qint64 cents = 0;
        if (!ReadMoney(request, field.first, true, &cents, &error))
            return Bad(reply, error);
        *field.second = cents;
    }
    if (!balance && !total)
        return Bad(reply, QStringLiteral("give yuer and/or allcash as numbers"));
    if (!store.SetCash(*shop, balance, total))
        return Bad(reply, QStringLiteral("the cash could not be changed"), 500);
    const std::optional<Shop> changed = store.ShopById(*shop);
    QJsonObject info;
    info.insert(QStringLiteral("yuer"), Yuan(changed ? changed->balanceCents : 0));
    info.insert(QStringLiteral("allcash"), Yuan(changed ? changed->totalCents : 0));
    return Ok(reply, info);
}

int Admin::AddIncome(const QJsonObject& request, QJsonObject* reply)
{
    const std::optional<qint64> shop = ShopOf(request);
    if (!shop)
        return Bad(reply, QStringLiteral("no such shop"));
    if (!request.value(QStringLiteral("order_id")).isDouble() ||
        !request.value(QStringLiteral("addcash")).isDouble())
        return Bad(reply, QStringLiteral("order_id and addcash are required numbers"));
    Income income;
    QString error;
    if (!ReadId(request, QStringLiteral("order_id"), &income.orderId, &error) ||
        !ReadMoney(request, QStringLiteral("addcash"), true, &income.addCashCents, &error))
        return Bad(reply, error);
    income.amountCents = income.addCashCents;
    if (request.contains(QStringLiteral("amount")) &&
        !ReadMoney(request, QStringLiteral("amount"), true, &income.amountCents, &error))
        return Bad(reply, error);
    income.ctime = Now();
    if (request.contains(QStringLiteral("ctime")) &&
        !ReadTime(request, QStringLiteral("ctime"), &income.ctime, &error))
        return Bad(reply, error);
    const bool addToCash = request.value(QStringLiteral("add_to_cash")).toBool(true);
    if (!store.AddIncome(*shop, income, addToCash))
        return Bad(reply, QStringLiteral("the income could not be stored"), 500);
    return Ok(reply, QStringLiteral("income added"));
}

int Admin::ClearIncome(const QJsonObject& request, QJsonObject* reply)
{
    const std::optional<qint64> shop = ShopOf(request);
    if (!shop)
        return Bad(reply, QStringLiteral("no such shop"));
    if (!store.ClearIncome(*shop))
        return Bad(reply, QStringLiteral("the income could not be cleared"), 500);
    return Ok(reply, QStringLiteral("income cleared"));
}

int Admin::SetFault(const QJsonObject& request, QJsonObject* reply)
{
    const QString endpoint = request.value(QStringLiteral("endpoint")).toString();
    if (!Api::IsEndpoint(endpoint) && endpoint != QLatin1String("*") && endpoint != QLatin1String("img") &&
        endpoint != QLatin1String("download"))
        return Bad(reply, QStringLiteral("endpoint: an API endpoint name, \"*\", \"img\" or \"download\""));
    const std::optional<Fault::Kind> kind =
        Fault::KindFromName(request.value(QStringLiteral("kind")).toString());
    if (!kind)
        return Bad(reply, QStringLiteral("kind: delay, hang, http500, notjson, array, refuse or close"));
    Fault fault;
    fault.kind = *kind;
    fault.text = request.value(QStringLiteral("text")).toString(QStringLiteral("服务器繁忙，请稍后再试"));
    qint64 ms = 1000;
    qint64 times = 0;
    if ((request.contains(QStringLiteral("ms")) &&
         !ReadWhole(request.value(QStringLiteral("ms")), 0, Faults::MaxHoldMs, &ms)) ||
        (request.contains(QStringLiteral("times")) &&
         !ReadWhole(request.value(QStringLiteral("times")), 0, 1000000, &times)))
        return Bad(reply,
                   QStringLiteral("ms: 0 to %1, times: 0 (until cleared) to 1000000").arg(Faults::MaxHoldMs));
    fault.ms = static_cast<int>(ms);
    fault.remaining = static_cast<int>(times);
    if (fault.text.size() > MaxTextLength)
        return Bad(reply, QStringLiteral("text: at most %1 characters").arg(MaxTextLength));
    faults.Set(endpoint, fault);
    return Ok(reply, faults.List());
}

int Admin::ClearFaults(const QString& endpoint, QJsonObject* reply)
{
    faults.Clear(endpoint);
    return Ok(reply, faults.List());
}

int Admin::SetOffer(const QJsonObject& request, QJsonObject* reply)
{
    static const QRegularExpression version(QStringLiteral("^[0-9A-Za-z][0-9A-Za-z._-]{0,40}$"));
    const QString build = request.value(QStringLiteral("build")).toString();
    if (!version.match(build).hasMatch())
        return Bad(reply, QStringLiteral("build: a version such as 1.0.7.0"));
    settings.SetOfferVersion(build);
    return Ok(reply, build);
}

int Admin::ExpireSessions(const QJsonObject& request, QJsonObject* reply)
{
    qint64 staff = 0;
    if (request.contains(QStringLiteral("id")) &&
        !ReadWhole(request.value(QStringLiteral("id")), 1, INT_MAX, &staff))
        return Bad(reply, QStringLiteral("id: a staff member's number"));
    if (!store.ExpireSessions(static_cast<int>(staff)))
        return Bad(reply, QStringLiteral("the sessions could not be expired"), 500);
    return Ok(reply, QStringLiteral("sessions expired"));
}

} // namespace Velm
