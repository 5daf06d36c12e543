#include "demo.h"

#include "assets.h"
#include "util.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QSet>

#include <algorithm>

namespace Velm::Demo {

const Account Accounts[2] = {
    {1001, 13800000001LL, "velm123"},
    {1002, 13800000002LL, "velm456"},
};

namespace {

struct MenuItem
{
    const char* picture;
    const char* name;
    qint64 priceCents;
    int maxNum;
};

const MenuItem Menu[] = {
    {"beef-noodles", "招牌牛肉拉面", 1800, 2},
    {"braised-noodles", "红烧牛肉面", 2200, 2},
    {"hot-sour-noodles", "酸辣粉", 1200, 2},
    {"fried-rice", "扬州炒饭", 1500, 2},
    {"cold-noodles", "秘制凉皮", 1000, 2},
    {"cucumber", "拍黄瓜", 800, 1},
    {"dumplings", "猪肉白菜水饺（12个）", 2000, 2},
    {"xiaolongbao", "鲜肉小笼包", 1600, 2},
    {"roujiamo", "腊汁肉夹馍", 900, 3},
    {"braised-egg", "卤蛋", 250, 4},
    {"plum-juice", "酸梅汤", 500, 3},
    {"soy-milk", "现磨豆浆", 300, 3},
};
const int MenuSize = static_cast<int>(sizeof Menu / sizeof Menu[0]);

const char* const Surnames[] = {"张", "王", "李", "赵", "刘", "陈", "杨",
                                "黄", "周", "吴", "徐", "孙", "马", "朱"};
const char* const Streets[] = {"朝阳区建国路",   "海淀区中关村大街", "东城区东直门南大街", "西城区西单北大街",
                               "朝阳区望京西路", "丰台区丽泽路",     "朝阳区三里屯路",     "海淀区学院路"};
const char* const Messages[] = {"不要香菜，谢谢", "少放辣",     "多放点醋",   "尽快送达，谢谢！",
                                "汤和面分开装",   "到了打电话", "放门口就行", "要一双筷子",
                                "微辣",           "加一份葱花"};
const char* const Reviews[] = {"味道很好，面很劲道，下次还来！", "汤头很鲜，牛肉给得很足。",
                               "送餐有点慢，不过味道不错。",     "分量足，性价比高，好评！",
                               "小笼包皮薄汁多，推荐。",         "有点咸了，其他都挺好。",
                               "老板服务热情，环境干净。",       "凉皮很地道，酸辣适中。",
                               "包装很用心，到手还是热的。",     "一如既往的好吃，五星好评。"};
const char* const Replies[] = {"感谢亲的支持，欢迎常来！", "谢谢您的好评，我们会继续努力！",
                               "抱歉让您久等了，我们会改进配送速度。", "谢谢建议，下次会注意口味。",
                               "感谢光临，祝您生活愉快！"};

template <typename T, size_t N> const T& Pick(QRandomGenerator& rng, const T (&list)[N])
{
    return list[rng.bounded(static_cast<int>(N))];
}

QString RandomMobile(QRandomGenerator& rng)
{
    static const char* const prefixes[] = {"135", "136", "137", "138", "139",
                                           "150", "151", "158", "186", "189"};
    QString mobile = QString::fromLatin1(Pick(rng, prefixes));
    for (int i = 0; i < 8; ++i)
        mobile.append(QLatin1Char(static_cast<char>('0' + rng.bounded(10))));
    return mobile;
}

QString Code(QRandomGenerator& rng)
{
    QString code;
    for (int i = 0; i < 6; ++i)
        code.append(QLatin1Char(static_cast<char>('0' + rng.bounded(10))));
    return code;
}

qint64 Between(QRandomGenerator& rng, qint64 low, qint64 high)
{
    return low + static_cast<qint64>(rng.bounded(static_cast<double>(high - low + 1)));
}

int RandomStatusForAge(QRandomGenerator& rng, qint64 age)
{
    const int roll = rng.bounded(100);
    if (age < 2 * 3600)
        return roll < 60 ? Paid : roll < 90 ? Served : Unpaid;
    if (age < 24 * 3600)
        return roll < 15 ? Paid : roll < 60 ? Served : roll < 80 ? Reviewed : roll < 95 ? Completed : Unpaid;
    return roll < 55 ? Completed : roll < 67 ? Reviewed : roll < 84 ? Served : roll < 91 ? Refunded : Unpaid;
}

} // namespace

Order RandomOrder(QRandomGenerator& rng, qint64 shopId, qint64 ctime)
{
    Order order;
    order.shopId = shopId;
    order.ctime = order.ertime = ctime;
    order.status = Unpaid;
    order.password = Code(rng);
    const bool takeout = rng.bounded(100) < 45;
    order.prepareType = !takeout;
    order.tel = RandomMobile(rng);
    order.member = order.tel.left(3) + QStringLiteral("****") + order.tel.right(4);
    order.taker = QString::fromUtf8(Pick(rng, Surnames)) +
                  (rng.bounded(2) ? QStringLiteral("先生") : QStringLiteral("女士"));
    if (takeout)
        order.address =
            QString::fromUtf8(Pick(rng, Streets)) + QStringLiteral("%1号%2单元%3")
                                                        .arg(rng.bounded(1, 200))
                                                        .arg(rng.bounded(1, 6))
                                                        .arg(rng.bounded(1, 25) * 100 + rng.bounded(1, 5));
    if (rng.bounded(100) < 40)
        order.message = QString::fromUtf8(Pick(rng, Messages));

    const int lines = 1 + (rng.bounded(100) < 55 ? 0 : rng.bounded(1, 4));
    QSet<int> used;
    qint64 sum = 0;
    while (order.items.size() < lines) {
        const int index = rng.bounded(MenuSize);
        if (used.contains(index))
            continue;
        used.insert(index);
        const MenuItem& menu = Menu[index];
        Item item;
        item.takeout = takeout;
        item.name = QString::fromUtf8(menu.name);
        item.pics = Assets::ItemPath(QString::fromLatin1(menu.picture));
        item.num = rng.bounded(1, menu.maxNum + 1);
        item.priceCents = menu.priceCents;
        item.totalCents = item.priceCents * item.num;
        sum += item.totalCents;
        order.items.append(item);
    }
    // Platform offers: 5 yuan off from 30, 10 off from 60; takeout pays 3 yuan delivery.
    qint64 discount = 0;
    if (sum >= 6000 && rng.bounded(100) < 50)
        discount = 1000;
    else if (sum >= 3000 && rng.bounded(100) < 40)
        discount = 500;
    order.amountCents = sum - discount + (takeout ? 300 : 0);
    return order;
}

int Live(Order& order, int status, QRandomGenerator& rng, qint64 now)
{
    order.status = Unpaid;
    order.ertime = order.ctime;
    if (status == Unpaid)
        return Unpaid;
    const qint64 ptime = order.ctime + Between(rng, 20, 180);
    if (ptime > now)
        return Unpaid;
    order.status = Paid;
    order.ptime = ptime;
    if (status == Paid)
        return Paid;
    if (status == Refunded) {
        const qint64 refunded = ptime + Between(rng, 5 * 60, 60 * 60);
        if (refunded <= now) {
            order.status = Refunded;
            order.ertime = refunded;
        }
        return order.status;
    }
    const qint64 stime = ptime + Between(rng, 10 * 60, 90 * 60);
    if (stime > now)
        return Paid;
    order.status = Served;
    order.stime = order.ertime = stime;
    if (status == Served)
        return Served;
    const qint64 reviewed = stime + Between(rng, 3600, 30 * 3600);
    if (reviewed > now)
        return Served;
    order.status = Reviewed;
    order.ertime = reviewed;
    order.content = RandomReview(rng);
    if (status == Reviewed)
        return Reviewed;
    const qint64 replied = reviewed + Between(rng, 1800, 20 * 3600);
    if (replied > now)
        return Reviewed;
    order.status = Completed;
    order.ertime = replied;
    order.reply = QString::fromUtf8(Pick(rng, Replies));
    return Completed;
}

QString RandomReview(QRandomGenerator& rng)
{
    return QString::fromUtf8(Pick(rng, Reviews));
}

static QString PasswordMd5(const char* password)
{
    return Md5Hex(QByteArray(password));
}

static QVector<Order> HistoryOrders(QRandomGenerator& rng, qint64 shopId, int days, int perDayBase,
                                    qint64 now)
{
    QVector<Order> orders;
    for (int day = days - 1; day >= 0; --day) {
        const qint64 dayStart = StartOfDay(now, day);
        const int weekday = QDateTime::fromSecsSinceEpoch(dayStart).date().dayOfWeek();
        int count = perDayBase + rng.bounded(3) + (weekday >= 6 ? 2 : 0) + (day < 7 ? 2 : 0);
        for (int i = 0; i < count; ++i) {
            const qint64 ctime = dayStart + Between(rng, 10 * 3600, 21 * 3600 + 1800);
            if (ctime > now - 120)
                continue;
            Order order = RandomOrder(rng, shopId, ctime);
            Live(order, RandomStatusForAge(rng, now - ctime), rng, now);
            orders.append(order);
        }
    }
    std::sort(orders.begin(), orders.end(), [](const Order& a, const Order& b) { return a.ctime < b.ctime; });
    return orders;
}

bool Seed(Store& store, QStringList* report)
{
    const qint64 now = Now();
    QRandomGenerator rng(static_cast<quint32>(now / 86400));

    Shop shop;
    shop.id = ShopId;
    shop.name = QStringLiteral("老街牛肉面馆");
    shop.catId = 3;
    if (!store.AddShop(shop))
        return false;

    Staff wang;
    wang.id = Accounts[0].id;
    wang.account = Accounts[0].account;
    wang.shopId = ShopId;
    wang.nickname = QStringLiteral("小王");
    wang.face = Assets::FacePath(1);
    wang.sex = true;
    wang.realName = QStringLiteral("王小明");
    wang.phone = QStringLiteral("13800000001");
    wang.qq = QStringLiteral("10086001");
    wang.code = QStringLiteral("100020");
    wang.payment = QStringLiteral("支付宝");
    wang.paymentCode = QStringLiteral("wang.xm@example.com");
    wang.ctime = QDateTime(QDate(QDate::currentDate().year() - 2, 3, 18), QTime(9, 30)).toSecsSinceEpoch();

    Staff li;
    li.id = Accounts[1].id;
    li.account = Accounts[1].account;
    li.shopId = ShopId;
    li.nickname = QStringLiteral("小李");
    li.face = Assets::FacePath(2);
    li.sex = false;
    li.realName = QStringLiteral("李晓燕");
    li.phone = QStringLiteral("13800000002");
    li.qq = QStringLiteral("10086002");
    li.code = QStringLiteral("100020");
    li.payment = QStringLiteral("微信");
    li.paymentCode = QStringLiteral("lixy_2016");
    li.ctime = StartOfMonth(now) - 1;

    if (!store.AddStaff(wang, PasswordMd5(Accounts[0].password)) ||
        !store.AddStaff(li, PasswordMd5(Accounts[1].password)))
        return false;

    QVector<Order> orders = HistoryOrders(rng, ShopId, 90, 2, now);
    // A busy lunch today: a few paid orders are waiting for their buyers.
    for (int i = 0; i < 5; ++i) {
        const qint64 ctime = now - (i + 1) * 1500 - rng.bounded(300);
        Order order = RandomOrder(rng, ShopId, ctime);
        Live(order, Paid, rng, now);
        orders.append(order);
    }
    std::sort(orders.begin(), orders.end(), [](const Order& a, const Order& b) { return a.ctime < b.ctime; });
    if (!store.CreateOrders(&orders))
        return false;

    int incomeCount = 0;
    qint64 monthIncome = 0;
    const qint64 monthStart = StartOfMonth(now);
    for (const Order& order : orders) {
        if (order.stime == 0)
            continue;
        Income income;
        income.orderId = order.id;
        income.amountCents = order.amountCents;
        income.addCashCents = Store::ShopShare(order.amountCents);
        income.ctime = order.stime;
        if (!store.AddIncome(ShopId, income, true))
            return false;
        ++incomeCount;
        if (income.ctime >= monthStart)
            monthIncome += income.addCashCents;
    }
    // The shop cashed out everything it had on the first of the month.
    if (!store.SetCash(ShopId, monthIncome, std::nullopt))
        return false;

    report->append(QStringLiteral("seeded shop %1: staff %2 / %3 and %4 / %5, %6 orders, %7 income entries")
                       .arg(shop.name)
                       .arg(Accounts[0].account)
                       .arg(QLatin1String(Accounts[0].password))
                       .arg(Accounts[1].account)
                       .arg(QLatin1String(Accounts[1].password))
                       .arg(orders.size())
                       .arg(incomeCount));
    for (const Order& order : orders) {
        if (order.status == Paid)
            report->append(QStringLiteral("paid order %1 waiting for service, buyer's code %2")
                               .arg(order.id)
                               .arg(order.password));
    }
    return true;
}

bool Generate(Store& store, qint64 shopId, int count, int days)
{
    const qint64 now = Now();
    QRandomGenerator rng(static_cast<quint32>(now));
    QVector<Order> orders;
    orders.reserve(count);
    const qint64 span = std::max<qint64>(1, static_cast<qint64>(days) * 86400);
    for (int i = 0; i < count; ++i) {
        const qint64 ctime = now - 60 - Between(rng, 0, span);
        Order order = RandomOrder(rng, shopId, ctime);
        Live(order, RandomStatusForAge(rng, now - ctime), rng, now);
        orders.append(order);
    }
    std::sort(orders.begin(), orders.end(), [](const Order& a, const Order& b) { return a.ctime < b.ctime; });
    return store.CreateOrders(&orders);
}

} // namespace Velm::Demo
