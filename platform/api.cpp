#include "api.h"

#include "assets.h"

#include <QJsonArray>

#include <functional>
#include <limits>

namespace Velm {

namespace {

const char* const Endpoints[] = {
    "LoginMd5",       "UpdateSoftware", "StaffOrderList",   "UpdateStaffOrderList",
    "PayFinishOrder", "StaffOrder2",    "StaffFinishOrder", "StaffReply",
    "ToFinishOrder",  "AddShopCash",    "CashUpdate",       "UserInfo"};

const int MaxReplyLength = 500;

QString InternalError()
{
    return QStringLiteral("服务器内部错误，请稍后重试");
}

QJsonValue TimeValue(qint64 secs)
{
    return secs > 0 ? QJsonValue(FormatTime(secs)) : QJsonValue(QJsonValue::Null);
}

// One entry of an order list, its keys in the order QJsonObject would write them.
void WriteListEntry(JsonText& json, const ListedOrder& order)
{
    const auto time = [&json](const char* key, qint64 secs) {
        json.Raw(key);
        char text[TimeTextSize];
        const int length = secs > 0 ? FormatTime(secs, text) : -1;
        if (length < 0) {
            json.Null();
        } else {
            json.bytes.append('"');
            json.bytes.append(text, length);
            json.bytes.append('"');
        }
    };
    json.Raw("{\"amount\":").Number(Yuan(order.amountCents));
    time(",\"ctime\":", order.ctime);
    time(",\"ertime\":", order.ertime);
    json.Raw(",\"id\":").Integer(order.id);
    json.Raw(",\"member\":").String(order.member);
    time(",\"ptime\":", order.ptime);
    json.Raw(",\"status\":").Integer(order.status);
    time(",\"stime\":", order.stime);
    json.Raw("}");
}

// The list of orders `read` hands over as "commos"; `rest` follows it inside "info" (keys after
// "commos"). Null when the read failed.
QByteArray ListReply(const std::function<bool(const ListVisitor&)>& query,
                     const std::function<void(JsonText&)>& rest = nullptr)
{
    JsonText json;
    json.Raw("{\"info\":{\"commos\":[");
    bool first = true;
    const bool read = query([&](const ListedOrder& order) {
        if (!first)
            json.bytes.append(',');
        first = false;
        WriteListEntry(json, order);
    });
    if (!read)
        return QByteArray();
    json.Raw("]");
    if (rest)
        rest(json);
    json.Raw("},\"status\":1}");
    return json.bytes;
}

// Reads the order number field; on failure *error holds the reply.
bool ReadOrderId(const Form& form, qint64* id, QJsonObject* error)
{
    const QString text = form.value(QStringLiteral("oid")).trimmed();
    if (text.isEmpty()) {
        *error = Failure(QStringLiteral("缺少订单号"));
        return false;
    }
    bool ok = false;
    *id = text.toLongLong(&ok);
    if (!ok || *id <= 0) {
        *error = Failure(QStringLiteral("订单号格式错误：") + text.left(40));
        return false;
    }
    return true;
}

bool ReadTime(const Form& form, const QString& field, qint64* time, QJsonObject* error)
{
    if (!form.contains(field)) {
        *error = Failure(QStringLiteral("缺少时间参数 ") + field);
        return false;
    }
    if (!ParseTime(form.value(field), time)) {
        *error = Failure(QStringLiteral("时间格式错误，应为 yyyy-MM-dd hh:mm:ss"));
        return false;
    }
    return true;
}

} // namespace

QString Settings::OfferVersion() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return offer;
}

void Settings::SetOfferVersion(const QString& version)
{
    std::lock_guard<std::mutex> lock(mutex);
    offer = version;
}

QJsonObject Success(const QJsonValue& info)
{
    QJsonObject reply;
    reply.insert(QStringLiteral("status"), 1);
    reply.insert(QStringLiteral("info"), info);
    return reply;
}

