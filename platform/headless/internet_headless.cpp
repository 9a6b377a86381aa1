// The download's calls over libcurl, http only. Sending runs the transfer until the response's
// head is in; each read then runs it on until bytes are there, the body ends, or nothing came
// for the time-out, and hands out at most the size asked for. A transfer that broke off reports
// its read error after the bytes that came.
#include <curl/curl.h>

#include <algorithm>
#include <cstring>
#include <utility>
#include <mutex>
#include <thread>  // std::chrono (<chrono> itself has a character GBK lacks)

#include "platform/headless/internet_hooks.h"
#include "platform/internet.h"

namespace platform::internet {

namespace {

// Internet handles, connections and requests alike: each kind uses its own fields.
struct Object {
    enum Kind { kInternet, kConnection, kRequest } kind;
    explicit Object(Kind k) : kind(k) {}
    ~Object() {
        if (multi) curl_multi_remove_handle(multi, curl);
        if (curl) curl_easy_cleanup(curl);
        if (multi) curl_multi_cleanup(multi);
        curl_slist_free_all(headers);
    }
    std::string userAgent;  // internet handle
    UrlParts url;           // connection
    const Object* parent = nullptr;
    // request
    std::string object, contentLength, location, body, target;
    long timeoutMs = 0, status = 0;
    bool hasContentLength = false, headDone = false;
    bool statusNext = true;  // the head's first line is the status line; a header may say HTTP/ too
    std::size_t next = 0, received = 0;  // bytes handed out; bytes that came, head and body
    bool running = false, failed = false;  // the transfer is on; it broke off
    std::vector<std::size_t> readSizes;
    CURL* curl = nullptr;
    CURLM* multi = nullptr;
    curl_slist* headers = nullptr;
};
Object* O(Handle h) { return NativeOf<Object>(h); }
Handle Of(Object* o) { return HandleOf<Handle>(o); }

std::mutex g_mutex;  // the hooks' records; handles belong to one thread each
std::vector<std::size_t> g_lastReadSizes;
int g_internets = 0, g_requests = 0;

// Bytes not yet read are kept; past this the stand-in drops the connection, so that a server
// that never stops sending cannot fill the memory.
constexpr std::size_t kMaxBufferedBody = 16 * 1024 * 1024;

std::size_t OnBody(char* data, std::size_t size, std::size_t n, void* request) {
    auto* r = static_cast<Object*>(request);
    if (r->body.size() + size * n > kMaxBufferedBody) return 0;  // ends the transfer as failed
    r->body.append(data, size * n);
    r->received += size * n;
    return size * n;
}

// The value of a header line with this lower-case name and colon, without surrounding blanks.
bool HeaderValue(const std::string& line, const char* name, std::string& value) {
    const std::size_t n = std::strlen(name);
    if (line.size() <= n || strncasecmp(line.c_str(), name, n) != 0) return false;
    value = line.substr(n);
    value.erase(0, value.find_first_not_of(" \t"));
    value.erase(value.find_last_not_of("\r\n \t") + 1);
    return true;
}

std::size_t OnHeader(char* data, std::size_t size, std::size_t n, void* request) {
    auto* r = static_cast<Object*>(request);
    const std::string line(data, size * n);
    r->received += line.size();
    std::string value;
    if (std::exchange(r->statusNext, false)) {
        const std::size_t blank = line.find(' ');
        r->status = blank == std::string::npos ? 0 : std::atol(line.c_str() + blank);
    } else if (line == "\r\n" || line == "\n") {
        r->headDone = r->statusNext = true;  // a 1xx head is followed by the response's own
    } else if (HeaderValue(line, "content-length:", value)) {
        r->contentLength = value.substr(0, 31);
        r->hasContentLength = true;
    } else if (HeaderValue(line, "location:", value)) {
        r->location = value;
    }
    return size * n;
}

// Runs the transfer until done() or its end; false when nothing came for the time-out.
template <class Done>
bool RunUntil(Object* r, Done done) {
    using Clock = std::chrono::steady_clock;
    auto last = Clock::now();
    std::size_t had = r->received;
    while (r->running && !done()) {
        int running = 0;
        curl_multi_poll(r->multi, nullptr, 0, 50, nullptr);
        curl_multi_perform(r->multi, &running);
        if (!running) {
            int left = 0;
            CURLMsg* m = curl_multi_info_read(r->multi, &left);
            r->failed = !m || m->data.result != CURLE_OK;
            r->running = false;
        }
        if (r->received != had) last = Clock::now(), had = r->received;
        if (Clock::now() - last > std::chrono::milliseconds(r->timeoutMs)) {
            r->running = false;
            r->failed = true;
            return false;
        }
    }
    return true;
}

}  // namespace

bool SplitUrl(const std::string& url, UrlParts& parts) {
    CURLU* u = curl_url();
    bool ok = curl_url_set(u, CURLUPART_URL, url.c_str(), CURLU_NON_SUPPORT_SCHEME) == CURLUE_OK;
    auto part = [&](CURLUPart which, std::string& out, std::size_t room) {
        char* value = nullptr;
        if (curl_url_get(u, which, &value, 0) == CURLUE_OK && value) {
            out = value;
            curl_free(value);
        }
        if (out.size() >= room) ok = false;
    };
    std::string scheme, port, path, query;
    if (ok) {
        part(CURLUPART_SCHEME, scheme, 64);
        part(CURLUPART_HOST, parts.host, 256);
        part(CURLUPART_USER, parts.user, 128);
        part(CURLUPART_PASSWORD, parts.password, 128);
        part(CURLUPART_PATH, path, 2048);
        part(CURLUPART_QUERY, query, 2048);
        part(CURLUPART_PORT, port, 16);
    }
    curl_url_cleanup(u);
    parts.object = query.empty() ? path : path + "?" + query;
    if (!ok || parts.object.size() >= 2048 || (scheme != "http" && scheme != "https")) return false;
    parts.secure = scheme == "https";
    parts.port = port.empty() ? (parts.secure ? 443 : 80) : std::atoi(port.c_str());
    return true;
}

Handle OpenInternet(const std::string& userAgent) {
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        ++g_internets;
    }
    auto* internet = new Object(Object::kInternet);
    internet->userAgent = userAgent;
    return Of(internet);
}

