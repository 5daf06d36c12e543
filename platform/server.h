#pragma once

#include "admin.h"
#include "api.h"
#include "assets.h"
#include "faults.h"
#include "store.h"

#include <httplib.h>

#include <QString>

#include <algorithm>
#include <atomic>
#include <string>

namespace Velm {

// cpp-httplib's server with connection handling of our own. The library gives each connection a
// worker for as long as the client takes to send its request, ten seconds a read, so a few dozen
// clients that send half a request would hold every worker. Here a request head must be complete
// within the head's time-out (3 s) of its first byte and the whole request, body included, within the request
// time-out, however slowly it trickles in; the worker pool grows when every worker is busy, far
// enough that hundreds of such clients still leave workers for the others.
// With a certificate the same connection handling runs over TLS (OpenSSL, as cpp-httplib's own
// TLS server uses; the library's TLS loop would bypass the deadlines above).
class HttpServer : public httplib::Server
{
public:
    static constexpr int DefaultHeadTimeoutMs = 3000;
    static constexpr int DefaultRequestTimeoutMs = 10000;
    static constexpr size_t ReadyWorkers = 48;
    static constexpr size_t MostWorkers = 2048;
    // How long a connection may stay idle between two requests: longer than the client's poll
    // intervals, so that its polls reuse their connections.
    static constexpr int KeepAliveSeconds = 60;

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
    // Loads a PEM certificate (chain) and its key; from then on every connection speaks TLS.
    bool EnableTls(const std::string& certFile, const std::string& keyFile, std::string* error);
    bool IsTls() const { return tls != nullptr; }
    // Answers the requests that arrive on a connected socket until either side ends the
    // connection, then closes it. The listener calls it for every connection it accepts.
    bool ServeConnection(int fd);
    // Ends the listener and lets every connection go after its current request.
    void Close();
    // cpp-httplib listens with a backlog of five. A burst of connections (a client starting its
    // polls, a test opening sixty) overflows that, and every connection dropped there waits a
    // second or more until its handshake is sent again. Called after binding.
    void WidenBacklog();

private:
    bool process_and_close_socket(socket_t sock) override;
    // Waits until `fd` has something to read, for at most the keep-alive time-out.
    // Waits for the first byte of the next request, in slices so that a stopping server lets the
    // connection go at once. A new connection gets the head's time-out, an idle one between
    // requests KeepAliveSeconds.
    bool WaitForNextRequest(int fd, int timeoutMs) const;

    // The TLS handshake of a new connection, within the head's time-out; null when it failed.
    SSL* AcceptTls(int fd) const;

    std::atomic<bool> closing{false};
    int headTimeoutMs = DefaultHeadTimeoutMs;
    int requestTimeoutMs = DefaultRequestTimeoutMs;
    SSL_CTX* tls = nullptr;
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
    // Serves one connection made elsewhere (the fuzz harness hands over its own sockets).
    bool ServeConnection(int fd) { return http.ServeConnection(fd); }

private:
    void Route();
    void ServeApi(const httplib::Request& request, httplib::Response& response, const QString& endpoint);
    void ServeAdmin(const httplib::Request& request, httplib::Response& response);
    void ServePicture(const httplib::Request& request, httplib::Response& response);
    void ServeInstaller(const httplib::Request& request, httplib::Response& response);
    // Applies a fault set for `endpoint`; true when the response is complete.
    bool ApplyFault(const QString& endpoint, const httplib::Request& request, httplib::Response& response);
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
