#include "session/passwordvault.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QPointer>
#include <QTimer>

#include <algorithm>
#include <memory>

#include <qt5keychain/keychain.h>

#include "app/atomicfile.h"
#include "app/constants.h"
#include "app/log.h"
#include "session/cuser.h"
#include "session/userstore.h"

namespace {

int answerDeadlineMsecs = 5000;

// Anything but a plain "not there" means the store did not really answer.
bool StoreAnswered(QKeychain::Error error)
{
    return error == QKeychain::NoError || error == QKeychain::EntryNotFound;
}

QByteArray Digest(const QString& password)
{
    return QCryptographicHash::hash(password.toUtf8(), QCryptographicHash::Sha256);
}

double Seconds(int msecs)
{
    return msecs / 1000.0;
}

} // namespace

PasswordVault* PasswordVault::Instance()
{
    static QPointer<PasswordVault> vault;
    if (!vault)
        vault = new PasswordVault(QCoreApplication::instance());
    return vault;
}

int PasswordVault::AnswerDeadline()
{
    return answerDeadlineMsecs;
}

void PasswordVault::SetAnswerDeadline(int msecs)
{
    answerDeadlineMsecs = msecs;
}

QString PasswordVault::PasswordsToForgetFile()
{
    return JoinPath(UsersDir(), QStringLiteral("passwords-to-forget.txt"));
}

PasswordVault::PasswordVault(QObject* parent) : QObject(parent)
{
    // The store runs one request at a time, in order: these forgets are done before anything
    // asked of it later, a Recall included.
    QFile file(PasswordsToForgetFile());
    if (file.open(QIODevice::ReadOnly)) {
        for (const QByteArray& line : file.readAll().split('\n')) {
            bool ok = false;
            const qint64 account = line.trimmed().toLongLong(&ok);
            if (ok && account > 0)
                toForget.insert(account);
        }
    }
    if (!toForget.isEmpty())
        qCInfo(lcKeychain,
               "%d password(s) an earlier run was asked to forget are taken out of the credential store",
               int(toForget.size()));
    for (qint64 account : qAsConst(toForget))
        StartForget(account);

    // A look-up of an entry that is never written: "not found" from a store that works.
    auto* probe = new QKeychain::ReadPasswordJob(AppName, this);
    probe->setKey(QStringLiteral("availability-probe"));
    Run(
        probe, 0, [this, probe] { Answered(StoreAnswered(probe->error()), probe->errorString()); },
        [this] { NotAnswered(); });
}

template <typename Job, typename WhenAnswered, typename WhenUnanswered>
void PasswordVault::Run(Job* job, qint64 account, WhenAnswered answered, WhenUnanswered unanswered)
{
    if (account != 0)
        job->setKey(QString::number(account));
    // A job is never deleted while it runs: the store's answer still comes to it, however late.
    job->setAutoDelete(true);
    auto finished = std::make_shared<bool>(false);
    connect(job, &QKeychain::Job::finished, this, [finished, answered]() mutable {
        *finished = true;
        answered();
    });
    QTimer::singleShot(answerDeadlineMsecs, this, [finished, unanswered]() mutable {
        if (!*finished)
            unanswered();
    });
    job->start();
}

void PasswordVault::Answered(bool storeAnswered, const QString& reason)
{
    const Place now = storeAnswered ? Place::Keychain : Place::File;
    if (now == place)
        return;
    place = now;
    if (place == Place::Keychain)
        qCInfo(lcKeychain, "the system's credential store answers");
    else
        qCWarning(lcKeychain,
                  "no credential store answered (%s): remembered passwords stay in %s, encoded but not "
                  "encrypted",
                  qUtf8Printable(reason), qUtf8Printable(UsersFile()));
    emit PlaceChanged(place);
}

void PasswordVault::NotAnswered()
{
    if (place == Place::NoAnswer)
        return;
    place = Place::NoAnswer;
    qCWarning(lcKeychain,
              "the system's credential store has not answered within %.1f s: remembered passwords stay in "
              "%s, encoded but not encrypted, and those it holds cannot be recalled for now",
              Seconds(answerDeadlineMsecs), qUtf8Printable(UsersFile()));
    emit PlaceChanged(place);
}

void PasswordVault::Recall(qint64 account)
{
    if (toForget.contains(account)) {
        // Its forget is not done yet: nothing is remembered for it, whatever the store still holds.
        QMetaObject::invokeMethod(
            this, [this, account] { emit Recalled(account, QString()); }, Qt::QueuedConnection);
        return;
    }
    recalling.insert(account);
    const quint64 asked = changes.value(account);
    auto* job = new QKeychain::ReadPasswordJob(AppName, this);
    Run(
        job, account,
        [this, job, account, asked] {
            const bool waited = recalling.remove(account);
            const bool answered = StoreAnswered(job->error());
            Answered(answered, job->errorString());
            if (!answered) {
                // Refused (a dismissed unlock prompt, say): the password is as unknown as without
                // an answer.
                if (waited)
                    emit RecallUnanswered(account);
                return;
            }
            QString password = job->error() == QKeychain::NoError ? job->textData() : QString();
            // A Keep or Forget since the question has made this answer old.
            if (changes.value(account) != asked || toForget.contains(account))
                password.clear();
            if (!password.isEmpty()) {
                held.insert(account);
                heldDigest.insert(account, Digest(password));
            }
            emit Recalled(account, password);
        },
        [this, account] {
            if (!recalling.remove(account))
                return;
            NotAnswered();
            emit RecallUnanswered(account);
        });
}

