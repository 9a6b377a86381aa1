#include "tests/e2e/net.h"

#include <windows.h>

#include <algorithm>
#include <vector>

namespace e2e {

namespace {

constexpr size_t kChunk = 16384;
// Stop reading a connection whose peer does not take its echo, rather than hold without end.
constexpr size_t kMaxPending = 256 * 1024;

class WsaScope {
public:
    WsaScope() {
        WSADATA data;
        ok_ = WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }
    ~WsaScope() {
        if (ok_) WSACleanup();
    }
    WsaScope(const WsaScope&) = delete;
    WsaScope& operator=(const WsaScope&) = delete;
    bool Ok() const { return ok_; }

private:
    bool ok_ = false;
};

sockaddr_in Loopback(int port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<u_short>(port));
    return a;
}

bool SetNonBlocking(SOCKET s) {
    u_long on = 1;
    return ioctlsocket(s, FIONBIO, &on) == 0;
}

timeval Timeval(int ms) {
    ms = std::max(ms, 0);
    return timeval{ms / 1000, (ms % 1000) * 1000};
}

bool WouldBlock() { return WSAGetLastError() == WSAEWOULDBLOCK; }

// A non-blocking socket connected to 127.0.0.1:port, or INVALID_SOCKET.
SOCKET Connect(int port, int timeoutMs) {
    if (port <= 0 || port > 65535) return INVALID_SOCKET;
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) return s;
    sockaddr_in a = Loopback(port);
    bool ok = SetNonBlocking(s);
    if (ok && connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        fd_set writable, failed;
        FD_ZERO(&writable);
        FD_ZERO(&failed);
        FD_SET(s, &writable);
        FD_SET(s, &failed);
        timeval tv = Timeval(timeoutMs);
        // Winsock reports a refused connection in the except set, not as writable.
        ok = WouldBlock() && select(0, nullptr, &writable, &failed, &tv) > 0 &&
             FD_ISSET(s, &writable) && !FD_ISSET(s, &failed);
        int err = 0;
        int len = sizeof err;
        ok = ok && getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&err), &len) == 0 &&
             err == 0;
    }
    if (ok) return s;
    closesocket(s);
    return INVALID_SOCKET;
}

}  // namespace

EchoServer::EchoServer(int port) {
    WSADATA data;
    wsa_ = WSAStartup(MAKEWORD(2, 2), &data) == 0;
    if (!wsa_) return;
    listener_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (listener_ == INVALID_SOCKET) return;
    sockaddr_in a = Loopback(port);
    int len = sizeof a;
    if (bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        listen(listener_, SOMAXCONN) != 0 ||
        getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &len) != 0 ||
        !SetNonBlocking(listener_)) {
        closesocket(listener_);
        listener_ = INVALID_SOCKET;
        return;
    }
    port_ = ntohs(a.sin_port);
    thread_ = std::thread([this] { Run(); });
}

EchoServer::~EchoServer() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    if (listener_ != INVALID_SOCKET) closesocket(listener_);
    if (wsa_) WSACleanup();
}

void EchoServer::Run() {
    struct Conn {
        SOCKET s;
        std::string pending;  // received, not yet sent back
        bool eof = false;
    };
    std::vector<Conn> conns;
    std::vector<char> buf(kChunk);
    // Short select timeouts: the destructor only sets stop_ and joins.
    while (!stop_) {
        fd_set readable, writable;
        FD_ZERO(&readable);
        FD_ZERO(&writable);
        // A Winsock fd_set holds FD_SETSIZE sockets: accept no more than fit.
        if (conns.size() + 1 < FD_SETSIZE) FD_SET(listener_, &readable);
        for (const Conn& c : conns) {
            if (!c.eof && c.pending.size() < kMaxPending) FD_SET(c.s, &readable);
            if (!c.pending.empty()) FD_SET(c.s, &writable);
        }
        timeval tv = Timeval(20);
        int ready = select(0, &readable, &writable, nullptr, &tv);
        if (ready < 0) Sleep(20);
        if (ready <= 0) continue;
        for (Conn& c : conns) {
            if (FD_ISSET(c.s, &readable)) {
                int n = recv(c.s, buf.data(), static_cast<int>(buf.size()), 0);
                if (n > 0) {
                    c.pending.append(buf.data(), static_cast<size_t>(n));
                } else if (n == 0 || !WouldBlock()) {
                    c.eof = true;
                }
            }
            if (!c.pending.empty()) {
                int want = static_cast<int>(std::min(c.pending.size(), kMaxPending));
                int n = send(c.s, c.pending.data(), want, 0);
                if (n > 0) {
                    c.pending.erase(0, static_cast<size_t>(n));
                } else if (!WouldBlock()) {
                    c.pending.clear();
                    c.eof = true;
                }
            }
            if (c.eof && c.pending.empty()) {
                closesocket(c.s);
                c.s = INVALID_SOCKET;
            }
        }
        std::erase_if(conns, [](const Conn& c) { return c.s == INVALID_SOCKET; });
        if (FD_ISSET(listener_, &readable)) {
            SOCKET s = accept(listener_, nullptr, nullptr);
            if (s != INVALID_SOCKET && SetNonBlocking(s)) {
                conns.push_back(Conn{s, {}, false});
            } else if (s != INVALID_SOCKET) {
                closesocket(s);
            }
        }
    }
    for (const Conn& c : conns) closesocket(c.s);
}

bool TcpRoundTrip(int port, const std::string& bytes, int timeoutMs, std::string* got) {
    if (got) got->clear();
    WsaScope wsa;
    if (!wsa.Ok()) return false;
    DWORD start = GetTickCount();
    SOCKET s = Connect(port, timeoutMs);
    if (s == INVALID_SOCKET) return false;
    std::string back;
    std::vector<char> buf(kChunk);
    size_t sent = 0;
    // Send and read in turn: a peer that echoes as it reads stalls if we only send first.
    while (back.size() < bytes.size()) {
        int left = timeoutMs - static_cast<int>(GetTickCount() - start);
        if (left <= 0) break;
        fd_set readable, writable;
        FD_ZERO(&readable);
        FD_ZERO(&writable);
        FD_SET(s, &readable);
        if (sent < bytes.size()) FD_SET(s, &writable);
        timeval tv = Timeval(left);
        if (select(0, &readable, &writable, nullptr, &tv) <= 0) break;
        if (FD_ISSET(s, &writable)) {
            int want = static_cast<int>(std::min(bytes.size() - sent, kChunk));
            int n = send(s, bytes.data() + sent, want, 0);
            if (n > 0) {
                sent += static_cast<size_t>(n);
            } else if (!WouldBlock()) {
                break;
            }
        }
        if (FD_ISSET(s, &readable)) {
            int want = static_cast<int>(std::min(bytes.size() - back.size(), buf.size()));
            int n = recv(s, buf.data(), want, 0);
            if (n > 0) {
                back.append(buf.data(), static_cast<size_t>(n));
            } else if (n == 0 || !WouldBlock()) {
                break;
            }
        }
    }
    closesocket(s);
    bool same = back == bytes;
    if (got) *got = std::move(back);
    return same;
}

bool PortListening(int port) {
    WsaScope wsa;
    if (!wsa.Ok()) return false;
    SOCKET s = Connect(port, 2000);
    if (s == INVALID_SOCKET) return false;
    closesocket(s);
    return true;
}

}  // namespace e2e
