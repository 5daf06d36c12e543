// Holds velm-platform under the two connection attacks a public server meets, and measures it from
// outside:
//   tarvik-connflood [--platform PATH] [--idle N] [--slow N] [--addresses K] [--dribble-ms MS]
//                    [--seconds S] [--rest-seconds S] [--held N] [-- SERVER ARGUMENTS...]
// It starts the server (--port 0 --db :memory: --seed and the arguments after "--"), then
//   1. opens N idle connections (2000): each sends one request, reads its answer and goes quiet,
//      as a client's kept-alive connection does between polls;
//   2. adds N slow heads (2000): each sends the start of a request head and then one byte every
//      MS milliseconds (1000), and is opened again as soon as the server closes it (slowloris);
//   3. stops the slow heads and leaves the idle connections open;
//   4. closes everything and waits up to S seconds (90) for the server's threads to come back to
//      the count they had before the attack;
//   5. holds N requests (500) with a "hang" fault, lets them go and waits up to S seconds again for
//      the threads started for them to end.
// In each phase a normal request (LoginMd5 on a fresh connection) is timed once a second, and the
// server's CPU (of one core), threads and resident memory are read from /proc. The connections come
// from K loopback addresses (127.0.0.1 and up; default 1, one attacker). Prints a Markdown table.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

struct Options
{
    std::string platform = VELM_PLATFORM_BIN;
    std::vector<std::string> serverArgs;
    int idle = 2000;
    int slow = 2000;
    int addresses = 1;
    int dribbleMs = 1000;
    int seconds = 20;
    int restSeconds = 90;
    int held = 500;
};

// ---- The server process ---------------------------------------------------------------------

struct Server
{
    pid_t pid = -1;
    int port = 0;
    std::thread drain; // reads its output so that it never blocks on a full pipe

    bool Start(const Options& options)
    {
        int out[2];
        if (pipe(out) != 0)
            return false;
        pid = fork();
        if (pid == 0) {
            dup2(out[1], STDOUT_FILENO);
            close(out[0]);
            close(out[1]);
            std::vector<std::string> args = {options.platform, "--port", "0", "--db", ":memory:", "--seed"};
            args.insert(args.end(), options.serverArgs.begin(), options.serverArgs.end());
            std::vector<char*> argv;
            for (std::string& arg : args)
                argv.push_back(arg.data());
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
        close(out[1]);
        if (pid < 0)
            return false;
        std::string line;
        char c;
        while (read(out[0], &c, 1) == 1 && c != '\n')
            line += c;
        const size_t colon = line.rfind(':');
        if (line.rfind("listening on http://", 0) != 0 || colon == std::string::npos) {
            std::fprintf(stderr, "velm-platform said \"%s\"\n", line.c_str());
            close(out[0]);
            return false;
        }
        port = std::atoi(line.c_str() + colon + 1);
        const int fd = out[0];
        drain = std::thread([fd] {
            char buffer[4096];
            while (read(fd, buffer, sizeof buffer) > 0) {
            }
            close(fd);
        });
        return port > 0;
    }

    void Stop()
    {
        if (pid > 0) {
            kill(pid, SIGTERM);
            int status = 0;
            waitpid(pid, &status, 0);
            pid = -1;
        }
        if (drain.joinable())
            drain.join();
    }

    // CPU time used so far, in seconds.
    double CpuSeconds() const
    {
        std::ifstream file("/proc/" + std::to_string(pid) + "/stat");
        std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        const size_t end = text.rfind(')');
        if (end == std::string::npos)
            return 0;
        std::istringstream fields(text.substr(end + 2));
        std::string field;
        unsigned long long utime = 0, stime = 0;
        for (int i = 3; i <= 15 && fields >> field; ++i) {
            if (i == 14)
                utime = std::stoull(field);
            else if (i == 15)
                stime = std::stoull(field);
        }
        return double(utime + stime) / double(sysconf(_SC_CLK_TCK));
    }

    // A "Name: value" line of /proc/PID/status, as a number (VmRSS in KiB).
    long Status(const char* name) const
    {
        std::ifstream file("/proc/" + std::to_string(pid) + "/status");
        std::string line;
        while (std::getline(file, line)) {
            if (line.rfind(name, 0) == 0 && line.size() > std::strlen(name) && line[std::strlen(name)] == ':')
                return std::atol(line.c_str() + std::strlen(name) + 1);
        }
        return -1;
    }
    long Threads() const { return Status("Threads"); }
    long ResidentKiB() const { return Status("VmRSS"); }
};

// ---- Connections -----------------------------------------------------------------------------

sockaddr_in Address(const char* ip, int port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    inet_pton(AF_INET, ip, &address.sin_addr);
    return address;
}

// A non-blocking connection from 127.0.0.(1 + source) to the server; -1 on failure.
int Open(int port, int source)
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    if (source > 0) {
        const std::string ip = "127.0.0." + std::to_string(1 + source % 254);
        sockaddr_in local = Address(ip.c_str(), 0);
        if (bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
            close(fd);
            return -1;
        }
    }
    const sockaddr_in server = Address("127.0.0.1", port);
    if (connect(fd, reinterpret_cast<const sockaddr*>(&server), sizeof server) != 0 && errno != EINPROGRESS) {
        close(fd);
        return -1;
    }
    return fd;
}

