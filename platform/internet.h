// The internet half of the seam to the operating system, call for call the Windows internet client
// (WinINet) as the download uses it. The headless layer carries out the same calls over
// libcurl, http only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/handles.h"

namespace platform::internet {

using Handle = InternetHandle;

struct UrlParts {
    std::string host, object, user, password;  // object: path and query
    int port = 0;  // the scheme's default when none is written
    bool secure = false;  // https
};
// Canonicalises the URL without escaping unsafe characters and splits it, with room for at
// most 256 bytes of host, 2048 of object and 128 each of user name and password. False when it
// cannot be split, or the scheme is neither http nor https.
bool SplitUrl(const std::string& url, UrlParts& parts);

// The root internet handle: the user agent, direct access.
Handle OpenInternet(const std::string& userAgent);
// A connection to the URL's host and port, with its user name and password (HTTP service).
Handle Connect(Handle internet, const UrlParts& url);
// No proxy: the proxy option with the pre-configured access type and no server on the
// internet handle, empty proxy user name and password on the connection.
void SetNoProxy(Handle internet, Handle connection);
// GET object HTTP/1.0, no referrer, the accept type "Accept: */* \r\n", always from the server
// and never into the cache, redirects not followed; secure adds TLS. The time-out bounds
// connecting, sending and each wait for the server's next bytes.
Handle OpenRequest(Handle connection, const std::string& object, bool secure,
                   unsigned long timeoutMs);
bool SendRequest(Handle request, const std::string& headers);
// True when the response redirects (301, 302, 303, 307, 308) with a Location: target is that
// location resolved against url, the request's own.
bool QueryRedirect(Handle request, const std::string& url, std::string& target);
// The response's Content-Length header as text, read into a buffer of 32 bytes.
bool QueryContentLength(Handle request, std::string& text);
// Reads up to size bytes of the body; got 0 with true: the body is complete. A failed read may
// still have stored got bytes.
bool ReadResponse(Handle request, std::uint8_t* buffer, std::size_t size, std::size_t& got);
void CloseHandle(Handle handle);

}  // namespace platform::internet
