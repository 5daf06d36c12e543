#include "app/settings.h"

#include <QDir>
#include <QSettings>

#include "app/constants.h"

namespace {

const QString reminderKey = QStringLiteral("reminder/interval");
const QString trayNoticeKey = QStringLiteral("reminder/trayNotice");
const QString autoPrintKey = QStringLiteral("printing/autoPrint");

} // namespace

CSettings::CSettings(qint64 account, QObject* parent)
    : QObject(parent), account(account), store(new QSettings(FilePath(account), QSettings::IniFormat))
{
}

CSettings::~CSettings()
{
    delete store;
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

int CSettings::ReminderInterval() const
{
    // A hand-edited or damaged file must not make the sound repeat every second.
    bool ok = false;
    const int seconds = store->value(reminderKey, 0).toInt(&ok);
    return ok && ReminderChoices().contains(seconds) ? seconds : 0;
}

bool CSettings::TrayNotice() const
{
    return store->value(trayNoticeKey, false).toBool();
}

bool CSettings::AutoPrint() const
{
    return store->value(autoPrintKey, false).toBool();
}

void CSettings::SetReminderInterval(int seconds)
{
    if (!ReminderChoices().contains(seconds) || seconds == ReminderInterval())
        return;
    Store(reminderKey, seconds);
}

void CSettings::SetTrayNotice(bool on)
{
    if (on != TrayNotice())
        Store(trayNoticeKey, on);
}

void CSettings::SetAutoPrint(bool on)
{
    if (on != AutoPrint())
        Store(autoPrintKey, on);
}

void CSettings::Store(const QString& key, const QVariant& value)
{
    QDir().mkpath(AccountDir(account));
    store->setValue(key, value);
    store->sync();
    if (store->status() != QSettings::NoError)
        qWarning("the settings could not be saved to %s",
                 qUtf8Printable(QDir::toNativeSeparators(store->fileName())));
    emit Changed();
}