const char* const Md5OfDemoPassword = "234c245fe01431c90aa250b878a28abc"; // velm123

std::string Request(const std::string& endpoint, const std::string& form, bool close)
{
    return "POST /api/" + endpoint + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" +
           (close ? "Connection: close\r\n" : "") +
           "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: " +
           std::to_string(form.size()) + "\r\n\r\n" + form;
}

// Whether `data` holds a whole HTTP answer (head and Content-Length bytes of body).
bool WholeAnswer(const std::string& data)
{
    const size_t headEnd = data.find("\r\n\r\n");
    if (headEnd == std::string::npos)
        return false;
    std::string head = data.substr(0, headEnd);
    std::transform(head.begin(), head.end(), head.begin(), [](unsigned char c) { return std::tolower(c); });
    const size_t length = head.find("content-length:");
    if (length == std::string::npos)
        return false;
    return data.size() >= headEnd + 4 + std::stoul(head.substr(length + 15));
}

// Sends `request` on a fresh connection and reads the answer into *answer; the time it took in ms,
// or -2 when no whole answer came within the time-out.
double Exchange(int port, const std::string& request, int timeoutMs, std::string* answer)
{
    const Clock::time_point start = Clock::now();
    const int fd = Open(port, 0);
    if (fd < 0)
        return -2;
    size_t sent = 0;
    for (;;) {
        const int left = timeoutMs - static_cast<int>(SecondsSince(start) * 1000);
        if (left <= 0) {
            close(fd);
            return -2;
        }
        pollfd entry{fd, static_cast<short>(sent < request.size() ? POLLOUT : POLLIN), 0};
        if (poll(&entry, 1, left) <= 0)
            continue;
        if (sent < request.size()) {
            const ssize_t n = send(fd, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
            if (n < 0 && errno != EAGAIN && errno != EINPROGRESS)
                break;
            sent += n > 0 ? static_cast<size_t>(n) : 0;
            continue;
        }
        char buffer[8192];
        const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0 && !(n < 0 && errno == EAGAIN))
            break;
        if (n > 0)
            answer->append(buffer, static_cast<size_t>(n));
        if (WholeAnswer(*answer))
            break;
    }
    close(fd);
    return SecondsSince(start) * 1000;
}

// Times one normal request on a fresh connection, in ms; negative when it failed (-1) or no
// answer came within the time-out (-2).
double Probe(int port, int timeoutMs)
{
    std::string answer;
    const double ms = Exchange(
        port, Request("LoginMd5", std::string("account=13800000001&pass=") + Md5OfDemoPassword, true),
        timeoutMs, &answer);
    if (ms < 0)
        return ms;
    return answer.rfind("HTTP/1.1 200", 0) == 0 && answer.find("\"status\":1") != std::string::npos ? ms : -1;
}

// An admin call with a JSON body; whether it succeeded.
bool Admin(int port, const std::string& method, const std::string& path, const std::string& json)
{
    const std::string request =
        method + " /admin/" + path + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) +
        "\r\nConnection: close\r\nContent-Type: application/json\r\nContent-Length: " +
        std::to_string(json.size()) + "\r\n\r\n" + json;
    std::string answer;
    return Exchange(port, request, 10000, &answer) >= 0 && answer.find("\"status\":1") != std::string::npos;
}

