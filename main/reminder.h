#pragma once

#include <QObject>
#include <QPointer>
#include <QSet>

class CSettings;
class QMediaPlayer;
class QTimer;
class QWidget;

// Keeps ringing for new orders nobody has opened. An order counts from the moment its row starts
// blinking until its row is opened; while any such order waits, the new-order sound repeats every
// few seconds as the settings say (off by default: the arrival itself rings once, elsewhere). While
// the watched window is minimised or hidden, and the settings ask for it, each new order is
// announced once by a tray message, "新订单 <id>".
class CNewOrderReminder : public QObject
{
    Q_OBJECT
public:
    explicit CNewOrderReminder(CSettings* settings, QObject* parent = nullptr);
    ~CNewOrderReminder() override;

    static const QString SoundFile; // "audio/neworder.mp3"

    // The window whose state decides whether a tray message is due (the main window).
    void SetWindow(QWidget* window);

    QList<qint64> Waiting() const; // arrived, not yet opened
    bool IsRepeating() const;

    // Tests make a "second" shorter.
    void SetSecondLength(int msecs);

public slots:
    void OrderArrived(qint64 id);
    void OrderAcknowledged(qint64 id);

signals:
    // A message for the tray, "新订单 <id>"; the main window shows it through its tray icon.
    void TrayNotice(const QString& text);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Rearm();
    void Repeat();
    bool WindowOutOfSight() const;
    void NoticeWaiting();

    CSettings* settings;
    QPointer<QWidget> window;
    QSet<qint64> waiting;
    QSet<qint64> noticed; // waiting orders already announced in the tray
    QTimer* timer;
    QMediaPlayer* player = nullptr;
    int secondLength = 1000;
};
