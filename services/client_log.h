// What the client left in kcptun.log: its last words, for telling the user why it ended.
#pragma once

#include <string_view>

#include "services/text.h"

namespace sk {

struct ClientLastWords {
    Text errorLine;  // the first line that holds one of the client's error words, else ""
    Text lastLine;   // the last line with anything on it; "" for a missing or empty log
};

// Reads the log's last 64 KB, sharing everything with the client that may still write it. Each
// line loses Go's "YYYY/MM/DD HH:MM:SS " stamp and "file.go:NN: " prefix, and is turned from
// UTF-8 (the client's own text, the system's messages in it included) into the code page, or
// from the OEM code page where it is no UTF-8 (cmd.exe's own errors).
ClientLastWords ReadClientLastWords(std::string_view logPath);

}  // namespace sk
