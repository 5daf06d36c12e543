#include "connections.h"

#include <openssl/err.h>

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <system_error>
#include <unistd.h>

namespace Velm {

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

WorkerPool::WorkerPool(size_t ready, size_t most, std::chrono::milliseconds rest,
                       std::function<void()> onExit)
    : ready(ready), most(most), rest(rest), onExit(std::move(onExit))
{
    std::lock_guard<std::mutex> lock(mutex);
    while (live < ready && StartWorker()) {
    }
}

void WorkerPool::Enqueue(std::function<void()> job)
{
    Threads ended;
    {
        std::lock_guard<std::mutex> lock(mutex);
        jobs.push_back(std::move(job));
        if (idle < jobs.size() && live < most)
            StartWorker();
        wake.notify_one();
        ended.swap(finished);
    }
    for (std::thread& thread : ended)
        thread.join();
}

void WorkerPool::Shutdown()
{
    std::unique_lock<std::mutex> lock(mutex);
    stopping = true;
    wake.notify_all();
    gone.wait(lock, [this] { return threads.empty(); });
    Threads ended;
    ended.swap(finished);
    lock.unlock();
    for (std::thread& thread : ended)
        thread.join();
}

bool WorkerPool::StartWorker()
{
    if (stopping)
        return false;
    const Threads::iterator self = threads.emplace(threads.end());
    try {
        // The worker touches `self` only under the lock, after this assignment.
        *self = std::thread([this, self] { Work(self); });
    } catch (const std::system_error&) {
        // Out of threads: the ones running take the queue.
        threads.erase(self);
        return false;
    }
    ++live;
    return true;
}

void WorkerPool::Work(Threads::iterator self)
{
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
        ++idle;
        const bool woken = wake.wait_for(lock, rest, [this] { return stopping || !jobs.empty(); });
        --idle;
        if (!woken) {
            if (live > ready)
                break;
            continue;
        }
        if (jobs.empty())
            break; // stopping
        std::function<void()> job = std::move(jobs.front());
        jobs.pop_front();
        lock.unlock();
        job();
        job = nullptr;
        lock.lock();
    }
    --live;
    lock.unlock();
    if (onExit)
        onExit();
    lock.lock();
    finished.splice(finished.end(), threads, self);
    gone.notify_all();
}

ConnectionWatch::ConnectionWatch(const Limits& limits, SSL_CTX* tls,
                                 std::function<void(Connection*)> dispatch)
    : limits(limits), tls(tls), dispatch(std::move(dispatch))
{
    epoll = epoll_create1(EPOLL_CLOEXEC);
    wakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.u64 = WakeId;
    epoll_ctl(epoll, EPOLL_CTL_ADD, wakeFd, &event);
    thread = std::thread([this] { Run(); });
}

ConnectionWatch::~ConnectionWatch()
{
    Stop();
    ::close(wakeFd);
    ::close(epoll);
}

void ConnectionWatch::Adopt(int fd, std::function<void()> onClosed)
{
    auto* connection = new Connection;
    connection->fd = fd;
    connection->opened = Clock::now();
    connection->requestsLeft = limits.requestsPerConnection;
    connection->onClosed = std::move(onClosed);
    ++open;
    Hand(connection);
}

void ConnectionWatch::Stop()
{
    {
        std::lock_guard<std::mutex> lock(inboxMutex);
        if (stopped)
            return;
        stopped = true;
    }
    Wake();
    thread.join();
}

void ConnectionWatch::Close(Connection* connection)
{
    if (connection->ssl) {
        // Best effort: the socket does not block, a client that does not read misses the notice.
        SSL_shutdown(connection->ssl);
        SSL_free(connection->ssl);
    }
    ::shutdown(connection->fd, SHUT_RDWR);
    ::close(connection->fd);
    if (connection->onClosed)
        connection->onClosed();
    delete connection;
    --open;
}

void ConnectionWatch::Hand(Connection* connection)
{
    {
        std::lock_guard<std::mutex> lock(inboxMutex);
        if (!stopped) {
            inbox.push_back(connection);
            connection = nullptr;
        }
    }
    if (connection)
        Close(connection);
    else
        Wake();
}

void ConnectionWatch::Wake()
{
    const uint64_t one = 1;
    const ssize_t written = ::write(wakeFd, &one, sizeof one);
    (void)written;
}

