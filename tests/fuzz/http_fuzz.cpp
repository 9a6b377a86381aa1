// The download against a server whose whole answer is the fuzz input, sent as it is before a
// graceful close. Whatever comes, HttpReadFile returns, and what it returns was sent: a
// subsequence of the answer (a chunked body is decoded, a redirect's target answers in its
// place). A plain answer gives exactly the bytes after its head, whatever Content-Length says.
//
// The answers may redirect anywhere: this process reaches nothing but its own server.
#include <dlfcn.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <optional>
#include <string>
#include <vector>

#include "services/http.h"
#include "tests/fuzz/check.h"
#include "tests/support/http_server.h"

namespace {

std::atomic<int> g_port{0};

bool ToOwnServer(const sockaddr* address, socklen_t length) {
    if (!address || length < sizeof(sockaddr_in) || address->sa_family != AF_INET) return false;
    const auto* in = reinterpret_cast<const sockaddr_in*>(address);
    return in->sin_addr.s_addr == htonl(INADDR_LOOPBACK) && ntohs(in->sin_port) == g_port;
}

bool IsSubsequence(const std::string& part, const std::string& whole) {
    std::size_t at = 0;
    for (char c : whole)
        if (at < part.size() && part[at] == c) ++at;
    return at == part.size();
}

// The body of a plain answer, or nullopt. Plain: a status line "HTTP/1.x NNN" with a 2xx (but
// 204), 4xx or 5xx status, then header lines that each hold a colon and continue no line
// before, none about a transfer coding; every line of the head ended by CR LF, no NUL in it.
std::optional<std::string> PlainBody(const std::string& answer) {
    const std::size_t end = answer.find("\r\n\r\n");
    if (end == std::string::npos) return std::nullopt;
    std::vector<std::string> lines;
    for (std::size_t at = 0; at <= end; at = answer.find("\r\n", at) + 2)
        lines.push_back(answer.substr(at, answer.find("\r\n", at) - at));
    for (const std::string& line : lines)
        if (line.find_first_of(std::string("\r\n\0", 3)) != std::string::npos) return std::nullopt;
    const std::string& status = lines[0];
    auto digit = [&](std::size_t i) { return status[i] >= '0' && status[i] <= '9'; };
    const bool http1 = status.rfind("HTTP/1.0 ", 0) == 0 || status.rfind("HTTP/1.1 ", 0) == 0;
    if (status.size() < 12 || !http1 ||
        std::string("245").find(status[9]) == std::string::npos || !digit(10) || !digit(11) ||
        (status.size() > 12 && status[12] != ' ') || status.compare(9, 3, "204") == 0)
        return std::nullopt;
    for (std::size_t i = 1; i < lines.size(); ++i) {
        std::string lower = lines[i];
        for (char& c : lower)
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
        if (lower[0] == ' ' || lower[0] == '\t' || lower.find(':') == std::string::npos ||
            lower.find("transfer-encoding") != std::string::npos)
            return std::nullopt;
    }
    return answer.substr(end + 4);
}

}  // namespace

// Connections to anything but the server are refused, and names are never looked up.
extern "C" int connect(int fd, const sockaddr* address, socklen_t length) {
    if (!ToOwnServer(address, length)) {
        errno = ECONNREFUSED;
        return -1;
    }
    return static_cast<int>(syscall(SYS_connect, fd, address, length));
}

extern "C" ssize_t sendto(int fd, const void* data, size_t size, int flags,
                          const sockaddr* address, socklen_t length) {
    if (address && !ToOwnServer(address, length)) {
        errno = ENETUNREACH;
        return -1;
    }
    return syscall(SYS_sendto, fd, data, size, flags, address, length);
}

extern "C" int getaddrinfo(const char* node, const char* service, const addrinfo* hints,
                           addrinfo** result) {
    using Lookup = int (*)(const char*, const char*, const addrinfo*, addrinfo**);
    static const auto real = reinterpret_cast<Lookup>(dlsym(RTLD_NEXT, "getaddrinfo"));
    addrinfo numeric = hints ? *hints : addrinfo{};
    numeric.ai_flags |= AI_NUMERICHOST;
    return real(node, service, &numeric, result);
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static testhttp::Server* const server = [] {
        // Lives as long as the process; answers one connection at a time, allocating nothing
        // that outlives an input.
        auto* s = new testhttp::Server(0, testhttp::Server::Mode::OneAtATime);
        g_port = s->Port();
        return s;
    }();
    FUZZ_CHECK(server->Port() != 0);
    const std::string answer(reinterpret_cast<const char*>(data), size);
    server->ServeOnce("/f", answer);
    const sk::Bytes got = sk::HttpReadFile(server->Url("/f"));
    const std::string body(got.begin(), got.end());
    FUZZ_CHECK(IsSubsequence(body, answer));
    if (const auto plain = PlainBody(answer)) FUZZ_CHECK(body == *plain);
    return 0;
}
