#pragma once

#include <QList>
#include <QObject>
#include <QSet>
#include <QString>

#include <functional>

class COrder;
class CSettings;

// Prints the receipt of each new paid order on its own, once its detail (items, buyer) is known:
// to the default printer, or as a PDF in the receipts folder where there is none, exactly as the
// detail window's print button does. Each order is printed once: the ids printed are kept in a
// file in the account's folder, so that a restart that fetches the same details again does not
// print them twice. Whether the order is new is the caller's to judge; this only prints when the
// settings ask for it and the order is paid.
class CAutoPrint : public QObject
{
    Q_OBJECT
public:
    // Where one receipt went: the PDF file it was saved as (empty when it went to a printer), or the
    // printer's name or the file's path; `printed` false when it could not be printed ("no printer"
    // when none could be set up); `toFile` when there was no printer and it went to a PDF.
    struct Outcome
    {
        bool printed = false;
        QString file;
        QString where;
        bool toFile = false;
    };
    // Prints one receipt on the default printer, or as a PDF where there is none. The windows give
    // the one their print button uses; without one every receipt fails with "no printer".
    using Printer = std::function<Outcome(const COrder&)>;
    void SetPrinter(Printer value) { printer = std::move(value); }

    CAutoPrint(CSettings* settings, qint64 account, QObject* parent = nullptr);

    static constexpr int RememberedIds = 5000; // the most recent ones; older ids are long finished
    static QString FilePath(qint64 account);   // <data folder>/<account>/printed.txt

    bool WasPrinted(qint64 id) const { return printed.contains(id); }
    int PrintedCount() const { return int(order.size()); }

public slots:
    void DetailReady(COrder* order);

signals:
    // After each receipt: `file` is the PDF it went to, empty when it went to a printer.
    void Printed(qint64 id, const QString& file);
    void PrintFailed(qint64 id, const QString& reason);

private:
    void Load();
    bool Save() const;
    void Remember(qint64 id);

    CSettings* settings;
    qint64 account;
    Printer printer;
    QSet<qint64> printed;
    QList<qint64> order; // the same ids, oldest first
};
