// The client's JSON config, read with RapidJSON's SAX reader: header-only, no exceptions, no
// RTTI, strict by default (no comments, no trailing commas, one value only), and with numbers
// kept as text no floating-point conversion is linked in.
#include "services/kcptun_json.h"

#include <rapidjson/reader.h>

#include "platform/codepage.h"
#include "services/client_flags.h"

namespace sk {

const char* const kModeNames[5] = {"default", "normal", "fast", "fast2", "fast3"};

namespace {

// --- UTF-8 ----------------------------------------------------------------------------------
void PutUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | c >> 6);
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | c >> 12);
        out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | c >> 18);
        out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
        out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// --- what the reader hands over ------------------------------------------------------------
enum class Kind { Null, Bool, Number, String, Composite };
struct Member {
    std::string_view key, text;
    Kind kind = Kind::Null;
    bool truth = false;
    std::size_t at = 0;  // the key's offset
};

bool SameIgnoringAsciiCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x += 'a' - 'A';
        if (y >= 'A' && y <= 'Z') y += 'a' - 'A';
        if (x != y) return false;
    }
    return true;
}

// Collects the top-level object's members; nested values only count as "not a scalar".
struct Collector : rapidjson::BaseReaderHandler<rapidjson::UTF8<>, Collector> {
    const char* base = nullptr;
    std::vector<Member> members;
    int depth = 0;
    bool notObject = false;
    bool duplicate = false;
    std::size_t duplicateAt = 0;

    bool Scalar(Kind kind, const char* s, std::size_t n, bool truth = false) {
        if (depth == 0) return notObject = true, false;
        if (depth == 1) {
            Member& m = members.back();
            m.kind = kind;
            m.text = std::string_view(s ? s : "", n);
            m.truth = truth;
        }
        return true;
    }
    bool Null() { return Scalar(Kind::Null, nullptr, 0); }
    bool Bool(bool b) { return Scalar(Kind::Bool, nullptr, 0, b); }
    bool RawNumber(const char* s, rapidjson::SizeType n, bool) { return Scalar(Kind::Number, s, n); }
    bool String(const char* s, rapidjson::SizeType n, bool) { return Scalar(Kind::String, s, n); }
    bool Nested() {
        if (depth == 1) members.back().kind = Kind::Composite;
        ++depth;
        return true;
    }
    bool StartObject() {
        if (depth == 0) return depth = 1, true;
        return Nested();
    }
    bool StartArray() {
        if (depth == 0) return notObject = true, false;
        return Nested();
    }
    bool EndObject(rapidjson::SizeType) { return --depth, true; }
    bool EndArray(rapidjson::SizeType) { return --depth, true; }
    bool Key(const char* s, rapidjson::SizeType n, bool) {
        if (depth != 1) return true;
        const std::string_view key(s, n);
        const std::size_t at = static_cast<std::size_t>(s - base);
        for (const Member& m : members)
            if (SameIgnoringAsciiCase(m.key, key)) return duplicate = true, duplicateAt = at, false;
        members.push_back({key, {}, Kind::Null, false, at});
        return true;
    }
};

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
        if (u < 0x20 || u == 0x7F || (c == ' ' && !blanksAllowed) ||
            std::string_view("\"%&|<>^").find(c) != std::string_view::npos)
            return false;
    }
    return true;
}

// UTF-8 to the ANSI code page; false when a character has no place there.
bool ToAnsi(std::string_view utf8, Text& ansi) {
    const std::u16string units = Utf16FromUtf8(utf8);
    ansi = platform::AnsiFromUtf16(units);
    return platform::Utf16FromAnsi(ansi) == units;
}

std::string_view Unbracketed(std::string_view host) {
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
        return host.substr(1, host.size() - 2);
    return host;
}

int LineAt(std::string_view text, std::size_t offset) {
    int line = 1;
    for (std::size_t i = 0; i < offset && i < text.size(); ++i) line += text[i] == '\n';
    return line;
}

