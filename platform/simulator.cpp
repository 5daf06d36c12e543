#include "simulator.h"

#include "demo.h"
#include "util.h"

#include <QTime>

namespace Velm {

Simulator::Simulator(Store& store, qint64 shopId, double paceSeconds, QObject* parent)
    : QObject(parent), store(store), shopId(shopId), pace(paceSeconds),
      rng(QRandomGenerator::system()->generate())
{
    for (QTimer* timer : {&newOrderTimer, &confirmationTimer, &reviewTimer})
        timer->setSingleShot(true);
    connect(&newOrderTimer, &QTimer::timeout, this, &Simulator::NewOrder);
    connect(&confirmationTimer, &QTimer::timeout, this, &Simulator::AskForConfirmation);
    connect(&reviewTimer, &QTimer::timeout, this, &Simulator::ReviewServedOrder);
}

void Simulator::Start()
{
    Report(QStringLiteral("buyers are active: a new order every %1 to %2 s").arg(pace).arg(2 * pace));
    Arm(newOrderTimer, 1, 2);
    Arm(confirmationTimer, 1.5, 3);
    Arm(reviewTimer, 2, 4);
}

void Simulator::Arm(QTimer& timer, double lowFactor, double highFactor)
{
    const double seconds = pace * (lowFactor + rng.generateDouble() * (highFactor - lowFactor));
    timer.start(std::max(1, static_cast<int>(seconds * 1000)));
}

void Simulator::Report(const QString& event)
{
    PrintLine(QStringLiteral("[%1] ").arg(QTime::currentTime().toString(QStringLiteral("hh:mm:ss"))) + event);
}

void Simulator::NewOrder()
{
    QVector<Order> orders{Demo::RandomOrder(rng, shopId, Now())};
    Order& order = orders.first();
    // A payment after the order was placed is a change: it moves the update stamp.
    const bool paysLater = payLater && rng.bounded(2) == 0;
    order.status = paysLater ? Unpaid : Paid;
    order.ptime = paysLater ? 0 : order.ctime;
    if (!store.CreateOrders(&orders)) {
        Report(QStringLiteral("a new order could not be stored"));
    } else if (!paysLater) {
        ReportNew(order);
    } else {
        Report(QStringLiteral("order %1 placed, not paid yet").arg(order.id));
        if (rng.bounded(8) != 0) {
            const qint64 id = order.id;
            const double seconds = pace * (0.05 + 0.25 * rng.generateDouble());
            QTimer::singleShot(std::max(1, static_cast<int>(seconds * 1000)), this, [this, id] { Pay(id); });
        }
    }
    Arm(newOrderTimer, 1, 2);
}

void Simulator::Pay(qint64 id)
{
    if (!store.Pay(id))
        return;
    if (const std::optional<Order> paid = store.OrderById(0, id))
        ReportNew(*paid);
}

// Printed when the order is new to the shop: paid, whether at once or later.
void Simulator::ReportNew(const Order& order)
{
    Report(QStringLiteral("new order %1: %2 item(s), %3 yuan, %4, buyer's code %5")
               .arg(order.id)
               .arg(order.items.size())
               .arg(QString::number(Yuan(order.amountCents), 'f', 2))
               .arg(order.prepareType ? QStringLiteral("in the shop") : QStringLiteral("takeout"))
               .arg(order.password));
}

void Simulator::AskForConfirmation()
{
    // Buyers ask about orders they paid a while ago, not the ones just placed.
    const QVector<qint64> paid =
        store.OrderIdsWithStatus(Paid, 0, Now() - static_cast<qint64>(pace), QStringLiteral("ptime"));
    if (!paid.isEmpty()) {
        const qint64 id = paid.at(rng.bounded(paid.size()));
        if (store.RequestConfirmation(id))
            Report(QStringLiteral("buyer of order %1 asks the shop to confirm the service").arg(id));
    }
    Arm(confirmationTimer, 1.5, 3);
}

void Simulator::ReviewServedOrder()
{
    const qint64 now = Now();
    const QVector<qint64> served = store.OrderIdsWithStatus(
        Served, now - 2 * 86400, now - static_cast<qint64>(4 * pace), QStringLiteral("stime"));
    if (!served.isEmpty()) {
        const qint64 id = served.at(rng.bounded(served.size()));
        const QString review = Demo::RandomReview(rng);
        if (store.Review(id, review))
            Report(QStringLiteral("buyer of order %1 reviewed it: %2").arg(id).arg(review));
    }
    Arm(reviewTimer, 2, 4);
}

} // namespace Velm
