// The download's calls over libcurl, http only. Sending carries out the whole transfer into
// memory; the reads then hand the body out in the sizes asked for, and a transfer that broke
// off reports its read error after the bytes that came.
#include <curl/curl.h>

#include <algorithm>
#include <cstring>
#include <mutex>

#include "platform/headless/internet_hooks.h"
#include "platform/internet.h"

namespace platform::internet {

namespace {

// Internet handles, connections and requests alike: each kind uses its own fields.
struct Object {
    enum Kind { kInternet, kConnection, kRequest } kind;
    explicit Object(Kind k) : kind(k) {}
    std::string userAgent;  // internet handle
    UrlParts url;           // connection
    const Object* parent = nullptr;
    // request
    std::string object, contentLength, body;
    long timeoutMs = 0;
    bool hasContentLength = false;
    std::size_t next = 0;
    bool failed = false;  // the transfer broke off
    std::vector<std::size_t> readSizes;
};
Object* O(Handle h) { return NativeOf<Object>(h); }
Handle Of(Object* o) { return HandleOf<Handle>(o); }

std::mutex g_mutex;  // the hooks' records; handles belong to one thread each
std::vector<std::size_t> g_lastReadSizes;
int g_internets = 0;

// The whole body arrives before the first read here, so the stand-in keeps at most this much
// of it (far more than a reader takes) and then drops the connection: a server that never
// stops sending cannot fill the memory.
constexpr std::size_t kMaxBufferedBody = 16 * 1024 * 1024;

std::size_t OnBody(char* data, std::size_t size, std::size_t n, void* request) {
    std::string& body = static_cast<Object*>(request)->body;
    if (body.size() + size * n > kMaxBufferedBody) return 0;  // ends the transfer as failed
    body.append(data, size * n);
    return size * n;
}

std::size_t OnHeader(char* data, std::size_t size, std::size_t n, void* request) {
    auto* r = static_cast<Object*>(request);
    const std::string line(data, size * n);
    if (line.rfind("HTTP/", 0) == 0) r->hasContentLength = false;  // a new response (redirect)
    const char kName[] = "content-length:";
    if (line.size() > sizeof kName - 1 &&
        strncasecmp(line.c_str(), kName, sizeof kName - 1) == 0) {
        std::string value = line.substr(sizeof kName - 1);
        value.erase(0, value.find_first_not_of(" \t"));
        value.erase(value.find_last_not_of("\r\n \t") + 1);
        r->contentLength = value.substr(0, 31);
        r->hasContentLength = true;
    }
    return size * n;
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
    const std::string target =
        "http://" + url.host + ":" + std::to_string(url.port) + r->object;
    curl_slist* list = nullptr;
    // The additional headers, one line each (the blank line ending them is the request's own).
    for (std::size_t at = 0; at < headers.size();) {
        const std::size_t end = headers.find("\r\n", at);
        const std::string line = headers.substr(at, end == std::string::npos ? end : end - at);
        if (!line.empty()) list = curl_slist_append(list, line.c_str());
        if (end == std::string::npos) break;
        at = end + 2;
    }
    curl_easy_setopt(curl, CURLOPT_URL, target.c_str());
    curl_easy_setopt(curl, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_1_0);
    const Object* internet = r->parent->parent;
    curl_easy_setopt(curl, CURLOPT_USERAGENT, internet->userAgent.c_str());
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, r->timeoutMs);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);  // a wait that brings nothing
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, (r->timeoutMs + 999) / 1000);
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, list);
    curl_easy_setopt(curl, CURLOPT_NOPROXY, "*");
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);  // as WinINet does by default
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 10L);  // WinINet's own limit is its own affair
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
    const CURLcode code = curl_easy_perform(curl);
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    curl_easy_cleanup(curl);
    curl_slist_free_all(list);
    r->failed = code != CURLE_OK;
    return status != 0;  // a response arrived, however it ended
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
    got = std::min(size, r->body.size() - r->next);
    std::memcpy(buffer, r->body.data() + r->next, got);
    r->next += got;
    return got > 0 || !r->failed;
}

void CloseHandle(Handle handle) {
    Object* o = O(handle);
    if (!o) return;
    if (o->kind == Object::kRequest) {
        std::lock_guard<std::mutex> lock(g_mutex);
        g_lastReadSizes = o->readSizes;
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

}  // namespace platform::internet
