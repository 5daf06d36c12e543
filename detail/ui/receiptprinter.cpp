#include "detail/ui/receiptprinter.h"

#include <QDir>
#include <QFileInfo>
#include <QPrinter>
#include <QTemporaryFile>

#include "app/ui/desktop.h"
#include "app/log.h"
#include "app/constants.h"
#include "app/settings.h"
#include "app/ui/traymessage.h"
#include "detail/autoprint.h"
#include "detail/printspooler.h"
#include "session/csession.h"

namespace {

QString paperName(Receipt::Paper paper)
{
    switch (paper) {
    case Receipt::Paper::Roll58:
        return QStringLiteral("58 mm roll");
    case Receipt::Paper::Roll80:
        return QStringLiteral("80 mm roll");
    case Receipt::Paper::PrinterPage:
        break;
    }
    return QStringLiteral("the printer's page");
}

} // namespace

CReceiptPrinter* CReceiptPrinter::ForSession(CSession* session)
{
    if (!session)
        return nullptr;
    if (auto* existing = qobject_cast<CReceiptPrinter*>(session->Receipts()))
        return existing;
    auto* made = new CReceiptPrinter(session->Settings(), session);
    session->SetReceipts(made);
    return made;
}

CReceiptPrinter::CReceiptPrinter(CSettings* settings, QObject* parent, PrinterFactory printers)
    : CReceiptService(parent), settings(settings), printers(std::move(printers)),
      spooler(new CPrintSpooler(nullptr, this))
{
    qRegisterMetaType<PrintOutcome>("PrintOutcome");
    connect(spooler, &CPrintSpooler::Described, this, &CReceiptPrinter::Described);
    connect(spooler, &CPrintSpooler::Accepted, this, &CReceiptPrinter::Accepted);
    connect(spooler, &CPrintSpooler::Ended, this, &CReceiptPrinter::Ended);
    connect(spooler, &CPrintSpooler::QueueReady, this, &CReceiptService::QueueReady);
}

CReceiptPrinter::~CReceiptPrinter()
{
    // The spooler's thread ends before the jobs' files go.
    delete spooler;
    spooler = nullptr;
}

QString CReceiptPrinter::What(const Receipt::Data& data)
{
    return data.sample ? QStringLiteral("test page") : QStringLiteral("receipt of order %1").arg(data.id);
}

int CReceiptPrinter::Print(const COrder& order)
{
    return Start(Receipt::Data::Of(order));
}

int CReceiptPrinter::PrintSample()
{
    return Start(Receipt::Data::Sample());
}

int CReceiptPrinter::Reprint(int ticket)
{
    const auto found = kept.constFind(ticket);
    return found == kept.constEnd() ? 0 : Start(*found);
}

void CReceiptPrinter::WatchQueue(const QString& printer)
{
    spooler->WatchQueue(printer);
}

int CReceiptPrinter::Start(const Receipt::Data& data)
{
    const int ticket = ++lastTicket;
    kept.insert(ticket, data);
    keptOrder.append(ticket);
    while (keptOrder.size() > KeptReceipts)
        kept.remove(keptOrder.takeFirst());

    Job job;
    job.data = data;
    if (settings) {
        job.printer = settings->ReceiptPrinter();
        job.paper = settings->ReceiptPaper();
        job.copies = settings->ReceiptCopies();
    }
    if (printers) {
        const PrintOutcome outcome = SaveAsFile(job);
        jobs.insert(ticket, job);
        QMetaObject::invokeMethod(this, [this, ticket, outcome] { Finish(ticket, outcome); }, Qt::QueuedConnection);
        return ticket;
    }
    jobs.insert(ticket, job);
    spooler->Describe(ticket, job.printer);
    return ticket;
}

void CReceiptPrinter::Described(int ticket, const PrintQueue& queue)
{
    const auto found = jobs.find(ticket);
    if (found == jobs.end())
        return;
    Job& job = *found;
    // No default printer, or no print service at all: the computer has no printer to print on.
    if (job.printer.isEmpty() && !queue.exists) {
        Finish(ticket, SaveAsFile(job));
        return;
    }
    const QString printer = queue.name.isEmpty() ? job.printer : queue.name;
    if (!queue.Ready()) {
        qCWarning(lcPrinting, "%s not sent to %s: %s", qUtf8Printable(What(job.data)), qUtf8Printable(printer),
                  qUtf8Printable(queue.Problem()));
        Fail(ticket, printer, queue.Problem());
        return;
    }

    job.queue = printer;
    job.pdf = std::make_shared<QTemporaryFile>(QDir(QDir::tempPath()).filePath(QStringLiteral("tarvik-receipt-XXXXXX.pdf")));
    QSizeF pageMm;
    if (!job.pdf->open() ||
        !Receipt::WritePdf(job.pdf->fileName(), job.data, job.paper, queue.paperMm, &pageMm)) {
        qCWarning(lcPrinting, "%s could not be written for %s into %s", qUtf8Printable(What(job.data)),
                  qUtf8Printable(printer), qUtf8Printable(job.pdf->fileName()));
        Fail(ticket, printer, QStringLiteral("小票未能生成"));
        return;
    }
    job.pdf->close();

    PrintJob print;
    print.printer = printer;
    print.file = job.pdf->fileName();
    print.title = job.data.sample ? QStringLiteral("Velm测试页") : QStringLiteral("Velm订单 %1").arg(job.data.id);
    print.copies = job.copies;
    // A roll is cut to the receipt's length; a page stays the queue's own.
    if (job.paper != Receipt::Paper::PrinterPage)
        print.paperMm = pageMm;
    qCInfo(lcPrinting, "%s sent to %s (%s, %.0f x %.0f mm, %d %s)", qUtf8Printable(What(job.data)),
           qUtf8Printable(printer), qUtf8Printable(paperName(job.paper)), pageMm.width(), pageMm.height(), job.copies,
           job.copies == 1 ? "copy" : "copies");
    spooler->Submit(ticket, print);
}

