#pragma once

#include "admin.h"
#include "api.h"
#include "assets.h"
#include "connections.h"
#include "faults.h"
#include "store.h"

#include <httplib.h>

#include <QString>

#include <algorithm>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

namespace Velm {

// cpp-httplib's server with connection handling of our own. The library gives each connection a
// worker for as long as it lasts: while the client takes its time to send a request, ten seconds a
// read, and while it idles between requests. A few thousand clients that send half a request or
// keep their connection open would hold every worker. Here one thread (ConnectionWatch) waits on
// every connection at once until a request has arrived whole, and a worker only answers it: a
// request head must be complete within the head's time-out (3 s) of its first byte and the whole
// request, body included, within the request time-out, however slowly it trickles in; an idle
// connection waits up to KeepAliveSeconds for its next request, holding a descriptor but no
// worker. The pool grows when every worker is busy (requests held by a fault, bodies too large to
// gather) and shrinks back to ReadyWorkers once its workers have rested (20 s).
// With a certificate the same connection handling runs over TLS (OpenSSL, as cpp-httplib's own
// TLS server uses; the library's TLS loop would bypass the deadlines above).
class HttpServer : public httplib::Server
{
public:
    static constexpr int DefaultHeadTimeoutMs = 3000;
    static constexpr int DefaultRequestTimeoutMs = 10000;
    static constexpr size_t ReadyWorkers = 48;
    static constexpr size_t MostWorkers = 2048;
    // A worker beyond the ready ones ends after resting this long.
    static constexpr int DefaultWorkerRestMs = 20000;
    // How long a connection may stay idle between two requests: longer than the client's poll
    // intervals, so that its polls reuse their connections.
    static constexpr int KeepAliveSeconds = 60;
    // Idle connections kept per client address; beyond it the address's oldest idle one is closed.
    // A client keeps a few (its polls, pictures, a detail window); a host that opens thousands and
    // goes quiet gets the newest ones kept.
    static constexpr size_t MostIdlePerAddress = 64;

    HttpServer();
    ~HttpServer() override;
    // From the first byte of a request until its last; at least the head's own time-out.
    void SetRequestTimeout(int ms) { requestTimeoutMs = std::max(ms, headTimeoutMs); }
    // From a new connection, or the first byte of a request, until the end of its head (and of a
    // TLS handshake). Tests shorten it to see stalled connections closed without waiting seconds.
    void SetHeadTimeout(int ms)
    {
        headTimeoutMs = ms;
        requestTimeoutMs = std::max(requestTimeoutMs, ms);
    }
    // How long a worker beyond the ready ones rests before it ends; tests shorten it.
    void SetWorkerRest(int ms) { workerRestMs = std::max(ms, 1); }
    // Loads a PEM certificate (chain) and its key; from then on every connection speaks TLS.
    bool EnableTls(const std::string& certFile, const std::string& keyFile, std::string* error);
    bool IsTls() const { return tls != nullptr; }
    // Runs on every worker thread that ends (the pool shrinking, or the server stopping), on that
    // thread, before it ends. Set before the first connection.
    void SetWorkerExitHook(std::function<void()> hook) { workerExitHook = std::move(hook); }
    // Answers the requests that arrive on a connected socket until either side ends the
    // connection, then closes it; returns once it is closed. The listener hands its connections
    // over without waiting (process_and_close_socket).
    void ServeConnection(int fd);
    // Ends the listener, closes every connection waiting for a request and lets every other go
    // after its current request.
    void Close();
    // cpp-httplib listens with a backlog of five. A burst of connections (a client starting its
    // polls, a test opening sixty) overflows that, and every connection dropped there waits a
    // second or more until its handshake is sent again. Called after binding.
    void WidenBacklog();

private:
    // The listener's own thread hands each accepted connection to the watch and goes on.
    bool process_and_close_socket(socket_t sock) override;
    // The watch and the worker pool, started with the first connection (the settings above are
    // final by then). `onClosed` runs once the connection is closed.
    void Adopt(int fd, std::function<void()> onClosed);
    void StartServing();
    void StopServing();
    // On a worker: answers the request the watch has read (and reads the rest of a body it left),
    // then hands the connection back to the watch or closes it.
    void Answer(Connection* connection);

    std::atomic<bool> closing{false};
    int headTimeoutMs = DefaultHeadTimeoutMs;
    int requestTimeoutMs = DefaultRequestTimeoutMs;
    int workerRestMs = DefaultWorkerRestMs;
    SSL_CTX* tls = nullptr;
    std::function<void()> workerExitHook;
    std::mutex servingMutex;
    std::unique_ptr<WorkerPool> pool;
    std::unique_ptr<ConnectionWatch> watch;
};

// The HTTP side: routes, request limits, fault injection, pictures, pages and the installer.
// Handlers run on cpp-httplib's worker threads.
class Server
{
public:
    // Form bodies above 8 KiB are refused by cpp-httplib itself (413); this caps the others.
    static constexpr size_t MaxBodyBytes = 1024 * 1024;

    Server(Store& store, Faults& faults, Settings& settings);

    // Before Bind: see HttpServer.
    void SetRequestTimeout(int ms) { http.SetRequestTimeout(ms); }
    void SetHeadTimeout(int ms) { http.SetHeadTimeout(ms); }
    void SetWorkerRest(int ms) { http.SetWorkerRest(ms); }
    bool EnableTls(const QString& certFile, const QString& keyFile, QString* error);
    // The image host the replies name pictures and the installer with, "host" or "host:port" (without
    // a port: the one this server listens on); false when it is neither. By default the host each
    // request came to.
    bool SetImageHost(const QString& hostPort);
    // Binds to host:port (port 0 picks a free one); returns the port, or -1.
    int Bind(const QString& host, int port);
    // Serves until Stop(); returns false when the server could not run.
    bool Run();
    void Stop();
    void SetLogging(bool on) { logging = on; }
    // Serves one connection made elsewhere until it is closed (the fuzz harness hands over its own
    // sockets).
    void ServeConnection(int fd) { http.ServeConnection(fd); }

private:
    void Route();
    void ServeApi(const httplib::Request& request, httplib::Response& response, const QString& endpoint);
    void ServeAdmin(const httplib::Request& request, httplib::Response& response);
    void ServePicture(const httplib::Request& request, httplib::Response& response);
    void ServeInstaller(const httplib::Request& request, httplib::Response& response);
    // Applies a fault set for `endpoint`; true when the response is complete.
    bool ApplyFault(const QString& endpoint, httplib::Response& response);
    QString UrlBase(const httplib::Request& request) const;
    // Why the admin API refuses a request that a web page could have sent; empty when it may pass.
    QString AdminRefusal(const httplib::Request& request, int* httpStatus) const;

    Store& store;
    Faults& faults;
    Settings& settings;
    Api api;
    Admin admin;
    Assets assets;
    HttpServer http;
    int boundPort = 0;
    QString listenHost;
    QString imageHost;
    std::atomic<bool> logging{false};
};

} // namespace Velm
