#include "session/passwordvault.h"

#include <QCoreApplication>
#include <QPointer>

#include <qt5keychain/keychain.h>

#include "app/constants.h"
#include "app/log.h"
#include "session/cuser.h"
#include "session/userstore.h"

namespace {

QKeychain::Job* Prepared(QKeychain::Job* job, qint64 account)
{
    job->setKey(QString::number(account));
    job->setAutoDelete(true);
    return job;
}

// Anything but a plain "not there" means the store did not really answer.
bool StoreAnswered(QKeychain::Error error)
{
    return error == QKeychain::NoError || error == QKeychain::EntryNotFound;
}

} // namespace

PasswordVault* PasswordVault::Instance()
{
    static QPointer<PasswordVault> vault;
    if (!vault)
        vault = new PasswordVault(QCoreApplication::instance());
    return vault;
}

PasswordVault::PasswordVault(QObject* parent) : QObject(parent)
{
    // A look-up of an entry that is never written: "not found" from a store that works.
    auto* probe = new QKeychain::ReadPasswordJob(AppName, this);
    probe->setKey(QStringLiteral("availability-probe"));
    connect(probe, &QKeychain::Job::finished, this,
            [this, probe] { Answered(StoreAnswered(probe->error()), probe->errorString()); });
    probe->start();
}

void PasswordVault::Answered(bool storeAnswered, const QString& reason)
{
    const Place now = storeAnswered ? Place::Keychain : Place::File;
    if (now == place)
        return;
    place = now;
    if (place == Place::Keychain)
        qCInfo(lcKeychain, "remembered passwords are kept in the system's credential store");
    else
        qCWarning(lcKeychain,
                  "no credential store answered (%s): remembered passwords are kept in %s, encoded but "
                  "not encrypted",
                  qUtf8Printable(reason), qUtf8Printable(UsersFile()));
    emit PlaceChanged(place);
}

void PasswordVault::Recall(qint64 account)
{
    auto* job = static_cast<QKeychain::ReadPasswordJob*>(
        Prepared(new QKeychain::ReadPasswordJob(AppName, this), account));
    connect(job, &QKeychain::Job::finished, this, [this, job, account] {
        Answered(StoreAnswered(job->error()), job->errorString());
        const QString password = job->error() == QKeychain::NoError ? job->textData() : QString();
        if (!password.isEmpty())
            held.insert(account);
        emit Recalled(account, password);
    });
    job->start();
}

void PasswordVault::Keep(qint64 account, const QString& password)
{
    // A store that has answered is trusted at once, so the password never reaches the file; should
    // this write fail after all, the password goes back into the file below.
    const bool trusted = place == Place::Keychain;
    if (trusted)
        held.insert(account);
    else
        held.remove(account);
    auto* job = static_cast<QKeychain::WritePasswordJob*>(
        Prepared(new QKeychain::WritePasswordJob(AppName, this), account));
    job->setTextData(password);
    connect(job, &QKeychain::Job::finished, this, [this, job, account, password, trusted] {
        const bool kept = job->error() == QKeychain::NoError;
        Answered(kept, job->errorString());
        if (kept) {
            held.insert(account);
            if (!trusted)
                TakeOutOfFile(account);
        } else {
            held.remove(account);
            if (trusted)
                PutIntoFile(account, password);
        }
    });
    job->start();
}

void PasswordVault::Forget(qint64 account)
{
    held.remove(account);
    auto* job = Prepared(new QKeychain::DeletePasswordJob(AppName, this), account);
    connect(job, &QKeychain::Job::finished, this, [this, job, account] {
        // A store that never answered holds nothing to remove.
        if (!StoreAnswered(job->error()) && place == Place::Keychain)
            qCWarning(lcKeychain, "the password of %lld could not be removed from the credential store: %s",
                      account, qUtf8Printable(job->errorString()));
    });
    job->start();
}

// Rewrites users.xml with the password of `account`, when the file still remembers that account.
void PasswordVault::PutIntoFile(qint64 account, const QString& password)
{
    UserStore store;
    bool found = false;
    for (CUser* user : store.Users()) {
        if (user->GetAccount() == account && !user->GetRememberPassword()) {
            user->SetPassword(password);
            user->SetRememberPassword(true);
            found = true;
        }
    }
    if (found && !store.Save(held))
        qCWarning(lcKeychain,
                  "the password of %lld is remembered nowhere: neither the credential store nor %s "
                  "took it",
                  account, qUtf8Printable(UsersFile()));
}

// Rewrites users.xml without the password of `account`, now that the credential store holds it.
void PasswordVault::TakeOutOfFile(qint64 account)
{
    UserStore store;
    for (const CUser* user : store.Users()) {
        if (user->GetAccount() == account && user->GetRememberPassword()) {
            if (store.Save(held))
                qCInfo(lcKeychain, "the password of %lld moved from %s into the credential store", account,
                       qUtf8Printable(UsersFile()));
            return;
        }
    }
}
