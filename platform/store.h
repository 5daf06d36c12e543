#pragma once

#include <QSqlDatabase>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QVector>

#include <functional>
#include <memory>
#include <mutex>
#include <optional>

namespace Velm {

struct Shop
{
    qint64 id = 0;
    QString name;
    int catId = 0;
    qint64 balanceCents = 0; // "yuer"
    qint64 totalCents = 0;   // "allcash": everything the shop has ever earned
};

struct Staff
{
    int id = 0;
    qint64 account = 0; // the mobile number the staff member logs in with
    qint64 shopId = 0;
    QString nickname;
    QString face; // picture path on this server, or a full URL
    bool sex = false;
    QString realName;
    QString phone;
    QString qq;
    QString code;
    QString payment;
    QString paymentCode;
    qint64 ctime = 0;
};

struct Session
{
    int staffId = 0;
    QString key;
    QString token;
};

struct Item
{
    bool takeout = false; // "out" list when true, "commo" list otherwise
    QString name;
    QString pics;
    int num = 0;
    qint64 priceCents = 0;
    qint64 totalCents = 0;
};

struct Order
{
    qint64 id = 0;
    qint64 shopId = 0;
    QString member;
    qint64 amountCents = 0;
    int status = 0;
    qint64 ctime = 0;
    qint64 ptime = 0; // 0: not yet
    qint64 stime = 0; // 0: not yet
    qint64 ertime = 0;
    QString password; // the buyer's code that finishes the service
    QString taker;
    QString address;
    QString tel;
    QString message;
    bool prepareType = false; // served in the shop rather than delivered
    QString content;          // the buyer's review
    QString reply;            // the shop's answer to it
    bool confirmRequested = false;
    QVector<Item> items;
};

// An order as the order lists show it: no items, no texts but the buyer's.
struct ListedOrder
{
    qint64 id = 0;
    QString member;
    qint64 amountCents = 0;
    int status = 0;
    qint64 ctime = 0;
    qint64 ptime = 0; // 0: not yet
    qint64 stime = 0; // 0: not yet
    qint64 ertime = 0;
};
using ListVisitor = std::function<void(const ListedOrder&)>;

// One change of an order, as the alarms of a shop's client follow them: the order became paid,
// its buyer asked for confirmation, it left "paid". The store keeps the latest MaxEvents of them
// in memory for the admin API ("GET /admin/events"), so that a soak can tell every alarm the
// client raised from one it should have raised.
struct OrderEvent
{
    qint64 seq = 0;     // 1, 2, ... in the order the changes were written
    qint64 atMsecs = 0; // the server's clock when the change was written, ms since the epoch
    qint64 id = 0;
    QString kind;         // created, paid, request, finished, confirmed, reviewed, replied, changed
    int status = 0;       // after the change
    int previous = -1;    // before it; -1 for a creation
    qint64 ertime = 0;    // the order's update stamp after the change
    bool request = false; // the buyer asks the shop to confirm the service
};

struct Income
{
    qint64 orderId = 0;
    qint64 amountCents = 0;
    qint64 addCashCents = 0;
    qint64 ctime = 0;
};

enum class FinishResult
{
    Done,
    NoOrder,
    WrongPassword,
    NotPaid,
    Failed
};
enum class ReplyResult
{
    Done,
    NoOrder,
    NotReviewed,
    Failed
};
enum class ChangeResult
{
    Done,
    NoOrder,
    Refused,
    Failed
};
// What an admin change does beyond the order's fields.
struct ChangeScope
{
    bool replaceItems = false;
    bool keepErtime = false;     // the change names the update stamp itself
    bool confirmRequest = false; // the change is the buyer's request for confirmation
};
enum class ConfirmResult
{
    Done,
    NoOrder,
    AlreadyMoved,
    NothingToConfirm,
    NotPaid,
    Failed
};

// The platform's database: one SQLite file in WAL mode, so that every answer the server gave is on
// disk before it is sent. Each thread talks through its own connection (Qt SQL connections belong
// to the thread that opened them); writes are serialised by one lock, which also makes the update
// stamps strictly increasing.
class Store
{
public:
    explicit Store(const QString& path);
    ~Store();
    Store(const Store&) = delete;
    Store& operator=(const Store&) = delete;

    bool Open(QString* error);
    // Closes the calling thread's connection, before the thread ends.
    void ReleaseThreadConnection();
    QString Path() const { return filePath; }
    bool Reset();
    bool IsEmpty();