QJsonObject Failure(const QString& text, int status)
{
    QJsonObject reply;
    reply.insert(QStringLiteral("status"), status);
    reply.insert(QStringLiteral("info"), text);
    return reply;
}

bool Api::IsEndpoint(const QString& name)
{
    for (const char* endpoint : Endpoints) {
        if (name == QLatin1String(endpoint))
            return true;
    }
    return false;
}

QString Api::Url(const QString& pathOrUrl, const QString& urlBase)
{
    return pathOrUrl.startsWith(QLatin1Char('/')) ? urlBase + pathOrUrl : pathOrUrl;
}

QByteArray Api::Call(const QString& endpoint, const Form& form, const QString& urlBase, int* httpStatus)
{
    *httpStatus = 200;
    if (!IsEndpoint(endpoint)) {
        *httpStatus = 404;
        return JsonBytes(Failure(QStringLiteral("接口不存在：") + endpoint.left(60)));
    }
    if (endpoint == QLatin1String("LoginMd5"))
        return JsonBytes(Login(form, urlBase));
    if (endpoint == QLatin1String("UpdateSoftware"))
        return JsonBytes(UpdateSoftware(urlBase));

    // Every other call belongs to a logged-in staff member: id, key and token must match a login.
    bool idOk = false;
    const int id = form.value(QStringLiteral("id")).trimmed().toInt(&idOk);
    const QString key = form.value(QStringLiteral("key"));
    const QString token = form.value(QStringLiteral("token"));
    std::optional<Staff> staff;
    if (idOk && !key.isEmpty() && !token.isEmpty())
        staff = store.StaffBySession(id, key, token);
    if (!staff)
        return JsonBytes(Failure(QStringLiteral("登录已过期，请重新登录！")));

    if (endpoint == QLatin1String("StaffOrderList"))
        return OrderList(*staff, form);
    if (endpoint == QLatin1String("UpdateStaffOrderList"))
        return NewOrders(*staff, form);
    if (endpoint == QLatin1String("PayFinishOrder"))
        return JsonBytes(PayFinish(*staff, form));
    if (endpoint == QLatin1String("StaffOrder2"))
        return JsonBytes(Detail(*staff, form, urlBase));
    if (endpoint == QLatin1String("StaffFinishOrder"))
        return JsonBytes(Finish(*staff, form));
    if (endpoint == QLatin1String("StaffReply"))
        return JsonBytes(Reply(*staff, form));
    if (endpoint == QLatin1String("ToFinishOrder"))
        return JsonBytes(Confirm(*staff, form));
    if (endpoint == QLatin1String("AddShopCash"))
        return JsonBytes(IncomeList(*staff, form));
    if (endpoint == QLatin1String("CashUpdate"))
        return JsonBytes(Cash(*staff));
    return JsonBytes(Profile(*staff, urlBase));
}

QJsonObject Api::Login(const Form& form, const QString& urlBase)
{
    const QString account = form.value(QStringLiteral("account")).trimmed();
    const QString pass = form.value(QStringLiteral("pass")).trimmed();
    if (account.isEmpty() || pass.isEmpty())
        return Failure(QStringLiteral("请输入账号和密码"));
    bool ok = false;
    const qint64 number = account.toLongLong(&ok);
    std::optional<Staff> staff;
    if (ok)
        staff = store.CheckLogin(number, pass);
    if (!staff)
        return Failure(QStringLiteral("账号或密码错误"));
    const std::optional<Session> session = store.NewSession(staff->id);
    if (!session)
        return Failure(InternalError());
    QJsonObject info;
    info.insert(QStringLiteral("id"), staff->id);
    info.insert(QStringLiteral("key"), session->key);
    info.insert(QStringLiteral("token"), session->token);
    info.insert(QStringLiteral("nickname"), staff->nickname);
    info.insert(QStringLiteral("face"), Url(staff->face, urlBase));
    info.insert(QStringLiteral("sex"), staff->sex ? 1 : 0);
    return Success(info);
}

