#include "session/csession.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTimer>

#include "app/accountlock.h"
#include "app/settings.h"
#include "app/sound.h"
#include "detail/autoprint.h"
#include "main/reminder.h"
#include "net/connectionstate.h"
#include "net/request.h"
#include "orders/corder.h"
#include "orders/neworders.h"
#include "orders/orderbook.h"
#include "orders/orderpolls.h"

namespace {
// After the first full list has been laid out and painted.
constexpr int preloadDelayMsecs = 500;
} // namespace

CSession::CSession(const CUser& account, std::unique_ptr<AccountLock> accountLock,
                   QNetworkAccessManager* givenNetwork, const SessionOptions& sessionOptions, QObject* parent)
    : QObject(parent),
      user(account),
      options(sessionOptions),
      lock(std::move(accountLock)),
      network(givenNetwork ? givenNetwork : options.MakeNetwork(this)),
      book(new COrderBook(this)),
      newOrders(new CNewOrders(book, this)),
      polls(new COrderPolls(book, Line(), this)),
      connection(new CConnectionState(this)),
      sounds(new Sound::Service(this)),
      settings(new CSettings(user.GetAccount(), this)),
      reminder(new CNewOrderReminder(settings, sounds, newOrders, this)),
      autoPrint(new CAutoPrint(settings, user.GetAccount(), this))
{
    network->setParent(this);

    TakeAccountLock();

    polls->SetClock(options.clock);
    reminder->SetClock(options.clock);
    polls->SetSounds(sounds);
    polls->SetNewOrders(newOrders);
    connect(polls, &COrderPolls::PollSucceeded, connection, &CConnectionState::Succeeded);
    connect(polls, &COrderPolls::PollFailed, connection, &CConnectionState::Failed);
    connect(connection, &CConnectionState::Restored, polls, &COrderPolls::CatchUp);
    connect(polls, &COrderPolls::DetailFetched, autoPrint, &CAutoPrint::DetailReady);
    polls->SetFetchNewDetails(settings->AutoPrint());
    connect(settings, &CSettings::Changed, polls, [this] { polls->SetFetchNewDetails(settings->AutoPrint()); });
}

CSession::~CSession()
{
    // Replies still running go with the manager: none may call back into a reader as it goes.
    for (QNetworkReply* running : network->findChildren<QNetworkReply*>()) {
        QObject::disconnect(running, &QNetworkReply::finished, nullptr, nullptr);
        QObject::disconnect(running, &QNetworkReply::errorOccurred, nullptr, nullptr);
    }
    delete polls;
    delete network;
    lock.reset();
}

void CSession::SetReceipts(CReceiptService* service)
{
    receipts = service;
    autoPrint->SetPrinter(service);
}

bool CSession::HoldsAccountLock() const
{
    return lock && lock->IsHeld();
}

// The login normally hands over the lock it took before its request. Taking it here never waits:
// a session that lost a race with another process must not freeze waiting for it.
void CSession::TakeAccountLock()
{
    if (user.GetAccount() <= 0)
        return;
    if (!lock || lock->Account() != user.GetAccount())
        lock = std::make_unique<AccountLock>(user.GetAccount());
    if (!lock->IsHeld())
        lock->Take();
}

void CSession::Start()
{
    // The sounds are loaded a moment after the first full list is in, so that a new order's sound
    // then only has to start. Loaded earlier, the media players' set-up held up the first list by a
    // tenth of a second. Loading them again after a later list finds them there and does nothing.
    connect(polls, &COrderPolls::Loaded, sounds, [this] {
        QTimer::singleShot(preloadDelayMsecs, sounds, [this] { sounds->Preload(Sound::Names()); });
    });
    polls->Start();
}

ApiLine CSession::Line() const
{
    ApiLine line;
    line.network = network;
    line.user = &user;
    line.transferTimeoutMs = options.transferTimeoutMs;
    line.transferDeadlineMs = options.transferDeadlineMs;
    return line;
}
