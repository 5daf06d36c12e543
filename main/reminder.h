#pragma once

#include <QObject>
#include <QSet>

#include "orders/pollclock.h"

class CNewOrders;
class CSettings;
class QTimer;
namespace Sound {
class Service;
}

// Keeps ringing for new orders nobody has dealt with: the orders `CNewOrders` holds as waiting,
// from their arrival until they are opened or leave "paid". While any such order waits, the
// new-order sound repeats every few seconds as the settings say (off by default: the arrival itself
// rings once, elsewhere). While
// the main window is minimised or hidden (it says so through SetWindowOutOfSight), and the
// settings ask for it, each new order is announced once by a tray message, "新订单 <id>".
class CNewOrderReminder : public QObject
{
    Q_OBJECT
public:
    CNewOrderReminder(CSettings* settings, Sound::Service* sounds, CNewOrders* newOrders,
                      QObject* parent = nullptr);

    static const QString SoundFile; // "audio/neworder.mp3"

    QList<qint64> Waiting() const; // arrived, not yet dealt with
    bool IsRepeating() const;

    // The length of its "second" (a session's options give it).
    void SetClock(const PollClock& given);

public slots:
    // Whether the main window is hidden or minimised: a tray message is due only then.
    void SetWindowOutOfSight(bool outOfSight);

signals:
    // A message for the tray, "新订单 <id>"; the main window shows it through its tray icon.
    void TrayNotice(const QString& text);
    // The sound was repeated for these orders.
    void Reminded(const QList<qint64>& waiting);

private:
    void OrderArrived(qint64 id);
    void OrderAcknowledged(qint64 id);
    void Rearm();
    void Repeat();
    void NoticeWaiting();

    CSettings* settings;
    Sound::Service* sounds;
    CNewOrders* newOrders;
    bool outOfSight = false;
    QSet<qint64> noticed; // waiting orders already announced in the tray
    QTimer* timer;
    PollClock clock;
};