Handle Connect(Handle internet, const UrlParts& url) {
    if (!IsSet(internet)) return {};
    auto* connection = new Object(Object::kConnection);
    connection->url = url;
    connection->parent = O(internet);
    return Of(connection);
}

void SetNoProxy(Handle, Handle) {}  // every transfer below goes direct

Handle OpenRequest(Handle connection, const std::string& object, bool secure,
                   unsigned long timeoutMs) {
    if (!IsSet(connection) || secure) return {};  // no TLS here
    auto* r = new Object(Object::kRequest);
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        ++g_requests;
    }
    r->parent = O(connection);
    r->object = object;
    r->timeoutMs = static_cast<long>(timeoutMs);
    return Of(r);
}

bool SendRequest(Handle request, const std::string& headers) {
    static const bool initialised = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    Object* r = O(request);
    const UrlParts& url = r->parent->url;
    CURL* curl = initialised ? curl_easy_init() : nullptr;
    if (!curl) return false;
    r->curl = curl;
    r->target = "http://" + url.host + ":" + std::to_string(url.port) + r->object;
    // The additional headers, one line each (the blank line ending them is the request's own).
    for (std::size_t at = 0; at < headers.size();) {
        const std::size_t end = headers.find("\r\n", at);
        const std::string line = headers.substr(at, end == std::string::npos ? end : end - at);
        if (!line.empty()) r->headers = curl_slist_append(r->headers, line.c_str());
        if (end == std::string::npos) break;
        at = end + 2;
    }
    curl_easy_setopt(curl, CURLOPT_URL, r->target.c_str());
    curl_easy_setopt(curl, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_1_0);
    const Object* internet = r->parent->parent;
    curl_easy_setopt(curl, CURLOPT_USERAGENT, internet->userAgent.c_str());
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, r->timeoutMs);
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, r->headers);
    curl_easy_setopt(curl, CURLOPT_NOPROXY, "*");
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    // The body runs to the connection's end, whatever the header claims (as WinINet reads an
    // HTTP/1.0 response); the header itself still sizes the reads.
    curl_easy_setopt(curl, CURLOPT_IGNORE_CONTENT_LENGTH, 1L);
    if (!url.user.empty()) curl_easy_setopt(curl, CURLOPT_USERNAME, url.user.c_str());
    if (!url.password.empty()) curl_easy_setopt(curl, CURLOPT_PASSWORD, url.password.c_str());
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, OnBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, r);
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, OnHeader);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, r);
    r->multi = curl_multi_init();
    if (!r->multi || curl_multi_add_handle(r->multi, curl) != CURLM_OK) return false;
    r->running = true;
    RunUntil(r, [r] { return r->headDone; });
    return r->status != 0;  // a response arrived, however it ended
}

bool QueryRedirect(Handle request, const std::string& url, std::string& target) {
    const Object* r = O(request);
    const long s = r->status;
    if ((s != 301 && s != 302 && s != 303 && s != 307 && s != 308) || r->location.empty())
        return false;
    CURLU* u = curl_url();
    char* out = nullptr;
    const bool ok = curl_url_set(u, CURLUPART_URL, url.c_str(), 0) == CURLUE_OK &&
                    curl_url_set(u, CURLUPART_URL, r->location.c_str(), 0) == CURLUE_OK &&
                    curl_url_get(u, CURLUPART_URL, &out, 0) == CURLUE_OK;
    if (ok) target = out;
    curl_free(out);
    curl_url_cleanup(u);
    return ok;
}

bool QueryContentLength(Handle request, std::string& text) {
    Object* r = O(request);
    if (!r->hasContentLength) return false;
    text = r->contentLength;
    return true;
}

bool ReadResponse(Handle request, std::uint8_t* buffer, std::size_t size, std::size_t& got) {
    Object* r = O(request);
    r->readSizes.push_back(size);
    RunUntil(r, [r] { return r->next < r->body.size(); });
    got = std::min(size, r->body.size() - r->next);
    std::memcpy(buffer, r->body.data() + r->next, got);
    r->next += got;
    if (r->next == r->body.size()) r->body.clear(), r->next = 0;  // read: not kept
    return got > 0 || !r->failed;
}

void CloseHandle(Handle handle) {
    Object* o = O(handle);
    if (!o) return;
    if (o->kind == Object::kRequest) {
        std::lock_guard<std::mutex> lock(g_mutex);
        g_lastReadSizes = o->readSizes;
        --g_requests;
    }
    delete o;
}

}  // namespace platform::internet

namespace platform::hooks {

std::vector<std::size_t> HttpReadSizes() {
    std::lock_guard<std::mutex> lock(internet::g_mutex);
    return internet::g_lastReadSizes;
}

int InternetHandlesOpened() {
    std::lock_guard<std::mutex> lock(internet::g_mutex);
    return internet::g_internets;
}

int RequestsOpen() {
    std::lock_guard<std::mutex> lock(internet::g_mutex);
    return internet::g_requests;
}

}  // namespace platform::internet