QJsonObject Api::UpdateSoftware(const QString& urlBase)
{
    const QString build = settings.OfferVersion();
    QJsonObject info;
    info.insert(QStringLiteral("build"), build);
    const QString url = urlBase + QStringLiteral("/download/") + Assets::InstallerFileName(build);
    info.insert(QStringLiteral("url"), url);
    // The platform's reply is build and address; its digest is an extra the server may be asked
    // for, and a client that gets one refuses an installer whose SHA-256 differs.
    if (settings.updateDigest)
        info.insert(QStringLiteral("sha256"), Assets::InstallerSha256(build));
    return Success(info);
}

QByteArray Api::OrderList(const Staff& staff, const Form& form)
{
    int pager = 1;
    if (form.contains(QStringLiteral("pager"))) {
        bool ok = false;
        pager = form.value(QStringLiteral("pager")).trimmed().toInt(&ok);
        if (!ok || pager < 1)
            return JsonBytes(Failure(QStringLiteral("页码错误")));
    }
    const std::optional<Shop> shop = store.ShopById(staff.shopId);
    const QByteArray reply =
        !shop ? QByteArray()
              : ListReply(
                    [&](const ListVisitor& visit) {
                        return store.OrderPage(staff.shopId, pager, settings.pageSize, visit);
                    },
                    [&](JsonText& json) {
                        json.Raw(",\"shop_catid\":").Integer(shop->catId);
                        json.Raw(",\"shop_id\":").Integer(shop->id);
                        json.Raw(",\"shop_name\":").String(shop->name);
                    });
    return reply.isNull() ? JsonBytes(Failure(InternalError())) : reply;
}

QByteArray Api::NewOrders(const Staff& staff, const Form& form)
{
    qint64 time = 0;
    QJsonObject error;
    if (!ReadTime(form, QStringLiteral("time"), &time, &error))
        return JsonBytes(error);
    const QByteArray reply = ListReply([&](const ListVisitor& visit) {
        return store.OrdersCreatedSince(staff.shopId, time, settings.pageSize, visit);
    });
    return reply.isNull() ? JsonBytes(Failure(InternalError())) : reply;
}

QJsonObject Api::PayFinish(const Staff& staff, const Form& form)
{
    qint64 ertime = 0;
    QJsonObject error;
    if (!ReadTime(form, QStringLiteral("ertime"), &ertime, &error))
        return error;
    QVector<Order> orders;
    const qint64 after = settings.inclusiveErtime ? ertime - 1 : ertime;
    if (!store.OrdersUpdatedAfter(staff.shopId, after, settings.pageSize, &orders))
        return Failure(InternalError());
    QJsonArray commos;
    for (const Order& order : orders) {
        QJsonObject entry;
        entry.insert(QStringLiteral("id"), order.id);
        entry.insert(QStringLiteral("status"), order.status);
        entry.insert(QStringLiteral("stime"), TimeValue(order.stime));
        entry.insert(QStringLiteral("ptime"), TimeValue(order.ptime));
        entry.insert(QStringLiteral("ertime"), TimeValue(order.ertime));
        commos.append(entry);
    }
    QJsonObject info;
    info.insert(QStringLiteral("commos"), commos);
    return Success(info);
}

