#pragma once

#include <QObject>
#include <QString>

// The staff member's choices for one account, kept in settings.ini in the account's folder so that
// two shops on one computer keep their own. Every change is written at once and announced by
// Changed(); whoever acts on a setting reads it when it acts, so a change applies at once. A change
// the disk refuses still applies until the program ends, and SaveFailed() says why it was not kept.
class CSettings : public QObject
{
    Q_OBJECT
public:
    explicit CSettings(qint64 account, QObject* parent = nullptr);

    static QString FilePath(qint64 account); // <data folder>/<account>/settings.ini

    // Seconds between repeats of the new-order sound while a new order is unopened; 0 is off.
    static const QList<int>& ReminderChoices(); // 0, 30, 60, 120
    int ReminderInterval() const { return reminderInterval; }
    // A tray message for each new order while the main window is minimised or hidden.
    bool TrayNotice() const { return trayNotice; }
    // The receipt of each new paid order printed (or saved as PDF) once its detail is fetched.
    bool AutoPrint() const { return autoPrint; }

    // The paper receipts are laid out for: a 58 mm or 80 mm roll, or the printer's own page.
    enum class Paper
    {
        Roll58,
        Roll80,
        PrinterPage
    };
    // The printer receipts go to, by its name in the system; empty: the system's default printer.
    QString ReceiptPrinter() const { return receiptPrinter; }
    Paper ReceiptPaper() const { return receiptPaper; }
    int ReceiptCopies() const { return receiptCopies; }
    static constexpr int MostCopies = 3;

    qint64 Account() const { return account; }

public slots:
    void SetReminderInterval(int seconds); // a value that is not one of the choices is ignored
    void SetTrayNotice(bool on);
    void SetAutoPrint(bool on);
    void SetReceiptPrinter(const QString& name);
    void SetReceiptPaper(CSettings::Paper paper);
    void SetReceiptCopies(int copies); // 1 to MostCopies; anything else is ignored

signals:
    void Changed();
    void SaveFailed(const QString& reason);

private:
    void Save();

    qint64 account;
    int reminderInterval = 0;
    bool trayNotice = false;
    bool autoPrint = false;
    QString receiptPrinter;
    Paper receiptPaper = Paper::PrinterPage;
    int receiptCopies = 1;
};
