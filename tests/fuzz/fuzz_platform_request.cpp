// Fuzz harness for velm-platform's request handling: form decoding, the HTTP connection code, routing,
// every API endpoint and the admin API, against a real (throw-away) database with the demo shop.
//
// An input is one of
//   "RAW\n" followed by bytes that go to the server exactly as they are (broken heads, lengths,
//   chunked bodies, several requests on one connection);
//   "METHOD PATH\n" followed by a body, sent as one well-formed request with the right length and
//   content type ("/api/..." a form, anything else JSON).
// "@session@" anywhere becomes "id=..&key=..&token=.." of a valid login and "@order@" the number of
// a paid order whose buyer's code is 135790, so that mutated inputs reach past the session check.
//
// What must hold besides "no crash, no hang, no sanitizer report":
// - decoding a form body, encoding every field again and decoding that gives the same fields;
// - a well-formed request to /api/ or /admin/ is answered with a JSON object holding a "status".

#include "platform/api.h"
#include "platform/demo.h"
#include "platform/faults.h"
#include "platform/server.h"
#include "platform/store.h"
#include "platform/util.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>

#include <arpa/inet.h>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

const char* const OfferVersion = "1.0.6.2290";
const char* const OrderCode = "135790";
// Long-running inputs would only slow the search down: generating orders is a bulk insert that
// takes seconds by design.
const char* const SkippedCall = "generate";
// The database grows with every order an input creates; it starts over now and then.
const int InputsPerDatabase = 5000;

struct Platform
{
    Velm::Store* store = nullptr;
    Velm::Faults* faults = nullptr;
    Velm::Settings* settings = nullptr;
    Velm::Server* server = nullptr;
    int listener = -1;
    sockaddr_in address{};
    std::string sessionForm;
    std::string orderId;
    int inputs = 0;
};

void Fail(const char* what)
{
    std::fprintf(stderr, "fuzz_platform_request: %s\n", what);
    std::abort();
}

void NewSession(Platform& platform)
{
    const std::optional<Velm::Session> session = platform.store->NewSession(Velm::Demo::Accounts[0].id);
    if (!session)
        Fail("cannot log in");
    platform.sessionForm = QStringLiteral("id=%1&key=%2&token=%3")
                               .arg(session->staffId)
                               .arg(session->key, session->token)
                               .toStdString();
}

void Populate(Platform& platform)
{
    QStringList report;
    if (!platform.store->Reset() || !Velm::Demo::Seed(*platform.store, &report))
        Fail("cannot seed the database");
    Velm::Order order;
    order.shopId = Velm::Demo::ShopId;
    order.status = Velm::Paid;
    order.ctime = order.ptime = Velm::Now();
    order.amountCents = 1800;
    order.password = QString::fromLatin1(OrderCode);
    QVector<Velm::Order> orders{order};
    if (!platform.store->CreateOrders(&orders))
        Fail("cannot store the order");
    platform.orderId = std::to_string(orders.first().id);
    NewSession(platform);
}

Platform& Instance()
{
    // Held for the life of the process and never destroyed: Qt's SQL connections and the
    // application object must not be torn down by static destructors in an order nobody chose.
    static Platform* platform = [] {
        static int argc = 1;
        static char name[] = "fuzz_platform_request";
        static char* argv[] = {name, nullptr};
        if (!QCoreApplication::instance())
            new QCoreApplication(argc, argv);
        auto* p = new Platform;
        p->store = new Velm::Store(QStringLiteral(":memory:"));
        QString error;
        if (!p->store->Open(&error))
            Fail(qPrintable(error));
        p->faults = new Velm::Faults;
        // Held ("hang") and delayed answers end at once, as in a stopping server: a held request
        // followed by more input on its connection would otherwise wait ten minutes.
        p->faults->Shutdown();
        p->settings = new Velm::Settings(1000, QString::fromLatin1(OfferVersion));
        p->server = new Velm::Server(*p->store, *p->faults, *p->settings);
        // Binding registers the routes; the harness hands connections over itself and never
        // runs the server's own listener.
        if (p->server->Bind(QStringLiteral("127.0.0.1"), 0) < 0)
            Fail("cannot bind");
        p->listener = ::socket(AF_INET, SOCK_STREAM, 0);
        p->address.sin_family = AF_INET;
        p->address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof p->address;
        if (p->listener < 0 || ::bind(p->listener, reinterpret_cast<sockaddr*>(&p->address), length) != 0 ||
            ::listen(p->listener, 16) != 0 ||
            ::getsockname(p->listener, reinterpret_cast<sockaddr*>(&p->address), &length) != 0)
            Fail("cannot listen");
        Populate(*p);
        return p;
    }();
    return *platform;
}

void ReplaceAll(std::string& text, const std::string& from, const std::string& to)
{
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
}

std::string PercentEncoded(const QString& text)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string encoded;
    for (const char byte : text.toUtf8()) {
        const auto value = static_cast<unsigned char>(byte);
        encoded += '%';
        encoded += digits[value >> 4];
        encoded += digits[value & 15];
    }
    return encoded;
}