void CReceiptPrinter::Accepted(int ticket, int jobId)
{
    const auto found = jobs.constFind(ticket);
    if (found != jobs.constEnd())
        qCInfo(lcPrinting, "%s: job %d accepted by %s", qUtf8Printable(What(found->data)), jobId,
               qUtf8Printable(found->queue));
}

void CReceiptPrinter::Ended(int ticket, const PrintJobEnd& end)
{
    const auto found = jobs.constFind(ticket);
    if (found == jobs.constEnd())
        return;
    const Job job = *found;
    if (!end.completed) {
        if (end.jobId > 0)
            qCWarning(lcPrinting, "%s: job %d on %s failed: %s", qUtf8Printable(What(job.data)), end.jobId,
                      qUtf8Printable(job.queue), qUtf8Printable(end.reason));
        else
            qCWarning(lcPrinting, "%s: %s did not take the job: %s", qUtf8Printable(What(job.data)),
                      qUtf8Printable(job.queue), qUtf8Printable(end.reason));
        Fail(ticket, job.queue, end.reason, end.jobId);
        return;
    }
    qCInfo(lcPrinting, "%s: job %d on %s completed", qUtf8Printable(What(job.data)), end.jobId,
           qUtf8Printable(job.queue));
    PrintOutcome outcome;
    outcome.result = PrintOutcome::Result::Printed;
    outcome.printer = job.queue;
    outcome.jobId = end.jobId;
    Finish(ticket, outcome);
}

PrintOutcome CReceiptPrinter::SaveAsFile(const Job& job)
{
    PrintOutcome outcome;
    std::unique_ptr<QPrinter> printer(printers ? printers() : Desktop::CreateReceiptPrinter());
    if (!printer) {
        outcome.reason = QStringLiteral("未能设置打印机");
        return outcome;
    }
    const bool toFile = printer->outputFormat() == QPrinter::PdfFormat;
    outcome.file = toFile ? printer->outputFileName() : QString();
    outcome.printer = toFile ? QString() : printer->printerName();
    const bool painted = Receipt::Paint(printer.get(), job.data, job.paper);
    printer.reset(); // a PDF is complete on disk only once its printer is gone
    if (!painted || (toFile && QFileInfo(outcome.file).size() <= 0)) {
        outcome.reason = QStringLiteral("小票未能生成");
        qCWarning(lcPrinting, "%s could not be saved as %s", qUtf8Printable(What(job.data)),
                  qUtf8Printable(QDir::toNativeSeparators(outcome.file)));
        return outcome;
    }
    outcome.result = toFile ? PrintOutcome::Result::SavedAsFile : PrintOutcome::Result::Printed;
    qCInfo(lcPrinting, "%s: no printer, saved as %s", qUtf8Printable(What(job.data)),
           qUtf8Printable(QDir::toNativeSeparators(outcome.file)));
    return outcome;
}

void CReceiptPrinter::Fail(int ticket, const QString& printer, const QString& reason, int jobId)
{
    PrintOutcome outcome;
    outcome.printer = printer;
    outcome.reason = reason;
    outcome.jobId = jobId;
    Finish(ticket, outcome);
}

void CReceiptPrinter::Finish(int ticket, const PrintOutcome& outcome)
{
    jobs.remove(ticket); // and its PDF with it
    emit Finished(ticket, outcome);
}

namespace Receipt {

void ShowFailureInTray(QSystemTrayIcon* trayIcon, CAutoPrint* autoPrint, qint64 id, const QString& text)
{
    Tray::ShowMessage(trayIcon, AppName, text, QSystemTrayIcon::Warning, 10000, QStringLiteral("重新打印"),
                      [printer = QPointer<CAutoPrint>(autoPrint), id] {
                          if (printer)
                              printer->Reprint(id);
                      });
}

} // namespace Receipt
