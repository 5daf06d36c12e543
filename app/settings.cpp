#include "app/settings.h"

#include <QSettings>
#include <QUrl>

#include "app/atomicfile.h"
#include "app/constants.h"

namespace {

const QString reminderKey = QStringLiteral("reminder/interval");
const QString trayNoticeKey = QStringLiteral("reminder/trayNotice");
const QString autoPrintKey = QStringLiteral("printing/autoPrint");
const QString printerKey = QStringLiteral("printing/printer");
const QString paperKey = QStringLiteral("printing/paper");
const QString copiesKey = QStringLiteral("printing/copies");

QByteArray paperText(CSettings::Paper paper)
{
    switch (paper) {
    case CSettings::Paper::Roll58:
        return QByteArrayLiteral("58mm");
    case CSettings::Paper::Roll80:
        return QByteArrayLiteral("80mm");
    case CSettings::Paper::PrinterPage:
        break;
    }
    return QByteArrayLiteral("page");
}

QByteArray BoolText(bool on)
{
    return on ? QByteArrayLiteral("true") : QByteArrayLiteral("false");
}

} // namespace

CSettings::CSettings(qint64 account, QObject* parent) : QObject(parent), account(account)
{
    // QSettings only reads here: it would write through a save that a full disk can empty.
    const QSettings file(FilePath(account), QSettings::IniFormat);
    // A hand-edited or damaged file must not make the sound repeat every second.
    bool ok = false;
    const int seconds = file.value(reminderKey, 0).toInt(&ok);
    reminderInterval = ok && ReminderChoices().contains(seconds) ? seconds : 0;
    trayNotice = file.value(trayNoticeKey, false).toBool();
    autoPrint = file.value(autoPrintKey, false).toBool();
    // The printer's name is kept percent-encoded, so that any name reads back as it was written.
    receiptPrinter = QUrl::fromPercentEncoding(file.value(printerKey).toString().toLatin1());
    const QByteArray paper = file.value(paperKey).toString().toLatin1();
    for (Paper choice : {Paper::Roll58, Paper::Roll80, Paper::PrinterPage})
        if (paper == paperText(choice))
            receiptPaper = choice;
    const int copies = file.value(copiesKey, 1).toInt(&ok);
    receiptCopies = ok && copies >= 1 && copies <= MostCopies ? copies : 1;
}

QString CSettings::FilePath(qint64 account)
{
    return JoinPath(AccountDir(account), QStringLiteral("settings.ini"));
}

const QList<int>& CSettings::ReminderChoices()
{
    static const QList<int> choices{0, 30, 60, 120};
    return choices;
}

void CSettings::SetReminderInterval(int seconds)
{
    if (!ReminderChoices().contains(seconds) || seconds == reminderInterval)
        return;
    reminderInterval = seconds;
    Save();
}

void CSettings::SetTrayNotice(bool on)
{
    if (on == trayNotice)
        return;
    trayNotice = on;
    Save();
}

void CSettings::SetAutoPrint(bool on)
{
    if (on == autoPrint)
        return;
    autoPrint = on;
    Save();
}

void CSettings::SetReceiptPrinter(const QString& name)
{
    if (name == receiptPrinter)
        return;
    receiptPrinter = name;
    Save();
}

void CSettings::SetReceiptPaper(Paper paper)
{
    if (paper == receiptPaper)
        return;
    receiptPaper = paper;
    Save();
}

void CSettings::SetReceiptCopies(int copies)
{
    if (copies < 1 || copies > MostCopies || copies == receiptCopies)
        return;
    receiptCopies = copies;
    Save();
}

// The file QSettings writes in its INI format, groups and keys in alphabetical order.
void CSettings::Save()
{
    const QByteArray text = "[printing]\nautoPrint=" + BoolText(autoPrint) +
                            "\ncopies=" + QByteArray::number(receiptCopies) + "\npaper=" + paperText(receiptPaper) +
                            "\nprinter=" + QUrl::toPercentEncoding(receiptPrinter) +
                            "\n\n[reminder]\ninterval=" + QByteArray::number(reminderInterval) +
                            "\ntrayNotice=" + BoolText(trayNotice) + "\n";
    QString error;
    const bool saved = AtomicFile::Write(FilePath(account), text, &error);
    emit Changed();
    if (!saved)
        emit SaveFailed(error);
}
