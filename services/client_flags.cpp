// The client's flags: Debian 12's kcptun (20210922) client/config.go and client/main.go, and
// the newer clients' keys that Debian 12 lacks.
#include "services/client_flags.h"

namespace sk {

namespace {

using T = FlagType;

constexpr ClientFlag kFlags[] = {
    {"localaddr", "localaddr", "l", T::Text, false, false},
    {"remoteaddr", "remoteaddr", "r", T::Text, false, false},
    {"key", "key", "", T::Text, false, false},
    {"crypt", "crypt", "", T::Text, false, false},
    {"mode", "mode", "", T::Text, false, false},
    {"conn", "conn", "", T::Integer, false, false},
    {"autoexpire", "autoexpire", "", T::Integer, true, false},
    {"scavengettl", "scavengettl", "", T::Integer, false, false},
    {"mtu", "mtu", "", T::Integer, false, false},
    {"sndwnd", "sndwnd", "", T::Integer, false, false},
    {"rcvwnd", "rcvwnd", "", T::Integer, false, false},
    {"datashard", "datashard", "ds", T::Integer, false, false},
    {"parityshard", "parityshard", "ps", T::Integer, false, false},
    {"dscp", "dscp", "", T::Integer, true, false},
    {"nocomp", "nocomp", "", T::Bool, false, false},
    {"acknodelay", "acknodelay", "", T::Bool, false, false},
    {"nodelay", "nodelay", "", T::Integer, true, false},
    {"interval", "interval", "", T::Integer, false, false},
    {"resend", "resend", "", T::Integer, true, false},
    {"nc", "nc", "", T::Integer, true, false},
    {"sockbuf", "sockbuf", "", T::Integer, false, false},
    {"smuxver", "smuxver", "", T::Integer, false, false},
    {"smuxbuf", "smuxbuf", "", T::Integer, false, false},
    {"streambuf", "streambuf", "", T::Integer, false, false},
    {"keepalive", "keepalive", "", T::Integer, false, false},
    {"log", "log", "", T::Text, false, true},
    {"snmplog", "snmplog", "", T::Text, false, true},
    {"snmpperiod", "snmpperiod", "", T::Integer, false, true},
    {"quiet", "quiet", "", T::Bool, false, false},
    {"tcp", "tcp", "", T::Bool, false, false},
    // Newer than Debian 12's client, from upstream kcptun's client/main.go and std/config.go
    // (QPP and QPPCount, default 61, also in kcptun-client(1) of kcptun 20260314). ratelimit and
    // closewait default to 0 in the client (the server's closewait is 30).
    {"qpp", "QPP", "", T::Bool, false, false},
    {"qpp-count", "QPPCount", "", T::Integer, false, false},
    {"ratelimit", "ratelimit", "", T::Integer, true, false},
    {"framesize", "framesize", "", T::Integer, false, false},
    {"closewait", "closewait", "", T::Integer, true, false},
    {"pprof", "pprof", "", T::Bool, false, true},
};

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

}  // namespace

bool SameKey(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x += 'a' - 'A';
        if (y >= 'A' && y <= 'Z') y += 'a' - 'A';
        if (x != y) return false;
    }
    return true;
}

const ClientFlag* FindFlag(std::string_view name) {
    for (const ClientFlag& f : kFlags)
        if (name == f.name || (*f.alias && name == f.alias)) return &f;
    return nullptr;
}

const ClientFlag* FindKey(std::string_view key) {
    for (const ClientFlag& f : kFlags)
        if (SameKey(key, f.key)) return &f;
    return nullptr;
}

bool ParseGoBool(std::string_view t, bool& value) {
    static const char* const kWords[] = {"1", "t", "T", "TRUE", "true", "True",
                                         "0", "f", "F", "FALSE", "false", "False"};
    for (int i = 0; i < 12; ++i)
        if (t == kWords[i]) return value = i < 6, true;
    return false;
}

ClientFlags ReadClientFlags(std::string_view text) {
    ClientFlags out{{}, text.size()};
    std::size_t i = 0;
    auto nextToken = [&](std::size_t& start) {
        while (i < text.size() && IsBlank(text[i])) ++i;
        start = i;
        while (i < text.size() && !IsBlank(text[i])) ++i;
        return text.substr(start, i - start);
    };
    for (;;) {
        std::size_t at;
        const std::string_view token = nextToken(at);
        if (token.empty()) break;
        out.stop = at;  // unless the token is read as a flag
        if (token.size() < 2 || token[0] != '-') break;
        std::string_view name = token.substr(token[1] == '-' ? 2 : 1);
        if (name.empty()) break;  // "--" ends the flags; nothing after is one
        const std::size_t eq = name.find('=');
        const bool hasValue = eq != std::string_view::npos;
        std::string_view value = hasValue ? name.substr(eq + 1) : std::string_view();
        if (hasValue) name = name.substr(0, eq);
        const ClientFlag* flag = name.empty() || name[0] == '-' ? nullptr : FindFlag(name);
        if (!flag) break;
        if (flag->type == FlagType::Bool) {
            bool b;
            if (hasValue && !ParseGoBool(value, b)) break;
            if (!hasValue) value = "true";
        } else if (!hasValue) {
            std::size_t valueAt;
            value = nextToken(valueAt);
            if (value.empty()) break;
        }
        out.uses.push_back({flag, value, at});
        out.stop = text.size();
    }
    return out;
}

}  // namespace sk