QJsonObject Api::OrderDetail(const Order& order, const QString& urlBase)
{
    QJsonArray out;
    QJsonArray commo;
    for (const Item& item : order.items) {
        QJsonObject entry;
        entry.insert(QStringLiteral("pics"), Url(item.pics, urlBase));
        entry.insert(QStringLiteral("name"), item.name);
        entry.insert(QStringLiteral("num"), item.num);
        entry.insert(QStringLiteral("price"), Yuan(item.priceCents));
        entry.insert(QStringLiteral("total"), Yuan(item.totalCents));
        (item.takeout ? out : commo).append(entry);
    }
    QJsonObject info;
    info.insert(QStringLiteral("id"), order.id);
    info.insert(QStringLiteral("status"), order.status);
    info.insert(QStringLiteral("ctime"), TimeValue(order.ctime));
    info.insert(QStringLiteral("ptime"), TimeValue(order.ptime));
    info.insert(QStringLiteral("stime"), TimeValue(order.stime));
    info.insert(QStringLiteral("amount"), Yuan(order.amountCents));
    info.insert(QStringLiteral("taker"), order.taker);
    info.insert(QStringLiteral("address"), order.address);
    info.insert(QStringLiteral("tel"), order.tel);
    info.insert(QStringLiteral("message"), order.message);
    info.insert(QStringLiteral("prepare_type"), order.prepareType);
    info.insert(QStringLiteral("content"), order.content);
    info.insert(QStringLiteral("out"), out);
    info.insert(QStringLiteral("commo"), commo);
    return info;
}

QJsonObject Api::Detail(const Staff& staff, const Form& form, const QString& urlBase)
{
    qint64 id = 0;
    QJsonObject error;
    if (!ReadOrderId(form, &id, &error))
        return error;
    bool failed = false;
    const std::optional<Order> order = store.OrderById(staff.shopId, id, &failed);
    if (failed)
        return Failure(InternalError());
    if (!order)
        return Failure(QStringLiteral("订单不存在：%1").arg(id));
    return Success(OrderDetail(*order, urlBase));
}

QJsonObject Api::Finish(const Staff& staff, const Form& form)
{
    qint64 id = 0;
    QJsonObject error;
    if (!ReadOrderId(form, &id, &error))
        return error;
    const QString password = form.value(QStringLiteral("pass")).trimmed();
    if (password.isEmpty())
        return Failure(QStringLiteral("请输入订单密码"));
    // Every login has a key and token of its own.
    const QString session =
        form.value(QStringLiteral("key")) + QLatin1Char('/') + form.value(QStringLiteral("token"));
    if (const std::optional<QString> refusal = codeGuard.Begin(id, session))
        return Failure(*refusal);
    int current = 0;
    const FinishResult result = store.FinishOrder(staff.shopId, id, password, &current);
    codeGuard.Settle(id, session, result == FinishResult::WrongPassword, result == FinishResult::Done);
    switch (result) {
    case FinishResult::Done:
        return Success(QStringLiteral("服务已结束"));
    case FinishResult::NoOrder:
        return Failure(QStringLiteral("订单不存在：%1").arg(id));
    case FinishResult::WrongPassword:
        return Failure(QStringLiteral("订单密码错误，请向买家核对"));
    case FinishResult::NotPaid:
        return Failure(QStringLiteral("订单状态为“%1”，不能结束服务").arg(StatusName(current)));
    case FinishResult::Failed:
        break;
    }
    return Failure(InternalError());
}

QJsonObject Api::Reply(const Staff& staff, const Form& form)
{
    qint64 id = 0;
    QJsonObject error;
    if (!ReadOrderId(form, &id, &error))
        return error;
    const QString text = form.value(QStringLiteral("replay")).trimmed();
    if (text.isEmpty())
        return Failure(QStringLiteral("回复内容不能为空"));
    if (text.size() > MaxReplyLength)
        return Failure(QStringLiteral("回复内容不能超过%1个字").arg(MaxReplyLength));
    switch (store.ReplyToReview(staff.shopId, id, text)) {
    case ReplyResult::Done:
        return Success(QStringLiteral("回复成功"));
    case ReplyResult::NoOrder:
        return Failure(QStringLiteral("订单不存在：%1").arg(id));
    case ReplyResult::NotReviewed:
        return Failure(QStringLiteral("只有已评价的订单可以回复"));
    case ReplyResult::Failed:
        break;
    }
    return Failure(InternalError());
}