void ConnectionWatch::Run()
{
    std::vector<epoll_event> events(256);
    for (;;) {
        int timeoutMs = -1;
        if (!timers.empty()) {
            const auto left =
                std::chrono::ceil<std::chrono::milliseconds>(timers.begin()->first - Clock::now());
            timeoutMs = static_cast<int>(std::clamp<long long>(left.count(), 0, 24 * 3600 * 1000));
        }
        const int ready = epoll_wait(epoll, events.data(), static_cast<int>(events.size()), timeoutMs);
        {
            std::lock_guard<std::mutex> lock(inboxMutex);
            if (stopped)
                break;
        }
        for (int i = 0; i < ready; ++i) {
            if (events[i].data.u64 == WakeId) {
                uint64_t count;
                while (::read(wakeFd, &count, sizeof count) > 0) {
                }
                continue;
            }
            const auto found = watched.find(events[i].data.u64);
            if (found != watched.end())
                Progress(found->second);
        }
        TakeInbox();
        Expire();
    }
    std::vector<Connection*> left;
    {
        std::lock_guard<std::mutex> lock(inboxMutex);
        left.swap(inbox);
    }
    for (auto& entry : watched)
        left.push_back(entry.second);
    watched.clear();
    for (Connection* connection : left)
        Close(connection);
}

void ConnectionWatch::TakeInbox()
{
    std::vector<Connection*> arrived;
    {
        std::lock_guard<std::mutex> lock(inboxMutex);
        arrived.swap(inbox);
    }
    for (Connection* connection : arrived) {
        const bool fresh = connection->id == 0;
        if (fresh && !MakeRoom()) {
            Close(connection);
            continue;
        }
        if (fresh)
            connection->id = nextId++;
        watched.emplace(connection->id, connection);
        Listen(connection, EPOLL_CTL_ADD);
        if (fresh)
            Welcome(connection);
        else
            Rest(connection);
    }
}

void ConnectionWatch::Welcome(Connection* connection)
{
    const int flags = ::fcntl(connection->fd, F_GETFL, 0);
    sockaddr_storage peer{};
    socklen_t length = sizeof peer;
    int port = 0;
    if (flags < 0 || ::fcntl(connection->fd, F_SETFL, flags | O_NONBLOCK) != 0 ||
        getpeername(connection->fd, reinterpret_cast<sockaddr*>(&peer), &length) != 0 ||
        !SocketAddress(peer, &connection->address, &port)) {
        Drop(connection);
        return;
    }
    SetDeadline(connection, connection->opened + std::chrono::milliseconds(limits.headTimeoutMs));
    if (tls) {
        connection->ssl = SSL_new(tls);
        if (!connection->ssl || SSL_set_fd(connection->ssl, connection->fd) != 1) {
            Drop(connection);
            return;
        }
        SSL_set_mode(connection->ssl, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
        SSL_set_accept_state(connection->ssl);
        connection->stage = Connection::Stage::Handshake;
    }
    Progress(connection);
}

void ConnectionWatch::Rest(Connection* connection)
{
    connection->stage = Connection::Stage::Idle;
    if (connection->bytes.empty()) {
        SetDeadline(connection, Clock::now() + std::chrono::milliseconds(limits.keepAliveMs));
        AddIdle(connection);
    }
    // Bytes may wait in the TLS layer, where epoll does not see them.
    Progress(connection);
}

void ConnectionWatch::Progress(Connection* connection)
{
    if (connection->stage == Connection::Stage::Handshake) {
        ERR_clear_error();
        const int accepted = SSL_accept(connection->ssl);
        if (accepted != 1) {
            const int error = SSL_get_error(connection->ssl, accepted);
            if (error != SSL_ERROR_WANT_READ && error != SSL_ERROR_WANT_WRITE) {
                Drop(connection);
                return;
            }
            WantWrite(connection, error == SSL_ERROR_WANT_WRITE);
            return;
        }
        connection->stage = Connection::Stage::New;
        SetDeadline(connection, Clock::now() + std::chrono::milliseconds(limits.headTimeoutMs));
    }
    if (!Read(connection))
        return;
    Advance(connection);
}

bool ConnectionWatch::Read(Connection* connection)
{
    // Enough for the largest request gathered here and some of the next; the rest waits for the
    // next round (the TLS layer may hold it, unseen by epoll: the worker's reads take it).
    const size_t most = MostHeadBytes + GatheredBody + 16384;
    char chunk[16384];
    bool wantsWrite = false;
    for (size_t taken = 0; taken < most && !connection->peerEnded;) {
        if (connection->ssl) {
            ERR_clear_error();
            const int received = SSL_read(connection->ssl, chunk, sizeof chunk);
            if (received > 0) {
                connection->bytes.append(chunk, static_cast<size_t>(received));
                taken += static_cast<size_t>(received);
                continue;
            }
            const int error = SSL_get_error(connection->ssl, received);
            if (error == SSL_ERROR_ZERO_RETURN) {
                connection->peerEnded = true;
            } else if (error == SSL_ERROR_WANT_WRITE) {
                wantsWrite = true;
            } else if (error != SSL_ERROR_WANT_READ) {
                Drop(connection);
                return false;
            }
            break;
        }
        const ssize_t received = ::recv(connection->fd, chunk, sizeof chunk, MSG_DONTWAIT);
        if (received > 0) {
            connection->bytes.append(chunk, static_cast<size_t>(received));
            taken += static_cast<size_t>(received);
            continue;
        }
        if (received == 0) {
            connection->peerEnded = true;
        } else if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
            Drop(connection);
            return false;
        }
        break;
    }
    WantWrite(connection, wantsWrite);
    return true;
}