    // Shops and staff.
    std::optional<Shop> FirstShop();
    std::optional<Shop> ShopById(qint64 id);
    bool AddShop(const Shop& shop);
    bool SetCash(qint64 shopId, std::optional<qint64> balanceCents, std::optional<qint64> totalCents);
    bool AddStaff(const Staff& staff, const QString& passwordMd5);
    std::optional<Staff> CheckLogin(qint64 account, const QString& passwordMd5);
    std::optional<Staff> StaffById(int id);
    std::optional<Session> NewSession(int staffId);
    std::optional<Staff> StaffBySession(int id, const QString& key, const QString& token);
    bool ExpireSessions(int staffId); // 0: every session

    // Orders as the staff's client sees them (no items). The lists hand each row to `visit` as it
    // is read, so that a reply of ten thousand orders is written without holding them all first.
    bool OrderPage(qint64 shopId, int pager, int pageSize, const ListVisitor& visit);
    bool OrdersCreatedSince(qint64 shopId, qint64 time, int limit, const ListVisitor& visit);
    bool OrdersUpdatedAfter(qint64 shopId, qint64 ertime, int limit, QVector<Order>* orders);
    // With items. shopId 0: any shop. *failed tells a database fault from a missing order.
    std::optional<Order> OrderById(qint64 shopId, qint64 id, bool* failed = nullptr);

    // Staff actions.
    FinishResult FinishOrder(qint64 shopId, qint64 id, const QString& password, int* currentStatus);
    ReplyResult ReplyToReview(qint64 shopId, qint64 id, const QString& text);
    ConfirmResult ConfirmOrder(qint64 shopId, qint64 id, int* currentStatus);

    // Buyer and admin actions. An order with id 0 gets a fresh id; ertime 0 means its ctime.
    bool CreateOrders(QVector<Order>* orders);
    // The buyer pays an unpaid order: paid now, with a fresh update stamp.
    bool Pay(qint64 id);
    bool RequestConfirmation(qint64 id);
    bool Review(qint64 id, const QString& content);
    // Reads the order, lets `change` edit it and writes it back in one write transaction, so that
    // a finish or confirmation cannot slip in between and be undone. `change` returns false to
    // refuse; nothing is written then. The update stamp moves unless the scope keeps it.
    ChangeResult ChangeOrder(qint64 id, const std::function<bool(Order*, ChangeScope*)>& change);
    // Ids (at most 500) of the orders with a status whose time in `timeColumn` lies in [from, to].
    QVector<qint64> OrderIdsWithStatus(int status, qint64 from, qint64 to, const QString& timeColumn);

    // The changes written after event `after` (0: all those kept), oldest first.
    static constexpr int MaxEvents = 100000;
    QVector<OrderEvent> Events(qint64 after = 0);

    // Income.
    bool AddIncome(qint64 shopId, const Income& income, bool addToCash);
    bool IncomeSince(qint64 shopId, qint64 since, QVector<Income>* entries);
    bool ClearIncome(qint64 shopId); // the entries only; balance and total stay

    // The shop's share of an order's amount.
    static qint64 ShopShare(qint64 amountCents);

private:
    // The calling thread's connection to the database, opened on first use.
    QSqlDatabase Db();
    QString ConnectionName() const;
    bool Write(const std::function<bool(QSqlDatabase&)>& work);
    qint64 NextStamp(qint64 ctime);
    bool CreateSchema(QSqlDatabase& db);
    bool InsertOrder(QSqlDatabase& db, Order* order);
    bool InsertItems(QSqlDatabase& db, const Order& order);
    // Writes the changed order with a fresh update stamp, or the one it names when the scope keeps
    // it; `changed` then holds the stamp written.
    bool RewriteOrder(QSqlDatabase& db, Order* changed, const ChangeScope& scope);
    bool MarkServed(QSqlDatabase& db, const Order& order, const char* kind);
    // Notes a change of the transaction under way; kept once it commits.
    void Note(const Order& order, const char* kind, int previous, bool request = false);
    bool CreditShop(QSqlDatabase& db, const Order& order, qint64 when);
    std::optional<Order> ReadOrder(QSqlDatabase& db, qint64 shopId, qint64 id, bool* failed);

    QString filePath;
    std::unique_ptr<QTemporaryDir> scratchDir; // behind ":memory:"
    int serial;
    std::mutex connectionsMutex;
    QStringList connections;
    std::mutex writeMutex;
    qint64 lastStamp = 0;
    QVector<OrderEvent> noted; // of the transaction under way (under writeMutex)
    std::mutex eventsMutex;
    QVector<OrderEvent> events;
    qint64 lastEventSeq = 0;
};

} // namespace Velm
