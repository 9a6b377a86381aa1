#include "services/http.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>

#include <mutex>  // std::lock_guard only

#include "platform/lock.h"
#include "platform/internet.h"
#include "platform/programs.h"

namespace sk {

namespace {
namespace net = platform::internet;

// One internet handle per program; two threads starting downloads at once create one. A
// download in progress holds it: the program's end closes it only once no download uses it.
platform::Mutex g_internetMutex;
platform::OwnedInternet g_internet;
int g_downloads = 0;
bool g_closeWanted = false;

// A server that accepts and never answers would otherwise hold the download for good (Wine's
// WinINet waits without end), and with it the one update check that may run at a time. 30 s is
// what Windows' own WinINet waits for a response by default. An abandoned transfer whose server
// falls silent ends at most this long after its deadline.
constexpr unsigned long kTimeoutMs = 30000;

// The internet handle for one download, held until the download ends.
class InternetUse {
public:
    InternetUse() {
        std::lock_guard<platform::Mutex> lock(g_internetMutex);
        if (g_closeWanted) return;  // the program is ending
        if (!g_internet)
            g_internet.reset(
                net::OpenInternet("Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)"));
        handle_ = g_internet.get();
        ++g_downloads;
    }
    ~InternetUse() {
        if (!platform::IsSet(handle_)) return;
        std::lock_guard<platform::Mutex> lock(g_internetMutex);
        if (--g_downloads > 0 || !g_closeWanted) return;
        g_internet.reset();
        g_closeWanted = false;
    }
    InternetUse(const InternetUse&) = delete;
    InternetUse& operator=(const InternetUse&) = delete;
    net::Handle get() const { return handle_; }

private:
    net::Handle handle_{};
};

std::string BeforeFragment(const std::string& s) { return s.substr(0, s.find('#')); }
}  // namespace

std::size_t HttpReadSize(const char* contentLength) {
    const long length = contentLength ? std::strtol(contentLength, nullptr, 10) : 0;
    if (length <= 0) return 10240;
    return length >= 102400 ? 102400 : static_cast<std::size_t>(length) + 1;
}

namespace {

// One download, shared by the caller and the thread that carries it out: whoever lets go last
// frees it.
struct Transfer {
    Text url;
    Bytes result;
    std::atomic<int> holders{2};
    std::atomic<bool> abandoned{false};  // the caller's deadline passed
};
std::atomic<int> g_transfers{0};

// At most one transfer on the network: a later one waits on its own thread for the earlier,
// abandoned one to end.
platform::Mutex g_networkMutex;

constexpr int kMaxRedirects = 10;

// The GET itself, blocking, at most kHttpMaxBody bytes kept. Redirects are followed here, at
// most kMaxRedirects; one more is a failure. After each wait on the server the transfer ends at
// once when its caller has given up on it: the handles close, and the thread ends.
Bytes Download(Transfer& t) {
    Bytes result;
    std::string url = BeforeFragment(t.url);
    const InternetUse use;
    const net::Handle internet = use.get();
    if (!platform::IsSet(internet)) return result;
    for (int redirects = 0; redirects <= kMaxRedirects && !t.abandoned; ++redirects) {
        net::UrlParts parts;
        if (!net::SplitUrl(url, parts)) return result;
        const platform::OwnedInternet connection(net::Connect(internet, parts));
        if (!connection) return result;
        net::SetNoProxy(internet, connection.get());
        platform::OwnedInternet request(net::OpenRequest(
            connection.get(), BeforeFragment(parts.object), parts.secure, kTimeoutMs));
        if (!request || !net::SendRequest(request.get(), "Accept: */*\r\n\r\n") || t.abandoned)
            return result;
        if (net::QueryRedirect(request.get(), url, url)) continue;
        std::string length;
        const std::size_t size = HttpReadSize(
            net::QueryContentLength(request.get(), length) ? length.c_str() : nullptr);
        Bytes buffer;
        buffer.resize(size);  // out of memory ends in the runtime error report, as any value
        for (;;) {
            std::size_t got = 0;
            const bool ok = net::ReadResponse(request.get(), buffer.data(), size, got);
            // What a failing read still stored belongs to the part received before the error.
            const std::size_t keep = std::min(got, kHttpMaxBody - result.size());
            result.insert(result.end(), buffer.begin(),
                          buffer.begin() + static_cast<std::ptrdiff_t>(keep));
            if (!ok || got == 0 || result.size() >= kHttpMaxBody || t.abandoned) break;
        }
        request.reset();  // at once, also at the cap: nothing more is read
        return result;
    }
    return {};  // abandoned, or redirected once too often
}

void LetGo(Transfer* t) {
    if (--t->holders > 0) return;
    delete t;
    --g_transfers;
}
void RunTransfer(void* context) {
    auto* t = static_cast<Transfer*>(context);
    {
        std::lock_guard<platform::Mutex> lock(g_networkMutex);
        if (!t->abandoned) t->result = Download(*t);
    }
    LetGo(t);
}

}  // namespace

// A server that trickles its answer keeps a WinINet call waiting for as long as each byte comes
// within the receive time-out (a call waiting on a request is cancelled by closing it on
// Windows, but not under Wine, and a closed handle's number may be given to the next request).
// So the transfer runs on a thread of its own: past the deadline the download gives up and the
// transfer ends by itself once its current call returns, holding nothing of the caller's.
Bytes HttpReadFile(const Text& url, unsigned long deadlineMs) {
    if (url.empty()) return {};
    ++g_transfers;
    auto* t = new Transfer{url, {}};
    Bytes result;
    bool started = true;
    if (platform::RunWithDeadline(RunTransfer, t, deadlineMs, &started)) {
        result = std::move(t->result);
    } else {
        t->abandoned = true;
        if (!started) LetGo(t);  // the thread's share
    }
    LetGo(t);
    return result;
}

int HttpTransfersAlive() { return g_transfers; }

void CloseInternetHandle() {
    std::lock_guard<platform::Mutex> lock(g_internetMutex);
    g_closeWanted = g_downloads > 0;
    if (!g_closeWanted) g_internet.reset();
}

}  // namespace sk
