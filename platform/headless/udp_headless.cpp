// The UDP seam over BSD sockets; the stop signal is an eventfd polled beside the socket.
#include <arpa/inet.h>
#include <netdb.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <utility>

#include "platform/headless/udp_hooks.h"
#include "platform/udp.h"

namespace platform {

namespace {
int Fd(UdpSocket s) { return static_cast<int>(s) - 1; }  // zero stays "none"

socklen_t ToSockaddr(const UdpAddress& a, sockaddr_storage& out) {
    std::memset(&out, 0, sizeof out);
    if (a.family == 4) {
        auto* v4 = reinterpret_cast<sockaddr_in*>(&out);
        v4->sin_family = AF_INET;
        v4->sin_port = htons(a.port);
        std::memcpy(&v4->sin_addr, a.ip, 4);
        return sizeof(sockaddr_in);
    }
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&out);
    v6->sin6_family = AF_INET6;
    v6->sin6_port = htons(a.port);
    std::memcpy(&v6->sin6_addr, a.ip, 16);
    return sizeof(sockaddr_in6);
}

// The simulated network: the echoes waiting on each socket. Probe threads and tests share it.
std::mutex g_simMutex;
std::function<bool(std::uint16_t)> g_answers;
std::vector<std::uint16_t> g_sends;
std::map<int, std::deque<std::pair<std::vector<std::uint8_t>, UdpAddress>>> g_echoes;

UdpAddress FromSockaddr(const sockaddr* s) {
    UdpAddress a;
    if (s->sa_family == AF_INET) {
        const auto* v4 = reinterpret_cast<const sockaddr_in*>(s);
        a.family = 4;
        a.port = ntohs(v4->sin_port);
        std::memcpy(a.ip, &v4->sin_addr, 4);
    } else if (s->sa_family == AF_INET6) {
        const auto* v6 = reinterpret_cast<const sockaddr_in6*>(s);
        a.family = 6;
        a.port = ntohs(v6->sin6_port);
        std::memcpy(a.ip, &v6->sin6_addr, 16);
    }
    return a;
}
}  // namespace

bool ResolveUdpAddress(const std::string& host, std::uint16_t port, UdpAddress& address) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* list = nullptr;
    if (getaddrinfo(host.c_str(), nullptr, &hints, &list) != 0) return false;
    const addrinfo* chosen = nullptr;
    for (const addrinfo* i = list; i && !chosen; i = i->ai_next)
        if (i->ai_family == AF_INET) chosen = i;
    for (const addrinfo* i = list; i && !chosen; i = i->ai_next)
        if (i->ai_family == AF_INET6) chosen = i;
    if (chosen) {
        address = FromSockaddr(chosen->ai_addr);
        address.port = port;
    }
    freeaddrinfo(list);
    return chosen != nullptr;
}

UdpSocket OpenUdpSocket(int family) {
    const int fd = socket(family == 6 ? AF_INET6 : AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    return static_cast<UdpSocket>(fd + 1);
}

void CloseUdpSocket(UdpSocket socket) {
    if (socket != UdpSocket{}) close(Fd(socket));
}

bool SendUdp(UdpSocket socket, const UdpAddress& to, const std::uint8_t* data, std::size_t size) {
    {
        std::lock_guard<std::mutex> lock(g_simMutex);
        if (g_answers) {
            g_sends.push_back(to.port);
            if (g_answers(to.port)) g_echoes[Fd(socket)].push_back({{data, data + size}, to});
            return true;
        }
    }
    sockaddr_storage address;
    const socklen_t length = ToSockaddr(to, address);
    return sendto(Fd(socket), data, size, 0, reinterpret_cast<sockaddr*>(&address), length) ==
           static_cast<ssize_t>(size);
}

StopSignal CreateStopSignal() {
    return static_cast<StopSignal>(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK) + 1);
}
void RaiseStopSignal(StopSignal signal) {
    const std::uint64_t one = 1;
    if (signal != StopSignal{}) (void)!write(static_cast<int>(signal) - 1, &one, sizeof one);
}
void CloseStopSignal(StopSignal signal) {
    if (signal != StopSignal{}) close(static_cast<int>(signal) - 1);
}

UdpWait ReceiveUdp(UdpSocket socket, StopSignal stop, std::uint32_t timeoutMs, std::uint8_t* data,
                   std::size_t capacity, std::size_t& size, UdpAddress& from) {
    {
        std::lock_guard<std::mutex> lock(g_simMutex);
        if (g_answers) {
            pollfd raised{static_cast<int>(stop) - 1, POLLIN, 0};
            if (stop != StopSignal{} && poll(&raised, 1, 0) > 0) return UdpWait::Stopped;
            auto& queue = g_echoes[Fd(socket)];
            if (queue.empty()) return UdpWait::TimedOut;
            size = std::min(queue.front().first.size(), capacity);
            std::memcpy(data, queue.front().first.data(), size);
            from = queue.front().second;
            queue.pop_front();
            return UdpWait::Received;
        }
    }
    const std::uint32_t start = UdpClockMs();
    for (;;) {
        pollfd fds[2] = {{Fd(socket), POLLIN, 0}, {static_cast<int>(stop) - 1, POLLIN, 0}};
        const std::uint32_t spent = UdpClockMs() - start;
        const int wait = spent >= timeoutMs ? 0 : static_cast<int>(timeoutMs - spent);
        const int ready = poll(fds, stop != StopSignal{} ? 2 : 1, wait);
        if (stop != StopSignal{} && (fds[1].revents & POLLIN)) return UdpWait::Stopped;
        if (ready == 0) return UdpWait::TimedOut;
        if (ready < 0) continue;  // EINTR
        sockaddr_storage sender;
        socklen_t length = sizeof sender;
        const ssize_t n = recvfrom(Fd(socket), data, capacity, MSG_TRUNC,
                                   reinterpret_cast<sockaddr*>(&sender), &length);
        if (n < 0) continue;  // ECONNREFUSED from an ICMP answer: not a datagram
        size = static_cast<std::size_t>(n) < capacity ? static_cast<std::size_t>(n) : capacity;
        from = FromSockaddr(reinterpret_cast<sockaddr*>(&sender));
        return UdpWait::Received;
    }
}

namespace hooks {
void SimulateUdp(std::function<bool(std::uint16_t port)> answers) {
    std::lock_guard<std::mutex> lock(g_simMutex);
    g_answers = std::move(answers);
    g_echoes.clear();
    g_sends.clear();
}
std::vector<std::uint16_t> TakeUdpSends() {
    std::lock_guard<std::mutex> lock(g_simMutex);
    return std::exchange(g_sends, {});
}
}  // namespace hooks

std::uint32_t UdpClockMs() {
    // The simulated network answers in no time, so its round trips take none: a real clock
    // would let a busy machine add a millisecond.
    {
        std::lock_guard<std::mutex> lock(g_simMutex);
        if (g_answers) return 0;
    }
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::uint32_t>(now.tv_sec * 1000 + now.tv_nsec / 1000000);
}

}  // namespace platform