// The attack: idle and slow connections, served by one epoll loop on a thread of its own.
class Attack
{
public:
    Attack(int port, int addresses, int dribbleMs) : port(port), addresses(addresses), dribbleMs(dribbleMs)
    {
        epoll = epoll_create1(EPOLL_CLOEXEC);
        loop = std::thread([this] { Run(); });
    }
    ~Attack()
    {
        stopping = true;
        loop.join();
        for (Connection& c : connections) {
            if (c.fd >= 0)
                close(c.fd);
        }
        close(epoll);
    }

    // Opens `count` connections that each send one request and then stay quiet.
    void AddIdle(int count) { Add(count, Kind::Idle); }
    // The same, their request one that a "hang" fault holds (CashUpdate).
    void AddHeld(int count) { Add(count, Kind::Held); }
    // Opens `count` slow heads, kept at that number.
    void AddSlow(int count) { Add(count, Kind::Slow); }
    void StopSlow() { slowWanted = false; }
    void CloseAll() { closeAll = true; }

    int IdleOpen() const { return idleOpen; }     // answered and still open
    int IdleClosed() const { return idleClosed; } // closed by the server, most after their answer
    int SlowOpen() const { return slowOpen; }
    long SlowOpened() const { return slowOpened; } // slow heads opened so far, reopenings included
    bool AllClosed() const { return openCount == 0; }
    int Failures() const { return failures; } // connections that could not be opened

private:
    enum class Kind
    {
        Idle,
        Held,
        Slow
    };
    enum class State
    {
        Sending,
        Reading,
        Quiet,
        Dribbling
    };
    struct Connection
    {
        int fd = -1;
        Kind kind = Kind::Idle;
        State state = State::Sending;
        std::string out;
        size_t sent = 0;
        std::string in;
        int source = 0;
    };

    void Add(int count, Kind kind)
    {
        std::lock_guard<std::mutex> lock(mutex);
        for (int i = 0; i < count; ++i)
            pending.push_back(kind);
    }

    void Start(Kind kind)
    {
        Connection c;
        c.kind = kind;
        c.source = next++ % addresses;
        c.fd = Open(port, c.source);
        if (c.fd < 0) {
            ++failures;
            return;
        }
        c.out = kind == Kind::Idle   ? Request("UpdateSoftware", "", false)
                : kind == Kind::Held ? Request("CashUpdate", "", false)
                                     : "POST /api/CashUpdate HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Padding: ";
        size_t slot = connections.size();
        if (!freeSlots.empty()) {
            slot = freeSlots.back();
            freeSlots.pop_back();
            connections[slot] = c;
        } else {
            connections.push_back(c);
        }
        epoll_event event{};
        event.events = EPOLLIN | EPOLLOUT | EPOLLRDHUP;
        event.data.u64 = slot;
        epoll_ctl(epoll, EPOLL_CTL_ADD, c.fd, &event);
        ++openCount;
        if (kind == Kind::Slow) {
            ++slowOpen;
            ++slowOpened;
        }
    }

    void Finish(size_t slot)
    {
        Connection& c = connections[slot];
        if (c.fd < 0)
            return;
        epoll_ctl(epoll, EPOLL_CTL_DEL, c.fd, nullptr);
        close(c.fd);
        c.fd = -1;
        freeSlots.push_back(slot);
        --openCount;
        if (c.kind == Kind::Slow) {
            --slowOpen;
            if (slowWanted && !closeAll)
                Start(Kind::Slow);
        } else {
            if (c.state == State::Quiet)
                --idleOpen;
            if (!closeAll)
                ++idleClosed;
        }
    }

    void Quiet(Connection& c, size_t slot, uint32_t events)
    {
        epoll_event event{};
        event.events = events;
        event.data.u64 = slot;
        epoll_ctl(epoll, EPOLL_CTL_MOD, c.fd, &event);
    }

