#pragma once

#include "api.h"
#include "faults.h"
#include "store.h"

#include <QJsonObject>
#include <QString>

#include <string>

namespace Velm {

// The admin API under /admin/ (loopback clients only; the server checks that): JSON in, JSON out,
// for tests and demonstrations. platform/README.md lists its calls.
class Admin
{
public:
    Admin(Store& store, Faults& faults, Settings& settings) : store(store), faults(faults), settings(settings)
    {
    }

    // `path` is what follows "/admin/"; returns the HTTP status and fills *reply.
    int Handle(const std::string& method, const QString& path, const std::string& body,
               const QString& urlBase, QJsonObject* reply);

private:
    int CreateOrder(const QJsonObject& request, const QString& urlBase, QJsonObject* reply);
    int ChangeOrder(qint64 id, const QJsonObject& request, const QString& urlBase, QJsonObject* reply);
    int ShowOrder(qint64 id, const QString& urlBase, QJsonObject* reply);
    int Events(qint64 after, QJsonObject* reply);
    int Generate(const QJsonObject& request, QJsonObject* reply);
    int SetCash(const QJsonObject& request, QJsonObject* reply);
    int AddIncome(const QJsonObject& request, QJsonObject* reply);
    int ClearIncome(const QJsonObject& request, QJsonObject* reply);
    int SetFault(const QJsonObject& request, QJsonObject* reply);
    int ClearFaults(const QString& endpoint, QJsonObject* reply);
    int SetOffer(const QJsonObject& request, QJsonObject* reply);
    int ExpireSessions(const QJsonObject& request, QJsonObject* reply);
    std::optional<qint64> ShopOf(const QJsonObject& request);

    Store& store;
    Faults& faults;
    Settings& settings;
};

} // namespace Velm
