#include "tests/support/http_server.h"

#ifdef _WIN32
#include <winsock2.h>
#include <windows.h>
#else
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#endif

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <list>
#include <map>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

namespace testhttp {

namespace {

// Every wait is this short and then looks at the stop flag, so destruction never waits long.
constexpr int kSliceMs = 20;
constexpr std::size_t kMaxHead = 64 * 1024;
constexpr std::size_t kMaxSend = 256 * 1024;  // per send call
// A peer that takes no byte for this long is given up, rather than held without end.
constexpr std::uint32_t kSendStallMs = 30000;
// One connection at a time: the longest any one wait for the client may take, so that the next
// connection is never held up for long.
constexpr std::uint32_t kOneAtATimeWaitMs = 2000;
// After a graceful close, what the client still sends (a body) is read and dropped for at most
// this long: closing with unread bytes would send an RST instead of the FIN.
constexpr std::uint32_t kLingerMs = 2000;
// Before a reset, so the prefix has reached the client: Windows throws away what a reset
// connection still holds unread.
constexpr int kDropPauseMs = 100;

const char kNotFound[] = "HTTP/1.0 404 Not Found\r\nContent-Length: 0\r\n\r\n";

#ifdef _WIN32
using Socket = SOCKET;
using SockLen = int;
constexpr Socket kNoSocket = INVALID_SOCKET;
constexpr int kNoSignal = 0;  // Winsock raises no signal when the peer is gone
constexpr int kShutSend = SD_SEND;
constexpr int kShutBoth = SD_BOTH;

bool StartSockets() {
    // Once for the process and never undone: servers come and go while others still run.
    static const bool ok = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return ok;
}

void CloseSocket(Socket s) { closesocket(s); }

bool SetNonBlocking(Socket s) {
    u_long on = 1;
    return ioctlsocket(s, FIONBIO, &on) == 0;
}

bool WouldBlock() { return WSAGetLastError() == WSAEWOULDBLOCK; }
bool Interrupted() { return WSAGetLastError() == WSAEINTR; }
bool Selectable(Socket) { return true; }  // a Winsock fd_set is a list, not a bit mask

std::uint32_t Ticks() { return GetTickCount(); }
void Nap(int ms) { Sleep(static_cast<DWORD>(ms)); }
#else
using Socket = int;
using SockLen = socklen_t;
constexpr Socket kNoSocket = -1;
constexpr int kNoSignal = MSG_NOSIGNAL;  // a peer gone away is an error, not a SIGPIPE
constexpr int kShutSend = SHUT_WR;
constexpr int kShutBoth = SHUT_RDWR;

bool StartSockets() { return true; }
void CloseSocket(Socket s) { close(s); }

bool SetNonBlocking(Socket s) {
    int flags = fcntl(s, F_GETFL, 0);
    return flags >= 0 && fcntl(s, F_SETFL, flags | O_NONBLOCK) == 0;
}

bool WouldBlock() { return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR; }
bool Interrupted() { return errno == EINTR; }
bool Selectable(Socket s) { return s < FD_SETSIZE; }

std::uint32_t Ticks() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<std::uint32_t>(t.tv_sec * 1000 + t.tv_nsec / 1000000);
}

void Nap(int ms) {
    timespec t{ms / 1000, (ms % 1000) * 1000000L};
    nanosleep(&t, nullptr);
}
#endif

// Unsigned, so a tick counter that wraps still gives the right difference.
std::uint32_t Since(std::uint32_t start) { return Ticks() - start; }

sockaddr_in Loopback(int port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<unsigned short>(port));
    return a;
}

// 1: s is readable (or writable) within ms, 0: not yet, -1: select failed.
int Wait(Socket s, bool write, int ms) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(s, &set);
    timeval tv{ms / 1000, (ms % 1000) * 1000};
    int n = select(static_cast<int>(s) + 1, write ? nullptr : &set, write ? &set : nullptr, nullptr,
                   &tv);
    if (n < 0) return Interrupted() ? 0 : -1;
    return n > 0 ? 1 : 0;
}

// The request-target: between the request line's first and second blank, or to its end.
std::string TargetOf(const std::string& head) {
    std::string line = head.substr(0, head.find("\r\n"));
    std::size_t from = line.find(' ');
    if (from == std::string::npos) return {};
    ++from;
    std::size_t to = line.find(' ', from);
    return line.substr(from, to == std::string::npos ? std::string::npos : to - from);
}

}  // namespace

