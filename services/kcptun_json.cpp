// The client's JSON config, read by a small strict reader of our own: RFC 8259 and nothing more
// (no comments, no trailing commas, one value only, UTF-8 checked), numbers kept as text, and
// only the top-level object's members collected. The general JSON libraries cost several times
// this much of the exe.
#include "services/kcptun_json.h"

#include <cstring>
#include <vector>

#include "platform/codepage.h"
#include "services/client_flags.h"

namespace sk {

const char* const kModeNames[5] = {"default", "normal", "fast", "fast2", "fast3"};

namespace {

// --- UTF-8 ----------------------------------------------------------------------------------
// One sequence at p (p < end), strictly: no overlong forms, surrogates or values past U+10FFFF.
// -1 for a bad one.
long NextUtf8(const char*& p, const char* end) {
    const auto b = static_cast<unsigned char>(*p++);
    if (b < 0x80) return b;
    const int n = b >= 0xF5 ? 0 : b >= 0xF0 ? 3 : b >= 0xE0 ? 2 : b >= 0xC0 ? 1 : 0;
    if (n == 0) return -1;
    long c = b & (0x3F >> n);
    for (int k = 0; k < n; ++k, ++p) {
        if (p == end || (*p & 0xC0) != 0x80) return -1;
        c = c << 6 | (*p & 0x3F);
    }
    static const long kLeast[] = {0, 0x80, 0x800, 0x10000};
    return c < kLeast[n] || c > 0x10FFFF || (c >= 0xD800 && c < 0xE000) ? -1 : c;
}

char* PutUtf8(char* to, long c) {
    if (c < 0x80) {
        *to++ = static_cast<char>(c);
        return to;
    }
    const int n = c < 0x800 ? 1 : c < 0x10000 ? 2 : 3;
    *to++ = static_cast<char>((0xFF00 >> (n + 1) & 0xFF) | c >> 6 * n);  // 110..., 1110..., 11110...
    for (int k = n - 1; k >= 0; --k) *to++ = static_cast<char>(0x80 | (c >> 6 * k & 0x3F));
    return to;
}

// --- the reader -----------------------------------------------------------------------------
// The first three stand as FlagType does: the kind each type of flag wants.
enum class Kind { String, Number, Bool, Null, Composite };
struct Member {
    std::string_view key, text;  // text: a string's value, or a number or true/false as written
    Kind kind;
};

constexpr int kMaxDepth = 64;  // deeper nesting is refused rather than followed

// Reads one JSON text in place (strings are unescaped where they stand: never longer than
// written). On failure `p` is where the text stops being JSON.
struct JsonReader {
    char* p;
    char* end;
    std::vector<Member> members;  // the top-level object's, in order

