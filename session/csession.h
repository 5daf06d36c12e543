#pragma once

#include <QObject>
#include <QPointer>

#include <memory>

#include "app/accountlock.h"
#include "detail/receiptservice.h"
#include "net/job.h"
#include "session/sessionoptions.h"
#include "session/cuser.h"

class CAutoPrint;
class CConnectionState;
class CNewOrderReminder;
class CNewOrders;
class COrderBook;
class COrderPolls;
class CSettings;
class QNetworkAccessManager;
namespace Sound {
class Service;
}

// One logged-in staff member's session, everything that lives as long as it and is not a window:
// the account, the one network manager every request of the session goes through, the order book
// and the polls that keep it in step with the platform, the state of the connection they report,
// the account's lock file, the sounds, the new orders nobody has dealt with yet, the account's
// settings and the helpers that follow them (the reminder for those orders, the automatic receipt
// printing).
//
// The client makes it when a login succeeds and hands it to the main window, which deletes it when
// it goes.
class CSession : public QObject
{
    Q_OBJECT
public:
    // `lock`: the account lock the login took; without one (or one of another account) the session
    // takes the lock itself, never waiting for it. `network`: the manager the login used, adopted
    // by the session; without one the session makes its own.
    // `options`: the limits on answers, the clock's second and the network's maker (defaults:
    // production's).
    explicit CSession(const CUser& user, std::unique_ptr<AccountLock> lock = nullptr,
                      QNetworkAccessManager* network = nullptr, const SessionOptions& options = SessionOptions(),
                      QObject* parent = nullptr);
    ~CSession() override;

    CUser* User() { return &user; }
    const CUser* User() const { return &user; }
    qint64 Account() const { return user.GetAccount(); }
    QNetworkAccessManager* Network() const { return network; }
    // What the session's jobs go through: its network manager, its account and the limits on answers.
    ApiLine Line() const;
    const SessionOptions& Options() const { return options; }
    // The second of the polls, the confirmation table's removals and the reminder.
    const PollClock& Clock() const { return options.clock; }
    COrderBook* Book() const { return book; }
    COrderPolls* Polls() const { return polls; }
    // The new paid orders nobody has dealt with yet.
    CNewOrders* NewOrders() const { return newOrders; }
    CConnectionState* Connection() const { return connection; }
    Sound::Service* Sounds() const { return sounds; }
    CSettings* Settings() const { return settings; }
    CNewOrderReminder* Reminder() const { return reminder; }
    CAutoPrint* AutoPrint() const { return autoPrint; }
    // What prints the session's receipts (the windows provide it); null until they do.
    CReceiptService* Receipts() const { return receipts; }
    void SetReceipts(CReceiptService* service);
    // Whether this session holds the account's lock file (a full disk may keep it from doing so).
    bool HoldsAccountLock() const;
    // Takes the account's lock file if the session does not hold it yet; never waits for it.
    void TakeAccountLock();

    // Reads the full list and starts the polls.
    void Start();

private:
    CUser user;
    SessionOptions options;
    std::unique_ptr<AccountLock> lock;
    QNetworkAccessManager* network;
    COrderBook* book;
    CNewOrders* newOrders;
    COrderPolls* polls;
    CConnectionState* connection;
    Sound::Service* sounds;
    CSettings* settings;
    CNewOrderReminder* reminder;
    CAutoPrint* autoPrint;
    QPointer<CReceiptService> receipts;
};
