#include "store.h"

#include "util.h"

#include <QCryptographicHash>
#include <QDate>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <algorithm>
#include <atomic>

namespace Velm {

namespace {

std::atomic<int> nextStoreSerial{1};
std::atomic<int> nextThreadNumber{1};
// Numbered once per thread, never reused, so a connection can never be picked up by a thread
// that merely inherited a dead thread's id.
thread_local const int threadNumber = nextThreadNumber++;

const char* const OrderColumns =
    "id, shop_id, member, amount, status, ctime, ptime, stime, ertime, password, "
    "taker, address, tel, message, prepare_type, content, reply, confirm_requested";
// What the order lists show (ListedOrder).
const char* const ListColumns = "id, member, amount, status, ctime, ptime, stime, ertime";
const char* const StaffColumns =
    "staff.id, account, shop_id, nickname, face, sex, real_name, phone, qq, code, "
    "payment, payment_code, staff.ctime";

const char* const Schema[] = {
    "CREATE TABLE IF NOT EXISTS shops(id INTEGER PRIMARY KEY, name TEXT NOT NULL, catid INTEGER NOT NULL, "
    "balance INTEGER NOT NULL DEFAULT 0, total INTEGER NOT NULL DEFAULT 0)",
    "CREATE TABLE IF NOT EXISTS staff(id INTEGER PRIMARY KEY, account INTEGER NOT NULL UNIQUE, salt TEXT NOT "
    "NULL, "
    "pass_hash TEXT NOT NULL, shop_id INTEGER NOT NULL, nickname TEXT, face TEXT, sex INTEGER NOT NULL "
    "DEFAULT 0, "
    "real_name TEXT, phone TEXT, qq TEXT, code TEXT, payment TEXT, payment_code TEXT, ctime INTEGER NOT "
    "NULL)",
    "CREATE TABLE IF NOT EXISTS sessions(staff_id INTEGER NOT NULL, key TEXT NOT NULL, token TEXT NOT NULL, "
    "ctime INTEGER NOT NULL, PRIMARY KEY(staff_id, key, token))",
    "CREATE TABLE IF NOT EXISTS orders(id INTEGER PRIMARY KEY, shop_id INTEGER NOT NULL, member TEXT, "
    "amount INTEGER NOT NULL, status INTEGER NOT NULL, ctime INTEGER NOT NULL, ptime INTEGER, stime INTEGER, "
    "ertime INTEGER NOT NULL, password TEXT NOT NULL, taker TEXT, address TEXT, tel TEXT, message TEXT, "
    "prepare_type INTEGER NOT NULL DEFAULT 0, content TEXT, reply TEXT, "
    "confirm_requested INTEGER NOT NULL DEFAULT 0)",
    "CREATE INDEX IF NOT EXISTS orders_by_ctime ON orders(shop_id, ctime)",
    "CREATE INDEX IF NOT EXISTS orders_by_ertime ON orders(shop_id, ertime)",
    "CREATE TABLE IF NOT EXISTS items(order_id INTEGER NOT NULL, pos INTEGER NOT NULL, takeout INTEGER NOT "
    "NULL, "
    "name TEXT, pics TEXT, num INTEGER NOT NULL, price INTEGER NOT NULL, total INTEGER NOT NULL, "
    "PRIMARY KEY(order_id, pos))",
    "CREATE TABLE IF NOT EXISTS income(id INTEGER PRIMARY KEY AUTOINCREMENT, shop_id INTEGER NOT NULL, "
    "order_id INTEGER NOT NULL, amount INTEGER NOT NULL, addcash INTEGER NOT NULL, ctime INTEGER NOT NULL)",
    "CREATE INDEX IF NOT EXISTS income_by_ctime ON income(shop_id, ctime)",
};

bool Exec(QSqlQuery& query)
{
    if (query.exec())
        return true;
    qWarning("velm-platform: database: %s (%s)", qUtf8Printable(query.lastError().text()),
             qUtf8Printable(query.lastQuery()));
    return false;
}

bool Exec(QSqlDatabase& db, const QString& sql)
{
    QSqlQuery query(db);
    query.prepare(sql);
    return Exec(query);
}

QVariant TimeOrNull(qint64 secs)
{
    return secs > 0 ? QVariant(secs) : QVariant(QVariant::LongLong);
}

Order ReadOrderRow(const QSqlQuery& q)
{
    Order order;
    order.id = q.value(0).toLongLong();
    order.shopId = q.value(1).toLongLong();
    order.member = q.value(2).toString();
    order.amountCents = q.value(3).toLongLong();
    order.status = q.value(4).toInt();
    order.ctime = q.value(5).toLongLong();
    order.ptime = q.value(6).toLongLong();
    order.stime = q.value(7).toLongLong();
    order.ertime = q.value(8).toLongLong();
    order.password = q.value(9).toString();
    order.taker = q.value(10).toString();
    order.address = q.value(11).toString();
    order.tel = q.value(12).toString();
    order.message = q.value(13).toString();
    order.prepareType = q.value(14).toBool();
    order.content = q.value(15).toString();
    order.reply = q.value(16).toString();
    order.confirmRequested = q.value(17).toBool();
    return order;
}

Staff ReadStaffRow(const QSqlQuery& q, int first)
{
    Staff staff;
    staff.id = q.value(first).toInt();
    staff.account = q.value(first + 1).toLongLong();
    staff.shopId = q.value(first + 2).toLongLong();
    staff.nickname = q.value(first + 3).toString();
    staff.face = q.value(first + 4).toString();
    staff.sex = q.value(first + 5).toBool();
    staff.realName = q.value(first + 6).toString();
    staff.phone = q.value(first + 7).toString();
    staff.qq = q.value(first + 8).toString();
    staff.code = q.value(first + 9).toString();
    staff.payment = q.value(first + 10).toString();
    staff.paymentCode = q.value(first + 11).toString();
    staff.ctime = q.value(first + 12).toLongLong();
    return staff;
}

QString PasswordHash(const QString& salt, const QString& passwordMd5)
{
    const QByteArray bytes = (salt + passwordMd5.trimmed().toLower()).toUtf8();
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

// Order numbers read like the platform's: the creation day (yyMMdd) followed by a five-digit
// number of the day. They are all above 2^32.
qint64 DayBase(qint64 ctime)
{
    const QDate day = QDateTime::fromSecsSinceEpoch(ctime).date();
    return static_cast<qint64>((day.year() % 100) * 10000 + day.month() * 100 + day.day()) * 100000;
}

} // namespace

Store::Store(const QString& path) : filePath(path), serial(nextStoreSerial++) {}

Store::~Store()
{
    QStringList names;
    {
        std::lock_guard<std::mutex> lock(connectionsMutex);
        names.swap(connections);
    }
    for (const QString& name : names)
        QSqlDatabase::removeDatabase(name);
}

bool Store::Open(QString* error)
{
    if (filePath == QLatin1String(":memory:")) {
        // Every thread has its own connection, and an in-memory SQLite database is private to its
        // connection; a file in a directory that goes away with the process is the throw-away
        // database that all of them can share.
        scratchDir = std::make_unique<QTemporaryDir>();
        if (!scratchDir->isValid()) {
            *error = QStringLiteral("cannot create a temporary directory: ") + scratchDir->errorString();
            return false;
        }
        filePath = scratchDir->filePath(QStringLiteral("platform.sqlite"));
    } else {
        const QFileInfo info(filePath);
        if (!QDir().mkpath(info.absolutePath())) {
            *error = QStringLiteral("cannot create the folder ") + info.absolutePath();
            return false;
        }
    }
    QSqlDatabase db = Db();
    if (!db.isOpen()) {
        *error = QStringLiteral("cannot open ") + filePath + QStringLiteral(": ") + db.lastError().text();
        return false;
    }
    QSqlQuery wal(db);
    if (!wal.exec(QStringLiteral("PRAGMA journal_mode=WAL")) || !wal.next() ||
        wal.value(0).toString().compare(QLatin1String("wal"), Qt::CaseInsensitive) != 0) {
        *error = QStringLiteral("cannot switch ") + filePath + QStringLiteral(" to WAL mode");
        return false;
    }
    if (!CreateSchema(db)) {
        *error = QStringLiteral("cannot create the tables in ") + filePath;
        return false;
    }
    // A stamp no reply can show (written before times were checked) must not become the one
    // every later change is measured against.
    QSqlQuery stamp(db);
    stamp.prepare(QStringLiteral("SELECT MAX(ertime) FROM orders WHERE ertime <= ?"));
    stamp.addBindValue(MaxTime);
    if (!Exec(stamp) || !stamp.next()) {
        *error = QStringLiteral("cannot read ") + filePath;
        return false;
    }
    lastStamp = stamp.value(0).toLongLong();
    return true;
}

bool Store::CreateSchema(QSqlDatabase& db)
{
    for (const char* statement : Schema) {
        if (!Exec(db, QString::fromLatin1(statement)))
            return false;
    }
    return true;
}

QString Store::ConnectionName() const
{
    return QStringLiteral("velm-%1-%2").arg(serial).arg(threadNumber);
}

void Store::ReleaseThreadConnection()
{
    const QString name = ConnectionName();
    {
        std::lock_guard<std::mutex> lock(connectionsMutex);
        if (!connections.removeOne(name))
            return;
    }
    QSqlDatabase::removeDatabase(name);
}

QSqlDatabase Store::Db()
{
    const QString name = ConnectionName();
    if (QSqlDatabase::contains(name))
        return QSqlDatabase::database(name);
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
    {
        std::lock_guard<std::mutex> lock(connectionsMutex);
        connections.append(name);
    }
    db.setDatabaseName(filePath);
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=10000"));
    if (!db.open()) {
        qWarning("velm-platform: cannot open %s: %s", qUtf8Printable(filePath),
                 qUtf8Printable(db.lastError().text()));
        return db;
    }
    // In WAL mode NORMAL still keeps every committed transaction when the process is killed; only
    // a power cut may lose the last ones.
    Exec(db, QStringLiteral("PRAGMA synchronous=NORMAL"));
    return db;
}

bool Store::Write(const std::function<bool(QSqlDatabase&)>& work)
{
    std::lock_guard<std::mutex> lock(writeMutex);
    QSqlDatabase db = Db();
    if (!db.isOpen())
        return false;
    if (!db.transaction()) {
        qWarning("velm-platform: database: cannot begin: %s", qUtf8Printable(db.lastError().text()));
        return false;
    }
    noted.clear();
    if (!work(db)) {
        db.rollback();
        noted.clear();
        return false;
    }
    if (!db.commit()) {
        qWarning("velm-platform: database: cannot commit: %s", qUtf8Printable(db.lastError().text()));
        db.rollback();
        noted.clear();
        return false;
    }
    if (!noted.isEmpty()) {
        std::lock_guard<std::mutex> eventsLock(eventsMutex);
        for (OrderEvent& event : noted) {
            event.seq = ++lastEventSeq;
            events.append(event);
        }
        if (events.size() > MaxEvents)
            events.remove(0, events.size() - MaxEvents);
        noted.clear();
    }
    return true;
}

void Store::Note(const Order& order, const char* kind, int previous, bool request)
{
    // A bulk creation (bench orders) keeps only as many as the log would.
    if (noted.size() >= 2 * MaxEvents)
        noted.remove(0, MaxEvents);
    OrderEvent event;
    // Taken before the commit: no reply can tell of the change before this time.
    event.atMsecs = QDateTime::currentMSecsSinceEpoch();
    event.id = order.id;
    event.kind = QLatin1String(kind);
    event.status = order.status;
    event.previous = previous;
    event.ertime = order.ertime;
    event.request = request;
    noted.append(event);
}

QVector<OrderEvent> Store::Events(qint64 after)
{
    std::lock_guard<std::mutex> lock(eventsMutex);
    QVector<OrderEvent> found;
    for (const OrderEvent& event : qAsConst(events))
        if (event.seq > after)
            found.append(event);
    return found;
}

qint64 Store::NextStamp(qint64 ctime)
{
    // The client asks for "changes after the newest stamp I have seen", one-second resolution.
    // Two changes in the same second would let a poll in between see the first and skip the
    // second for good, so every change gets a stamp of its own, later than any stamp before and
    // later than the order's creation (a stamp equal to ctime means "never changed").
    lastStamp = std::max(Now(), lastStamp + 1);
    if (IsWireTime(ctime))
        lastStamp = std::max(lastStamp, ctime + 1);
    return lastStamp;
}

bool Store::Reset()
{
    return Write([this](QSqlDatabase& db) {
        for (const char* table : {"shops", "staff", "sessions", "orders", "items", "income"}) {
            if (!Exec(db, QStringLiteral("DELETE FROM ") + QLatin1String(table)))
                return false;
        }
        lastStamp = 0;
        return true;
    });
}

bool Store::IsEmpty()
{
    QSqlDatabase db = Db();
    QSqlQuery q(db);
    q.prepare(QStringLiteral("SELECT (SELECT COUNT(*) FROM shops) + (SELECT COUNT(*) FROM staff) + "
                             "(SELECT COUNT(*) FROM orders)"));
    return Exec(q) && q.next() && q.value(0).toLongLong() == 0;
}

std::optional<Shop> Store::FirstShop()
{
    QSqlDatabase db = Db();
    QSqlQuery q(db);
    q.prepare(QStringLiteral("SELECT id FROM shops ORDER BY id LIMIT 1"));
    if (!Exec(q) || !q.next())
        return std::nullopt;
    return ShopById(q.value(0).toLongLong());
}

std::optional<Shop> Store::ShopById(qint64 id)
{
    QSqlDatabase db = Db();
    QSqlQuery q(db);
    q.prepare(QStringLiteral("SELECT id, name, catid, balance, total FROM shops WHERE id = ?"));
    q.addBindValue(id);
    if (!Exec(q) || !q.next())
        return std::nullopt;
    Shop shop;
    shop.id = q.value(0).toLongLong();
    shop.name = q.value(1).toString();
    shop.catId = q.value(2).toInt();
    shop.balanceCents = q.value(3).toLongLong();
    shop.totalCents = q.value(4).toLongLong();
    return shop;
}

bool Store::AddShop(const Shop& shop)
{
    return Write([&](QSqlDatabase& db) {
        QSqlQuery q(db);
        q.prepare(QStringLiteral("INSERT INTO shops(id, name, catid, balance, total) VALUES(?, ?, ?, ?, ?)"));
        q.addBindValue(shop.id);
        q.addBindValue(shop.name);
        q.addBindValue(shop.catId);
        q.addBindValue(shop.balanceCents);
        q.addBindValue(shop.totalCents);
        return Exec(q);
    });
}

bool Store::SetCash(qint64 shopId, std::optional<qint64> balanceCents, std::optional<qint64> totalCents)
{
    return Write([&](QSqlDatabase& db) {
        QSqlQuery q(db);
        q.prepare(
            QStringLiteral("UPDATE shops SET balance = COALESCE(?, balance), total = COALESCE(?, total) "
                           "WHERE id = ?"));
        q.addBindValue(balanceCents ? QVariant(*balanceCents) : QVariant(QVariant::LongLong));
        q.addBindValue(totalCents ? QVariant(*totalCents) : QVariant(QVariant::LongLong));
        q.addBindValue(shopId);
        return Exec(q) && q.numRowsAffected() == 1;
    });
}

bool Store::AddStaff(const Staff& staff, const QString& passwordMd5)
{
    const QString salt = RandomHex(16);
    return Write([&](QSqlDatabase& db) {
        QSqlQuery q(db);
        q.prepare(QStringLiteral(
            "INSERT INTO staff(id, account, salt, pass_hash, shop_id, nickname, face, sex, real_name, phone, "
            "qq, "
            "code, payment, payment_code, ctime) VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"));
        q.addBindValue(staff.id);
        q.addBindValue(staff.account);
        q.addBindValue(salt);
        q.addBindValue(PasswordHash(salt, passwordMd5));
        q.addBindValue(staff.shopId);
        q.addBindValue(staff.nickname);
        q.addBindValue(staff.face);
        q.addBindValue(staff.sex ? 1 : 0);
        q.addBindValue(staff.realName);
        q.addBindValue(staff.phone);
        q.addBindValue(staff.qq);
        q.addBindValue(staff.code);
        q.addBindValue(staff.payment);
        q.addBindValue(staff.paymentCode);
        q.addBindValue(staff.ctime);
        return Exec(q);
    });
}

std::optional<Staff> Store::CheckLogin(qint64 account, const QString& passwordMd5)
{
    QSqlDatabase db = Db();
    QSqlQuery q(db);
    q.prepare(QStringLiteral("SELECT salt, pass_hash, ") + QLatin1String(StaffColumns) +
              QStringLiteral(" FROM staff WHERE account = ?"));
    q.addBindValue(account);
    if (!Exec(q) || !q.next())
        return std::nullopt;
    if (PasswordHash(q.value(0).toString(), passwordMd5) != q.value(1).toString())
        return std::nullopt;
    return ReadStaffRow(q, 2);
}

std::optional<Staff> Store::StaffById(int id)
{
    QSqlDatabase db = Db();
    QSqlQuery q(db);
    q.prepare(QStringLiteral("SELECT ") + QLatin1String(StaffColumns) +
              QStringLiteral(" FROM staff WHERE id = ?"));
    q.addBindValue(id);
    if (!Exec(q) || !q.next())
        return std::nullopt;
    return ReadStaffRow(q, 0);
}

std::optional<Session> Store::NewSession(int staffId)
{
    Session session;
    session.staffId = staffId;
    session.key = RandomHex(16);
    session.token = RandomHex(32);
    const bool stored = Write([&](QSqlDatabase& db) {
        QSqlQuery q(db);
        q.prepare(QStringLiteral("INSERT INTO sessions(staff_id, key, token, ctime) VALUES(?, ?, ?, ?)"));
        q.addBindValue(staffId);
        q.addBindValue(session.key);
        q.addBindValue(session.token);
        q.addBindValue(Now());
        return Exec(q);
    });
    if (!stored)
        return std::nullopt;
    return session;
}

std::optional<Staff> Store::StaffBySession(int id, const QString& key, const QString& token)
{
    QSqlDatabase db = Db();
    QSqlQuery q(db);
    q.prepare(QStringLiteral("SELECT ") + QLatin1String(StaffColumns) +
              QStringLiteral(" FROM sessions JOIN staff ON staff.id = sessions.staff_id "
                             "WHERE sessions.staff_id = ? AND sessions.key = ? AND sessions.token = ?"));
    q.addBindValue(id);
    q.addBindValue(key);
    q.addBindValue(token);
    if (!Exec(q) || !q.next())
        return std::nullopt;
    return ReadStaffRow(q, 0);
}

bool Store::ExpireSessions(int staffId)
{
    return Write([&](QSqlDatabase& db) {
        QSqlQuery q(db);
        if (staffId == 0) {
            q.prepare(QStringLiteral("DELETE FROM sessions"));
        } else {
            q.prepare(QStringLiteral("DELETE FROM sessions WHERE staff_id = ?"));
            q.addBindValue(staffId);
        }
        return Exec(q);
    });
}

static bool ReadOrders(QSqlQuery& q, QVector<Order>* orders)
{
    q.setForwardOnly(true);
    if (!Exec(q))
        return false;
    while (q.next())
        orders->append(ReadOrderRow(q));
    return true;
}

// Reads the rows of a query over ListColumns.
static bool VisitListed(QSqlQuery& q, const ListVisitor& visit)
{
    q.setForwardOnly(true);
    if (!Exec(q))
        return false;
    ListedOrder order;
    while (q.next()) {
        order.id = q.value(0).toLongLong();
        order.member = q.value(1).toString();
        order.amountCents = q.value(2).toLongLong();
        order.status = q.value(3).toInt();
        order.ctime = q.value(4).toLongLong();
        order.ptime = q.value(5).toLongLong();
        order.stime = q.value(6).toLongLong();
        order.ertime = q.value(7).toLongLong();
        visit(order);
    }
    return true;
}

bool Store::OrderPage(qint64 shopId, int pager, int pageSize, const ListVisitor& visit)
{
    QSqlDatabase db = Db();
    QSqlQuery q(db);
    q.prepare(QStringLiteral("SELECT ") + QLatin1String(ListColumns) +
              QStringLiteral(" FROM orders WHERE shop_id = ? ORDER BY ctime DESC, id DESC LIMIT ? OFFSET ?"));
    q.addBindValue(shopId);
    q.addBindValue(pageSize);
    q.addBindValue(static_cast<qint64>(pager - 1) * pageSize);
    return VisitListed(q, visit);
}

bool Store::OrdersCreatedSince(qint64 shopId, qint64 time, int limit, const ListVisitor& visit)
{
    // Orders of the cursor's own second are included: one created in that second after the
    // client's last poll would otherwise be lost, and the client skips the ones it already has.
    QSqlDatabase db = Db();
    QSqlQuery q(db);
    q.prepare(QStringLiteral("SELECT ") + QLatin1String(ListColumns) +
              QStringLiteral(" FROM orders WHERE shop_id = ? AND ctime >= ? ORDER BY ctime, id LIMIT ?"));
    q.addBindValue(shopId);
    q.addBindValue(time);
    q.addBindValue(limit);
    return VisitListed(q, visit);
}

bool Store::OrdersUpdatedAfter(qint64 shopId, qint64 ertime, int limit, QVector<Order>* orders)
{
    // An order that never changed since it was created is news for the new-order poll, not for
    // this one: reported here, a paid order would look like a buyer asking for confirmation.
    QSqlDatabase db = Db();
    QSqlQuery q(db);
    q.prepare(QStringLiteral("SELECT ") + QLatin1String(OrderColumns) +
              QStringLiteral(" FROM orders WHERE shop_id = ? AND ertime > ? AND ertime > ctime "
                             "ORDER BY ertime, id LIMIT ?"));
    q.addBindValue(shopId);
    q.addBindValue(ertime);
    q.addBindValue(limit);
    return ReadOrders(q, orders);
}

std::optional<Order> Store::ReadOrder(QSqlDatabase& db, qint64 shopId, qint64 id, bool* failed)
{
    *failed = false;
    QSqlQuery q(db);
    q.prepare(QStringLiteral("SELECT ") + QLatin1String(OrderColumns) +
              QStringLiteral(" FROM orders WHERE id = ? AND (? = 0 OR shop_id = ?)"));
    q.addBindValue(id);
    q.addBindValue(shopId);
    q.addBindValue(shopId);
    if (!Exec(q)) {
        *failed = true;
        return std::nullopt;
    }
    if (!q.next())
        return std::nullopt;
    Order order = ReadOrderRow(q);
    QSqlQuery items(db);
    items.prepare(
        QStringLiteral("SELECT takeout, name, pics, num, price, total FROM items WHERE order_id = ? "
                       "ORDER BY pos"));
    items.addBindValue(id);
    if (!Exec(items)) {
        *failed = true;
        return std::nullopt;
    }
    while (items.next()) {
        Item item;
        item.takeout = items.value(0).toBool();
        item.name = items.value(1).toString();
        item.pics = items.value(2).toString();
        item.num = items.value(3).toInt();
        item.priceCents = items.value(4).toLongLong();
        item.totalCents = items.value(5).toLongLong();
        order.items.append(item);
    }
    return order;
}

std::optional<Order> Store::OrderById(qint64 shopId, qint64 id, bool* failed)
{
    bool readFailed = false;
    QSqlDatabase db = Db();
    // One read transaction, so that the order and its items come from the same moment.
    const bool inTransaction = db.transaction();
    std::optional<Order> order = ReadOrder(db, shopId, id, &readFailed);
    if (inTransaction)
        db.commit();
    if (failed)
        *failed = readFailed;
    return order;
}

// Finishing with the buyer's code and confirming a buyer's request both end here: the order is
// served now, gets a fresh update stamp and the shop is credited.
bool Store::MarkServed(QSqlDatabase& db, const Order& order, const char* kind)
{
    const qint64 now = Now();
    Order served = order;
    served.status = Served;
    served.ertime = NextStamp(order.ctime);
    QSqlQuery q(db);
    q.prepare(QStringLiteral("UPDATE orders SET status = ?, stime = ?, ertime = ?, confirm_requested = 0 "
                             "WHERE id = ?"));
    q.addBindValue(static_cast<int>(Served));
    q.addBindValue(now);
    q.addBindValue(served.ertime);
    q.addBindValue(order.id);
    if (!Exec(q) || !CreditShop(db, order, now))
        return false;
    Note(served, kind, order.status);
    return true;
}

bool Store::CreditShop(QSqlDatabase& db, const Order& order, qint64 when)
{
    Income income;
    income.orderId = order.id;
    income.amountCents = order.amountCents;
    income.addCashCents = ShopShare(order.amountCents);
    income.ctime = when;
    QSqlQuery q(db);
    q.prepare(QStringLiteral(
        "INSERT INTO income(shop_id, order_id, amount, addcash, ctime) VALUES(?, ?, ?, ?, ?)"));
    q.addBindValue(order.shopId);
    q.addBindValue(income.orderId);
    q.addBindValue(income.amountCents);
    q.addBindValue(income.addCashCents);
    q.addBindValue(income.ctime);
    if (!Exec(q))
        return false;
    QSqlQuery cash(db);
    cash.prepare(QStringLiteral("UPDATE shops SET balance = balance + ?, total = total + ? WHERE id = ?"));
    cash.addBindValue(income.addCashCents);
    cash.addBindValue(income.addCashCents);
    cash.addBindValue(order.shopId);
    return Exec(cash);
}

qint64 Store::ShopShare(qint64 amountCents)
{
    // The platform keeps a 5 % service fee. Whole yuan and the cents below them are shared apart,
    // so no product can overflow, whatever the amount.
    return amountCents / 100 * 95 + (amountCents % 100 * 95 + 50) / 100;
}

FinishResult Store::FinishOrder(qint64 shopId, qint64 id, const QString& password, int* currentStatus)
{
    FinishResult result = FinishResult::Failed;
    Write([&](QSqlDatabase& db) {
        bool failed = false;
        std::optional<Order> order = ReadOrder(db, shopId, id, &failed);
        if (failed)
            return false;
        if (!order) {
            result = FinishResult::NoOrder;
            return false;
        }
        *currentStatus = order->status;
        if (order->status != Paid) {
            result = FinishResult::NotPaid;
            return false;
        }
        if (order->password != password.trimmed()) {
            result = FinishResult::WrongPassword;
            return false;
        }
        if (!MarkServed(db, *order, "finished"))
            return false;
        result = FinishResult::Done;
        return true;
    });
    return result;
}

ReplyResult Store::ReplyToReview(qint64 shopId, qint64 id, const QString& text)
{
    ReplyResult result = ReplyResult::Failed;
    Write([&](QSqlDatabase& db) {
        bool failed = false;
        std::optional<Order> order = ReadOrder(db, shopId, id, &failed);
        if (failed)
            return false;
        if (!order) {
            result = ReplyResult::NoOrder;
            return false;
        }
        if (order->status != Reviewed) {
            result = ReplyResult::NotReviewed;
            return false;
        }
        const int previous = order->status;
        order->status = Completed;
        order->ertime = NextStamp(order->ctime);
        QSqlQuery q(db);
        q.prepare(QStringLiteral("UPDATE orders SET status = ?, reply = ?, ertime = ? WHERE id = ?"));
        q.addBindValue(static_cast<int>(Completed));
        q.addBindValue(text);
        q.addBindValue(order->ertime);
        q.addBindValue(id);
        if (!Exec(q))
            return false;
        Note(*order, "replied", previous);
        result = ReplyResult::Done;
        return true;
    });
    return result;
}

ConfirmResult Store::ConfirmOrder(qint64 shopId, qint64 id, int* currentStatus)
{
    ConfirmResult result = ConfirmResult::Failed;
    Write([&](QSqlDatabase& db) {
        bool failed = false;
        std::optional<Order> order = ReadOrder(db, shopId, id, &failed);
        if (failed)
            return false;
        if (!order) {
            result = ConfirmResult::NoOrder;
            return false;
        }
        *currentStatus = order->status;
        if (order->status == Unpaid) {
            result = ConfirmResult::NotPaid;
            return false;
        }
        if (order->status != Paid) {
            result = ConfirmResult::AlreadyMoved;
            return false;
        }
        if (!order->confirmRequested) {
            result = ConfirmResult::NothingToConfirm;
            return false;
        }
        if (!MarkServed(db, *order, "confirmed"))
            return false;
        *currentStatus = Served;
        result = ConfirmResult::Done;
        return true;
    });
    return result;
}

bool Store::InsertOrder(QSqlDatabase& db, Order* order)
{
    QSqlQuery q(db);
    q.prepare(QStringLiteral("INSERT INTO orders(") + QLatin1String(OrderColumns) +
              QStringLiteral(") VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"));
    q.addBindValue(order->id);
    q.addBindValue(order->shopId);
    q.addBindValue(order->member);
    q.addBindValue(order->amountCents);
    q.addBindValue(order->status);
    q.addBindValue(order->ctime);
    q.addBindValue(TimeOrNull(order->ptime));
    q.addBindValue(TimeOrNull(order->stime));
    q.addBindValue(order->ertime);
    q.addBindValue(order->password);
    q.addBindValue(order->taker);
    q.addBindValue(order->address);
    q.addBindValue(order->tel);
    q.addBindValue(order->message);
    q.addBindValue(order->prepareType ? 1 : 0);
    q.addBindValue(order->content);
    q.addBindValue(order->reply);
    q.addBindValue(order->confirmRequested ? 1 : 0);
    return Exec(q) && InsertItems(db, *order);
}

bool Store::InsertItems(QSqlDatabase& db, const Order& order)
{
    QSqlQuery q(db);
    q.prepare(QStringLiteral("INSERT INTO items(order_id, pos, takeout, name, pics, num, price, total) "
                             "VALUES(?, ?, ?, ?, ?, ?, ?, ?)"));
    for (int pos = 0; pos < order.items.size(); ++pos) {
        const Item& item = order.items.at(pos);
        q.addBindValue(order.id);
        q.addBindValue(pos);
        q.addBindValue(item.takeout ? 1 : 0);
        q.addBindValue(item.name);
        q.addBindValue(item.pics);
        q.addBindValue(item.num);
        q.addBindValue(item.priceCents);
        q.addBindValue(item.totalCents);
        if (!Exec(q))
            return false;
    }
    return true;
}

bool Store::CreateOrders(QVector<Order>* orders)
{
    return Write([&](QSqlDatabase& db) {
        QHash<qint64, qint64> nextIdOfDay;
        for (Order& order : *orders) {
            if (order.id == 0) {
                const qint64 base = DayBase(order.ctime);
                if (!nextIdOfDay.contains(base)) {
                    QSqlQuery q(db);
                    q.prepare(QStringLiteral("SELECT MAX(id) FROM orders WHERE id > ? AND id < ?"));
                    q.addBindValue(base);
                    q.addBindValue(base + 100000);
                    if (!Exec(q) || !q.next())
                        return false;
                    nextIdOfDay.insert(base, q.value(0).isNull() ? base + 1 : q.value(0).toLongLong() + 1);
                }
                qint64 id = nextIdOfDay.value(base);
                if (id >= base + 100000) {
                    // A day with more than 99 999 orders borrows numbers past every existing one.
                    QSqlQuery q(db);
                    q.prepare(QStringLiteral("SELECT MAX(id) FROM orders"));
                    if (!Exec(q) || !q.next())
                        return false;
                    id = std::max(q.value(0).toLongLong(), id - 1) + 1;
                }
                order.id = id;
                nextIdOfDay.insert(base, id + 1);
            }
            if (order.ertime == 0)
                order.ertime = order.ctime;
            if (order.ertime > order.ctime && IsWireTime(order.ertime))
                lastStamp = std::max(lastStamp, order.ertime);
            if (!InsertOrder(db, &order))
                return false;
            Note(order, "created", -1);
        }
        return true;
    });
}

bool Store::Pay(qint64 id)
{
    return Write([&](QSqlDatabase& db) {
        bool failed = false;
        std::optional<Order> order = ReadOrder(db, 0, id, &failed);
        if (!order || order->status != Unpaid)
            return false;
        order->status = Paid;
        order->ptime = Now();
        order->ertime = NextStamp(order->ctime);
        QSqlQuery q(db);
        q.prepare(QStringLiteral("UPDATE orders SET status = ?, ptime = ?, ertime = ? WHERE id = ?"));
        q.addBindValue(static_cast<int>(Paid));
        q.addBindValue(order->ptime);
        q.addBindValue(order->ertime);
        q.addBindValue(id);
        if (!Exec(q))
            return false;
        Note(*order, "paid", Unpaid);
        return true;
    });
}

bool Store::RequestConfirmation(qint64 id)
{
    return Write([&](QSqlDatabase& db) {
        bool failed = false;
        std::optional<Order> order = ReadOrder(db, 0, id, &failed);
        if (!order || order->status != Paid)
            return false;
        order->ertime = NextStamp(order->ctime);
        QSqlQuery q(db);
        q.prepare(QStringLiteral("UPDATE orders SET confirm_requested = 1, ertime = ? WHERE id = ?"));
        q.addBindValue(order->ertime);
        q.addBindValue(id);
        if (!Exec(q))
            return false;
        Note(*order, "request", Paid, true);
        return true;
    });
}

bool Store::Review(qint64 id, const QString& content)
{
    return Write([&](QSqlDatabase& db) {
        bool failed = false;
        std::optional<Order> order = ReadOrder(db, 0, id, &failed);
        if (!order || order->status != Served)
            return false;
        order->status = Reviewed;
        order->ertime = NextStamp(order->ctime);
        QSqlQuery q(db);
        q.prepare(QStringLiteral("UPDATE orders SET status = ?, content = ?, ertime = ? WHERE id = ?"));
        q.addBindValue(static_cast<int>(Reviewed));
        q.addBindValue(content);
        q.addBindValue(order->ertime);
        q.addBindValue(id);
        if (!Exec(q))
            return false;
        Note(*order, "reviewed", Served);
        return true;
    });
}

ChangeResult Store::ChangeOrder(qint64 id, const std::function<bool(Order*, ChangeScope*)>& change)
{
    ChangeResult result = ChangeResult::Failed;
    Write([&](QSqlDatabase& db) {
        bool failed = false;
        std::optional<Order> order = ReadOrder(db, 0, id, &failed);
        if (failed)
            return false;
        if (!order) {
            result = ChangeResult::NoOrder;
            return false;
        }
        ChangeScope scope;
        const int previous = order->status;
        if (!change(&*order, &scope)) {
            result = ChangeResult::Refused;
            return false;
        }
        if (!RewriteOrder(db, &*order, scope))
            return false;
        const bool request = scope.confirmRequest && order->status == Paid;
        Note(*order, request ? "request" : "changed", previous, request);
        result = ChangeResult::Done;
        return true;
    });
    return result;
}

bool Store::RewriteOrder(QSqlDatabase& db, Order* changed, const ChangeScope& scope)
{
    if (scope.keepErtime) {
        if (IsWireTime(changed->ertime))
            lastStamp = std::max(lastStamp, changed->ertime);
    } else {
        changed->ertime = NextStamp(changed->ctime);
    }
    const Order& order = *changed;
    QSqlQuery q(db);
    q.prepare(QStringLiteral("UPDATE orders SET member = ?, amount = ?, status = ?, ctime = ?, ptime = ?, "
                             "stime = ?, ertime = ?, password = ?, taker = ?, address = ?, tel = ?, "
                             "message = ?, prepare_type = ?, content = ?, reply = ?, confirm_requested = ? "
                             "WHERE id = ?"));
    q.addBindValue(order.member);
    q.addBindValue(order.amountCents);
    q.addBindValue(order.status);
    q.addBindValue(order.ctime);
    q.addBindValue(TimeOrNull(order.ptime));
    q.addBindValue(TimeOrNull(order.stime));
    q.addBindValue(order.ertime);
    q.addBindValue(order.password);
    q.addBindValue(order.taker);
    q.addBindValue(order.address);
    q.addBindValue(order.tel);
    q.addBindValue(order.message);
    q.addBindValue(order.prepareType ? 1 : 0);
    q.addBindValue(order.content);
    q.addBindValue(order.reply);
    q.addBindValue(order.confirmRequested ? 1 : 0);
    q.addBindValue(order.id);
    if (!Exec(q) || q.numRowsAffected() != 1)
        return false;
    if (!scope.replaceItems)
        return true;
    QSqlQuery clear(db);
    clear.prepare(QStringLiteral("DELETE FROM items WHERE order_id = ?"));
    clear.addBindValue(order.id);
    return Exec(clear) && InsertItems(db, order);
}

QVector<qint64> Store::OrderIdsWithStatus(int status, qint64 from, qint64 to, const QString& timeColumn)
{
    QVector<qint64> ids;
    static const QStringList columns = {QStringLiteral("ctime"), QStringLiteral("ptime"),
                                        QStringLiteral("stime"), QStringLiteral("ertime")};
    if (!columns.contains(timeColumn))
        return ids;
    QSqlDatabase db = Db();
    QSqlQuery q(db);
    q.prepare(QStringLiteral("SELECT id FROM orders WHERE status = ? AND ") + timeColumn +
              QStringLiteral(" BETWEEN ? AND ? ORDER BY ") + timeColumn + QStringLiteral(" DESC LIMIT 500"));
    q.addBindValue(status);
    q.addBindValue(from);
    q.addBindValue(to);
    q.setForwardOnly(true);
    if (Exec(q)) {
        while (q.next())
            ids.append(q.value(0).toLongLong());
    }
    return ids;
}

bool Store::AddIncome(qint64 shopId, const Income& income, bool addToCash)
{
    return Write([&](QSqlDatabase& db) {
        QSqlQuery q(db);
        q.prepare(QStringLiteral(
            "INSERT INTO income(shop_id, order_id, amount, addcash, ctime) VALUES(?, ?, ?, ?, ?)"));
        q.addBindValue(shopId);
        q.addBindValue(income.orderId);
        q.addBindValue(income.amountCents);
        q.addBindValue(income.addCashCents);
        q.addBindValue(income.ctime);
        if (!Exec(q))
            return false;
        if (!addToCash)
            return true;
        QSqlQuery cash(db);
        cash.prepare(
            QStringLiteral("UPDATE shops SET balance = balance + ?, total = total + ? WHERE id = ?"));
        cash.addBindValue(income.addCashCents);
        cash.addBindValue(income.addCashCents);
        cash.addBindValue(shopId);
        return Exec(cash) && cash.numRowsAffected() == 1;
    });
}

bool Store::ClearIncome(qint64 shopId)
{
    return Write([&](QSqlDatabase& db) {
        QSqlQuery q(db);
        q.prepare(QStringLiteral("DELETE FROM income WHERE shop_id = ?"));
        q.addBindValue(shopId);
        return Exec(q);
    });
}

bool Store::IncomeSince(qint64 shopId, qint64 since, QVector<Income>* entries)
{
    QSqlDatabase db = Db();
    QSqlQuery q(db);
    q.prepare(
        QStringLiteral("SELECT order_id, amount, addcash, ctime FROM income WHERE shop_id = ? AND ctime >= ? "
                       "ORDER BY ctime DESC, id DESC"));
    q.addBindValue(shopId);
    q.addBindValue(since);
    q.setForwardOnly(true);
    if (!Exec(q))
        return false;
    while (q.next()) {
        Income income;
        income.orderId = q.value(0).toLongLong();
        income.amountCents = q.value(1).toLongLong();
        income.addCashCents = q.value(2).toLongLong();
        income.ctime = q.value(3).toLongLong();
        entries->append(income);
    }
    return true;
}

} // namespace Velm
