#include "tests/fuzz/answer_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace fuzz {

namespace {

constexpr int kWaitMs = 2000;  // for any one piece of the request, or the client's close
constexpr std::size_t kMaxHead = 64 * 1024;

bool Readable(int s, int ms) {
    pollfd p{s, POLLIN, 0};
    return poll(&p, 1, ms) > 0;
}

}  // namespace

AnswerServer::AnswerServer() {
    const int l = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof a;
    if (l < 0 || bind(l, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(l, 16) != 0 ||
        getsockname(l, reinterpret_cast<sockaddr*>(&a), &length) != 0) {
        if (l >= 0) close(l);
        return;
    }
    listener_ = l;
    port_ = ntohs(a.sin_port);
    thread_ = std::thread([this] { Run(); });
}

AnswerServer::~AnswerServer() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    if (listener_ >= 0) close(listener_);
}

std::string AnswerServer::Url(const std::string& target) const {
    return "http://127.0.0.1:" + std::to_string(port_) + target;
}

void AnswerServer::Serve(const std::string& target, std::string answer) {
    std::lock_guard<std::mutex> lock(mutex_);
    target_ = target;
    answer_ = std::move(answer);
    served_ = false;
}

void AnswerServer::Run() {
    while (!stop_) {
        if (!Readable(listener_, 50)) continue;  // looks at the stop flag now and then
        const int s = accept(listener_, nullptr, nullptr);
        if (s < 0) continue;
        ++connections_;
        int on = 1;
        setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        const timeval sendWait{kWaitMs / 1000, 0};  // a client that takes nothing is given up
        setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, &sendWait, sizeof sendWait);
        Answer(s);
        close(s);
    }
}

void AnswerServer::Answer(int s) {
    // The buffers keep their room, so a connection allocates nothing once they have grown.
    std::string& head = head_;
    head.clear();
    char buf[4096];
    while (head.find("\r\n\r\n") == std::string::npos) {
        if (head.size() > kMaxHead || !Readable(s, kWaitMs)) return;
        const ssize_t n = recv(s, buf, sizeof buf, 0);
        if (n <= 0) return;
        head.append(buf, static_cast<std::size_t>(n));
    }
    // The request-target: between the request line's first two blanks.
    const std::size_t from = head.find(' ') + 1, to = head.find(' ', from);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const bool known = !served_ && from != 0 && to != std::string::npos &&
                           head.compare(from, to - from, target_) == 0;
        served_ = served_ || known;
        sending_.assign(known ? answer_ : "HTTP/1.0 404 Not Found\r\nContent-Length: 0\r\n\r\n");
    }
    for (std::size_t sent = 0; sent < sending_.size();) {
        const ssize_t n = send(s, sending_.data() + sent, sending_.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) return;  // the client has gone, or takes nothing
        sent += static_cast<std::size_t>(n);
    }
    // A close with unread bytes would reset the connection instead of ending it.
    shutdown(s, SHUT_WR);
    while (Readable(s, kWaitMs) && recv(s, buf, sizeof buf, 0) > 0) {
    }
}

}  // namespace fuzz
