#include "main/reminder.h"

#include <QTimer>

#include "app/log.h"
#include "app/settings.h"
#include "app/sound.h"
#include "orders/neworders.h"

const QString CNewOrderReminder::SoundFile = QStringLiteral("audio/neworder.mp3");

CNewOrderReminder::CNewOrderReminder(CSettings* settings, Sound::Service* sounds, CNewOrders* newOrders,
                                     QObject* parent)
    : QObject(parent), settings(settings), sounds(sounds), newOrders(newOrders), timer(new QTimer(this))
{
    connect(timer, &QTimer::timeout, this, &CNewOrderReminder::Repeat);
    if (newOrders) {
        connect(newOrders, &CNewOrders::Arrived, this, &CNewOrderReminder::OrderArrived);
        connect(newOrders, &CNewOrders::Acknowledged, this, &CNewOrderReminder::OrderAcknowledged);
    }
    if (settings)
        connect(settings, &CSettings::Changed, this, &CNewOrderReminder::Rearm);
}

void CNewOrderReminder::SetWindowOutOfSight(bool value)
{
    if (outOfSight == value)
        return;
    outOfSight = value;
    if (outOfSight)
        NoticeWaiting();
}

QList<qint64> CNewOrderReminder::Waiting() const
{
    return newOrders ? newOrders->Waiting() : QList<qint64>();
}

bool CNewOrderReminder::IsRepeating() const
{
    return timer->isActive();
}

void CNewOrderReminder::SetClock(const PollClock& given)
{
    clock = given;
    if (timer->isActive())
        timer->stop();
    Rearm();
}

void CNewOrderReminder::OrderArrived(qint64)
{
    Rearm();
    if (outOfSight)
        NoticeWaiting();
}

void CNewOrderReminder::OrderAcknowledged(qint64 id)
{
    noticed.remove(id);
    if (Waiting().isEmpty())
        timer->stop();
}

void CNewOrderReminder::Rearm()
{
    const int seconds = settings ? settings->ReminderInterval() : 0;
    if (seconds <= 0 || Waiting().isEmpty()) {
        timer->stop();
        return;
    }
    const int interval = clock.Msecs(seconds);
    // A repeat already under way keeps its pace; a new interval starts counting now.
    if (!timer->isActive() || timer->interval() != interval)
        timer->start(interval);
}

void CNewOrderReminder::Repeat()
{
    const QList<qint64> ids = Waiting();
    if (ids.isEmpty()) {
        timer->stop();
        return;
    }
    qCDebug(lcOrders, "reminder: %d new order(s) not opened yet", int(ids.size()));
    if (sounds)
        sounds->Play(SoundFile);
    emit Reminded(ids);
    // The tray may have been switched on while the orders waited.
    if (outOfSight)
        NoticeWaiting();
}

void CNewOrderReminder::NoticeWaiting()
{
    if (!settings || !settings->TrayNotice())
        return;
    for (qint64 id : Waiting()) {
        if (noticed.contains(id))
            continue;
        noticed.insert(id);
        emit TrayNotice(QStringLiteral("新订单 ") + QString::number(id));
    }
}
