// A node as the kcptun client's own JSON config (what "client -c file.json" reads): read from
// one, and written as one. JSON texts are UTF-8; node texts are in the ANSI code page.
#pragma once

#include <string>
#include <string_view>

#include "services/text.h"

namespace sk {

// The mode list's items, by position.
extern const char* const kModeNames[5];

// What a node is made of, in the window's terms.
struct NodeFields {
    Text remarks, localPort, server, serverPort, key, dscp, other;
    int mode = 2;  // position in the mode list, -1 for none
};

// The shared 宽带配置 fields an import compares mtu, sndwnd and rcvwnd with.
struct SharedWindows {
    Text mtu, sndwnd, rcvwnd;
};

enum class ConfigError {
    None,
    Syntax,        // not JSON; `line` tells where
    NotObject,
    WrongType,     // `key` holds a value of the wrong type
    NoRemoteAddr,
    BadRemoteAddr,
    EmptyKey,      // "key": ""
    CommandLine,   // `key` holds what the command line cannot carry
    CodePage,      // `key` holds a character the code page lacks
};

struct ImportedConfig {
    ConfigError error = ConfigError::None;
    int line = 0;
    Text key;  // the key as the file spells it (ASCII)
    NodeFields node;
    bool hasRemarks = false;
    Text leftOut;  // the keys not taken, in the file's order, joined by "、"
};

// Reads a config strictly (no comments, trailing commas, duplicate keys, text after the object
// or nesting deeper than 64 levels). A UTF-8 byte order mark is skipped.
ImportedConfig ReadClientConfig(std::string_view utf8, const SharedWindows& shared);

// The node as the client's config: two-space indent, CR LF line ends, keys in a fixed order;
// what 其他参数 cannot turn back into keys goes whole into "skiplane_other".
std::string WriteClientConfig(const NodeFields& node, const SharedWindows& shared);

}  // namespace sk