struct Server::Impl {
    struct Route {
        enum class Kind { Whole, Stalled, Dropped, Slow };
        Kind kind = Kind::Whole;
        std::string bytes;
        std::size_t chunk = 0;
        int pauseMs = 0;
        bool once = false;  // forgotten once a request has been given it
    };
    struct Conn {
        Socket s = kNoSocket;  // closed (under the mutex) by the connection's own thread
        std::thread thread;
        bool done = false;  // its thread touches nothing of it any more: ready to join
    };
    enum class Ending { Graceful, Reset, Plain };

    void Accept();
    void Reap();
    void Handle(Conn* conn, Socket s);
    // What the request gets: the route itself, or in Mode::OneAtATime a copy in `current`, so
    // that no route outlives the connection's answer there.
    const Route* Look(const std::string& head, std::shared_ptr<const Route>& held);
    bool ReadHead(Socket s, std::string& head);
    Ending Answer(Socket s, const Route& route);
    bool SendAll(Socket s, const char* data, std::size_t size);
    void Hold(Socket s);
    void Linger(Socket s);
    void Pause(int ms);
    void Add(const std::string& target, Route route);

    Socket listener = kNoSocket;
    int port = 0;
    Mode mode = Mode::Threaded;
    std::uint32_t headWaitMs = 0;  // for a piece of the head; 0: as long as the client stays
    std::uint32_t sendStallMs = kSendStallMs;
    // Mode::OneAtATime: the head read and the answer sent, whose room is kept from one
    // connection to the next.
    std::string oneHead;
    Route current;
    std::atomic<bool> stop{false};
    std::atomic<int> accepted{0};
    std::thread acceptor;
    mutable std::mutex mutex;  // guards what follows
    std::map<std::string, std::shared_ptr<const Route>> routes;
    std::vector<std::string> requests;
    std::list<Conn> conns;  // a list: each thread keeps a pointer to its own entry
};

void Server::Impl::Accept() {
    while (!stop) {
        Reap();
        int ready = Wait(listener, false, kSliceMs);
        if (ready < 0) Nap(kSliceMs);  // keep a failing select from spinning
        if (ready <= 0) continue;
        // The listener does not block: a client that left between select and accept costs
        // nothing.
        Socket s = accept(listener, nullptr, nullptr);
        if (s == kNoSocket) continue;
        ++accepted;
        int on = 1;
        // Test responses are small or trickled on purpose: each send goes out as it is.
        setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
        if (!Selectable(s) || !SetNonBlocking(s)) {
            CloseSocket(s);
            continue;
        }
        if (mode == Mode::OneAtATime) {
            Handle(nullptr, s);
            continue;
        }
        std::lock_guard<std::mutex> lock(mutex);
        Conn& conn = conns.emplace_back();
        conn.s = s;
        try {
            conn.thread = std::thread([this, c = &conn, s] { Handle(c, s); });
        } catch (const std::system_error&) {
            CloseSocket(s);
            conns.pop_back();
        }
    }
}

void Server::Impl::Reap() {
    std::list<Conn> finished;
    {
        std::lock_guard<std::mutex> lock(mutex);
        for (auto it = conns.begin(); it != conns.end();) {
            auto next = std::next(it);
            if (it->done) finished.splice(finished.end(), conns, it);
            it = next;
        }
    }
    for (Conn& c : finished) c.thread.join();
}

// conn is null in Mode::OneAtATime, where the accepting thread itself answers.
void Server::Impl::Handle(Conn* conn, Socket s) {
    Ending ending = Ending::Plain;
    std::string ownHead;
    std::string& head = conn ? ownHead : oneHead;
    head.clear();
    if (ReadHead(s, head)) {
        std::shared_ptr<const Route> held;
        ending = Answer(s, *Look(head, held));
    }
    if (ending == Ending::Graceful) {
        shutdown(s, kShutSend);
        Linger(s);
    } else if (ending == Ending::Reset) {
        linger hard{};
        hard.l_onoff = 1;
        hard.l_linger = 0;
        setsockopt(s, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&hard), sizeof hard);
    }
    std::lock_guard<std::mutex> lock(mutex);
    CloseSocket(s);
    if (conn) {
        conn->s = kNoSocket;
        conn->done = true;
    }
}