    void SkipBlanks() {
        while (p < end && (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r')) ++p;
    }
    bool Take(char c) {
        SkipBlanks();
        return p < end && *p == c && ++p;
    }
    bool Literal(const char* word) {
        const std::size_t n = std::strlen(word);
        if (static_cast<std::size_t>(end - p) < n || std::memcmp(p, word, n) != 0) return false;
        p += n;
        return true;
    }
    bool Digits() {
        const char* start = p;
        while (p < end && *p >= '0' && *p <= '9') ++p;
        return p > start;
    }
    bool Number() {
        if (*p == '-') ++p;
        if (p < end && *p == '0') ++p;
        else if (!Digits()) return false;
        if (p < end && *p == '.' && (++p, !Digits())) return false;
        if (p < end && (*p == 'e' || *p == 'E')) {
            ++p;
            if (p < end && (*p == '+' || *p == '-')) ++p;
            return Digits();
        }
        return true;
    }
    long Hex4() {
        long v = 0;
        for (int k = 0; k < 4; ++k, ++p) {
            const int c = p < end ? *p | 0x20 : 0;  // lower case for letters
            const int d = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
            if (d < 0) return -1;
            v = v * 16 + d;
        }
        return v;
    }
    // p at the opening quote; after it, p is past the closing one.
    bool String(std::string_view& out) {
        static const char kEscaped[] = "\"\\/bfnrt", kMeant[] = "\"\\/\b\f\n\r\t";
        char* const start = ++p;
        char* to = start;
        while (p < end && *p != '"') {
            if (static_cast<unsigned char>(*p) < 0x20) return false;
            if (*p != '\\') {
                const char* next = p;
                if (NextUtf8(next, end) < 0) return false;
                while (p < next) *to++ = *p++;
                continue;
            }
            if (++p == end) return false;
            const char* simple = std::strchr(kEscaped, *p);
            if (simple && *p) {
                *to++ = kMeant[simple - kEscaped];
                ++p;
                continue;
            }
            if (*p++ != 'u') return false;
            long c = Hex4();
            if (c >= 0xD800 && c < 0xDC00) {  // a surrogate pair, written as two escapes
                if (!Literal("\\u")) return false;
                const long low = Hex4();
                if (low < 0xDC00 || low >= 0xE000) return false;
                c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
            } else if (c < 0 || (c >= 0xDC00 && c < 0xE000)) {
                return false;
            }
            to = PutUtf8(to, c);
        }
        if (p == end) return false;
        ++p;
        out = std::string_view(start, static_cast<std::size_t>(to - start));
        return true;
    }
    // An object or array, p at its bracket; depth 1 is the top level.
    bool Composite(int depth) {
        const bool object = *p++ == '{';
        const char close = object ? '}' : ']';
        if (Take(close)) return true;
        do {
            Member m{};
            if (object) {
                SkipBlanks();
                char* const keyAt = p + 1;
                if (p == end || *p != '"' || !String(m.key) || !Take(':')) return false;
                if (depth == 1)
                    for (const Member& seen : members)
                        if (SameKey(seen.key, m.key)) return p = keyAt, false;
            }
            if (!Value(depth, m.kind, m.text)) return false;
            if (object && depth == 1) members.push_back(m);
        } while (Take(','));
        return Take(close);
    }
    bool Value(int depth, Kind& kind, std::string_view& text) {
        SkipBlanks();
        if (p == end) return false;
        char* const start = p;
        bool ok;
        if (*p == '"') {
            kind = Kind::String;
            return String(text);
        } else if (*p == '{' || *p == '[') {
            kind = Kind::Composite;
            ok = depth < kMaxDepth && Composite(depth + 1);
        } else if (*p == 't' || *p == 'f') {
            kind = Kind::Bool;
            ok = Literal(*p == 't' ? "true" : "false");
        } else if (*p == 'n') {
            kind = Kind::Null;
            ok = Literal("null");
        } else {
            kind = Kind::Number;
            ok = Number();
        }
        text = std::string_view(start, static_cast<std::size_t>(p - start));
        return ok;
    }
};

// --- the values ----------------------------------------------------------------------------
bool IsDecimalInt32(std::string_view t, std::int32_t& value) {
    std::size_t i = t.size() > 1 && t[0] == '-' ? 1 : 0;
    if (i == t.size() || (t[i] == '0' && t.size() > i + 1) || t.size() - i > 10) return false;
    std::int64_t v = 0;
    for (; i < t.size(); ++i) {
        if (t[i] < '0' || t[i] > '9') return false;
        v = v * 10 + (t[i] - '0');
    }
    if (t[0] == '-') v = -v;
    if (v < INT32_MIN || v > INT32_MAX) return false;
    value = static_cast<std::int32_t>(v);
    return true;
}

// What cmd would split or read as its own: blanks (unless allowed), " % & | < > ^ and controls.
bool CommandLineSafe(std::string_view t, bool blanksAllowed) {
    for (char c : t) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F || (c == ' ' && !blanksAllowed) || std::strchr("\"%&|<>^", c))
            return false;
    }
    return true;
}

// Appends UTF-8 in the ANSI code page; false when a character has no place there.
bool AppendAnsi(Text& to, std::string_view utf8) {
    std::u16string units;
    platform::Utf16FromUtf8(utf8, units);  // the reader let only valid UTF-8 through
    const Text ansi = platform::AnsiFromUtf16(units);
    to += ansi;
    return platform::Utf16FromAnsi(ansi) == units;
}

// One out-of-line comparison with a word: inline, each costs several times the call.
__attribute__((noinline)) bool Is(std::string_view text, const char* word) { return text == word; }

// "host:port" with a host and a port 1-65535, as remoteaddr must be.
bool IsServerAddress(std::string_view address) {
    const std::size_t colon = address.rfind(':');
    std::int32_t port;
    return colon != std::string_view::npos && !Unbracketed(address.substr(0, colon)).empty() &&
           IsDecimalInt32(address.substr(colon + 1), port) && port >= 1 && port <= 65535;
}

// Whether localaddr names an address of its own to listen on, which 本地端口 alone cannot say.
bool ListensOnOneAddress(std::string_view localaddr) {
    const std::size_t colon = localaddr.rfind(':');
    const std::string_view host =
        Unbracketed(localaddr.substr(0, colon == std::string_view::npos ? 0 : colon));
    return !host.empty() && !Is(host, "0.0.0.0") && !Is(host, "::");
}

// "-name value", "-name" or (name "") the value alone, after a blank unless first.
__attribute__((noinline)) void AddFlag(Text& flags, const char* name, std::string_view value) {
    if (!flags.empty()) flags += ' ';
    if (*name) {
        flags += '-';
        flags += name;
        if (!value.empty()) flags += ' ';
    }
    flags += value;
}

// The keys that are more than a flag, by what they give.
enum Role { kRemarks, kRest, kRemote, kLocal, kKey, kMode, kDscp, kMtu, kSndwnd, kRcvwnd, kFlag };
constexpr const char* kRoleKeys[kFlag] = {"remarks", "skiplane_other", "remoteaddr", "localaddr",
                                          "key",     "mode",           "dscp",       "mtu",
                                          "sndwnd",  "rcvwnd"};
constexpr const char* kWindowDefaults[3] = {"1350", "128", "512"};

// The members as a node, in the file's order; `key` is set to the key a refusal names. Each key
// comes once, so the node's fields are empty until their key is read. Out of line: inlined into
// its one caller it costs more.
__attribute__((noinline)) ConfigError TakeMembers(const std::vector<Member>& members,
                                                  const SharedWindows& shared, ImportedConfig& r,
                                                  std::string_view& key) {
    NodeFields& node = r.node;
    Text& flags = node.other;
    Text rest, scratch;
    const Text* const windows[3] = {&shared.mtu, &shared.sndwnd, &shared.rcvwnd};
    bool seenRemote = false, seenLocal = false;
    bool pinned[3] = {};
    for (const Member& m : members) {
        if (m.kind == Kind::Null) continue;
        key = m.key;
        int role = 0;
        while (role < kFlag && !SameKey(key, kRoleKeys[role])) ++role;
        const ClientFlag* flag = role <= kRest ? nullptr : FindKey(key);
        if (role > kRest && (!flag || flag->leftOut)) {
            if (!r.leftOut.empty()) r.leftOut += "、";
            AppendAnsi(r.leftOut, key);
            continue;
        }
        const FlagType type = flag ? flag->type : FlagType::Text;
        std::int32_t n = 0;
        if (m.kind != static_cast<Kind>(type) ||
            (type == FlagType::Integer && !IsDecimalInt32(m.text, n)))
            return ConfigError::WrongType;
        // The value as the node holds it: in the code page, an integer in decimal.
        scratch.clear();
        Text* const into = role == kRemarks          ? &node.remarks
                           : role == kRest           ? &rest
                           : role == kKey            ? &node.key
                           : role == kDscp && n != 0 ? &node.dscp
                                                     : &scratch;
        if (type == FlagType::Integer) {
            into->append(ToText(n));  // into is empty here
        } else if (type == FlagType::Text) {
            if (role == kKey && m.text.empty()) return ConfigError::EmptyKey;
            if (role != kRemarks && (m.text.empty() || !CommandLineSafe(m.text, role == kRest)))
                return ConfigError::CommandLine;
            if (!AppendAnsi(*into, m.text)) return ConfigError::CodePage;
        }
        const std::string_view v = *into;
        // Around the last colon: without one, all of it is the port.
        const std::size_t colon = v.rfind(':');
        std::string_view port = v;
        port.remove_prefix(colon + 1);
        switch (role) {
        case kRemarks:
            r.hasRemarks = true;
            break;
        case kRemote:
            if (!IsServerAddress(v)) return ConfigError::BadRemoteAddr;
            node.server.append(v.data(), colon);
            node.serverPort.append(port);
            seenRemote = true;
            break;
        case kLocal:
            node.localPort.append(port);
            seenLocal = true;
            if (ListensOnOneAddress(v)) AddFlag(flags, "l", v);
            break;
        case kMode: {
            int i = 4;
            while (i >= 0 && !Is(v, kModeNames[i])) --i;
            node.mode = i < 0 ? 0 : i;  // an unknown mode is "default" with its own flag
            if (i < 0) AddFlag(flags, "mode", v);
            break;
        }
        case kMtu:
        case kSndwnd:
        case kRcvwnd:
            pinned[role - kMtu] = true;
            if (!Is(v, windows[role - kMtu]->c_str())) AddFlag(flags, kRoleKeys[role], v);
            break;
        case kFlag:
            if (type == FlagType::Bool ? m.text[0] == 't' : !(flag->zeroIsDefault && n == 0))
                AddFlag(flags, flag->name, type == FlagType::Bool ? std::string_view() : v);
        }
    }
    key = "remoteaddr";
    if (!seenRemote) return ConfigError::NoRemoteAddr;
    if (!seenLocal) node.localPort.append("12948");  // the client's default
    for (int i = 0; i < 3; ++i)
        if (!pinned[i] && !Is(*windows[i], kWindowDefaults[i]))
            AddFlag(flags, kRoleKeys[kMtu + i], kWindowDefaults[i]);
    if (!rest.empty()) AddFlag(flags, "", rest);
    return ConfigError::None;
}

int LineAt(std::string_view text, std::size_t offset) {
    int line = 1;
    for (std::size_t i = 0; i < offset && i < text.size(); ++i) line += text[i] == '\n';
    return line;
}

}  // namespace

ImportedConfig ReadClientConfig(std::string_view text, const SharedWindows& shared) {
    ImportedConfig r;
    if (Is(text.substr(0, 3), "\xEF\xBB\xBF")) text.remove_prefix(3);
    std::string buffer;  // read and unescaped in place
    buffer.append(text.data(), text.size());
    JsonReader reader{buffer.data(), buffer.data() + buffer.size(), {}};
    reader.SkipBlanks();
    const bool object = reader.p < reader.end && *reader.p == '{';
    Kind kind;
    std::string_view value;
    if (!reader.Value(0, kind, value) || (reader.SkipBlanks(), reader.p != reader.end)) {
        r.error = ConfigError::Syntax;
        r.line = LineAt(text, static_cast<std::size_t>(reader.p - buffer.data()));
    } else if (!object) {
        r.error = ConfigError::NotObject;
    } else {
        std::string_view key;
        r.error = TakeMembers(reader.members, shared, r, key);
        if (r.error != ConfigError::None) r.key.append(key);
    }
    return r;
}

namespace {

void PutJsonString(std::string& out, std::string_view utf8) {
    out += '"';
    for (char ch : utf8) {
        const auto u = static_cast<unsigned char>(ch);
        if (ch == '"' || ch == '\\') {
            out += '\\';
            out += ch;
        } else if (u < 0x20) {
            static const char hex[] = "0123456789abcdef";
            out += "\\u00";
            out += hex[u >> 4];
            out += hex[u & 15];
        } else {
            out += ch;
        }
    }
    out += '"';
}

// Starts the next line: `  "key": `.
void PutKey(std::string& out, const char* key) {
    out += out.size() > 1 ? ",\r\n  \"" : "\r\n  \"";
    out += key;
    out += "\": ";
}

void PutText(std::string& out, const char* key, std::string_view ansi) {
    PutKey(out, key);
    PutJsonString(out, platform::Utf8FromUtf16(platform::Utf16FromAnsi(ansi)));
}

// Nothing for a text that is not a decimal integer, or for 0 where 0 is the client's default.
void PutInteger(std::string& out, const char* key, std::string_view text, bool zeroIsDefault) {
    std::int32_t n;
    if (!IsDecimalInt32(text, n) || (zeroIsDefault && n == 0)) return;
    PutKey(out, key);
    out += ToText(n);
}

// A flag as its key; nothing at the client's default.
void PutFlag(std::string& out, const FlagUse& use) {
    const ClientFlag& f = *use.flag;
    bool truth = false;
    if (f.type == FlagType::Text) {
        PutText(out, f.key, use.value);
    } else if (f.type == FlagType::Integer) {
        PutInteger(out, f.key, use.value, f.zeroIsDefault);
    } else if (ParseGoBool(use.value, truth) && truth) {
        PutKey(out, f.key);
        out += "true";
    }
}

// Whether an import would give the flag back as it is (never log and profiling; a text only
// where the import takes it: not empty, remoteaddr as host:port, localaddr as -l).
bool TurnsBack(const FlagUse& use) {
    const ClientFlag& f = *use.flag;
    std::int32_t n;
    bool truth;
    if (f.leftOut) return false;
    if (f.type == FlagType::Text)
        return !use.value.empty() &&
               (std::strcmp(f.key, "remoteaddr") || IsServerAddress(use.value)) &&
               (std::strcmp(f.key, "localaddr") || ListensOnOneAddress(use.value));
    return f.type == FlagType::Integer ? IsDecimalInt32(use.value, n) : ParseGoBool(use.value, truth);
}

// The keys the node's fields give, in the copy's order.
constexpr const char* kFieldKeys[] = {"localaddr", "remoteaddr", "key", "mode",
                                      "mtu",       "sndwnd",     "rcvwnd", "dscp"};

}  // namespace

std::string WriteClientConfig(const NodeFields& node, const SharedWindows& shared) {
    const ClientFlags read = ReadClientFlags(node.other);
    std::size_t count = 0;  // the flags turned back: up to the first that cannot be
    while (count < read.uses.size() && TurnsBack(read.uses[count])) ++count;
    const std::size_t stop = count < read.uses.size() ? read.uses[count].at : read.stop;
    // The client takes a flag's last use.
    auto last = [&](const ClientFlag* f) -> const FlagUse* {
        for (std::size_t i = count; i-- > 0;)
            if (read.uses[i].flag == f) return &read.uses[i];
        return nullptr;
    };

    std::string out(1, '{');
    Text address;  // ":port", then "host:port"
    const Text* const windows[3] = {&shared.mtu, &shared.sndwnd, &shared.rcvwnd};
    for (int i = 0; i < 8; ++i) {
        const char* const key = kFieldKeys[i];
        if (const FlagUse* use = last(FindKey(key))) {
            PutFlag(out, *use);
        } else if (i == 0) {
            PutText(out, key, address.append(":").append(node.localPort));
        } else if (i == 1) {
            PutText(out, key, address.assign(node.server).append(":").append(node.serverPort));
        } else if (i == 2) {
            if (!node.key.empty()) PutText(out, key, node.key);
        } else if (i == 3) {
            if (node.mode >= 0 && node.mode < 5) PutText(out, key, kModeNames[node.mode]);
        } else {
            PutInteger(out, key, i == 7 ? node.dscp : *windows[i - 4], i == 7);
        }
    }
    for (std::size_t i = 0; i < count; ++i) {
        const FlagUse& use = read.uses[i];
        int field = 0;
        while (field < 8 && std::strcmp(kFieldKeys[field], use.flag->key)) ++field;
        if (field == 8 && last(use.flag) == &use) PutFlag(out, use);
    }
    std::string_view rest = node.other;
    rest.remove_prefix(std::min(stop, rest.size()));
    while (!rest.empty() && (rest.back() == ' ' || rest.back() == '\t')) rest.remove_suffix(1);
    if (!rest.empty()) PutText(out, "skiplane_other", rest);
    PutText(out, "remarks", node.remarks);
    out += "\r\n}\r\n";
    return out;
}

}  // namespace sk