void CheckFormRoundTrip(const std::string& body)
{
    const Velm::Form form = Velm::DecodeForm(body);
    std::string encoded;
    for (auto field = form.constBegin(); field != form.constEnd(); ++field) {
        if (field.key().isEmpty())
            Fail("a field without a name was decoded");
        encoded +=
            (encoded.empty() ? "" : "&") + PercentEncoded(field.key()) + '=' + PercentEncoded(field.value());
    }
    if (Velm::DecodeForm(encoded) != form)
        Fail("decoding the encoded fields again changed them");
}

// Sends `request` over a fresh loopback connection, hands the server's end to the server, waits
// until the server has closed it and returns what came back.
std::string Exchange(Platform& platform, const std::string& request)
{
    const int client = ::socket(AF_INET, SOCK_STREAM, 0);
    if (client < 0 ||
        ::connect(client, reinterpret_cast<const sockaddr*>(&platform.address), sizeof platform.address) != 0)
        Fail("cannot connect");
    const int served = ::accept(platform.listener, nullptr, nullptr);
    if (served < 0)
        Fail("cannot accept");
    std::string answer;
    std::thread peer([&] {
        for (size_t sent = 0; sent < request.size();) {
            const ssize_t n = ::send(client, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
            if (n <= 0)
                break;
            sent += static_cast<size_t>(n);
        }
        // The end of the input is the end of what the client says; held requests notice it.
        ::shutdown(client, SHUT_WR);
        char buffer[65536];
        for (;;) {
            const ssize_t n = ::recv(client, buffer, sizeof buffer, 0);
            if (n <= 0)
                break;
            answer.append(buffer, static_cast<size_t>(n));
        }
    });
    platform.server->ServeConnection(served);
    peer.join();
    ::close(client);
    return answer;
}

bool IsPlainPath(const std::string& path)
{
    for (const char c : path) {
        if (c <= ' ' || c >= 127 || c == '%' || c == '#' || c == '?')
            return false;
    }
    return true;
}

void CheckEnvelope(const std::string& answer)
{
    const size_t bodyStart = answer.find("\r\n\r\n");
    if (answer.rfind("HTTP/1.1 ", 0) != 0 || bodyStart == std::string::npos)
        Fail("a well-formed request got no HTTP answer");
    const std::string body = answer.substr(bodyStart + 4);
    QJsonParseError error;
    const QJsonDocument reply =
        QJsonDocument::fromJson(QByteArray(body.data(), static_cast<int>(body.size())), &error);
    if (error.error != QJsonParseError::NoError || !reply.isObject() ||
        !reply.object().value(QStringLiteral("status")).isDouble())
        Fail("an API answer is not a JSON object with a status");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Platform& platform = Instance();
    std::string input(reinterpret_cast<const char*>(data), size);
    if (input.find(SkippedCall) != std::string::npos)
        return 0;
    if (++platform.inputs % InputsPerDatabase == 0)
        Populate(platform);
    ReplaceAll(input, "@session@", platform.sessionForm);
    ReplaceAll(input, "@order@", platform.orderId);

    if (input.rfind("RAW\n", 0) == 0) {
        const std::string raw = input.substr(4);
        CheckFormRoundTrip(raw);
        Exchange(platform, raw);
    } else {
        const size_t lineEnd = input.find('\n');
        const std::string line = input.substr(0, lineEnd);
        const std::string body = lineEnd == std::string::npos ? std::string() : input.substr(lineEnd + 1);
        const size_t space = line.find(' ');
        const std::string method = line.substr(0, space);
        const std::string path = space == std::string::npos ? std::string("/") : line.substr(space + 1);
        CheckFormRoundTrip(body);
        const bool api = path.rfind("/api/", 0) == 0;
        // The admin API answers only requests that name this server, port included.
        std::string request =
            method + ' ' + path +
            " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(ntohs(platform.address.sin_port)) +
            "\r\nContent-Type: " + (api ? "application/x-www-form-urlencoded" : "application/json") +
            "\r\nContent-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
        const std::string answer = Exchange(platform, request);
        const bool wellFormed =
            (method == "GET" || method == "POST" || method == "DELETE") && IsPlainPath(path);
        if (wellFormed && (api || path.rfind("/admin/", 0) == 0))
            CheckEnvelope(answer);
    }

    // Whatever this input changed must not leak into the next: faults held, the offered version,
    // a login it ended.
    platform.faults->Clear();
    platform.settings->SetOfferVersion(QString::fromLatin1(OfferVersion));
    const Velm::Form session = Velm::DecodeForm(platform.sessionForm);
    if (!platform.store->StaffBySession(session.value(QStringLiteral("id")).toInt(),
                                        session.value(QStringLiteral("key")),
                                        session.value(QStringLiteral("token"))))
        NewSession(platform);
    return 0;
}
