#include "detail/autoprint.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "app/atomicfile.h"
#include "app/constants.h"
#include "app/log.h"
#include "app/settings.h"
#include "orders/corder.h"

CAutoPrint::CAutoPrint(CSettings* settings, qint64 account, QObject* parent)
    : QObject(parent), settings(settings), account(account)
{
    Load();
}

QString CAutoPrint::FilePath(qint64 account)
{
    return JoinPath(AccountDir(account), QStringLiteral("printed.txt"));
}

void CAutoPrint::SetPrinter(CReceiptService* given)
{
    if (service)
        service->disconnect(this);
    service = given;
    if (!service)
        return;
    connect(service, &CReceiptService::Finished, this, &CAutoPrint::JobFinished);
    connect(service, &CReceiptService::QueueReady, this, &CAutoPrint::QueueReady);
}

bool CAutoPrint::IsPrinting(qint64 id) const
{
    for (qint64 printing : running)
        if (printing == id)
            return true;
    return false;
}

bool CAutoPrint::AwaitsRetry(qint64 id) const
{
    const auto found = failed.constFind(id);
    return found != failed.constEnd() && !found->retried && !found->printer.isEmpty();
}

void CAutoPrint::DetailReady(COrder* detail)
{
    if (!detail || !settings || !settings->AutoPrint())
        return;
    const qint64 id = detail->GetId();
    // A failed receipt is printed again by its retry or the staff member, not by a detail read again.
    if (detail->GetStatus() != int(StatusPaid.first) || printed.contains(id) || failed.contains(id) ||
        IsPrinting(id))
        return;
    if (!service) {
        qCWarning(lcPrinting, "order %lld: no printer could be set up, the receipt was not printed", id);
        emit PrintFailed(id, QStringLiteral("打印失败：未能设置打印机"));
        return;
    }
    Start(id, service->Print(*detail));
}

void CAutoPrint::Reprint(qint64 id)
{
    const auto found = failed.constFind(id);
    if (!service || found == failed.constEnd() || IsPrinting(id))
        return;
    qCInfo(lcPrinting, "order %lld: the receipt is printed again at the staff member's request", id);
    Start(id, service->Reprint(found->ticket));
}

void CAutoPrint::Start(qint64 id, int ticket)
{
    if (ticket > 0)
        running.insert(ticket, id);
}

void CAutoPrint::JobFinished(int ticket, const PrintOutcome& outcome)
{
    const auto found = running.find(ticket);
    if (found == running.end())
        return; // a receipt printed from a window
    const qint64 id = *found;
    running.erase(found);

    if (!outcome.Succeeded()) {
        // A retry that fails too is not tried again by itself: the staff member has been told.
        const bool retried = failed.value(id).retried;
        failed.insert(id, Failure{ticket, outcome.printer, retried});
        if (!outcome.printer.isEmpty() && !retried) {
            qCWarning(lcPrinting, "order %lld: the automatic receipt failed on %s (%s); it is printed again once the "
                                  "printer takes jobs",
                      id, qUtf8Printable(outcome.printer), qUtf8Printable(outcome.reason));
            service->WatchQueue(outcome.printer);
        } else {
            qCWarning(lcPrinting, "order %lld: the automatic receipt failed: %s", id,
                      qUtf8Printable(outcome.FailureText()));
        }
        emit PrintFailed(id, outcome.FailureText());
        return;
    }

    failed.remove(id);
    Remember(id);
    if (outcome.result == PrintOutcome::Result::SavedAsFile)
        qCInfo(lcPrinting, "order %lld: receipt printed automatically, no printer: saved as %s", id,
               qUtf8Printable(QDir::toNativeSeparators(outcome.file)));
    else
        qCInfo(lcPrinting, "order %lld: receipt printed automatically on %s (job %d)", id,
               qUtf8Printable(outcome.printer), outcome.jobId);
    emit Printed(id, outcome.file);
}

void CAutoPrint::QueueReady(const QString& printer)
{
    for (auto it = failed.begin(); it != failed.end(); ++it) {
        if (it->printer != printer || it->retried || IsPrinting(it.key()))
            continue;
        it->retried = true;
        qCInfo(lcPrinting, "order %lld: %s takes jobs again, the receipt is printed again", it.key(),
               qUtf8Printable(printer));
        Start(it.key(), service->Reprint(it->ticket));
    }
}

void CAutoPrint::Remember(qint64 id)
{
    if (printed.contains(id))
        return;
    printed.insert(id);
    order.append(id);
    while (order.size() > RememberedIds)
        printed.remove(order.takeFirst());
    if (!Save())
        qCWarning(lcPrinting,
                  "the list of printed orders could not be saved to %s: a restart may print "
                  "order %lld again",
                  qUtf8Printable(QDir::toNativeSeparators(FilePath(account))), id);
}

void CAutoPrint::Load()
{
    QFile file(FilePath(account));
    if (!file.open(QIODevice::ReadOnly))
        return;
    // One id a line, oldest first; anything else in the file (a torn or edited line) is skipped.
    while (!file.atEnd()) {
        bool ok = false;
        const qint64 id = file.readLine(64).trimmed().toLongLong(&ok);
        if (ok && id > 0 && !printed.contains(id)) {
            printed.insert(id);
            order.append(id);
        }
    }
    while (order.size() > RememberedIds)
        printed.remove(order.takeFirst());
}

bool CAutoPrint::Save() const
{
    QByteArray text;
    text.reserve(order.size() * 13);
    for (qint64 id : order)
        text += QByteArray::number(id) + '\n';
    return AtomicFile::Write(FilePath(account), text);
}
