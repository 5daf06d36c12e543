#include "app/settings.h"

#include <QSettings>

#include "app/atomicfile.h"
#include "app/constants.h"

namespace {

const QString reminderKey = QStringLiteral("reminder/interval");
const QString trayNoticeKey = QStringLiteral("reminder/trayNotice");
const QString autoPrintKey = QStringLiteral("printing/autoPrint");

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

// The file QSettings writes in its INI format, groups and keys in alphabetical order.
void CSettings::Save()
{
    const QByteArray text = "[printing]\nautoPrint=" + BoolText(autoPrint) +
                            "\n\n[reminder]\ninterval=" + QByteArray::number(reminderInterval) +
                            "\ntrayNotice=" + BoolText(trayNotice) + "\n";
    QString error;
    const bool saved = AtomicFile::Write(FilePath(account), text, &error);
    emit Changed();
    if (!saved)
        emit SaveFailed(error);
}
