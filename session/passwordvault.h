#pragma once

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QSet>
#include <QString>

// Where remembered passwords are kept. The system's credential store (through QtKeychain: the
// Windows Credential Manager, the Secret Service on Linux) holds them under the service "Tarvik"
// and the account number, and users.xml then keeps an empty "password" element for those accounts.
// A password counts as held by the store only once the store has said so (it gave it back, or took
// it); until then it stays in users.xml, encoded as before, so a store that never answers (an
// unlock prompt nobody answers, a hung Secret Service) costs no password. Every call returns at
// once; the store's answers come as signals, and users.xml is brought in line with them here, so
// the login window may close in the meantime. A store that has not answered within AnswerDeadline()
// counts as not answering: the caller hears so and goes on without it.
//
// A Forget is written down (PasswordsToForgetFile) before the store is asked, and crossed off only
// once the store has done it; one left over is done again at the next start before anything is
// recalled, and until then that account recalls nothing.
class PasswordVault : public QObject
{
    Q_OBJECT
public:
    enum class Place
    {
        Unknown,  // the credential store has not answered yet
        Keychain, // it answers
        File,     // there is none, or it failed: passwords stay in users.xml
        NoAnswer  // it did not answer within AnswerDeadline(): passwords stay in users.xml
    };

    // The process's one vault, a child of the application. At once it finishes the forgets an
    // earlier run left undone and asks the credential store whether it answers.
    static PasswordVault* Instance();

    // 5 s; tests shorten it before the vault is made.
    static int AnswerDeadline();
    static void SetAnswerDeadline(int msecs);
    // <UsersDir>/passwords-to-forget.txt: one account number a line, while its Forget is not done.
    static QString PasswordsToForgetFile();

    Place Where() const { return place; }
    // The accounts whose remembered password the credential store has said it holds (users.xml
    // leaves it out).
    QSet<qint64> HeldAccounts() const { return held; }
    QSet<qint64> ToForget() const { return toForget; }
    // A Recall of `account` that has neither been answered nor given up yet.
    bool IsRecalling(qint64 account) const { return recalling.contains(account); }

    // Asks the credential store for the password of `account`. Recalled() follows once it has
    // answered (an empty password: it holds none); when it has not within AnswerDeadline(),
    // RecallUnanswered() comes first, and a later answer still comes as Recalled().
    void Recall(qint64 account);
    // Puts `password` into the credential store. Once the store has taken it, users.xml is
    // rewritten without it; until then (and when the store fails) users.xml keeps it.
    void Keep(qint64 account, const QString& password);
    // Takes the password of `account` out of the credential store, now or at a later start.
    void Forget(qint64 account);

signals:
    void Recalled(qint64 account, const QString& password);
    void RecallUnanswered(qint64 account);
    void PlaceChanged(PasswordVault::Place place);

private:
    explicit PasswordVault(QObject* parent);
    // Runs `job` with the deadline: exactly one of `answered` (with the job, once it finished) and
    // `unanswered` (once the deadline passed first) runs at its time, and `answered` may still run
    // after `unanswered`.
    template <typename Job, typename Answered, typename Unanswered>
    void Run(Job* job, qint64 account, Answered answered, Unanswered unanswered);
    void StartForget(qint64 account);
    void Answered(bool storeAnswered, const QString& reason);
    void NotAnswered();
    void SaveToForget();
    void TakeOutOfFile(qint64 account, const QString& password);

    Place place = Place::Unknown;
    QSet<qint64> held;
    QHash<qint64, QByteArray> heldDigest; // of the password the store holds, to skip needless writes
    QSet<qint64> recalling;
    QSet<qint64> toForget;
    // Counts every Keep and Forget per account: an answer to an older one has been overtaken.
    QHash<qint64, quint64> changes;
};