void ConnectionWatch::Advance(Connection* connection)
{
    using Stage = Connection::Stage;
    if (!connection->bytes.empty() && (connection->stage == Stage::New || connection->stage == Stage::Idle)) {
        RemoveIdle(connection);
        connection->stage = Stage::Head;
        connection->requestStart = Clock::now();
        connection->head = HeadEnd();
        connection->scanned = 0;
        connection->headRead = false;
        SetDeadline(connection, connection->requestStart + std::chrono::milliseconds(limits.headTimeoutMs));
    }
    if (connection->stage == Stage::Head) {
        const size_t end = connection->head.Find(connection->bytes.data() + connection->scanned,
                                                 connection->bytes.size() - connection->scanned);
        if (end == std::string::npos) {
            connection->scanned = connection->bytes.size();
            if (connection->scanned > MostHeadBytes) {
                Refuse(connection);
                return;
            }
        } else {
            const size_t headLength = connection->scanned + end;
            connection->headRead = true;
            const std::optional<size_t> body = GatheredBodyLength(connection->bytes.substr(0, headLength));
            if (!body) {
                Dispatch(connection);
                return;
            }
            connection->wanted = headLength + *body;
            connection->stage = Stage::Body;
            SetDeadline(connection,
                        connection->requestStart + std::chrono::milliseconds(limits.requestTimeoutMs));
        }
    }
    if (connection->stage == Stage::Body && connection->bytes.size() >= connection->wanted) {
        Dispatch(connection);
        return;
    }
    if (connection->peerEnded) {
        // Nothing more can come: a request cut short gets its HTTP 400 (a client that only
        // closed its sending half may read it), without taking a worker.
        if (connection->stage == Stage::Head || connection->stage == Stage::Body)
            Refuse(connection);
        else
            Drop(connection);
    }
}