    void Handle(size_t slot, uint32_t events)
    {
        Connection& c = connections[slot];
        if (c.fd < 0)
            return;
        if (c.state == State::Sending && (events & EPOLLOUT)) {
            const ssize_t n = send(c.fd, c.out.data() + c.sent, c.out.size() - c.sent, MSG_NOSIGNAL);
            if (n < 0 && errno != EAGAIN) {
                Finish(slot);
                return;
            }
            c.sent += n > 0 ? static_cast<size_t>(n) : 0;
            if (c.sent == c.out.size()) {
                c.state = c.kind == Kind::Slow ? State::Dribbling : State::Reading;
                Quiet(c, slot, EPOLLIN | EPOLLRDHUP);
            }
        }
        if (events & (EPOLLIN | EPOLLRDHUP | EPOLLHUP | EPOLLERR)) {
            char buffer[4096];
            const ssize_t n = recv(c.fd, buffer, sizeof buffer, 0);
            if (n == 0 || (n < 0 && errno != EAGAIN)) {
                Finish(slot);
                return;
            }
            if (n > 0 && c.state == State::Reading) {
                c.in.append(buffer, static_cast<size_t>(n));
                if (WholeAnswer(c.in)) {
                    c.state = State::Quiet;
                    c.in.clear();
                    ++idleOpen;
                }
            }
        }
    }

    void Dribble(size_t from, size_t to)
    {
        for (size_t slot = from; slot < to && slot < connections.size(); ++slot) {
            Connection& c = connections[slot];
            if (c.fd >= 0 && c.kind == Kind::Slow && c.state == State::Dribbling &&
                send(c.fd, "x", 1, MSG_NOSIGNAL) < 0 && errno != EAGAIN)
                Finish(slot);
        }
    }

    void Run()
    {
        // The slow heads are dribbled a tenth at a time, so that their bytes arrive spread out.
        const int slices = 10;
        int slice = 0;
        Clock::time_point nextDribble = Clock::now();
        std::vector<epoll_event> events(1024);
        while (!stopping) {
            {
                std::vector<Kind> starting;
                {
                    std::lock_guard<std::mutex> lock(mutex);
                    // A burst of connections at once would overflow the server's listen queue
                    // and only measure the kernel's retries: a hundred per round.
                    const size_t take = std::min<size_t>(pending.size(), 100);
                    starting.assign(pending.begin(), pending.begin() + static_cast<long>(take));
                    pending.erase(pending.begin(), pending.begin() + static_cast<long>(take));
                }
                for (Kind kind : starting)
                    Start(kind);
            }
            if (closeAll || !slowWanted) {
                for (size_t slot = 0; slot < connections.size(); ++slot) {
                    if (connections[slot].fd >= 0 && (closeAll || connections[slot].kind == Kind::Slow))
                        Finish(slot);
                }
            }
            const int ready = epoll_wait(epoll, events.data(), static_cast<int>(events.size()), 10);
            for (int i = 0; i < ready; ++i)
                Handle(events[i].data.u64, events[i].events);
            if (Clock::now() >= nextDribble && slowWanted) {
                const size_t step = (connections.size() + slices - 1) / slices;
                Dribble(slice * step, (slice + 1) * step);
                slice = (slice + 1) % slices;
                nextDribble += std::chrono::milliseconds(dribbleMs / slices);
            }
        }
    }

    const int port;
    const int addresses;
    const int dribbleMs;
    int epoll = -1;
    std::thread loop;
    std::mutex mutex;
    std::vector<Kind> pending;
    std::vector<Connection> connections; // touched by the loop only
    std::vector<size_t> freeSlots;
    int next = 0;
    std::atomic<bool> stopping{false};
    std::atomic<bool> slowWanted{true};
    std::atomic<bool> closeAll{false};
    std::atomic<int> idleOpen{0};
    std::atomic<int> idleClosed{0};
    std::atomic<int> slowOpen{0};
    std::atomic<long> slowOpened{0};
    std::atomic<int> openCount{0};
    std::atomic<int> failures{0};
};

// ---- Measuring -------------------------------------------------------------------------------

struct Phase
{
    std::string name;
    std::vector<double> probes; // ms; negative: failed
    double cpuPercent = 0;
    long threads = 0;
    long rssKiB = 0;
    std::string connections;
};

std::string Ms(double ms)
{
    if (ms == -2)
        return "no answer";
    if (ms < 0)
        return "failed";
    char text[32];
    std::snprintf(text, sizeof text, ms < 10 ? "%.1f ms" : "%.0f ms", ms);
    return text;
}

