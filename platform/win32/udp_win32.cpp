// The UDP seam over Winsock, bound by name from ws2_32.dll on first use (the program imports
// nothing of it). A receive waits on the socket's read event and the stop event together.
// winsock2.h before windows.h, or windows.h brings the old winsock.h in.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <cstring>

#include "platform/udp.h"

#ifndef SIO_UDP_CONNRESET
#define SIO_UDP_CONNRESET _WSAIOW(IOC_VENDOR, 12)
#endif

namespace platform {

namespace {

struct Winsock {
    int(WSAAPI* startup)(WORD, LPWSADATA);
    SOCKET(WSAAPI* socket)(int, int, int);
    int(WSAAPI* closesocket)(SOCKET);
    int(WSAAPI* sendto)(SOCKET, const char*, int, int, const sockaddr*, int);
    int(WSAAPI* recvfrom)(SOCKET, char*, int, int, sockaddr*, int*);
    int(WSAAPI* getaddrinfo)(PCSTR, PCSTR, const ADDRINFOA*, PADDRINFOA*);
    void(WSAAPI* freeaddrinfo)(PADDRINFOA);
    int(WSAAPI* ioctl)(SOCKET, DWORD, LPVOID, DWORD, LPVOID, DWORD, LPDWORD, LPWSAOVERLAPPED,
                       LPWSAOVERLAPPED_COMPLETION_ROUTINE);
    int(WSAAPI* eventSelect)(SOCKET, WSAEVENT, long);
    int(WSAAPI* lastError)();
};
Winsock g_ws;
bool g_wsReady = false;

// Loads ws2_32.dll and starts Winsock once; it stays loaded for the program's life.
const Winsock* Ws() {
    if (g_wsReady) return &g_ws;
    HMODULE library = LoadLibraryA("ws2_32.dll");
    if (!library) return nullptr;
    void** slots = reinterpret_cast<void**>(&g_ws);
    static const char* const kNames[] = {
        "WSAStartup",  "socket",       "closesocket", "sendto",         "recvfrom",
        "getaddrinfo", "freeaddrinfo", "WSAIoctl",    "WSAEventSelect", "WSAGetLastError"};
    for (unsigned i = 0; i < sizeof kNames / sizeof *kNames; ++i)
        if (!(slots[i] = reinterpret_cast<void*>(GetProcAddress(library, kNames[i]))))
            return nullptr;
    WSADATA data;
    if (g_ws.startup(MAKEWORD(2, 2), &data) != 0) return nullptr;
    g_wsReady = true;
    return &g_ws;
}

std::uint16_t Swap(std::uint16_t v) { return static_cast<std::uint16_t>(v >> 8 | v << 8); }

int ToSockaddr(const UdpAddress& a, sockaddr_storage& out) {
    std::memset(&out, 0, sizeof out);
    if (a.family == 4) {
        auto* v4 = reinterpret_cast<sockaddr_in*>(&out);
        v4->sin_family = AF_INET;
        v4->sin_port = Swap(a.port);
        std::memcpy(&v4->sin_addr, a.ip, 4);
        return sizeof(sockaddr_in);
    }
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&out);
    v6->sin6_family = AF_INET6;
    v6->sin6_port = Swap(a.port);
    std::memcpy(&v6->sin6_addr, a.ip, 16);
    return sizeof(sockaddr_in6);
}

UdpAddress FromSockaddr(const sockaddr* s) {
    UdpAddress a;
    if (s->sa_family == AF_INET) {
        const auto* v4 = reinterpret_cast<const sockaddr_in*>(s);
        a.family = 4;
        a.port = Swap(v4->sin_port);
        std::memcpy(a.ip, &v4->sin_addr, 4);
    } else if (s->sa_family == AF_INET6) {
        const auto* v6 = reinterpret_cast<const sockaddr_in6*>(s);
        a.family = 6;
        a.port = Swap(v6->sin6_port);
        std::memcpy(a.ip, &v6->sin6_addr, 16);
    }
    return a;
}

// Each socket carries its read event, made with it and closed with it.
struct Socket {
    SOCKET socket;
    HANDLE readable;
};

}  // namespace

bool ResolveUdpAddress(const std::string& host, std::uint16_t port, UdpAddress& address) {
    const Winsock* ws = Ws();
    ADDRINFOA hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_DGRAM;
    PADDRINFOA list = nullptr;
    if (!ws || ws->getaddrinfo(host.c_str(), nullptr, &hints, &list) != 0) return false;
    const ADDRINFOA* chosen = nullptr;
    for (const ADDRINFOA* i = list; i && !chosen; i = i->ai_next)
        if (i->ai_family == AF_INET) chosen = i;
    for (const ADDRINFOA* i = list; i && !chosen; i = i->ai_next)
        if (i->ai_family == AF_INET6) chosen = i;
    if (chosen) {
        address = FromSockaddr(chosen->ai_addr);
        address.port = port;
    }
    ws->freeaddrinfo(list);
    return chosen != nullptr;
}

