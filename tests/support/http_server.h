// A small HTTP server for the tests and the fuzz targets, on 127.0.0.1 only: each request target
// gets the raw bytes it was given (whole, once, not at all, cut off by a reset, or a few at a
// time), and every request head is kept for the test to look at. The same code runs over
// Winsock and POSIX sockets.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace testhttp {

class Server {
public:
    enum class Mode {
        // A thread for each connection; every request head is kept.
        Threaded,
        // One connection after another on the server's own thread, and no request head kept
        // (Requests() stays empty): once its buffers have grown the server allocates nothing
        // for a connection that outlives it, so a fuzz target's allocations balance within each
        // input however many requests it sends. A piece of the head, a send and the client's
        // close are each waited for 2 s at most, so no client holds the next one up for long;
        // a stalled answer holds every later connection until its client goes.
        OneAtATime,
    };

    Server();                   // listens on 127.0.0.1, a free port chosen by the system
    explicit Server(int port);  // a given port (0: any)
    Server(int port, Mode mode);
    // Stops: closes the listener and every connection, stalled ones too, and joins the threads.
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    int Port() const;  // 0 when it could not listen
    std::string Url(const std::string& path) const;  // "http://127.0.0.1:<port>" + path

    // What a request for this target gets: the request-target exactly as the request line has
    // it ("/Ver.ini", "/a?b=1"). A later call for the same target replaces the earlier one.
    // Unknown targets get "HTTP/1.0 404 Not Found\r\nContent-Length: 0\r\n\r\n". A head
    // that has not ended within 64 KB, or whose client leaves first, gets nothing and is not
    // kept.

    // The bytes as they are, then the connection is closed gracefully.
    void Serve(const std::string& target, std::string rawResponse);
    // The same for the next request of the target only; later ones get the 404, so an answer
    // that redirects to itself ends.
    void ServeOnce(const std::string& target, std::string rawResponse);
    // Reads the request, then never answers: the connection stays open until the client goes
    // or the server is destroyed.
    void ServeStalled(const std::string& target);
    // Sends the prefix, then (100 ms later, so the client holds it) resets the connection:
    // SO_LINGER 0 and close, an RST.
    void ServeDropped(const std::string& target, std::string rawPrefix);
    // The bytes bytesPerChunk at a time with msBetweenChunks between them, then a graceful
    // close.
    void ServeSlowly(const std::string& target, std::string rawResponse, int bytesPerChunk,
                     int msBetweenChunks);

    // The request heads received so far (request line and headers up to and including the
    // blank line, raw bytes), in arrival order; none in Mode::OneAtATime. A body is read past,
    // never kept.
    std::vector<std::string> Requests() const;
    int Connections() const;  // connections accepted so far

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// "HTTP/1.0 200 OK\r\nContent-Length: <n>\r\n\r\n<body>"
std::string Ok(const std::string& body);

}  // namespace testhttp