std::optional<size_t> ConnectionWatch::GatheredBodyLength(const std::string& head)
{
    std::optional<size_t> length;
    size_t line = head.find('\n');
    while (line != std::string::npos && line + 1 < head.size()) {
        const size_t start = line + 1;
        line = head.find('\n', start);
        const std::string field =
            head.substr(start, (line == std::string::npos ? head.size() : line) - start);
        const size_t colon = field.find(':');
        if (colon == std::string::npos)
            continue;
        std::string name = field.substr(0, colon);
        std::transform(name.begin(), name.end(), name.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        if (name == "transfer-encoding" || name == "expect")
            return std::nullopt;
        if (name != "content-length")
            continue;
        if (length)
            return std::nullopt; // twice: the parser decides
        const size_t first = field.find_first_not_of(" \t", colon + 1);
        const size_t last = field.find_last_not_of(" \t\r");
        if (first == std::string::npos || last < first || last - first > 12)
            return std::nullopt;
        size_t value = 0;
        for (size_t i = first; i <= last; ++i) {
            if (field[i] < '0' || field[i] > '9')
                return std::nullopt;
            value = value * 10 + static_cast<size_t>(field[i] - '0');
        }
        if (value > GatheredBody)
            return std::nullopt;
        length = value;
    }
    return length.value_or(0);
}

void ConnectionWatch::Dispatch(Connection* connection)
{
    Forget(connection);
    connection->stage = Connection::Stage::Busy;
    dispatch(connection);
}

void ConnectionWatch::Refuse(Connection* connection)
{
    static const char answer[] = "HTTP/1.1 400 Bad Request\r\nContent-Type: text/plain\r\n"
                                 "Content-Length: 15\r\nConnection: close\r\n\r\nRequest refused";
    if (connection->ssl) {
        ERR_clear_error();
        SSL_write(connection->ssl, answer, sizeof answer - 1);
    } else {
        const ssize_t sent = ::send(connection->fd, answer, sizeof answer - 1, MSG_DONTWAIT | MSG_NOSIGNAL);
        (void)sent;
    }
    Drop(connection);
}

void ConnectionWatch::Drop(Connection* connection)
{
    Forget(connection);
    Close(connection);
}

void ConnectionWatch::Forget(Connection* connection)
{
    RemoveIdle(connection);
    if (connection->timed)
        timers.erase({connection->deadline, connection->id});
    connection->timed = false;
    if (watched.erase(connection->id) > 0)
        epoll_ctl(epoll, EPOLL_CTL_DEL, connection->fd, nullptr);
}

void ConnectionWatch::Listen(Connection* connection, int operation)
{
    epoll_event event{};
    event.events = EPOLLIN | EPOLLRDHUP | (connection->wantsWrite ? EPOLLOUT : 0u);
    event.data.u64 = connection->id;
    epoll_ctl(epoll, operation, connection->fd, &event);
}

void ConnectionWatch::WantWrite(Connection* connection, bool wanted)
{
    if (connection->wantsWrite == wanted)
        return;
    connection->wantsWrite = wanted;
    Listen(connection, EPOLL_CTL_MOD);
}

void ConnectionWatch::SetDeadline(Connection* connection, Clock::time_point deadline)
{
    if (connection->timed)
        timers.erase({connection->deadline, connection->id});
    connection->deadline = deadline;
    connection->timed = true;
    timers.emplace(deadline, connection->id);
}

void ConnectionWatch::Expire()
{
    const Clock::time_point now = Clock::now();
    while (!timers.empty() && timers.begin()->first <= now) {
        Connection* connection = watched.at(timers.begin()->second);
        const Connection::Stage stage = connection->stage;
        if (stage == Connection::Stage::Head || stage == Connection::Stage::Body)
            Refuse(connection);
        else
            Drop(connection);
    }
}

void ConnectionWatch::AddIdle(Connection* connection)
{
    std::list<Connection*>& ofAddress = idleByAddress[connection->address];
    connection->idleAt = idle.insert(idle.end(), connection);
    connection->idleAtAddress = ofAddress.insert(ofAddress.end(), connection);
    connection->isIdle = true;
    // The address's oldest idle connection goes first; a client's own connections are the
    // ones it used last.
    while (ofAddress.size() > limits.mostIdlePerAddress)
        Drop(ofAddress.front());
}

void ConnectionWatch::RemoveIdle(Connection* connection)
{
    if (!connection->isIdle)
        return;
    connection->isIdle = false;
    idle.erase(connection->idleAt);
    const auto ofAddress = idleByAddress.find(connection->address);
    ofAddress->second.erase(connection->idleAtAddress);
    if (ofAddress->second.empty())
        idleByAddress.erase(ofAddress);
}

bool ConnectionWatch::MakeRoom()
{
    while (open > limits.mostConnections) {
        if (!idle.empty()) {
            Drop(idle.front());
            continue;
        }
        Connection* oldest = nullptr;
        for (const auto& entry : watched) {
            if (!oldest || entry.second->opened < oldest->opened)
                oldest = entry.second;
        }
        if (!oldest)
            return false;
        Drop(oldest);
    }
    return true;
}

} // namespace Velm