UdpSocket OpenUdpSocket(int family) {
    const Winsock* ws = Ws();
    if (!ws) return UdpSocket{};
    const SOCKET s = ws->socket(family == 6 ? AF_INET6 : AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (s == INVALID_SOCKET) return UdpSocket{};
    // Without this an ICMP "port unreachable" for an earlier send fails the next receive with
    // WSAECONNRESET; the receive also skips that error where the control is missing.
    BOOL off = FALSE;
    DWORD returned = 0;
    ws->ioctl(s, SIO_UDP_CONNRESET, &off, sizeof off, nullptr, 0, &returned, nullptr, nullptr);
    HANDLE readable = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (!readable || ws->eventSelect(s, readable, FD_READ) != 0) {
        if (readable) CloseHandle(readable);
        ws->closesocket(s);
        return UdpSocket{};
    }
    return static_cast<UdpSocket>(reinterpret_cast<std::intptr_t>(new Socket{s, readable}));
}

void CloseUdpSocket(UdpSocket socket) {
    auto* s = reinterpret_cast<Socket*>(static_cast<std::intptr_t>(socket));
    if (!s) return;
    Ws()->closesocket(s->socket);
    CloseHandle(s->readable);
    delete s;
}

bool SendUdp(UdpSocket socket, const UdpAddress& to, const std::uint8_t* data, std::size_t size) {
    auto* s = reinterpret_cast<Socket*>(static_cast<std::intptr_t>(socket));
    sockaddr_storage address;
    const int length = ToSockaddr(to, address);
    return Ws()->sendto(s->socket, reinterpret_cast<const char*>(data), static_cast<int>(size), 0,
                        reinterpret_cast<sockaddr*>(&address), length) == static_cast<int>(size);
}

StopSignal CreateStopSignal() {
    return static_cast<StopSignal>(
        reinterpret_cast<std::intptr_t>(CreateEventA(nullptr, TRUE, FALSE, nullptr)));
}
void RaiseStopSignal(StopSignal signal) {
    if (signal != StopSignal{})
        SetEvent(reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(signal)));
}
void CloseStopSignal(StopSignal signal) {
    if (signal != StopSignal{})
        CloseHandle(reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(signal)));
}

UdpWait ReceiveUdp(UdpSocket socket, StopSignal stop, std::uint32_t timeoutMs, std::uint8_t* data,
                   std::size_t capacity, std::size_t& size, UdpAddress& from) {
    auto* s = reinterpret_cast<Socket*>(static_cast<std::intptr_t>(socket));
    const Winsock* ws = Ws();
    const HANDLE stopEvent = reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(stop));
    const std::uint32_t start = UdpClockMs();
    for (;;) {
        if (stopEvent && WaitForSingleObject(stopEvent, 0) == WAIT_OBJECT_0)
            return UdpWait::Stopped;
        // Reset before reading: a datagram that comes after the read sets the event again.
        ResetEvent(s->readable);
        sockaddr_storage sender;
        int length = sizeof sender;
        const int n =
            ws->recvfrom(s->socket, reinterpret_cast<char*>(data), static_cast<int>(capacity), 0,
                         reinterpret_cast<sockaddr*>(&sender), &length);
        const int error = n < 0 ? ws->lastError() : 0;
        if (n >= 0 || error == WSAEMSGSIZE) {
            size = n >= 0 ? static_cast<std::size_t>(n) : capacity;
            from = FromSockaddr(reinterpret_cast<sockaddr*>(&sender));
            return UdpWait::Received;
        }
        if (error == WSAECONNRESET) continue;  // an ICMP answer, not a datagram
        const std::uint32_t spent = UdpClockMs() - start;
        if (spent >= timeoutMs) return UdpWait::TimedOut;
        const HANDLE events[2] = {s->readable, stopEvent};
        const DWORD woken =
            WaitForMultipleObjects(stopEvent ? 2 : 1, events, FALSE, timeoutMs - spent);
        if (woken == WAIT_OBJECT_0 + 1) return UdpWait::Stopped;
        if (woken != WAIT_OBJECT_0) return UdpWait::TimedOut;
    }
}

std::uint32_t UdpClockMs() { return GetTickCount(); }

}  // namespace platform