const Server::Impl::Route* Server::Impl::Look(const std::string& head,
                                              std::shared_ptr<const Route>& held) {
    static const Route notFound{Route::Kind::Whole, kNotFound, 0, 0, false};
    std::lock_guard<std::mutex> lock(mutex);
    if (mode == Mode::Threaded) requests.push_back(head);
    auto it = routes.find(TargetOf(head));
    const Route* route = &notFound;
    if (it != routes.end()) {
        held = it->second;
        route = held.get();
        if (route->once) routes.erase(it);
    }
    if (mode == Mode::Threaded) return route;
    // Assigned, so the room grown for earlier answers serves this one; the route itself is let
    // go here, while the client still waits for its answer.
    current.kind = route->kind;
    current.bytes.assign(route->bytes);
    current.chunk = route->chunk;
    current.pauseMs = route->pauseMs;
    held.reset();
    return &current;
}

// Up to and including the blank line that ends the head. False when the peer stops first, the
// head outgrows kMaxHead, or the server stops.
bool Server::Impl::ReadHead(Socket s, std::string& head) {
    char buf[4096];
    std::uint32_t progress = Ticks();
    while (!stop && head.size() < kMaxHead) {
        int ready = Wait(s, false, kSliceMs);
        if (ready < 0) return false;
        if (ready == 0) {
            if (headWaitMs && Since(progress) > headWaitMs) return false;
            continue;
        }
        progress = Ticks();
        std::size_t want = std::min(sizeof buf, kMaxHead - head.size());
        int n = static_cast<int>(recv(s, buf, static_cast<int>(want), 0));
        if (n == 0 || (n < 0 && !WouldBlock())) return false;
        if (n < 0) continue;
        // The blank line may straddle two reads.
        std::size_t from = head.size() < 3 ? 0 : head.size() - 3;
        head.append(buf, static_cast<std::size_t>(n));
        std::size_t end = head.find("\r\n\r\n", from);
        if (end != std::string::npos) {
            head.resize(end + 4);  // what follows is a body: ignored
            return true;
        }
    }
    return false;
}

Server::Impl::Ending Server::Impl::Answer(Socket s, const Route& route) {
    const std::string& bytes = route.bytes;
    switch (route.kind) {
        case Route::Kind::Whole:
            return SendAll(s, bytes.data(), bytes.size()) ? Ending::Graceful : Ending::Plain;
        case Route::Kind::Stalled:
            Hold(s);
            return Ending::Plain;
        case Route::Kind::Dropped:
            if (!SendAll(s, bytes.data(), bytes.size())) return Ending::Plain;
            Pause(kDropPauseMs);
            return Ending::Reset;
        case Route::Kind::Slow:
            for (std::size_t at = 0; at < bytes.size(); at += route.chunk) {
                if (at > 0) Pause(route.pauseMs);
                std::size_t n = std::min(route.chunk, bytes.size() - at);
                if (stop || !SendAll(s, bytes.data() + at, n)) return Ending::Plain;
            }
            return Ending::Graceful;
    }
    return Ending::Plain;
}

// All the bytes, or false once the peer is gone, takes nothing for kSendStallMs, or the server
// stops.
bool Server::Impl::SendAll(Socket s, const char* data, std::size_t size) {
    std::size_t sent = 0;
    std::uint32_t progress = Ticks();
    while (sent < size) {
        if (stop || Since(progress) > sendStallMs) return false;
        int want = static_cast<int>(std::min(size - sent, kMaxSend));
        int n = static_cast<int>(send(s, data + sent, want, kNoSignal));
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
            progress = Ticks();
        } else if (n < 0 && WouldBlock()) {
            if (Wait(s, true, kSliceMs) < 0) return false;
        } else {
            return false;
        }
    }
    return true;
}

// A stalled answer: reads and drops whatever comes until the peer leaves or the server stops.
void Server::Impl::Hold(Socket s) {
    char buf[4096];
    while (!stop) {
        int ready = Wait(s, false, kSliceMs);
        if (ready < 0) return;
        if (ready == 0) continue;
        int n = static_cast<int>(recv(s, buf, sizeof buf, 0));
        if (n == 0 || (n < 0 && !WouldBlock())) return;
    }
}

