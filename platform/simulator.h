#pragma once

#include "store.h"

#include <QObject>
#include <QRandomGenerator>
#include <QTimer>

namespace Velm {

// Buyers acting on their own: a new paid order every `pace` to 2 × `pace` seconds, now and then a
// buyer asking the shop to confirm a paid order (its update stamp moves, its status does not),
// and served orders reviewed a while after the service. Each event is printed on one line.
class Simulator : public QObject
{
    Q_OBJECT

public:
    Simulator(Store& store, qint64 shopId, double paceSeconds, QObject* parent = nullptr);
    void Start();

private slots:
    void NewOrder();
    void AskForConfirmation();
    void ReviewServedOrder();

private:
    void Arm(QTimer& timer, double lowFactor, double highFactor);
    void Report(const QString& event);

    Store& store;
    qint64 shopId;
    double pace;
    QRandomGenerator rng;
    QTimer newOrderTimer;
    QTimer confirmationTimer;
    QTimer reviewTimer;
};

} // namespace Velm
