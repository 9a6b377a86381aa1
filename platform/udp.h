// UDP datagrams for asking a server whether it answers: a host's address, one socket, a send,
// and a receive that waits a given time or until a stop signal is raised from another thread.
// Windows: ws2_32.dll, loaded on first use; Linux: BSD sockets.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

struct UdpAddress {
    int family = 0;          // 4 or 6; 0: none
    std::uint8_t ip[16]{};   // network order; an IPv4 address in the first 4 bytes
    std::uint16_t port = 0;  // host order
    bool operator==(const UdpAddress&) const = default;
};

// The host's address (a name or a literal) for port: the first IPv4 address where it has one,
// else the first IPv6 address, as Go's resolver orders them. False where it cannot be resolved.
bool ResolveUdpAddress(const std::string& host, std::uint16_t port, UdpAddress& address);

enum class UdpSocket : std::intptr_t {};
enum class StopSignal : std::intptr_t {};

// A socket of the address's family, bound to any local port on first send. The zero value when
// none can be made. An ICMP "port unreachable" never fails a later receive.
UdpSocket OpenUdpSocket(int family);
void CloseUdpSocket(UdpSocket socket);
bool SendUdp(UdpSocket socket, const UdpAddress& to, const std::uint8_t* data, std::size_t size);

// Signals that wake a receive at once; raising one is safe from any thread.
StopSignal CreateStopSignal();
void RaiseStopSignal(StopSignal signal);
void CloseStopSignal(StopSignal signal);

enum class UdpWait { Received, TimedOut, Stopped };
// Waits up to timeoutMs for one datagram (stop may be zero): on Received, size and from tell
// its length (cut to capacity) and sender.
UdpWait ReceiveUdp(UdpSocket socket, StopSignal stop, std::uint32_t timeoutMs, std::uint8_t* data,
                   std::size_t capacity, std::size_t& size, UdpAddress& from);

// A monotonic millisecond clock for measuring a round trip.
std::uint32_t UdpClockMs();

}  // namespace platform
