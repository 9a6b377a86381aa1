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

ImportedConfig Refused(ConfigError e, std::string_view key = {}, int line = 0) {
    ImportedConfig r;
    r.error = e;
    r.key = Text(key);
    r.line = line;
    return r;
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
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    const std::size_t nul = text.find('\0');
    if (nul != std::string_view::npos) return Refused(ConfigError::Syntax, {}, LineAt(text, nul));
    std::string buffer(text);  // parsed in place: a key's offset is its place in the text
    Collector c;
    c.base = buffer.data();
    rapidjson::Reader reader;
    rapidjson::InsituStringStream stream(buffer.data());
    constexpr unsigned kFlags = rapidjson::kParseInsituFlag | rapidjson::kParseValidateEncodingFlag |
                                rapidjson::kParseNumbersAsStringsFlag;
    reader.Parse<kFlags>(stream, c);
    if (c.notObject) return Refused(ConfigError::NotObject);
    if (c.duplicate) return Refused(ConfigError::Syntax, {}, LineAt(text, c.duplicateAt));
    if (reader.HasParseError())
        return Refused(ConfigError::Syntax, {}, LineAt(text, reader.GetErrorOffset()));

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
        if (!typed) return Refused(ConfigError::WrongType, m.key);
        if (type != FlagType::Text) continue;
        if (flag && flag->key == std::string_view("key") && m.text.empty())
            return Refused(ConfigError::EmptyKey, m.key);
        if (!remarks && (m.text.empty() || !CommandLineSafe(m.text, other)))
            return Refused(ConfigError::CommandLine, m.key);
        Text ansi;
        if (!ToAnsi(m.text, ansi)) return Refused(ConfigError::CodePage, m.key);
    }

    ImportedConfig r;
    NodeFields& node = r.node;
    node.localPort = "12948";
    std::string flags, rest;  // UTF-8
    auto add = [&flags](std::string_view a, std::string_view b = {}) {
        if (!flags.empty()) flags += ' ';
        flags.append(a);
        if (!b.empty()) flags.append(" ").append(b);
    };
    auto ansi = [](std::string_view utf8) {
        Text t;
        ToAnsi(utf8, t);
        return t;
    };
    bool seenRemote = false;
    bool pinned[3] = {};
    const std::string_view windowKeys[3] = {"mtu", "sndwnd", "rcvwnd"};
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
                return Refused(ConfigError::BadRemoteAddr, m.key);
            node.server = ansi(v.substr(0, colon));
            node.serverPort = ansi(v.substr(colon + 1));
            seenRemote = true;
        } else if (key == "localaddr") {
            const std::size_t cut = colon == std::string_view::npos ? 0 : colon;
            node.localPort = ansi(v.substr(colon == std::string_view::npos ? 0 : colon + 1));
            const std::string_view host = Unbracketed(v.substr(0, cut));
            if (!host.empty() && host != "0.0.0.0" && host != "::") add("-l", v);
        } else if (key == "key") {
            node.key = ansi(v);
        } else if (key == "mode") {
            node.mode = 0;
            for (int i = 0; i < 5; ++i)
                if (v == kModeNames[i]) node.mode = i;
            if (node.mode == 0 && v != "default") add("-mode", v);
        } else if (key == "dscp") {
            node.dscp = v == "0" || v == "-0" ? "" : v;
        } else if (flag->type == FlagType::Bool) {
            if (m.truth) add(JoinText("-", flag->name));
        } else {
            std::int32_t n = 0;
            if (flag->type == FlagType::Integer) IsDecimalInt32(v, n);
            const Text value = flag->type == FlagType::Integer ? ToText(n) : Text(v);
            int w = -1;
            for (int i = 0; i < 3; ++i)
                if (key == windowKeys[i]) w = i;
            if (w >= 0) {
                pinned[w] = true;
                if (value != *windowFields[w]) add(JoinText("-", flag->name), value);
            } else if (!(flag->zeroIsDefault && n == 0 && flag->type == FlagType::Integer)) {
                add(JoinText("-", flag->name), value);
            }
        }
    }
    if (!seenRemote) return Refused(ConfigError::NoRemoteAddr, "remoteaddr");
    for (int i = 0; i < 3; ++i)
        if (!pinned[i] && *windowFields[i] != windowDefaults[i])
            add(JoinText("-", windowKeys[i]), windowDefaults[i]);
    if (!rest.empty()) add(rest);
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

