#pragma once

#include <QLockFile>
#include <QString>

// The per-account lock file "me.xml" marks an account as logged in on this computer. A login takes
// it before its request goes out (QLockFile creates the file atomically, so of two logins racing
// for one account exactly one gets it), gives it back when the login fails, and hands it to the
// main window, which holds it for the session. On Linux a held lock file can still be deleted by
// anyone, so whether a live session holds it is decided by QLockFile itself, never by trying to
// remove it.
class AccountLock
{
public:
    enum class Outcome
    {
        Taken,
        HeldByAnotherSession,
        Failed // the file could not be written (a full disk, a folder without rights): see ErrorText()
    };

    explicit AccountLock(qint64 account);
    ~AccountLock(); // gives the lock back
    AccountLock(const AccountLock&) = delete;
    AccountLock& operator=(const AccountLock&) = delete;

    // Takes the lock at once, never waiting for it.
    Outcome Take();
    bool IsHeld() const;
    qint64 Account() const { return account; }
    QString ErrorText() const { return errorText; }

    // True exactly while another live session holds the lock at `path`. A leftover file whose owner
    // is gone (a crash, or an empty or garbled file older than a few seconds) is stale: it is removed
    // and the answer is false. An unreadable file younger than that is being written and counts as
    // held.
    static bool IsHeldByLiveSession(const QString& path);

    // Removes the lock file unless a live session holds it. True when no file is left.
    static bool RemoveIfStale(const QString& path);

private:
    qint64 account;
    QLockFile file;
    QString errorText;
};
