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

void CAutoPrint::DetailReady(COrder* detail)
{
    if (!detail || !settings || !settings->AutoPrint())
        return;
    const qint64 id = detail->GetId();
    if (detail->GetStatus() != int(StatusPaid.first) || printed.contains(id))
        return;

    const Outcome outcome = printer ? printer(*detail) : Outcome{false, QString(), QStringLiteral("no printer")};
    const QString file = outcome.file;
    if (!outcome.printed) {
        if (outcome.where == QLatin1String("no printer"))
            qCWarning(lcPrinting, "order %lld: no printer could be set up, the receipt was not printed", id);
        else
            qCWarning(lcPrinting, "order %lld: the receipt could not be printed to %s", id,
                      qUtf8Printable(outcome.where));
        emit PrintFailed(id, outcome.where);
        return;
    }

    Remember(id);
    if (!file.isEmpty())
        qCInfo(lcPrinting, "order %lld: receipt printed automatically, no printer: saved as %s", id,
               qUtf8Printable(QDir::toNativeSeparators(file)));
    else
        qCInfo(lcPrinting, "order %lld: receipt printed automatically on %s", id,
               qUtf8Printable(outcome.where));
    emit Printed(id, file);
}

void CAutoPrint::Remember(qint64 id)
{
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
