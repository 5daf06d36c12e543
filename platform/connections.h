#pragma once

#include <openssl/ssl.h>
#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <list>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

// The server's connections beneath HTTP: one thread that watches every connection until a request
// has arrived whole, and the pool of workers that answer them (HttpServer in server.h runs
// cpp-httplib's parser and the routes on a worker).

namespace Velm {

using Clock = std::chrono::steady_clock;

// The host and port of an IPv4 or IPv6 socket address; false for any other.
bool SocketAddress(const sockaddr_storage& address, std::string* host, int* port);

// Follows the bytes of a request head to its end, an empty line: "\n\r\n", or "\n\n" from a client
// that leaves out "\r".
struct HeadEnd
{
    bool lineEnded = false;
    // Just past the head's end within data[0, size), or npos while the head goes on.
    size_t Find(const char* data, size_t size)
    {
        for (size_t i = 0; i < size; ++i) {
            if (data[i] == '\n') {
                if (lineEnded)
                    return i + 1;
                lineEnded = true;
            } else if (data[i] != '\r') {
                lineEnded = false;
            }
        }
        return std::string::npos;
    }
};

// Requests held open by a "hang" fault, bodies too large to gather before the answer and answers
// written to slow readers each occupy a worker. A fixed pool runs out; this one keeps `ready`
// workers waiting and starts another thread whenever a request would have to queue, up to `most`.
// A worker beyond the ready ones ends once it has rested for `rest`, so that a burst leaves no
// thousand threads behind.
class WorkerPool
{
public:
    // `onExit` runs on each worker that ends, before it ends.
    WorkerPool(size_t ready, size_t most, std::chrono::milliseconds rest, std::function<void()> onExit);
    void Enqueue(std::function<void()> job);

    // The jobs queued still run; returns once every worker has ended.
    void Shutdown();

private:
    using Threads = std::list<std::thread>;

    // Under the lock.
    bool StartWorker();
    void Work(Threads::iterator self);

    const size_t ready;
    const size_t most;
    const std::chrono::milliseconds rest;
    const std::function<void()> onExit;
    std::mutex mutex;
    std::condition_variable wake;
    std::condition_variable gone;
    std::deque<std::function<void()>> jobs;
    Threads threads;  // running
    Threads finished; // ended, to be joined
    size_t live = 0;  // running and not ending
    size_t idle = 0;
    bool stopping = false;
};

// A client's connection between its requests and while one arrives. Owned by the watch while it
// waits for bytes, by a worker's job while its request is answered.
struct Connection
{
    enum class Stage
    {
        Handshake, // TLS, before the first request
        New,       // no byte of the first request yet
        Idle,      // between two requests
        Head,      // a request head arriving
        Body,      // its body arriving
        Busy,      // handed to a worker
    };

    uint64_t id = 0;
    int fd = -1;
    SSL* ssl = nullptr;
    std::string address; // the client's
    Stage stage = Stage::New;
    std::string bytes; // read and not yet answered
    Clock::time_point opened;
    Clock::time_point requestStart; // the first byte of the request being read
    Clock::time_point deadline;
    bool timed = false; // deadline is in the watch's timers
    HeadEnd head;
    size_t scanned = 0; // bytes looked at for the head's end
    size_t wanted = 0;  // head and body, once the head is read
    bool headRead = false;
    bool peerEnded = false;
    bool wantsWrite = false; // TLS has to write before it can read on
    size_t requestsLeft = 0;
    bool isIdle = false; // in the watch's idle lists
    std::list<Connection*>::iterator idleAt;
    std::list<Connection*>::iterator idleAtAddress;
    std::function<void()> onClosed;
};

// One thread that waits for bytes on every connection at once (epoll), reads each request until it
// is whole and then hands it to a worker; between requests it keeps the connection idle. Deadlines:
// a new connection has the head's time-out to finish its TLS handshake and to start its request, a
// request head the head's time-out from its first byte, the whole request the request time-out,
// an idle connection the keep-alive time. Idle connections are closed oldest first when a client
// address keeps more than its share, or when connections run short of descriptors.
class ConnectionWatch
{
public:
    struct Limits
    {
        int headTimeoutMs = 0;
        int requestTimeoutMs = 0;
        int keepAliveMs = 0;
        size_t requestsPerConnection = 0;
        size_t mostIdlePerAddress = 0;
        size_t mostConnections = 0;
    };
    // Bodies up to this size arrive before the request goes to a worker; a form body is at most 8 KiB.
    static constexpr size_t GatheredBody = 64 * 1024;
    // A head that grows past this without ending is refused.
    static constexpr size_t MostHeadBytes = 64 * 1024;

