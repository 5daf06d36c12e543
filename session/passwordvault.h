#pragma once

#include <QObject>
#include <QSet>
#include <QString>

// Where remembered passwords are kept. The system's credential store (through QtKeychain: the
// Windows Credential Manager, the Secret Service on Linux) holds them under the service "Tarvik"
// and the account number, and users.xml then keeps an empty "password" element for those accounts.
// Where no credential store answers, a remembered password stays in users.xml, encoded as before,
// and the log says so. Every call returns at once; the store's answers come as signals, and
// users.xml is brought in line with them here, so the login window may close in the meantime.
class PasswordVault : public QObject
{
    Q_OBJECT
public:
    enum class Place
    {
        Unknown, // the credential store has not answered yet
        Keychain,
        File
    };

    // The process's one vault, a child of the application. Asks the credential store at once
    // whether it answers.
    static PasswordVault* Instance();

    Place Where() const { return place; }
    // The accounts whose remembered password the credential store holds (users.xml leaves it out).
    QSet<qint64> HeldAccounts() const { return held; }

    // Asks the credential store for the password of `account`; Recalled() follows, with an empty
    // password when it holds none or does not answer.
    void Recall(qint64 account);
    // Puts `password` into the credential store. Once it has answered, users.xml is rewritten
    // without the password, or with it when the store failed.
    void Keep(qint64 account, const QString& password);
    void Forget(qint64 account);

signals:
    void Recalled(qint64 account, const QString& password);
    void PlaceChanged(PasswordVault::Place place);

private:
    explicit PasswordVault(QObject* parent);
    void Answered(bool storeAnswered, const QString& reason);
    void PutIntoFile(qint64 account, const QString& password);
    void TakeOutOfFile(qint64 account);

    Place place = Place::Unknown;
    QSet<qint64> held;
};