void Refuse(ImportedConfig& r, ConfigError e, std::string_view key = {}, int line = 0) {
    r.error = e;
    r.key = Text(key);
    r.line = line;
}

}  // namespace

std::u16string Utf16FromUtf8(std::string_view s) {
    std::u16string out;
    for (std::size_t i = 0; i < s.size();) {
        const auto b = static_cast<unsigned char>(s[i]);
        const int extra = b < 0x80 ? 0 : b >= 0xF0 ? 3 : b >= 0xE0 ? 2 : b >= 0xC0 ? 1 : -1;
        char32_t c = extra == 0 ? b : extra == 1 ? b & 0x1F : extra == 2 ? b & 0x0F : b & 0x07;
        bool ok = extra >= 0 && i + extra < s.size() + (extra == 0);
        for (int k = 1; ok && k <= extra; ++k) {
            const auto t = static_cast<unsigned char>(s[i + k]);
            ok = (t & 0xC0) == 0x80;
            c = c << 6 | (t & 0x3F);
        }
        if (!ok || c > 0x10FFFF) {
            out += u'\xFFFD';
            ++i;
            continue;
        }
        i += static_cast<std::size_t>(extra) + 1;
        if (c >= 0x10000) {
            out += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
            out += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            out += static_cast<char16_t>(c);
        }
    }
    return out;
}

std::string Utf8FromUtf16(std::u16string_view u) {
    std::string out;
    for (std::size_t i = 0; i < u.size(); ++i) {
        char32_t c = u[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < u.size() && u[i + 1] >= 0xDC00 &&
            u[i + 1] <= 0xDFFF)
            c = 0x10000 + ((c - 0xD800) << 10) + (u[++i] - 0xDC00);
        else if (c >= 0xD800 && c <= 0xDFFF)
            c = 0xFFFD;
        PutUtf8(out, c);
    }
    return out;
}