    ConnectionWatch(const Limits& limits, SSL_CTX* tls, std::function<void(Connection*)> dispatch);
    ~ConnectionWatch();

    // From any thread. A connection just accepted; the watch owns its descriptor from now on.
    void Adopt(int fd, std::function<void()> onClosed);

    // From a worker: the connection after its answer, bytes read ahead included.
    void Return(Connection* connection) { Hand(connection); }

    // Closes every connection waiting for bytes; a connection returned later is closed at once.
    void Stop();

    // Any thread; the connection must be in no one else's hands.
    void Close(Connection* connection);

private:
    static constexpr uint64_t WakeId = 0;

    // Puts a connection in the inbox the watch thread takes from (or closes it after Stop).
    void Hand(Connection* connection);
    void Wake();
    void Run();
    void TakeInbox();
    // A new connection: non-blocking from now on, and its client's address noted.
    void Welcome(Connection* connection);
    // A connection back from its answer: idle until the next request, or on with one read ahead.
    void Rest(Connection* connection);

    // Reads what the connection has and moves its request on.
    void Progress(Connection* connection);
    // Reads at most a round's share; false when the connection was dropped.
    bool Read(Connection* connection);
    // The request with the bytes read so far: begun, its head ended, whole, or cut short.
    void Advance(Connection* connection);
    // The length of the body the watch gathers before the answer; none when the worker is to read
    // it: chunked, announced as larger than GatheredBody, unreadable, or awaited after a "100
    // Continue" the parser sends.
    static std::optional<size_t> GatheredBodyLength(const std::string& head);

    // To a worker, out of the watch.
    void Dispatch(Connection* connection);
    // A request that did not arrive in time, that was cut short or whose head never ends: an HTTP
    // 400 the client may read, then the connection is closed.
    void Refuse(Connection* connection);
    void Drop(Connection* connection);
    // Takes the connection out of everything the watch keeps.
    void Forget(Connection* connection);

    void Listen(Connection* connection, int operation);
    void WantWrite(Connection* connection, bool wanted);
    void SetDeadline(Connection* connection, Clock::time_point deadline);
    // Ends the connections whose deadline has passed.
    void Expire();
    void AddIdle(Connection* connection);
    void RemoveIdle(Connection* connection);
    // Before a new connection is watched: within the descriptors the server may use, closing the
    // oldest idle connection, or else the oldest one still waiting for its request. False when
    // neither exists: every connection is being answered, the new one is not taken.
    bool MakeRoom();

    const Limits limits;
    SSL_CTX* const tls;
    const std::function<void(Connection*)> dispatch;
    int epoll = -1;
    int wakeFd = -1;
    std::thread thread;
    std::atomic<size_t> open{0};
    std::mutex inboxMutex;
    std::vector<Connection*> inbox; // adopted or returned, not yet watched
    bool stopped = false;
    // The watch thread's own.
    uint64_t nextId = WakeId + 1;
    std::unordered_map<uint64_t, Connection*> watched;
    std::set<std::pair<Clock::time_point, uint64_t>> timers;
    std::list<Connection*> idle; // oldest first
    std::unordered_map<std::string, std::list<Connection*>> idleByAddress;
};

} // namespace Velm
