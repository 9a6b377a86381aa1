// The download's calls on WinINet, ANSI forms.
#include "platform/internet.h"

#include <windows.h>
#include <wininet.h>

#include <vector>

namespace platform::internet {

namespace {
HINTERNET H(Handle h) { return NativeOf<void>(h); }
Handle Of(HINTERNET h) { return HandleOf<Handle>(h); }
}  // namespace

bool SplitUrl(const std::string& url, UrlParts& parts) {
    DWORD size = static_cast<DWORD>(url.size()) * 3 + 16;
    std::vector<char> canonical(size, '\0');
    if (!InternetCanonicalizeUrlA(url.c_str(), canonical.data(), &size, ICU_NO_ENCODE))
        return false;
    char host[256] = {}, object[2048] = {}, user[128] = {}, password[128] = {};
    URL_COMPONENTSA c{};
    c.dwStructSize = sizeof c;
    c.lpszHostName = host;
    c.dwHostNameLength = sizeof host;
    c.lpszUrlPath = object;
    c.dwUrlPathLength = sizeof object;
    c.lpszUserName = user;
    c.dwUserNameLength = sizeof user;
    c.lpszPassword = password;
    c.dwPasswordLength = sizeof password;
    if (!InternetCrackUrlA(canonical.data(), 0, 0, &c)) return false;
    if (c.nScheme != INTERNET_SCHEME_HTTP && c.nScheme != INTERNET_SCHEME_HTTPS) return false;
    parts.host = host;
    parts.object = object;
    parts.user = user;
    parts.password = password;
    parts.port = c.nPort;
    parts.secure = c.nScheme == INTERNET_SCHEME_HTTPS;
    return true;
}

Handle OpenInternet(const std::string& userAgent) {
    return Of(InternetOpenA(userAgent.c_str(), INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0));
}

Handle Connect(Handle internet, const UrlParts& url) {
    return Of(InternetConnectA(H(internet), url.host.c_str(), static_cast<INTERNET_PORT>(url.port),
                               url.user.c_str(), url.password.c_str(), INTERNET_SERVICE_HTTP, 0, 0));
}

void SetNoProxy(Handle internet, Handle connection) {
    INTERNET_PROXY_INFO proxy{INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr};
    InternetSetOptionA(H(internet), INTERNET_OPTION_PROXY, &proxy, sizeof proxy);
    char empty[1] = "";
    InternetSetOptionA(H(connection), INTERNET_OPTION_PROXY_USERNAME, empty, 0);
    InternetSetOptionA(H(connection), INTERNET_OPTION_PROXY_PASSWORD, empty, 0);
}

Handle OpenRequest(Handle connection, const std::string& object, bool secure,
                   unsigned long timeoutMs) {
    const char* acceptTypes[] = {"Accept: */* \r\n", nullptr};
    // Redirects are followed by the caller, each within its one deadline: WinINet's own
    // following runs on inside HttpSendRequest.
    DWORD flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_NO_AUTO_REDIRECT;
    if (secure) flags |= INTERNET_FLAG_SECURE;
    HINTERNET request = HttpOpenRequestA(H(connection), "GET", object.c_str(), "HTTP/1.0", nullptr,
                                         acceptTypes, flags, 0);
    // On the request itself: Wine's WinINet does not pass a parent handle's time-outs down.
    DWORD timeout = timeoutMs;
    for (DWORD option : {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT,
                         INTERNET_OPTION_RECEIVE_TIMEOUT})
        if (request) InternetSetOptionA(request, option, &timeout, sizeof timeout);
    return Of(request);
}

bool SendRequest(Handle request, const std::string& headers) {
    return HttpSendRequestA(H(request), headers.c_str(), static_cast<DWORD>(headers.size()),
                            nullptr, 0) != FALSE;
}

bool QueryRedirect(Handle request, const std::string& url, std::string& target) {
    DWORD status = 0, size = sizeof status;
    if (!HttpQueryInfoA(H(request), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status,
                        &size, nullptr) ||
        (status != 301 && status != 302 && status != 303 && status != 307 && status != 308))
        return false;
    char location[2048] = {}, combined[2048 + 300] = {};
    size = sizeof location;
    if (!HttpQueryInfoA(H(request), HTTP_QUERY_LOCATION, location, &size, nullptr)) return false;
    size = sizeof combined;
    if (!InternetCombineUrlA(url.c_str(), location, combined, &size, ICU_NO_ENCODE)) return false;
    target = combined;
    return true;
}

bool QueryContentLength(Handle request, std::string& text) {
    char buffer[32] = {};
    DWORD size = sizeof buffer;
    if (!HttpQueryInfoA(H(request), HTTP_QUERY_CONTENT_LENGTH, buffer, &size, nullptr)) return false;
    text.assign(buffer, size < sizeof buffer ? size : sizeof buffer - 1);
    return true;
}

bool ReadResponse(Handle request, std::uint8_t* buffer, std::size_t size, std::size_t& got) {
    // A read waits until its whole size came or the body ended: asked for what is there (after
    // a wait for some), it returns as soon as anything came.
    DWORD there = 0, read = 0;
    if (InternetQueryDataAvailable(H(request), &there, 0, 0) && there < size) size = there;
    const bool ok = InternetReadFile(H(request), buffer, static_cast<DWORD>(size), &read) != FALSE;
    // A read that fails part way (Wine reports a reset so) still tells what it stored.
    got = read <= size ? read : 0;
    return ok;
}

void CloseHandle(Handle handle) {
    if (IsSet(handle)) InternetCloseHandle(H(handle));
}

}  // namespace platform::internet