ImportedConfig ReadClientConfig(std::string_view text, const SharedWindows& shared) {
    ImportedConfig r;
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    const std::size_t nul = text.find('\0');
    if (nul != std::string_view::npos) { Refuse(r, ConfigError::Syntax, {}, LineAt(text, nul)); return r; }
    // Parsed in place: a key's offset is its place in the text. RapidJSON 1.1's UTF-8 check
    // takes a whole sequence before it looks at it, so a lead byte at the end reads up to three
    // bytes past the terminator: they are there, and zero.
    std::string buffer(text);
    buffer.append(3, '\0');
    Collector c;
    c.base = buffer.data();
    rapidjson::Reader reader;
    rapidjson::InsituStringStream stream(buffer.data());
    constexpr unsigned kFlags = rapidjson::kParseInsituFlag | rapidjson::kParseValidateEncodingFlag |
                                rapidjson::kParseNumbersAsStringsFlag;
    reader.Parse<kFlags>(stream, c);
    if (c.notObject) { Refuse(r, ConfigError::NotObject); return r; }
    if (c.duplicate) { Refuse(r, ConfigError::Syntax, {}, LineAt(text, c.duplicateAt)); return r; }
    if (reader.HasParseError())
        { Refuse(r, ConfigError::Syntax, {}, LineAt(text, reader.GetErrorOffset())); return r; }

    // Every value is checked before anything is taken, in the file's order.
    for (const Member& m : c.members) {
        if (m.kind == Kind::Null) continue;
        const bool remarks = SameIgnoringAsciiCase(m.key, "remarks");
        const bool other = SameIgnoringAsciiCase(m.key, "skiplane_other");
        const ClientFlag* flag = FindKey(m.key);
        if (!remarks && !other && (!flag || flag->leftOut)) continue;
        const FlagType type = flag ? flag->type : FlagType::Text;
        std::int32_t n;
        const bool typed = type == FlagType::Text      ? m.kind == Kind::String
                           : type == FlagType::Bool    ? m.kind == Kind::Bool
                                                       : m.kind == Kind::Number && IsDecimalInt32(m.text, n);
        if (!typed) { Refuse(r, ConfigError::WrongType, m.key); return r; }
        if (type != FlagType::Text) continue;
        if (flag && flag->key == std::string_view("key") && m.text.empty())
            { Refuse(r, ConfigError::EmptyKey, m.key); return r; }
        if (!remarks && (m.text.empty() || !CommandLineSafe(m.text, other)))
            { Refuse(r, ConfigError::CommandLine, m.key); return r; }
        Text ansi;
        if (!ToAnsi(m.text, ansi)) { Refuse(r, ConfigError::CodePage, m.key); return r; }
    }

    NodeFields& node = r.node;
    node.localPort = "12948";
    std::string flags, rest;  // UTF-8
    // "-name value", "-name" or (name null) the value alone.
    auto add = [&flags](const char* name, std::string_view value = {}) {
        if (!flags.empty()) flags += ' ';
        if (name) flags.append("-").append(name).append(value.empty() ? "" : " ");
        flags.append(value);
    };
    auto ansi = [](std::string_view utf8) {
        Text t;
        ToAnsi(utf8, t);
        return t;
    };
    bool seenRemote = false;
    bool pinned[3] = {};
    const char* const windowKeys[3] = {"mtu", "sndwnd", "rcvwnd"};
    const Text* windowFields[3] = {&shared.mtu, &shared.sndwnd, &shared.rcvwnd};
    const char* const windowDefaults[3] = {"1350", "128", "512"};
    for (const Member& m : c.members) {
        if (m.kind == Kind::Null) continue;
        if (SameIgnoringAsciiCase(m.key, "remarks")) {
            node.remarks = ansi(m.text);
            r.hasRemarks = true;
            continue;
        }
        if (SameIgnoringAsciiCase(m.key, "skiplane_other")) {
            rest = m.text;
            continue;
        }
        const ClientFlag* flag = FindKey(m.key);
        if (!flag || flag->leftOut) {
            r.leftOut.push_back(ansi(m.key));
            continue;
        }
        const std::string_view key = flag->key, v = m.text;
        const std::size_t colon = v.rfind(':');
        if (key == "remoteaddr") {
            std::int32_t port;
            if (colon == std::string_view::npos || Unbracketed(v.substr(0, colon)).empty() ||
                !IsDecimalInt32(v.substr(colon + 1), port) || port < 1 || port > 65535)
                { Refuse(r, ConfigError::BadRemoteAddr, m.key); return r; }
            node.server = ansi(v.substr(0, colon));
            node.serverPort = ansi(v.substr(colon + 1));
            seenRemote = true;
        } else if (key == "localaddr") {
            const std::size_t cut = colon == std::string_view::npos ? 0 : colon;
            node.localPort = ansi(v.substr(colon == std::string_view::npos ? 0 : colon + 1));
            const std::string_view host = Unbracketed(v.substr(0, cut));
            if (!host.empty() && host != "0.0.0.0" && host != "::") add("l", v);
        } else if (key == "key") {
            node.key = ansi(v);
        } else if (key == "mode") {
            node.mode = 0;
            for (int i = 0; i < 5; ++i)
                if (v == kModeNames[i]) node.mode = i;
            if (node.mode == 0 && v != "default") add("mode", v);
        } else if (key == "dscp") {
            node.dscp = v == "0" || v == "-0" ? "" : v;
        } else if (flag->type == FlagType::Bool) {
            if (m.truth) add(flag->name);
        } else {
            std::int32_t n = 0;
            if (flag->type == FlagType::Integer) IsDecimalInt32(v, n);
            const Text value = flag->type == FlagType::Integer ? ToText(n) : Text(v);
            int w = -1;
            for (int i = 0; i < 3; ++i)
                if (key == windowKeys[i]) w = i;
            if (w >= 0) {
                pinned[w] = true;
                if (value != *windowFields[w]) add(flag->name, value);
            } else if (!(flag->zeroIsDefault && n == 0 && flag->type == FlagType::Integer)) {
                add(flag->name, value);
            }
        }
    }
    if (!seenRemote) { Refuse(r, ConfigError::NoRemoteAddr, "remoteaddr"); return r; }
    for (int i = 0; i < 3; ++i)
        if (!pinned[i] && *windowFields[i] != windowDefaults[i])
            add(windowKeys[i], windowDefaults[i]);
    if (!rest.empty()) add(nullptr, rest);
    node.other = ansi(flags);
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

std::string Utf8FromAnsi(std::string_view ansi) {
    return Utf8FromUtf16(platform::Utf16FromAnsi(ansi));
}

std::string Quoted(std::string_view ansi) {
    std::string s;
    PutJsonString(s, Utf8FromAnsi(ansi));
    return s;
}

// The keys the node's fields give, in the copy's order; their values are JSON already.
constexpr const char* kFieldKeys[] = {"localaddr", "remoteaddr", "key", "mode",
                                      "mtu",       "sndwnd",     "rcvwnd", "dscp"};
constexpr int kFieldCount = 8;

}  // namespace