QJsonObject Api::Confirm(const Staff& staff, const Form& form)
{
    qint64 id = 0;
    QJsonObject error;
    if (!ReadOrderId(form, &id, &error))
        return error;
    int current = 0;
    switch (store.ConfirmOrder(staff.shopId, id, &current)) {
    case ConfirmResult::Done:
        return Success(QStringLiteral("确认成功"));
    case ConfirmResult::AlreadyMoved:
        // The order went on meanwhile: "info" names the status it has now.
        return Failure(QString::number(current), 3);
    case ConfirmResult::NothingToConfirm:
        return Failure(QStringLiteral("该订单没有待确认的服务"), 2);
    case ConfirmResult::NotPaid:
        return Failure(QStringLiteral("订单尚未付款，不能确认"));
    case ConfirmResult::NoOrder:
        return Failure(QStringLiteral("订单不存在：%1").arg(id));
    case ConfirmResult::Failed:
        break;
    }
    return Failure(InternalError());
}

QJsonObject Api::IncomeList(const Staff& staff, const Form& form)
{
    const QString way = form.value(QStringLiteral("way")).trimmed();
    const qint64 now = Now();
    qint64 since = 0;
    if (way == QLatin1String("day"))
        since = StartOfDay(now);
    else if (way == QLatin1String("week"))
        since = StartOfDay(now, 6);
    else if (way == QLatin1String("mon"))
        since = StartOfMonth(now);
    else if (way == QLatin1String("all"))
        since = std::numeric_limits<qint64>::min();
    else
        return Failure(QStringLiteral("统计周期错误，应为 day、week、mon 或 all"));
    QVector<Income> entries;
    if (!store.IncomeSince(staff.shopId, since, &entries))
        return Failure(InternalError());
    QJsonArray list;
    for (const Income& income : entries) {
        QJsonObject entry;
        entry.insert(QStringLiteral("order_id"), income.orderId);
        entry.insert(QStringLiteral("amount"), Yuan(income.amountCents));
        entry.insert(QStringLiteral("addcash"), Yuan(income.addCashCents));
        entry.insert(QStringLiteral("ctime"), TimeValue(income.ctime));
        list.append(entry);
    }
    return Success(list);
}

QJsonObject Api::Cash(const Staff& staff)
{
    const std::optional<Shop> shop = store.ShopById(staff.shopId);
    if (!shop)
        return Failure(InternalError());
    QJsonObject info;
    info.insert(QStringLiteral("yuer"), Yuan(shop->balanceCents));
    info.insert(QStringLiteral("allcash"), Yuan(shop->totalCents));
    return Success(info);
}

QJsonObject Api::Profile(const Staff& staff, const QString& urlBase)
{
    const std::optional<Shop> shop = store.ShopById(staff.shopId);
    if (!shop)
        return Failure(InternalError());
    QJsonObject info;
    info.insert(QStringLiteral("payment"), staff.payment);
    info.insert(QStringLiteral("id"), staff.id);
    info.insert(QStringLiteral("name"), staff.account);
    info.insert(QStringLiteral("yuer"), Yuan(shop->balanceCents));
    info.insert(QStringLiteral("mainame"), staff.realName);
    info.insert(QStringLiteral("maidianhua"), staff.phone);
    info.insert(QStringLiteral("maiqq"), staff.qq);
    info.insert(QStringLiteral("maicode"), staff.code);
    info.insert(QStringLiteral("payment_code"), staff.paymentCode);
    info.insert(QStringLiteral("face"), Url(staff.face, urlBase));
    info.insert(QStringLiteral("sex"), staff.sex ? 1 : 0);
    info.insert(QStringLiteral("nickname"), staff.nickname);
    info.insert(QStringLiteral("ctime"), TimeValue(staff.ctime));
    return Success(info);
}

} // namespace Velm
