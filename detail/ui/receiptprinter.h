#pragma once

#include <QHash>
#include <QList>
#include <QPointer>

#include <functional>
#include <memory>

#include "detail/printjob.h"
#include "detail/ui/receipt.h"
#include "detail/receiptservice.h"

class CAutoPrint;
class CPrintSpooler;
class QPrinter;
class QSystemTrayIcon;
class CSession;
class CSettings;
class QTemporaryFile;

// Prints receipts as the shop chose in the settings: on its receipt printer (the system's default
// printer until it chooses another), laid out for its paper, as many copies as it asked for. The
// receipt is written as a PDF and handed to that printer's queue, and its job is followed until it
// completes or fails; where the computer has no printer at all it is kept as a PDF in the receipts
// folder instead. Every job and its fate go to the log (tarvik.printing). Nothing here waits: the
// spooler answers on its own thread, and each receipt's outcome comes with Finished().
class CReceiptPrinter : public CReceiptService
{
    Q_OBJECT
public:
    // The session's one receipt printer, made on first use.
    static CReceiptPrinter* ForSession(CSession* session);

    // Makes the printer one receipt is painted on; the caller owns it.
    using PrinterFactory = std::function<QPrinter*()>;

    // Given printers of its own (a test's PDF printer on a known file), it paints every receipt on
    // one of them at once and asks no print queue; its outcome still comes afterwards.
    explicit CReceiptPrinter(CSettings* settings, QObject* parent = nullptr, PrinterFactory printers = {});
    ~CReceiptPrinter() override;

    CPrintSpooler* Spooler() const { return spooler; }

    int Print(const COrder& order) override;
    int PrintSample(); // the settings window's test page
    int Reprint(int ticket) override;
    void WatchQueue(const QString& printer) override;

    static constexpr int KeptReceipts = 100; // the latest ones, for Reprint

private:
    struct Job
    {
        Receipt::Data data;
        QString printer; // as asked for; empty: the default printer
        Receipt::Paper paper = Receipt::Paper::PrinterPage;
        int copies = 1;
        QString queue;   // the queue it went to
        std::shared_ptr<QTemporaryFile> pdf;
    };

    int Start(const Receipt::Data& data);
    void Described(int ticket, const PrintQueue& queue);
    void Accepted(int ticket, int jobId);
    void Ended(int ticket, const PrintJobEnd& end);
    PrintOutcome SaveAsFile(const Job& job);
    void Fail(int ticket, const QString& printer, const QString& reason, int jobId = 0);
    void Finish(int ticket, const PrintOutcome& outcome);
    static QString What(const Receipt::Data& data); // "order 123" or "the test page", for the log

    QPointer<CSettings> settings;
    PrinterFactory printers;
    CPrintSpooler* spooler;
    int lastTicket = 0;
    QHash<int, Job> jobs; // on their way, by ticket
    QHash<int, Receipt::Data> kept;
    QList<int> keptOrder;
};

namespace Receipt {

// Says a failed automatic receipt in the tray ("打印失败：<printer>：<reason>"), with "重新打印",
// which prints it again.
void ShowFailureInTray(QSystemTrayIcon* trayIcon, CAutoPrint* autoPrint, qint64 id, const QString& text);

} // namespace Receipt