// One key of the copy; `value` is JSON already.
struct Entry {
    const char* key;
    std::string value;
};

std::string Quoted(std::string_view ansi) {
    std::string s;
    PutJsonString(s, Utf8FromAnsi(ansi));
    return s;
}

}  // namespace

std::string WriteClientConfig(const NodeFields& node, const SharedWindows& shared) {
    // The fields first, then what 其他参数 changes of them (a later flag wins, as in the client).
    std::string local = Quoted(JoinText(":", node.localPort));
    std::string remote = Quoted(JoinText(node.server, ":", node.serverPort));
    std::string key = node.key.empty() ? "" : Quoted(node.key);
    std::string mode = node.mode >= 0 && node.mode < 5 ? Quoted(kModeNames[node.mode]) : "";
    std::int32_t n;
    auto integer = [&n](std::string_view t) { return IsDecimalInt32(t, n) ? ToText(n) : Text(); };
    std::string windows[3] = {integer(shared.mtu), integer(shared.sndwnd), integer(shared.rcvwnd)};
    std::string dscp = integer(node.dscp);
    if (dscp == "0") dscp.clear();

    const ClientFlags read = ReadClientFlags(node.other);
    std::size_t stop = read.stop;
    std::vector<Entry> flags;
    for (const FlagUse& use : read.uses) {
        const ClientFlag& f = *use.flag;
        bool truth = false;
        if (f.leftOut || (f.type == FlagType::Integer && !IsDecimalInt32(use.value, n)) ||
            (f.type == FlagType::Bool && !ParseGoBool(use.value, truth))) {
            stop = use.at;
            break;
        }
        const std::string value = f.type == FlagType::Text      ? Quoted(use.value)
                                  : f.type == FlagType::Integer ? ToText(n)
                                  : truth                       ? "true"
                                                                : "false";
        const std::string_view k = f.key;
        if (k == "localaddr") local = value;
        else if (k == "remoteaddr") remote = value;
        else if (k == "key") key = value;
        else if (k == "mode") mode = value;
        else if (k == "mtu") windows[0] = value;
        else if (k == "sndwnd") windows[1] = value;
        else if (k == "rcvwnd") windows[2] = value;
        else if (k == "dscp") dscp = value == "0" ? "" : value;
        else {
            for (auto it = flags.begin(); it != flags.end(); ++it)
                if (it->key == f.key) {
                    flags.erase(it);
                    break;
                }
            // At the client's default it changes nothing, and an import would not bring it back.
            if (value != "false" && !(f.zeroIsDefault && value == "0")) flags.push_back({f.key, value});
        }
    }

    std::vector<Entry> all = {{"localaddr", local}, {"remoteaddr", remote}};
    if (!key.empty()) all.push_back({"key", key});
    if (!mode.empty()) all.push_back({"mode", mode});
    const char* const windowKeys[3] = {"mtu", "sndwnd", "rcvwnd"};
    for (int i = 0; i < 3; ++i)
        if (!windows[i].empty()) all.push_back({windowKeys[i], windows[i]});
    if (!dscp.empty()) all.push_back({"dscp", dscp});
    all.insert(all.end(), flags.begin(), flags.end());
    std::string_view rest = std::string_view(node.other).substr(std::min(stop, node.other.size()));
    while (!rest.empty() && (rest.back() == ' ' || rest.back() == '\t')) rest.remove_suffix(1);
    if (!rest.empty()) all.push_back({"skiplane_other", Quoted(rest)});
    all.push_back({"remarks", Quoted(node.remarks)});

    std::string out = "{\r\n";
    for (std::size_t i = 0; i < all.size(); ++i) {
        out += "  \"";
        out += all[i].key;
        out += "\": ";
        out += all[i].value;
        out += i + 1 < all.size() ? ",\r\n" : "\r\n";
    }
    out += "}\r\n";
    return out;
}

}  // namespace sk
