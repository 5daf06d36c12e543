#include "server.h"

#include "util.h"

#include <QDir>
#include <QRegularExpression>

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <sys/socket.h>

namespace Velm {

namespace {

// Enough workers that requests held open by a "hang" fault, or idle keep-alive connections of the
// client's many network managers, do not starve the others.
const size_t WorkerThreads = 48;

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

bool SocketAddress(const sockaddr_storage& address, std::string* host, int* port)
{
    char text[INET6_ADDRSTRLEN] = {};
    if (address.ss_family == AF_INET) {
        const auto* in = reinterpret_cast<const sockaddr_in*>(&address);
        inet_ntop(AF_INET, &in->sin_addr, text, sizeof text);
        *port = ntohs(in->sin_port);
    } else if (address.ss_family == AF_INET6) {
        const auto* in6 = reinterpret_cast<const sockaddr_in6*>(&address);
        inet_ntop(AF_INET6, &in6->sin6_addr, text, sizeof text);
        *port = ntohs(in6->sin6_port);
    } else {
        return false;
    }
    *host = text;
    return true;
}

// cpp-httplib does not hand its socket to a handler. The request's socket is found among the
// process's descriptors by the two ends of the connection; -1 when there is none.
int ConnectionSocket(const httplib::Request& request)
{
    const QStringList descriptors =
        QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::NoDotAndDotDot | QDir::System);
    QVector<int> candidates;
    for (const QString& name : descriptors)
        candidates.append(name.toInt());
    if (candidates.isEmpty()) {
        for (int fd = 3; fd < 1024; ++fd)
            candidates.append(fd);
    }
    for (int fd : candidates) {
        sockaddr_storage peer{};
        sockaddr_storage self{};
        socklen_t peerLength = sizeof peer;
        socklen_t selfLength = sizeof self;
        if (getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &peerLength) != 0 ||
            getsockname(fd, reinterpret_cast<sockaddr*>(&self), &selfLength) != 0)
            continue;
        std::string peerHost;
        std::string selfHost;
        int peerPort = 0;
        int selfPort = 0;
        if (!SocketAddress(peer, &peerHost, &peerPort) || !SocketAddress(self, &selfHost, &selfPort))
            continue;
        if (peerPort == request.remote_port && selfPort == request.local_port &&
            peerHost == request.remote_addr)
            return fd;
    }
    return -1;
}

// The client closed its end (it gave up waiting, or went away).
bool PeerClosed(int fd)
{
    char byte;
    const ssize_t received = ::recv(fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
    return received == 0 || (received < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR);
}

} // namespace

Server::Server(Store& store, Faults& faults, Settings& settings)
    : store(store), faults(faults), settings(settings), api(store, settings), admin(store, faults, settings)
{
}

int Server::Bind(const QString& host, int port)
{
    http.new_task_queue = [] {
        return new httplib::ThreadPool(WorkerThreads);
    };
    // The status line and headers go out in one write and the body in another; without this
    // every answer would wait for the client's delayed acknowledgement (about 40 ms).
    http.set_tcp_nodelay(true);
    http.set_keep_alive_max_count(100);
    // Short, so that a stopping server does not wait long for idle connections to go.
    http.set_keep_alive_timeout(2);
    http.set_read_timeout(10, 0);
    http.set_write_timeout(10, 0);
    http.set_payload_max_length(MaxBodyBytes);
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
    return boundPort > 0 ? boundPort : -1;
}

bool Server::Run()
{
    return http.listen_after_bind();
}

void Server::Stop()
{
    http.stop();
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
    http.set_logger([this](const httplib::Request& request, const httplib::Response& response) {
        if (logging)
            PrintLine(QStringLiteral("%1 %2 %3 -> %4")
                          .arg(QString::fromStdString(request.remote_addr),
                               QString::fromStdString(request.method), QString::fromStdString(request.path))
                          .arg(response.status));
    });
}

QString Server::UrlBase(const httplib::Request& request) const
{
    // Pictures and the installer are named by the address the client used to reach this server.
    static const QRegularExpression hostPattern(
        QStringLiteral("^[A-Za-z0-9.\\-]+(:[0-9]{1,5})?$|^\\[[0-9A-Fa-f:.]+\\](:[0-9]{1,5})?$"));
    const QString host = QString::fromStdString(request.get_header_value("Host"));
    if (hostPattern.match(host).hasMatch())
        return QStringLiteral("http://") + host;
    return QStringLiteral("http://127.0.0.1:%1").arg(boundPort);
}

bool Server::ApplyFault(const QString& endpoint, const httplib::Request& request, httplib::Response& response)
{
    const std::optional<Fault> fault = faults.Take(endpoint);
    if (!fault)
        return false;
    switch (fault->kind) {
    case Fault::Delay:
    case Fault::Hang: {
        const int fd = ConnectionSocket(request);
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
        const int fd = ConnectionSocket(request);
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
    if (ApplyFault(endpoint, request, response))
        return;
    int httpStatus = 200;
    const QJsonObject reply = api.Call(endpoint, DecodeForm(request.body), UrlBase(request), &httpStatus);
    SendJson(response, httpStatus, reply);
}

void Server::ServeAdmin(const httplib::Request& request, httplib::Response& response)
{
    if (!IsLoopback(request.remote_addr)) {
        SendJson(response, 403, Failure(QStringLiteral("the admin API answers loopback clients only")));
        return;
    }
    QJsonObject reply;
    const int httpStatus = admin.Handle(request.method, QString::fromStdString(request.matches[1]),
                                        request.body, UrlBase(request), &reply);
    SendJson(response, httpStatus, reply);
}

void Server::ServePicture(const httplib::Request& request, httplib::Response& response)
{
    if (ApplyFault(QStringLiteral("img"), request, response))
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
    if (ApplyFault(QStringLiteral("download"), request, response))
        return;
    static const QRegularExpression installerName(
        QStringLiteral("^tarvik-setup-([0-9A-Za-z][0-9A-Za-z._-]{0,40})\\.sh$"));
    const QRegularExpressionMatch match = installerName.match(QString::fromStdString(request.matches[1]));
    if (!match.hasMatch()) {
        response.status = 404;
        return;
    }
    const QByteArray installer = assets.Installer(match.captured(1));
    response.set_header("Content-Disposition", "attachment");
    response.set_content(installer.constData(), static_cast<size_t>(installer.size()),
                         "application/octet-stream");
}

} // namespace Velm
