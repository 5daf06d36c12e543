#include "main/reminder.h"

#include <QTimer>

#include <algorithm>

#include "app/log.h"
#include "app/settings.h"
#include "app/sound.h"

const QString CNewOrderReminder::SoundFile = QStringLiteral("audio/neworder.mp3");

CNewOrderReminder::CNewOrderReminder(CSettings* settings, Sound::Service* sounds, QObject* parent)
    : QObject(parent), settings(settings), sounds(sounds), timer(new QTimer(this))
{
    connect(timer, &QTimer::timeout, this, &CNewOrderReminder::Repeat);
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
    QList<qint64> ids = waiting.values();
    std::sort(ids.begin(), ids.end());
    return ids;
}

bool CNewOrderReminder::IsRepeating() const
{
    return timer->isActive();
}

void CNewOrderReminder::SetSecondLength(int msecs)
{
    secondLength = qMax(1, msecs);
    if (timer->isActive())
        timer->stop();
    Rearm();
}

void CNewOrderReminder::OrderArrived(qint64 id)
{
    if (waiting.contains(id))
        return;
    waiting.insert(id);
    Rearm();
    if (outOfSight)
        NoticeWaiting();
}

void CNewOrderReminder::OrderAcknowledged(qint64 id)
{
    if (!waiting.remove(id))
        return;
    noticed.remove(id);
    if (waiting.isEmpty())
        timer->stop();
}

void CNewOrderReminder::Rearm()
{
    const int seconds = settings ? settings->ReminderInterval() : 0;
    if (seconds <= 0 || waiting.isEmpty()) {
        timer->stop();
        return;
    }
    const int interval = seconds * secondLength;
    // A repeat already under way keeps its pace; a new interval starts counting now.
    if (!timer->isActive() || timer->interval() != interval)
        timer->start(interval);
}

void CNewOrderReminder::Repeat()
{
    if (waiting.isEmpty()) {
        timer->stop();
        return;
    }
    qCDebug(lcOrders, "reminder: %d new order(s) not opened yet", int(waiting.size()));
    if (sounds)
        sounds->Play(SoundFile);
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
