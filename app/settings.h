#pragma once

#include <QObject>
#include <QString>

class QSettings;

// The staff member's choices for one account, kept in settings.ini in the account's folder so that
// two shops on one computer keep their own. Every change is written at once and announced by
// Changed(); whoever acts on a setting reads it when it acts, so a change applies at once.
class CSettings : public QObject
{
    Q_OBJECT
public:
    explicit CSettings(qint64 account, QObject* parent = nullptr);
    ~CSettings() override;

    static QString FilePath(qint64 account); // <data folder>/<account>/settings.ini

    // Seconds between repeats of the new-order sound while a new order is unopened; 0 is off.
    static const QList<int>& ReminderChoices(); // 0, 30, 60, 120
    int ReminderInterval() const;
    // A tray message for each new order while the main window is minimised or hidden.
    bool TrayNotice() const;
    // The receipt of each new paid order printed (or saved as PDF) once its detail is fetched.
    bool AutoPrint() const;

    qint64 Account() const { return account; }

public slots:
    void SetReminderInterval(int seconds); // a value that is not one of the choices is ignored
    void SetTrayNotice(bool on);
    void SetAutoPrint(bool on);

signals:
    void Changed();

private:
    void Store(const QString& key, const QVariant& value);

    qint64 account;
    QSettings* store;
};
