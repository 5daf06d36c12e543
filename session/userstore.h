#pragma once

#include <QSet>
#include <QString>
#include <QVector>

class CUser;

// Hides a remembered password from a casual look at users.xml. Not encryption.
QString EncodePassword(const QString& password);
QString DecodePassword(const QString& stored);

// The remembered accounts in users.xml: read whole when constructed, written whole by Save().
// Every record in the list is the store's own copy. A damaged file is read record by record, so
// one bad record costs no other, and Save() keeps such a file beside as
// users.xml.unreadable-<yyyyMMdd-hhmmss> before it replaces it.
class UserStore
{
public:
    UserStore();                                      // reads UsersFile()
    explicit UserStore(const QVector<CUser*>& users); // copies of the non-null records
    ~UserStore();
    UserStore(const UserStore&) = delete;
    UserStore& operator=(const UserStore&) = delete;

    const QVector<CUser*>& Users() const { return users; }

    // Writes the list to UsersFile(). The file is replaced all at once (AtomicFile), so a failed save
    // leaves the previous file as it was; it is readable by its owner only. The "password" element
    // stays empty for the accounts of `passwordsKeptElsewhere`, whose passwords the system's
    // credential store holds.
    bool Save(const QSet<qint64>& passwordsKeptElsewhere = QSet<qint64>());

private:
    void Load();

    QVector<CUser*> users;
};