// Probes once a second for `seconds` (at least three probes), measuring the server meanwhile.
Phase Measure(const std::string& name, const Server& server, int seconds,
              const std::function<std::string()>& connections)
{
    Phase phase;
    phase.name = name;
    const Clock::time_point start = Clock::now();
    const double cpuStart = server.CpuSeconds();
    while (SecondsSince(start) < seconds || phase.probes.size() < 3) {
        const Clock::time_point probeStart = Clock::now();
        phase.probes.push_back(Probe(server.port, 60000));
        const double left = 1.0 - SecondsSince(probeStart);
        if (left > 0)
            std::this_thread::sleep_for(std::chrono::duration<double>(left));
    }
    phase.cpuPercent = (server.CpuSeconds() - cpuStart) / SecondsSince(start) * 100;
    phase.threads = server.Threads();
    phase.rssKiB = server.ResidentKiB();
    phase.connections = connections();
    return phase;
}

void Print(const Phase& phase)
{
    std::vector<double> sorted;
    int failed = 0;
    for (double ms : phase.probes) {
        if (ms < 0)
            ++failed;
        else
            sorted.push_back(ms);
    }
    std::sort(sorted.begin(), sorted.end());
    const std::string median = sorted.empty() ? "—" : Ms(sorted[sorted.size() / 2]);
    const std::string worst = failed           ? std::to_string(failed) + " without answer"
                              : sorted.empty() ? "—"
                                               : Ms(sorted.back());
    std::printf("| %s | %s | %s | %.1f %% | %ld | %.0f MiB | %s |\n", phase.name.c_str(), median.c_str(),
                worst.c_str(), phase.cpuPercent, phase.threads, phase.rssKiB / 1024.0,
                phase.connections.c_str());
    std::fflush(stdout);
}

std::string Argument(int& i, int argc, char** argv)
{
    if (i + 1 >= argc) {
        std::fprintf(stderr, "%s needs a value\n", argv[i]);
        std::exit(2);
    }
    return argv[++i];
}

} // namespace