void PasswordVault::Keep(qint64 account, const QString& password)
{
    const QByteArray digest = Digest(password);
    if (held.contains(account) && heldDigest.value(account) == digest && !toForget.contains(account))
        return; // the store said it holds exactly this
    // Not held until the store says so: every save of users.xml until then keeps the password.
    held.remove(account);
    heldDigest.remove(account);
    const quint64 change = ++changes[account];
    auto* job = new QKeychain::WritePasswordJob(AppName, this);
    job->setTextData(password);
    Run(
        job, account,
        [this, job, account, password, digest, change] {
            const bool kept = job->error() == QKeychain::NoError;
            const bool storeSeen = place != Place::File; // once known to be missing, said once
            Answered(kept, job->errorString());
            if (changes.value(account) != change)
                return; // a later Keep or Forget decides
            if (!kept) {
                if (storeSeen)
                    qCWarning(lcKeychain,
                              "the credential store did not take the password of %lld (%s): it stays in %s",
                              account, qUtf8Printable(job->errorString()), qUtf8Printable(UsersFile()));
                return;
            }
            held.insert(account);
            heldDigest.insert(account, digest);
            if (toForget.remove(account))
                SaveToForget();
            TakeOutOfFile(account, password);
        },
        [this, account] {
            NotAnswered();
            qCWarning(lcKeychain,
                      "the credential store has not taken the password of %lld within %.1f s: it stays in %s",
                      account, Seconds(answerDeadlineMsecs), qUtf8Printable(UsersFile()));
        });
}

void PasswordVault::Forget(qint64 account)
{
    ++changes[account];
    held.remove(account);
    heldDigest.remove(account);
    recalling.remove(account);
    if (!toForget.contains(account)) {
        toForget.insert(account);
        SaveToForget();
    }
    StartForget(account);
}

void PasswordVault::StartForget(qint64 account)
{
    const quint64 change = changes.value(account);
    auto* job = new QKeychain::DeletePasswordJob(AppName, this);
    Run(
        job, account,
        [this, job, account, change] {
            const bool done = StoreAnswered(job->error());
            const bool storeSeen = place != Place::File;
            Answered(done, job->errorString());
            if (!done) {
                if (storeSeen)
                    qCWarning(
                        lcKeychain,
                        "the password of %lld could not be taken out of the credential store (%s); it is "
                        "tried again at the next start",
                        account, qUtf8Printable(job->errorString()));
                return;
            }
            // After a later Keep, that Keep crosses the account off once the store has its password.
            if (changes.value(account) == change && toForget.remove(account))
                SaveToForget();
        },
        [this, account] {
            NotAnswered();
            qCWarning(lcKeychain,
                      "the credential store has not taken out the password of %lld within %.1f s; it is "
                      "tried again at the next start",
                      account, Seconds(answerDeadlineMsecs));
        });
}

// The forgets not done yet, written down before the store is asked and crossed off once it has
// done them: a run that ends before the store answers leaves the list to the next start.
void PasswordVault::SaveToForget()
{
    const QString path = PasswordsToForgetFile();
    if (toForget.isEmpty()) {
        if (QFile::exists(path) && !QFile::remove(path))
            qCWarning(lcKeychain, "%s could not be removed", qUtf8Printable(QDir::toNativeSeparators(path)));
        return;
    }
    QList<qint64> accounts = toForget.values();
    std::sort(accounts.begin(), accounts.end());
    QByteArray text;
    for (qint64 account : qAsConst(accounts))
        text += QByteArray::number(account) + '\n';
    QString error;
    if (!AtomicFile::Write(path, text, &error))
        qCWarning(lcKeychain,
                  "the passwords to forget could not be written down (%s): a run that ends before the "
                  "credential store answers may leave one there",
                  qUtf8Printable(error));
}

// Rewrites users.xml without the password of `account`, now that the credential store holds it,
// when the file still has that very password.
void PasswordVault::TakeOutOfFile(qint64 account, const QString& password)
{
    UserStore store;
    const auto users = store.Users();
    const bool inFile = std::any_of(users.begin(), users.end(), [&](const CUser* user) {
        return user->GetAccount() == account && user->GetRememberPassword() &&
               user->GetPassword() == password;
    });
    if (!inFile) {
        qCInfo(lcKeychain, "the password of %lld is kept in the credential store", account);
        return;
    }
    if (store.Save(held))
        qCInfo(lcKeychain, "the password of %lld moved from %s into the credential store", account,
               qUtf8Printable(UsersFile()));
    else
        qCWarning(lcKeychain,
                  "the password of %lld is in the credential store, and %s could not be rewritten "
                  "without it",
                  account, qUtf8Printable(UsersFile()));
}