// Our FIN is out; reads what the client still sends until it closes too, or kLingerMs.
void Server::Impl::Linger(Socket s) {
    char buf[4096];
    std::uint32_t start = Ticks();
    while (!stop && Since(start) < kLingerMs) {
        int ready = Wait(s, false, kSliceMs);
        if (ready < 0) return;
        if (ready == 0) continue;
        int n = static_cast<int>(recv(s, buf, sizeof buf, 0));
        if (n == 0 || (n < 0 && !WouldBlock())) return;
    }
}

// Sleeps in slices, so a stop is seen at once.
void Server::Impl::Pause(int ms) {
    std::uint32_t total = static_cast<std::uint32_t>(std::max(ms, 0));
    std::uint32_t start = Ticks();
    while (!stop) {
        std::uint32_t gone = Since(start);
        if (gone >= total) return;
        Nap(static_cast<int>(std::min<std::uint32_t>(total - gone, kSliceMs)));
    }
}

void Server::Impl::Add(const std::string& target, Route route) {
    auto shared = std::make_shared<const Route>(std::move(route));
    std::lock_guard<std::mutex> lock(mutex);
    routes[target] = std::move(shared);
}

Server::Server() : Server(0) {}

Server::Server(int port) : Server(port, Mode::Threaded) {}

Server::Server(int port, Mode mode) : impl_(std::make_unique<Impl>()) {
    impl_->mode = mode;
    if (mode == Mode::OneAtATime) impl_->headWaitMs = impl_->sendStallMs = kOneAtATimeWaitMs;
    if (port < 0 || port > 65535 || !StartSockets()) return;
    Socket l = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (l == kNoSocket) return;
#ifndef _WIN32
    // A given port again right after an earlier server, whose closed connections linger in
    // TIME_WAIT. On Windows the same option would let two servers share the port.
    int on = 1;
    setsockopt(l, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
#endif
    sockaddr_in a = Loopback(port);
    SockLen len = sizeof a;
    if (bind(l, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(l, SOMAXCONN) != 0 ||
        getsockname(l, reinterpret_cast<sockaddr*>(&a), &len) != 0 || !SetNonBlocking(l)) {
        CloseSocket(l);
        return;
    }
    impl_->listener = l;
    impl_->port = ntohs(a.sin_port);
    impl_->acceptor = std::thread([m = impl_.get()] { m->Accept(); });
}

Server::~Server() {
    Impl& m = *impl_;
    m.stop = true;
    if (m.acceptor.joinable()) m.acceptor.join();
    if (m.listener != kNoSocket) CloseSocket(m.listener);
    {
        // Wakes whatever a connection's thread waits on at once; it closes its socket itself.
        std::lock_guard<std::mutex> lock(m.mutex);
        for (Impl::Conn& c : m.conns) {
            if (c.s != kNoSocket) shutdown(c.s, kShutBoth);
        }
    }
    // The acceptor is gone, so the list no longer grows; each thread ends within a slice.
    for (Impl::Conn& c : m.conns) {
        if (c.thread.joinable()) c.thread.join();
    }
}

int Server::Port() const { return impl_->port; }

std::string Server::Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(impl_->port) + path;
}

void Server::Serve(const std::string& target, std::string rawResponse) {
    impl_->Add(target, {Impl::Route::Kind::Whole, std::move(rawResponse), 0, 0, false});
}

void Server::ServeOnce(const std::string& target, std::string rawResponse) {
    impl_->Add(target, {Impl::Route::Kind::Whole, std::move(rawResponse), 0, 0, true});
}

void Server::ServeStalled(const std::string& target) {
    impl_->Add(target, {Impl::Route::Kind::Stalled, {}, 0, 0, false});
}

void Server::ServeDropped(const std::string& target, std::string rawPrefix) {
    impl_->Add(target, {Impl::Route::Kind::Dropped, std::move(rawPrefix), 0, 0, false});
}

void Server::ServeSlowly(const std::string& target, std::string rawResponse, int bytesPerChunk,
                         int msBetweenChunks) {
    impl_->Add(target, {Impl::Route::Kind::Slow, std::move(rawResponse),
                        static_cast<std::size_t>(std::max(bytesPerChunk, 1)),
                        std::max(msBetweenChunks, 0), false});
}

std::vector<std::string> Server::Requests() const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->requests;
}

int Server::Connections() const { return impl_->accepted; }

std::string Ok(const std::string& body) {
    return "HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

}  // namespace testhttp
