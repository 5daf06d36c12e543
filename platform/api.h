#pragma once

#include "codeguard.h"
#include "store.h"
#include "util.h"

#include <QJsonObject>
#include <QString>

#include <mutex>

namespace Velm {

// Settings the API reads while it runs; the offered version may change through the admin API.
class Settings
{
public:
    Settings(int pageSize, const QString& offerVersion) : pageSize(pageSize), offer(offerVersion) {}
    const int pageSize;
    // Set before the server starts.
    CodeLimits codeLimits;
    // PayFinishOrder also answers the changes stamped in the very second it is asked from, as some
    // platforms do ("ertime" >= rather than >).
    bool inclusiveErtime = false;
    bool updateDigest = false; // "UpdateSoftware" names the installer's SHA-256 as well
    QString OfferVersion() const;
    void SetOfferVersion(const QString& version);

private:
    mutable std::mutex mutex;
    QString offer;
};

// The platform side of every call the client makes: form fields in, {"status", "info"} out.
class Api
{
public:
    Api(Store& store, Settings& settings) : store(store), settings(settings), codeGuard(settings.codeLimits)
    {
    }

    static bool IsEndpoint(const QString& name);
    // `urlBase` ("http://host:port") prefixes the pictures and the installer the reply names.
    // *httpStatus is 404 for an endpoint that does not exist, 200 otherwise. The reply's JSON text.
    QByteArray Call(const QString& endpoint, const Form& form, const QString& urlBase, int* httpStatus);

    // The full order as the detail reply carries it.
    static QJsonObject OrderDetail(const Order& order, const QString& urlBase);
    static QString Url(const QString& pathOrUrl, const QString& urlBase);

private:
    QJsonObject Login(const Form& form, const QString& urlBase);
    QJsonObject UpdateSoftware(const QString& urlBase);
    QByteArray OrderList(const Staff& staff, const Form& form);
    QByteArray NewOrders(const Staff& staff, const Form& form);
    QJsonObject PayFinish(const Staff& staff, const Form& form);
    QJsonObject Detail(const Staff& staff, const Form& form, const QString& urlBase);
    QJsonObject Finish(const Staff& staff, const Form& form);
    QJsonObject Reply(const Staff& staff, const Form& form);
    QJsonObject Confirm(const Staff& staff, const Form& form);
    QJsonObject IncomeList(const Staff& staff, const Form& form);
    QJsonObject Cash(const Staff& staff);
    QJsonObject Profile(const Staff& staff, const QString& urlBase);

    Store& store;
    Settings& settings;
    CodeGuard codeGuard;
};

QJsonObject Success(const QJsonValue& info);
QJsonObject Failure(const QString& text, int status = 0);

} // namespace Velm
