#pragma once

#include <QMetaType>
#include <QObject>
#include <QString>

class COrder;

// What became of one receipt: printed (its job completed), saved as a PDF where the computer has
// no printer at all, or failed, with the printer and the reason in the staff member's words.
struct PrintOutcome
{
    enum class Result
    {
        Printed,
        SavedAsFile,
        Failed
    };
    Result result = Result::Failed;
    QString printer; // the queue it went to; empty when it went to a file
    QString file;    // the PDF it was saved as (or was to be saved as)
    QString reason;  // why it failed
    int jobId = 0;   // the spooler's job, 0 when it never took one

    bool Succeeded() const { return result != Result::Failed; }
    // "打印失败：<printer>：<reason>", or for a PDF that could not be written, where it was to go.
    QString FailureText() const;
};
Q_DECLARE_METATYPE(PrintOutcome)

// Prints receipts as the shop's settings say (which printer, paper and copies). The windows provide
// it; the automatic printing of new orders and the detail window's print button both go through it.
class CReceiptService : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    // Starts printing the receipt of `order` (what it holds now); Finished(ticket, ...) follows,
    // never before this returns.
    virtual int Print(const COrder& order) = 0;
    // The receipt of an earlier ticket once more, with the settings as they are now; 0 when that
    // ticket's receipt is no longer kept.
    virtual int Reprint(int ticket) = 0;
    // QueueReady(printer) once `printer` takes jobs again.
    virtual void WatchQueue(const QString& printer) = 0;

signals:
    void Finished(int ticket, const PrintOutcome& outcome);
    void QueueReady(const QString& printer);
};
