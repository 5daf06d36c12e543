#pragma once

#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>

#include "detail/receiptservice.h"

class COrder;
class CSettings;

// Prints the receipt of each new paid order on its own, once its detail (items, buyer) is known,
// through the same receipt service as the detail window's print button: on the shop's receipt
// printer, or as a PDF in the receipts folder where the computer has none. An order counts as
// printed only once its job has completed (or its PDF is written): the ids printed are kept in a
// file in the account's folder, so that a restart that fetches the same details again does not print
// them twice. A receipt whose job failed is said through PrintFailed and printed again once, when
// its printer takes jobs again. Whether the order is new is the caller's to judge; this only prints
// when the settings ask for it and the order is paid.
class CAutoPrint : public QObject
{
    Q_OBJECT
public:
    CAutoPrint(CSettings* settings, qint64 account, QObject* parent = nullptr);

    // The windows give the service their print button uses; without one nothing is printed.
    void SetPrinter(CReceiptService* service);

    static constexpr int RememberedIds = 5000; // the most recent ones; older ids are long finished
    static QString FilePath(qint64 account);   // <data folder>/<account>/printed.txt

    bool WasPrinted(qint64 id) const { return printed.contains(id); }
    int PrintedCount() const { return int(order.size()); }
    bool IsPrinting(qint64 id) const;            // its receipt's job is on its way
    bool AwaitsRetry(qint64 id) const;           // failed; printed again once its printer takes jobs
    QList<qint64> Failed() const { return failed.keys(); } // failed and not printed since

public slots:
    void DetailReady(COrder* order);
    // The staff member asks for a failed receipt again ("重新打印").
    void Reprint(qint64 id);

signals:
    // After each receipt: `file` is the PDF it went to, empty when it went to a printer.
    void Printed(qint64 id, const QString& file);
    // "打印失败：<printer>：<reason>" (or where a PDF could not be written).
    void PrintFailed(qint64 id, const QString& text);

private:
    struct Failure
    {
        int ticket = 0;  // the failed job's, to print its receipt again
        QString printer; // empty when it went to a file
        bool retried = false;
    };

    void JobFinished(int ticket, const PrintOutcome& outcome);
    void QueueReady(const QString& printer);
    void Start(qint64 id, int ticket);
    void Load();
    bool Save() const;
    void Remember(qint64 id);

    CSettings* settings;
    qint64 account;
    QPointer<CReceiptService> service;
    QSet<qint64> printed;
    QList<qint64> order;            // the same ids, oldest first
    QHash<int, qint64> running;     // order of each job on its way, by ticket
    QHash<qint64, Failure> failed;  // by order
};