std::string WriteClientConfig(const NodeFields& node, const SharedWindows& shared) {
    std::int32_t n;
    auto integer = [&n](std::string_view t) {
        return IsDecimalInt32(t, n) ? ToText(n) : Text();
    };
    // The fields first, then what 其他参数 changes of them (a later flag wins, as in the client).
    std::string values[kFieldCount] = {
        Quoted(JoinText(":", node.localPort)),
        Quoted(JoinText(node.server, ":", node.serverPort)),
        node.key.empty() ? "" : Quoted(node.key),
        node.mode >= 0 && node.mode < 5 ? Quoted(kModeNames[node.mode]) : "",
        integer(shared.mtu),
        integer(shared.sndwnd),
        integer(shared.rcvwnd),
        integer(node.dscp)};
    if (values[7] == "0") values[7].clear();  // the client's default

    const ClientFlags read = ReadClientFlags(node.other);
    std::size_t stop = read.stop;
    std::vector<std::pair<const char*, std::string>> flags;  // the other keys, in order
    for (const FlagUse& use : read.uses) {
        const ClientFlag& f = *use.flag;
        bool truth = false;
        if (f.leftOut || (f.type == FlagType::Integer && !IsDecimalInt32(use.value, n)) ||
            (f.type == FlagType::Bool && !ParseGoBool(use.value, truth))) {
            stop = use.at;
            break;
        }
        std::string value = f.type == FlagType::Text      ? Quoted(use.value)
                            : f.type == FlagType::Integer ? ToText(n)
                            : truth                       ? "true"
                                                          : "false";
        // At the client's default it changes nothing, and an import would not bring it back.
        if (value == "false" || (f.zeroIsDefault && value == "0")) value.clear();
        int field = 0;
        while (field < kFieldCount && kFieldKeys[field] != std::string_view(f.key)) ++field;
        if (field < kFieldCount) {
            values[field] = value;
            continue;
        }
        for (auto it = flags.begin(); it != flags.end(); ++it)
            if (it->first == f.key) {
                flags.erase(it);
                break;
            }
        if (!value.empty()) flags.push_back({f.key, value});
    }

    std::string_view rest = std::string_view(node.other).substr(std::min(stop, node.other.size()));
    while (!rest.empty() && (rest.back() == ' ' || rest.back() == '\t')) rest.remove_suffix(1);
    if (!rest.empty()) flags.push_back({"skiplane_other", Quoted(rest)});
    flags.push_back({"remarks", Quoted(node.remarks)});

    std::string out = "{";
    auto put = [&out](const char* key, const std::string& value) {
        if (value.empty()) return;
        out.append(out.size() > 1 ? ",\r\n  \"" : "\r\n  \"").append(key).append("\": ").append(value);
    };
    for (int i = 0; i < kFieldCount; ++i) put(kFieldKeys[i], values[i]);
    for (const auto& f : flags) put(f.first, f.second);
    out += "\r\n}\r\n";
    return out;
}

}  // namespace sk
