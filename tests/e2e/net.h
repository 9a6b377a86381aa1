// Loopback TCP for the tunnel cases: an echo server standing in for what the tunnel reaches,
// and a client that checks bytes come back through a port. Only 127.0.0.1 is ever used.
#pragma once

#include <winsock2.h>

#include <atomic>
#include <string>
#include <thread>

namespace e2e {

// Listens on 127.0.0.1 and sends every byte of every connection back, on a thread of its own,
// until destroyed.
class EchoServer {
public:
    explicit EchoServer(int port = 0);  // 0: any free port
    ~EchoServer();
    EchoServer(const EchoServer&) = delete;
    EchoServer& operator=(const EchoServer&) = delete;

    // The port it listens on, or 0 when it could not listen.
    int Port() const { return port_; }

private:
    void Run();

    bool wsa_ = false;
    SOCKET listener_ = INVALID_SOCKET;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// Connects to 127.0.0.1:port, sends the bytes and reads until as many have come back or
// timeoutMs has passed. True when the same bytes came back; got (if given) holds what came.
bool TcpRoundTrip(int port, const std::string& bytes, int timeoutMs, std::string* got = nullptr);

// Whether a connection to 127.0.0.1:port is accepted.
bool PortListening(int port);

}  // namespace e2e
