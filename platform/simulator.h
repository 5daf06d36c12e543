#pragma once

#include "store.h"

#include <QObject>
#include <QRandomGenerator>
#include <QTimer>

namespace Velm {

// Buyers acting on their own: a new paid order every `pace` to 2 × `pace` seconds, now and then a
// buyer asking the shop to confirm a paid order (its update stamp moves, its status does not),
// and served orders reviewed a while after the service. Each event is printed on one line; an
// order is printed as new when it is paid.
//
// With SetPayLater, half the buyers place their order unpaid and pay 0.05 to 0.3 × `pace` later
// (one in eight never): the payment is a change of its own, reported by the pay/finish poll as
// well, and the new-order poll may list the order paid before that poll does.
class Simulator : public QObject
{
    Q_OBJECT

public:
    Simulator(Store& store, qint64 shopId, double paceSeconds, QObject* parent = nullptr);
    void Start();
    void SetPayLater(bool on) { payLater = on; }

private slots:
    void NewOrder();
    void AskForConfirmation();
    void ReviewServedOrder();

private:
    void Pay(qint64 id);
    void ReportNew(const Order& order);
    void Arm(QTimer& timer, double lowFactor, double highFactor);
    void Report(const QString& event);

    Store& store;
    qint64 shopId;
    double pace;
    bool payLater = false;
    QRandomGenerator rng;
    QTimer newOrderTimer;
    QTimer confirmationTimer;
    QTimer reviewTimer;
};

} // namespace Velm
