#include "services/http.h"

#include <cstdlib>

#include <mutex>  // std::lock_guard only

#include "platform/lock.h"
#include "platform/http.h"

namespace sk {

namespace {
namespace net = platform::http;

// One internet handle per program; two threads starting downloads at once create one.
platform::Mutex g_internetMutex;
platform::OwnedInternet g_internet;

// A server that accepts and never answers would otherwise hold the download for good (Wine's
// WinINet waits without end), and with it the one update check that may run at a time. 30 s is
// what Windows' own WinINet waits for a response by default.
constexpr unsigned long kTimeoutMs = 30000;

net::Handle Internet() {
    std::lock_guard<platform::Mutex> lock(g_internetMutex);
    if (!g_internet)
        g_internet.reset(net::OpenInternet("Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)"));
    return g_internet.get();
}

std::string BeforeFragment(const std::string& s) { return s.substr(0, s.find('#')); }
}  // namespace

std::size_t HttpReadSize(const char* contentLength) {
    const long length = contentLength ? std::strtol(contentLength, nullptr, 10) : 0;
    if (length <= 0) return 10240;
    return length >= 102400 ? 102400 : static_cast<std::size_t>(length) + 1;
}

Bytes HttpReadFile(const Text& url) {
    Bytes result;
    if (url.empty()) return result;
    net::UrlParts parts;
    if (!net::SplitUrl(BeforeFragment(url), parts)) return result;
    const net::Handle internet = Internet();
    if (!platform::IsSet(internet)) return result;
    const platform::OwnedInternet connection(net::Connect(internet, parts));
    if (!connection) return result;
    net::SetNoProxy(internet, connection.get());
    const platform::OwnedInternet request(net::OpenRequest(
        connection.get(), BeforeFragment(parts.object), parts.secure, kTimeoutMs));
    if (!request) return result;
    if (net::SendRequest(request.get(), "Accept: */*\r\n\r\n")) {
        std::string length;
        const std::size_t size = HttpReadSize(
            net::QueryContentLength(request.get(), length) ? length.c_str() : nullptr);
        Bytes buffer;
        buffer.resize(size);  // out of memory ends in the runtime error report, as any value
        for (;;) {
            std::size_t got = 0;
            const bool ok = net::ReadResponse(request.get(), buffer.data(), size, got);
            // What a failing read still stored belongs to the part received before the error.
            result.insert(result.end(), buffer.begin(),
                          buffer.begin() + static_cast<std::ptrdiff_t>(got));
            if (!ok || got == 0) break;
        }
    }
    return result;  // the request is closed before its connection
}

void CloseInternetHandle() {
    std::lock_guard<platform::Mutex> lock(g_internetMutex);
    g_internet.reset();
}

}  // namespace sk