int main(int argc, char** argv)
{
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--platform")
            options.platform = Argument(i, argc, argv);
        else if (arg == "--idle")
            options.idle = std::stoi(Argument(i, argc, argv));
        else if (arg == "--slow")
            options.slow = std::stoi(Argument(i, argc, argv));
        else if (arg == "--addresses")
            options.addresses = std::max(1, std::stoi(Argument(i, argc, argv)));
        else if (arg == "--dribble-ms")
            options.dribbleMs = std::max(10, std::stoi(Argument(i, argc, argv)));
        else if (arg == "--seconds")
            options.seconds = std::max(1, std::stoi(Argument(i, argc, argv)));
        else if (arg == "--rest-seconds")
            options.restSeconds = std::max(1, std::stoi(Argument(i, argc, argv)));
        else if (arg == "--held")
            options.held = std::max(0, std::stoi(Argument(i, argc, argv)));
        else if (arg == "--") {
            options.serverArgs.assign(argv + i + 1, argv + argc);
            break;
        } else {
            std::printf(
                "tarvik-connflood [--platform PATH] [--idle N] [--slow N] [--addresses K] [--dribble-ms MS]\n"
                "                 [--seconds S] [--rest-seconds S] [--held N] [-- SERVER ARGUMENTS...]\n"
                "(see the comment at the top of tools/connflood/main.cpp)\n");
            return arg == "--help" ? 0 : 2;
        }
    }
    signal(SIGPIPE, SIG_IGN);
    rlimit files{};
    if (getrlimit(RLIMIT_NOFILE, &files) == 0) {
        files.rlim_cur = files.rlim_max;
        setrlimit(RLIMIT_NOFILE, &files);
    }

    Server server;
    if (!server.Start(options)) {
        std::fprintf(stderr, "cannot start %s\n", options.platform.c_str());
        server.Stop();
        return 1;
    }
    std::printf("%s, %d idle connections, %d slow heads (a byte every %d ms), from %d address(es)\n\n",
                options.platform.c_str(), options.idle, options.slow, options.dribbleMs, options.addresses);
    std::printf("| phase | LoginMd5, median | worst | server CPU (one core) | threads | RSS | attack's "
                "connections |\n"
                "|---|---|---|---|---|---|---|\n");
    // Warm up the server's database connections before the resting count is taken.
    for (int i = 0; i < 5; ++i)
        Probe(server.port, 10000);
    const Phase quiet =
        Measure("no attack", server, std::min(options.seconds, 5), [] { return std::string("—"); });
    Print(quiet);
    const long restingThreads = quiet.threads;

    {
        Attack attack(server.port, options.addresses, options.dribbleMs);
        attack.AddIdle(options.idle);
        // Until every idle connection got its answer or was closed, or 30 s.
        const Clock::time_point opening = Clock::now();
        while (attack.IdleOpen() + attack.IdleClosed() < options.idle && SecondsSince(opening) < 30)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        const auto idleState = [&] {
            return std::to_string(attack.IdleOpen()) + " idle open, " + std::to_string(attack.IdleClosed()) +
                   " closed by the server";
        };
        Print(Measure("idle connections", server, options.seconds, idleState));

        attack.AddSlow(options.slow);
        const long openedBefore = attack.SlowOpened();
        const Clock::time_point slowStart = Clock::now();
        std::this_thread::sleep_for(std::chrono::seconds(2));
        const auto slowState = [&] {
            const double perSecond =
                (attack.SlowOpened() - openedBefore - options.slow) / SecondsSince(slowStart);
            char text[64];
            std::snprintf(text, sizeof text, ", %d slow heads open (%.0f new a second, %d not opened)",
                          attack.SlowOpen(), std::max(0.0, perSecond), attack.Failures());
            return idleState() + text;
        };
        Print(Measure("idle and slow heads", server, options.seconds, slowState));

        attack.StopSlow();
        std::this_thread::sleep_for(std::chrono::seconds(1));
        Print(Measure("idle again, slow heads gone", server, options.seconds, idleState));

        attack.CloseAll();
        while (!attack.AllClosed())
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }

    const Clock::time_point closed = Clock::now();
    long threads = server.Threads();
    while (threads > restingThreads && SecondsSince(closed) < options.restSeconds) {
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
        threads = server.Threads();
    }
    std::printf("\nthreads: %ld at rest before the attack; ", restingThreads);
    if (threads <= restingThreads)
        std::printf("back to %ld %.1f s after the attack's connections closed\n", threads,
                    SecondsSince(closed));
    else
        std::printf("still %ld %d s after the attack's connections closed\n", threads, options.restSeconds);
    if (options.held > 0) {
        // Requests a fault holds each take a worker; once let go, the extra workers are to end.
        Attack attack(server.port, options.addresses, options.dribbleMs);
        if (!Admin(server.port, "POST", "faults", R"({"endpoint":"CashUpdate","kind":"hang"})")) {
            std::printf("cannot set the fault that holds requests\n");
        } else {
            const long before = server.Threads();
            attack.AddHeld(options.held);
            const Clock::time_point start = Clock::now();
            long peak = before;
            while (peak < before + options.held - 48 && SecondsSince(start) < 30) {
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
                peak = std::max(peak, server.Threads());
            }
            Admin(server.port, "DELETE", "faults", "");
            while (attack.IdleOpen() + attack.IdleClosed() < options.held && SecondsSince(start) < 60)
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            const Clock::time_point answered = Clock::now();
            long now = server.Threads();
            while (now > before && SecondsSince(answered) < options.restSeconds) {
                std::this_thread::sleep_for(std::chrono::milliseconds(250));
                now = server.Threads();
            }
            std::printf(
                "%d requests held by a fault, then let go: threads %ld before, %ld at most while held; ",
                options.held, before, peak);
            if (now <= before)
                std::printf("back to %ld %.1f s after they were answered\n", now, SecondsSince(answered));
            else
                std::printf("still %ld %d s after they were answered\n", now, options.restSeconds);
        }
    }
    const double cpuStart = server.CpuSeconds();
    std::this_thread::sleep_for(std::chrono::seconds(5));
    std::printf("CPU after the attack, 5 s without requests: %.1f %%; RSS %.0f MiB\n",
                (server.CpuSeconds() - cpuStart) / 5 * 100, server.ResidentKiB() / 1024.0);
    server.Stop();
    return 0;
}
