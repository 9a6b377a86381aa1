// A loopback HTTP server for the fuzz targets, fast enough for a million requests: one thread,
// one connection at a time. It reads the request head, sends the answer set for the request's
// target as it is, once (a 404 for any other request, so an answer that redirects to itself
// ends), closes its sending side and reads what the client still sends until the client closes
// too. Every wait is bounded.
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <thread>

namespace fuzz {

class AnswerServer {
public:
    AnswerServer();  // on 127.0.0.1, a port the system chooses
    ~AnswerServer();
    AnswerServer(const AnswerServer&) = delete;
    AnswerServer& operator=(const AnswerServer&) = delete;

    int Port() const { return port_; }  // 0 when it could not listen
    std::string Url(const std::string& target) const;
    void Serve(const std::string& target, std::string answer);  // for the next request of it
    int Connections() const { return connections_; }  // accepted so far

private:
    void Run();
    void Answer(int s);

    int listener_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<int> connections_{0};
    std::mutex mutex_;  // guards the target and its answer
    std::string target_, answer_;
    bool served_ = true;
    std::string head_, sending_;  // the thread's own, kept between connections
    std::thread thread_;
};

}  // namespace fuzz
