#pragma once

#include "admin.h"
#include "api.h"
#include "assets.h"
#include "faults.h"
#include "store.h"

#include <httplib.h>

#include <QString>

#include <atomic>

namespace Velm {

// The HTTP side: routes, request limits, fault injection, pictures, pages and the installer.
// Handlers run on cpp-httplib's worker threads.
class Server
{
public:
    // Form bodies above 8 KiB are refused by cpp-httplib itself (413); this caps the others.
    static constexpr size_t MaxBodyBytes = 1024 * 1024;

    Server(Store& store, Faults& faults, Settings& settings);

    // Binds to host:port (port 0 picks a free one); returns the port, or -1.
    int Bind(const QString& host, int port);
    // Serves until Stop(); returns false when the server could not run.
    bool Run();
    void Stop();
    void SetLogging(bool on) { logging = on; }

private:
    void Route();
    void ServeApi(const httplib::Request& request, httplib::Response& response, const QString& endpoint);
    void ServeAdmin(const httplib::Request& request, httplib::Response& response);
    void ServePicture(const httplib::Request& request, httplib::Response& response);
    void ServeInstaller(const httplib::Request& request, httplib::Response& response);
    // Applies a fault set for `endpoint`; true when the response is complete.
    bool ApplyFault(const QString& endpoint, const httplib::Request& request, httplib::Response& response);
    QString UrlBase(const httplib::Request& request) const;

    Store& store;
    Faults& faults;
    Settings& settings;
    Api api;
    Admin admin;
    Assets assets;
    httplib::Server http;
    int boundPort = 0;
    std::atomic<bool> logging{false};
};

} // namespace Velm
