#include "main/reminder.h"

#include <QEvent>
#include <QMediaPlayer>
#include <QTimer>
#include <QWidget>

#include <algorithm>

#include "app/log.h"
#include "app/settings.h"
#include "app/sound.h"

const QString CNewOrderReminder::SoundFile = QStringLiteral("audio/neworder.mp3");

CNewOrderReminder::CNewOrderReminder(CSettings* settings, QObject* parent)
    : QObject(parent), settings(settings), timer(new QTimer(this))
{
    connect(timer, &QTimer::timeout, this, &CNewOrderReminder::Repeat);
    if (settings)
        connect(settings, &CSettings::Changed, this, &CNewOrderReminder::Rearm);
}

CNewOrderReminder::~CNewOrderReminder()
{
    if (window)
        window->removeEventFilter(this);
}

void CNewOrderReminder::SetWindow(QWidget* value)
{
    if (window)
        window->removeEventFilter(this);
    window = value;
    if (window)
        window->installEventFilter(this);
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
    if (WindowOutOfSight())
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
    if (!player)
        player = new QMediaPlayer(this);
    qCDebug(lcOrders, "reminder: %d new order(s) not opened yet", int(waiting.size()));
    Sound::Play(player, SoundFile);
    // The tray may have been switched on while the orders waited.
    if (WindowOutOfSight())
        NoticeWaiting();
}

bool CNewOrderReminder::WindowOutOfSight() const
{
    return window && (!window->isVisible() || window->isMinimized());
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

bool CNewOrderReminder::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == window && (event->type() == QEvent::Hide || event->type() == QEvent::WindowStateChange)) {
        // The state settles after the event: look once it has.
        QTimer::singleShot(0, this, [this] {
            if (WindowOutOfSight())
                NoticeWaiting();
        });
    }
    return QObject::eventFilter(watched, event);
}
