#pragma once

#include "store.h"

#include <QRandomGenerator>
#include <QStringList>

namespace Velm::Demo {

// The demo shop and its two staff accounts (documented in platform/README.md).
constexpr qint64 ShopId = 1;
struct Account
{
    int id;
    qint64 account;
    const char* password;
};
extern const Account Accounts[2];

// A buyer's order of the demo shop created at `ctime`: items, buyer, takeout or in-shop, the
// buyer's code. Status unpaid, no other times; Live() moves it on.
Order RandomOrder(QRandomGenerator& rng, qint64 shopId, qint64 ctime);
// Takes an order through its life up to `status` with plausible times, none later than `now`;
// when a step would lie in the future the order stops at the step before. Returns the status
// reached.
int Live(Order& order, int status, QRandomGenerator& rng, qint64 now);
QString RandomReview(QRandomGenerator& rng);

// Fills an empty database with the demo shop; `report` receives lines worth printing.
bool Seed(Store& store, QStringList* report);
// `count` more orders of every status spread over the last `days` days (for load tests).
bool Generate(Store& store, qint64 shopId, int count, int days);

} // namespace Velm::Demo
