// HTTP download: the body of one URL, fetched with a GET of a fixed form. Blocking; called from
// the update check's worker thread. Shows nothing and never ends the program.
#pragma once

#include <cstddef>
#include <string_view>

#include "services/text.h"

namespace sk {

// The bytes received, also when the transfer failed part way; empty when nothing came. The
// HTTP status is not examined: an error page's body comes back like any other. Whatever the
// server does, the download ends within deadlineMs and keeps at most kHttpMaxBody bytes (the
// rest is left unread, as if the connection had dropped there). Redirects are followed, at
// most 10. A download given up at its deadline goes on alone at most until its current wait
// on the server ends; a later download waits for it, within its own deadline.
constexpr std::size_t kHttpMaxBody = 1024 * 1024;
constexpr unsigned long kHttpDeadlineMs = 60000;
Bytes HttpReadFile(const Text& url, unsigned long deadlineMs = kHttpDeadlineMs);

// The read size for a Content-Length header's text (as the C library's decimal parse reads
// it): length + 1, at most 102400; 10240 without a usable length.
std::size_t HttpReadSize(const char* contentLength);

// Downloads begun and not yet ended, abandoned ones included.
int HttpTransfersAlive();

// Closes the internet handle (the normal end of the program); a download still running keeps
// it until it ends.
void CloseInternetHandle();

}  // namespace sk
