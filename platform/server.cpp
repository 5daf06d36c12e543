#include "server.h"

#include "util.h"

#include <QLocale>
#include <QRegularExpression>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <future>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <openssl/err.h>
#include <openssl/ssl.h>

namespace Velm {

namespace {

const char* const JsonType = "application/json; charset=utf-8";

void SendJson(httplib::Response& response, int httpStatus, const QJsonObject& reply)
{
    const QByteArray body = JsonBytes(reply);
    response.status = httpStatus;
    response.set_content(body.constData(), static_cast<size_t>(body.size()), JsonType);
}

bool IsLoopback(const std::string& address)
{
    return address.rfind("127.", 0) == 0 || address == "::1" || address.rfind("::ffff:127.", 0) == 0;
}

// cpp-httplib does not hand its socket to a handler; the worker that answers a request notes it
// here while the handler runs on its thread. -1 outside a request.
thread_local int answeredSocket = -1;

// The client closed its end (it gave up waiting, or went away).
bool PeerClosed(int fd)
{
    // Over TLS a closing alert may sit unread before the end of the stream.
    pollfd entry{fd, POLLRDHUP, 0};
    if (::poll(&entry, 1, 0) > 0 && (entry.revents & (POLLRDHUP | POLLHUP | POLLERR)))
        return true;
    char byte;
    const ssize_t received = ::recv(fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
    return received == 0 || (received < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR);
}

int MillisecondsLeft(Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return static_cast<int>(std::max<long long>(0, left));
}

// Waits until `fd` can be read (or written); false on time-out or error.
bool WaitFor(int fd, short events, int timeoutMs)
{
    pollfd entry{fd, events, 0};
    for (;;) {
        const int ready = ::poll(&entry, 1, timeoutMs);
        if (ready >= 0)
            return ready > 0;
        if (errno != EINTR)
            return false;
    }
}

// One connection as cpp-httplib's request parser reads and writes it, in plain text or over TLS.
// Until the blank line that ends a request head has been read, every read shares the head's
// deadline; after it, each read waits up to the ordinary read time-out, and never past the deadline
// of the whole request. Bytes read ahead stay in the buffer for the next request on the connection.
class ConnectionStream : public httplib::Stream
{
public:
    ConnectionStream(int fd, SSL* ssl, int readTimeoutMs, int writeTimeoutMs, int headTimeoutMs,
                     int requestTimeoutMs)
        : fd(fd), ssl(ssl), readTimeoutMs(readTimeoutMs), writeTimeoutMs(writeTimeoutMs),
          headTimeoutMs(headTimeoutMs), requestTimeoutMs(requestTimeoutMs)
    {
    }

    // The request read so far (its head too, when `headRead`), whose first byte came at `start`.
    void Begin(std::string bytes, Clock::time_point start, bool headRead)
    {
        buffer = std::move(bytes);
        offset = 0;
        inHead = !headRead;
        head = HeadEnd();
        timedOut = false;
        headDeadline = start + std::chrono::milliseconds(headTimeoutMs);
        requestDeadline = start + std::chrono::milliseconds(requestTimeoutMs);
    }
    bool TimedOut() const { return timedOut; }
    // The client closed its end.
    bool PeerEnded() const { return peerEnded; }
    // What was read beyond the request: the start of the next one.
    std::string TakeRest() { return offset < buffer.size() ? buffer.substr(offset) : std::string(); }

    bool is_readable() const override { return HasPendingBytes() || WaitFor(fd, POLLIN, ReadWaitMs()); }
    bool is_writable() const override { return WaitFor(fd, POLLOUT, writeTimeoutMs); }

    ssize_t read(char* data, size_t size) override
    {
        if (!HasBufferedBytes() && !Fill())
            return -1;
        if (offset >= buffer.size())
            return 0;
        const size_t n = std::min(size, buffer.size() - offset);
        std::memcpy(data, buffer.data() + offset, n);
        offset += n;
        if (inHead)
            FollowHead(data, n);
        return static_cast<ssize_t>(n);
    }

    ssize_t write(const char* data, size_t size) override
    {
        if (ssl)
            return WriteTls(data, size);
        for (;;) {
            if (!WaitFor(fd, POLLOUT, writeTimeoutMs))
                return -1;
            const ssize_t sent = ::send(fd, data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
            if (sent >= 0)
                return sent;
            if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
                return -1;
        }
    }

    void get_remote_ip_and_port(std::string& ip, int& port) const override
    {
        sockaddr_storage address{};
        socklen_t length = sizeof address;
        if (getpeername(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
            !SocketAddress(address, &ip, &port)) {
            ip.clear();
            port = 0;
        }
    }

    void get_local_ip_and_port(std::string& ip, int& port) const override
    {
        sockaddr_storage address{};
        socklen_t length = sizeof address;
        if (getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
            !SocketAddress(address, &ip, &port)) {
            ip.clear();
            port = 0;
        }
    }

    socket_t socket() const override { return fd; }

private:
    bool HasBufferedBytes() const { return offset < buffer.size(); }
    // Bytes here already, read ahead or held by the TLS layer.
    bool HasPendingBytes() const { return HasBufferedBytes() || (ssl && SSL_has_pending(ssl)); }

    int ReadWaitMs() const
    {
        return inHead ? MillisecondsLeft(headDeadline)
                      : std::min(readTimeoutMs, MillisecondsLeft(requestDeadline));
    }

    // Reads what the connection holds into the empty buffer: false on time-out or error, true with
    // an empty buffer when the client closed its end.
    bool Fill()
    {
        buffer.clear();
        offset = 0;
        char chunk[4096];
        for (;;) {
            short waitFor = POLLIN;
            if (ssl) {
                ERR_clear_error();
                const int received = SSL_read(ssl, chunk, sizeof chunk);
                if (received > 0) {
                    buffer.assign(chunk, chunk + received);
                    return true;
                }
                const int error = SSL_get_error(ssl, received);
                if (error == SSL_ERROR_ZERO_RETURN) {
                    peerEnded = true;
                    return true;
                }
                if (error == SSL_ERROR_WANT_WRITE)
                    waitFor = POLLOUT;
                else if (error != SSL_ERROR_WANT_READ)
                    return false;
            } else {
                const ssize_t received = ::recv(fd, chunk, sizeof chunk, MSG_DONTWAIT);
                if (received >= 0) {
                    buffer.assign(chunk, chunk + received);
                    peerEnded = received == 0;
                    return true;
                }
                if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
                    return false;
            }
            if (!WaitFor(fd, waitFor, ReadWaitMs())) {
                timedOut = true;
                return false;
            }
        }
    }

    ssize_t WriteTls(const char* data, size_t size)
    {
        const int chunk = static_cast<int>(std::min<size_t>(size, 1 << 20));
        for (;;) {
            ERR_clear_error();
            const int sent = SSL_write(ssl, data, chunk);
            if (sent > 0)
                return sent;
            const int error = SSL_get_error(ssl, sent);
            if (error != SSL_ERROR_WANT_WRITE && error != SSL_ERROR_WANT_READ)
                return -1;
            if (!WaitFor(fd, error == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT, writeTimeoutMs))
                return -1;
        }
    }

    void FollowHead(const char* data, size_t size)
    {
        if (head.Find(data, size) != std::string::npos)
            inHead = false;
    }

    const int fd;
    SSL* const ssl;
    const int readTimeoutMs;
    const int writeTimeoutMs;
    const int headTimeoutMs;
    const int requestTimeoutMs;
    std::string buffer;
    size_t offset = 0;
    bool inHead = true;
    HeadEnd head;
    bool timedOut = false;
    bool peerEnded = false;
    Clock::time_point headDeadline;
    Clock::time_point requestDeadline;
};

// cpp-httplib hands every accepted connection to its task queue; this one runs the hand-over
// (process_and_close_socket: to the watch, at once) on the listener's thread, and stops the
// serving when the listener ends.
class ListenerQueue : public httplib::TaskQueue
{
public:
    explicit ListenerQueue(std::function<void()> onShutdown) : onShutdown(std::move(onShutdown)) {}
    void enqueue(std::function<void()> job) override { job(); }
    void shutdown() override { onShutdown(); }

private:
    std::function<void()> onShutdown;
};

} // namespace


HttpServer::HttpServer()
{
    new_task_queue = [this] {
        return new ListenerQueue([this] { StopServing(); });
    };
}

HttpServer::~HttpServer()
{
    StopServing();
    SSL_CTX_free(tls);
}

bool HttpServer::EnableTls(const std::string& certFile, const std::string& keyFile, std::string* error)
{
    SSL_CTX* context = SSL_CTX_new(TLS_server_method());
    const auto failed = [&](const char* what) {
        const unsigned long code = ERR_get_error();
        char text[256] = {};
        ERR_error_string_n(code, text, sizeof text);
        *error = std::string(what) + (code ? std::string(": ") + text : std::string());
        SSL_CTX_free(context);
        return false;
    };
    ERR_clear_error();
    if (!context)
        return failed("cannot set up TLS");
    SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION);
    SSL_CTX_set_options(context, SSL_OP_NO_COMPRESSION | SSL_OP_NO_RENEGOTIATION);
    if (SSL_CTX_use_certificate_chain_file(context, certFile.c_str()) != 1)
        return failed("cannot read the certificate");
    if (SSL_CTX_use_PrivateKey_file(context, keyFile.c_str(), SSL_FILETYPE_PEM) != 1)
        return failed("cannot read the private key");
    if (SSL_CTX_check_private_key(context) != 1)
        return failed("the private key does not belong to the certificate");
    SSL_CTX_free(tls);
    tls = context;
    return true;
}

void HttpServer::StartServing()
{
    // Under servingMutex.
    const auto milliseconds = [](time_t sec) {
        return static_cast<int>(std::min<long long>(sec * 1000LL, 24 * 3600 * 1000));
    };
    ConnectionWatch::Limits limits;
    limits.headTimeoutMs = headTimeoutMs;
    limits.requestTimeoutMs = requestTimeoutMs;
    limits.keepAliveMs = milliseconds(keep_alive_timeout_sec_);
    limits.requestsPerConnection = std::max<size_t>(1, keep_alive_max_count_);
    limits.mostIdlePerAddress = MostIdlePerAddress;
    // Every connection holds a descriptor; the database, the listener and the pipes need some more.
    rlimit files{};
    const size_t descriptors = getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur != RLIM_INFINITY
                                   ? static_cast<size_t>(files.rlim_cur)
                                   : 1024;
    limits.mostConnections = std::max<size_t>(64, descriptors > 256 ? descriptors - 128 : descriptors / 2);
    pool = std::make_unique<WorkerPool>(ReadyWorkers, MostWorkers, std::chrono::milliseconds(workerRestMs),
                                        workerExitHook);
    watch = std::make_unique<ConnectionWatch>(limits, tls, [this](Connection* connection) {
        pool->Enqueue([this, connection] { Answer(connection); });
    });
}

void HttpServer::StopServing()
{
    std::lock_guard<std::mutex> lock(servingMutex);
    closing = true;
    // Waiting connections first, then the requests being answered: their connections are closed
    // as they come back.
    if (watch)
        watch->Stop();
    if (pool)
        pool->Shutdown();
}

void HttpServer::Adopt(int fd, std::function<void()> onClosed)
{
    std::unique_lock<std::mutex> lock(servingMutex);
    if (closing) {
        lock.unlock();
        ::close(fd);
        if (onClosed)
            onClosed();
        return;
    }
    if (!watch)
        StartServing();
    lock.unlock();
    watch->Adopt(fd, std::move(onClosed));
}

bool HttpServer::process_and_close_socket(socket_t sock)
{
    Adopt(sock, nullptr);
    return true;
}

void HttpServer::ServeConnection(int fd)
{
    std::promise<void> closed;
    std::future<void> done = closed.get_future();
    Adopt(fd, [&closed] { closed.set_value(); });
    done.wait();
}

void HttpServer::Answer(Connection* connection)
{
    const auto milliseconds = [](time_t sec, time_t usec) {
        return static_cast<int>(std::min<long long>(sec * 1000LL + usec / 1000, 24 * 3600 * 1000));
    };
    ConnectionStream stream(
        connection->fd, connection->ssl, milliseconds(read_timeout_sec_, read_timeout_usec_),
        milliseconds(write_timeout_sec_, write_timeout_usec_), headTimeoutMs, requestTimeoutMs);
    stream.Begin(std::move(connection->bytes), connection->requestStart, connection->headRead);
    const bool last = connection->requestsLeft <= 1 || closing;
    bool closedByRequest = false;
    answeredSocket = connection->fd;
    const bool served = process_request(stream, last, closedByRequest, nullptr);
    answeredSocket = -1;
    --connection->requestsLeft;
    connection->bytes = stream.TakeRest();
    connection->peerEnded = connection->peerEnded || stream.PeerEnded();
    // A client too slow to send its request is not given another chance on the same connection.
    if (!served || closedByRequest || last || stream.TimedOut())
        watch->Close(connection);
    else
        watch->Return(connection);
}

void HttpServer::WidenBacklog()
{
    // Listening again on a listening socket only changes its backlog.
    if (svr_sock_ != INVALID_SOCKET)
        ::listen(svr_sock_, SOMAXCONN);
}

void HttpServer::Close()
{
    closing = true;
    stop();
}

Server::Server(Store& store, Faults& faults, Settings& settings)
    : store(store), faults(faults), settings(settings), api(store, settings), admin(store, faults, settings)
{
}

bool Server::EnableTls(const QString& certFile, const QString& keyFile, QString* error)
{
    std::string text;
    if (http.EnableTls(certFile.toStdString(), keyFile.toStdString(), &text))
        return true;
    *error = QString::fromStdString(text);
    return false;
}

int Server::Bind(const QString& host, int port)
{
    listenHost = host;
    // The status line and headers go out in one write and the body in another; without this
    // every answer would wait for the client's delayed acknowledgement (about 40 ms).
    http.set_tcp_nodelay(true);
    // A client polls every few seconds: its connections stay open between polls (and a TLS client
    // is spared a handshake per poll). A stopping server lets idle connections go at once.
    http.set_keep_alive_max_count(1000);
    http.set_keep_alive_timeout(HttpServer::KeepAliveSeconds);
    http.set_read_timeout(10, 0);
    http.set_write_timeout(10, 0);
    http.set_payload_max_length(MaxBodyBytes);
    // A worker that ends takes its database connection with it.
    http.SetWorkerExitHook([this] { store.ReleaseThreadConnection(); });
    // The library's default also sets SO_REUSEPORT, which lets a second server bind the same port
    // and silently take half of the client's connections. Only SO_REUSEADDR: a second server
    // fails to start instead.
    http.set_socket_options([](socket_t sock) {
        int yes = 1;
        setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
    Route();
    const std::string address = host.toStdString();
    if (port == 0)
        boundPort = http.bind_to_any_port(address);
    else
        boundPort = http.bind_to_port(address, port) ? port : -1;
    if (boundPort <= 0)
        return -1;
    http.WidenBacklog();
    return boundPort;
}

bool Server::Run()
{
    return http.listen_after_bind();
}

void Server::Stop()
{
    http.Close();
}

void Server::Route()
{
    http.Post(R"(/api/([^/]*))", [this](const httplib::Request& request, httplib::Response& response) {
        ServeApi(request, response, QString::fromStdString(request.matches[1]));
    });
    http.Get(R"(/api/.*)", [](const httplib::Request&, httplib::Response& response) {
        SendJson(response, 405, Failure(QStringLiteral("请使用 POST 请求")));
    });
    http.Get(R"(/img/(face|item)/([^/]+)\.png)",
             [this](const httplib::Request& request, httplib::Response& response) {
                 ServePicture(request, response);
             });
    http.Get(R"(/download/([^/]+))", [this](const httplib::Request& request, httplib::Response& response) {
        ServeInstaller(request, response);
    });
    http.Get(R"(/|/index\.html|/(reg|forget|amy)\.php)", [](const httplib::Request& request,
                                                            httplib::Response& response) {
        const QByteArray page = Assets::Page(QString::fromStdString(request.path));
        response.set_content(page.constData(), static_cast<size_t>(page.size()), "text/html; charset=utf-8");
    });
    const auto adminHandler = [this](const httplib::Request& request, httplib::Response& response) {
        ServeAdmin(request, response);
    };
    http.Get(R"(/admin/(.*))", adminHandler);
    http.Post(R"(/admin/(.*))", adminHandler);
    http.Delete(R"(/admin/(.*))", adminHandler);

    http.set_error_handler([](const httplib::Request& request, httplib::Response& response) {
        if (!response.body.empty())
            return;
        if (request.path.rfind("/api/", 0) == 0 || request.path.rfind("/admin/", 0) == 0) {
            const QString text = response.status == 413 ? QStringLiteral("请求内容过大")
                                 : response.status == 404
                                     ? QStringLiteral("接口不存在")
                                     : QStringLiteral("请求错误（HTTP %1）").arg(response.status);
            const QByteArray body = JsonBytes(Failure(text));
            response.set_content(body.constData(), static_cast<size_t>(body.size()), JsonType);
        } else {
            response.set_content(response.status == 404 ? "Not Found" : "Request refused", "text/plain");
        }
    });
    http.set_exception_handler([](const httplib::Request&, httplib::Response& response, std::exception_ptr) {
        SendJson(response, 500, Failure(QStringLiteral("服务器内部错误，请稍后重试")));
    });
    // Every answer tells the platform's clock, as any HTTP server does: the client sets its cursors
    // by it rather than by the PC's clock.
    http.set_post_routing_handler([](const httplib::Request&, httplib::Response& response) {
        const QDateTime now = QDateTime::fromSecsSinceEpoch(Now(), Qt::UTC);
        response.set_header("Date", QLocale::c()
                                        .toString(now, QStringLiteral("ddd, dd MMM yyyy hh:mm:ss 'GMT'"))
                                        .toStdString());
    });
    http.set_logger([this](const httplib::Request& request, const httplib::Response& response) {
        if (logging)
            PrintLine(QStringLiteral("%1 %2 %3 -> %4")
                          .arg(QString::fromStdString(request.remote_addr),
                               QString::fromStdString(request.method), QString::fromStdString(request.path))
                          .arg(response.status));
    });
}

namespace {

// "name", "name:port", "[v6]" or "[v6]:port"; whether it has a port in *withPort.
bool IsHostAndPort(const QString& text, bool* withPort = nullptr)
{
    static const QRegularExpression hostPattern(
        QStringLiteral("^[A-Za-z0-9.\\-]+(:[0-9]{1,5})?$|^\\[[0-9A-Fa-f:.]+\\](:[0-9]{1,5})?$"));
    const QRegularExpressionMatch match = hostPattern.match(text);
    if (withPort)
        *withPort = match.hasMatch() && !(match.captured(1).isEmpty() && match.captured(2).isEmpty());
    return match.hasMatch();
}

} // namespace

bool Server::SetImageHost(const QString& hostPort)
{
    if (!IsHostAndPort(hostPort))
        return false;
    imageHost = hostPort;
    return true;
}

QString Server::UrlBase(const httplib::Request& request) const
{
    // Pictures and the installer are on the image host; unless one is named, that is the address
    // the client used to reach this server.
    const QString scheme = http.IsTls() ? QStringLiteral("https://") : QStringLiteral("http://");
    if (!imageHost.isEmpty()) {
        bool withPort = false;
        IsHostAndPort(imageHost, &withPort);
        return scheme + imageHost + (withPort ? QString() : QStringLiteral(":%1").arg(boundPort));
    }
    const QString host = QString::fromStdString(request.get_header_value("Host"));
    if (IsHostAndPort(host))
        return scheme + host;
    return scheme + QStringLiteral("127.0.0.1:%1").arg(boundPort);
}

QString Server::AdminRefusal(const httplib::Request& request, int* httpStatus) const
{
    *httpStatus = 403;
    if (!IsLoopback(request.remote_addr))
        return QStringLiteral("the admin API answers loopback clients only");
    // A web page the browser shows may send requests here, and a name that the page's site
    // resolves to 127.0.0.1 carries its own Host. Only this server's own names pass: the loopback
    // names and the address it listens on, each with the port the request came to.
    const QString port = QString::number(request.local_port);
    QStringList own{QStringLiteral("127.0.0.1"), QStringLiteral("localhost"), QStringLiteral("[::1]")};
    own.append(listenHost.contains(QLatin1Char(':')) ? QLatin1Char('[') + listenHost + QLatin1Char(']')
                                                     : listenHost);
    QStringList origins;
    for (const QString& name : qAsConst(own)) {
        origins.append(name.toLower() + QLatin1Char(':') + port);
    }
    const QString host = QString::fromStdString(request.get_header_value("Host")).trimmed().toLower();
    if (!origins.contains(host))
        return QStringLiteral("the admin API answers requests to this server's own address only (Host)");
    // Browsers name the page that made a request in Origin; a request of this server's own pages
    // (none call the admin API) or of a program that sends none may pass.
    if (request.has_header("Origin")) {
        const QString origin = QString::fromStdString(request.get_header_value("Origin")).trimmed().toLower();
        const QString scheme = http.IsTls() ? QStringLiteral("https://") : QStringLiteral("http://");
        if (!origin.startsWith(scheme) || !origins.contains(origin.mid(scheme.size())))
            return QStringLiteral("the admin API refuses requests from other sites (Origin)");
    }
    // A page may send text/plain or a form without asking first; a JSON body needs the browser to
    // ask (a preflight), which this server never allows.
    if (request.method == "POST" || !request.body.empty()) {
        const std::string type = request.get_header_value("Content-Type");
        const QString media = QString::fromStdString(type.substr(0, type.find(';'))).trimmed().toLower();
        if (media != QLatin1String("application/json")) {
            *httpStatus = 415;
            return QStringLiteral("the admin API takes JSON bodies only (Content-Type: application/json)");
        }
    }
    return QString();
}

bool Server::ApplyFault(const QString& endpoint, httplib::Response& response)
{
    const std::optional<Fault> fault = faults.Take(endpoint);
    if (!fault)
        return false;
    switch (fault->kind) {
    case Fault::Delay:
    case Fault::Hang: {
        const int fd = answeredSocket;
        switch (
            faults.Wait(fault->ms, fault->kind == Fault::Hang, [fd] { return fd >= 0 && PeerClosed(fd); })) {
        case Faults::WaitEnd::Elapsed:
        case Faults::WaitEnd::Cleared:
            return false;
        case Faults::WaitEnd::ClientGone:
            // Nobody is listening; writing the answer fails and the library closes the socket.
            response.status = 500;
            return true;
        case Faults::WaitEnd::ShuttingDown:
            break;
        }
        SendJson(response, 503, Failure(QStringLiteral("服务器正在停止")));
        return true;
    }
    case Fault::Http500:
        response.status = 500;
        response.set_content("Internal Server Error", "text/plain");
        return true;
    case Fault::NotJson:
        response.set_content("<html><body><h1>系统维护中</h1><p>请稍后再试。</p></body></html>",
                             "text/html; charset=utf-8");
        return true;
    case Fault::JsonArray:
        response.set_content(R"([{"status":1,"info":{}}])", JsonType);
        return true;
    case Fault::Refuse:
        SendJson(response, 200, Failure(fault->text));
        return true;
    case Fault::Close: {
        // After the shutdown the library's attempt to answer fails and it closes the socket.
        const int fd = answeredSocket;
        if (fd >= 0)
            ::shutdown(fd, SHUT_RDWR);
        response.status = 500;
        return true;
    }
    }
    return false;
}

void Server::ServeApi(const httplib::Request& request, httplib::Response& response, const QString& endpoint)
{
    if (ApplyFault(endpoint, response))
        return;
    int httpStatus = 200;
    const QByteArray reply = api.Call(endpoint, DecodeForm(request.body), UrlBase(request), &httpStatus);
    response.status = httpStatus;
    response.set_content(reply.constData(), static_cast<size_t>(reply.size()), JsonType);
}

void Server::ServeAdmin(const httplib::Request& request, httplib::Response& response)
{
    int refusedWith = 0;
    const QString refusal = AdminRefusal(request, &refusedWith);
    if (!refusal.isEmpty()) {
        SendJson(response, refusedWith, Failure(refusal));
        return;
    }
    QJsonObject reply;
    const int httpStatus = admin.Handle(request.method, QString::fromStdString(request.matches[1]),
                                        request.body, UrlBase(request), &reply);
    SendJson(response, httpStatus, reply);
}

void Server::ServePicture(const httplib::Request& request, httplib::Response& response)
{
    if (ApplyFault(QStringLiteral("img"), response))
        return;
    const QByteArray png = assets.Picture(QString::fromStdString(request.matches[1]),
                                          QString::fromStdString(request.matches[2]));
    if (png.isEmpty()) {
        response.status = 404;
        return;
    }
    response.set_header("Cache-Control", "max-age=3600");
    response.set_content(png.constData(), static_cast<size_t>(png.size()), "image/png");
}

void Server::ServeInstaller(const httplib::Request& request, httplib::Response& response)
{
    if (ApplyFault(QStringLiteral("download"), response))
        return;
    static const QRegularExpression installerName(
        QStringLiteral("^tarvik-setup-([0-9A-Za-z][0-9A-Za-z._-]{0,40})\\.sh$"));
    const QRegularExpressionMatch match = installerName.match(QString::fromStdString(request.matches[1]));
    // Only the build on offer is served; any other name would make and keep an installer of its own.
    if (!match.hasMatch() || match.captured(1) != settings.OfferVersion()) {
        response.status = 404;
        return;
    }
    const QByteArray installer = assets.Installer(match.captured(1));
    response.set_header("Content-Disposition", "attachment");
    response.set_content(installer.constData(), static_cast<size_t>(installer.size()),
                         "application/octet-stream");
}

} // namespace Velm
