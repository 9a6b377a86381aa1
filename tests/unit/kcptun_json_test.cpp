// The client's JSON config and its flags: exact bytes in, exact bytes out. JSON texts are UTF-8
// (non-ASCII written as hex), node texts GBK (narrow literals here are GBK).
#include "services/kcptun_json.h"

#include <gtest/gtest.h>

#include "services/client_flags.h"

namespace sk {
namespace {

const SharedWindows kDefaults{"1350", "128", "512"};

TEST(ClientFlagsRead, AsGoFlagPackageReadsThem) {
    struct Case { std::string_view text, uses; std::size_t stop; };
    const Case cases[] = {
        {"--nocomp -mtu=1400 -key x y -conn 2", "nocomp=true mtu=1400 key=x ", 26},
        {"-l :1 -r h:2 -ds 5 -ps=0 -QPP=F", "localaddr=:1 remoteaddr=h:2 datashard=5 parityshard=0 QPP=F ", 31},
        {"-mode -nocomp", "mode=-nocomp ", 13},  // a value flag takes the next token, whatever it is
        {"-nocomp=maybe", "", 0},
        {"  -mtu", "", 2},
        {"-nocomp -- -conn 2", "nocomp=true ", 8},
        {"-nocomp - x", "nocomp=true ", 8},
        {"---nocomp", "", 0},
        {"-=1", "", 0},
        {"-qpp", "", 0},  // flags are case-sensitive
        {"-c x.json", "", 0},
    };
    for (const Case& c : cases) {
        const ClientFlags f = ReadClientFlags(c.text);
        std::string uses;
        for (const FlagUse& u : f.uses) uses += JoinText(u.flag->name, "=", u.value, " ");
        EXPECT_EQ(uses, c.uses) << c.text;
        EXPECT_EQ(f.stop, c.stop) << c.text;
    }
}

struct ImportCase {
    std::string_view json;
    ConfigError error;
    const char* detail;  // the refusal's key or line; for an import: local|server|port|key|mode|dscp|remarks
    const char* other;
    const char* leftOut;
};

TEST(ClientConfigRead, Table) {
    using E = ConfigError;
    // 63 levels of arrays under the object are read; 64 are refused.
    const std::string deep = "{\"x\":" + std::string(63, '[') + std::string(63, ']') + "}";
    const std::string deeper = "{\"x\":" + std::string(64, '[') + std::string(64, ']') + "}";
    const ImportCase cases[] = {
        {R"({"localaddr":"127.0.0.1:1080","remoteaddr":"[::1]:29900","key":"k1","crypt":"salsa20",
             "mode":"fast3","mtu":1200,"sndwnd":128,"dscp":46,"nocomp":true,"acknodelay":false,
             "qpp-count":61,"QPP":true,"autoexpire":0,"conn":2,"log":"x.log","foo":[1,{"a":2}],
             "nc":null,"remarks":"HK"})",
         E::None, "1080|[::1]|29900|k1|4|46|HK",
         "-l 127.0.0.1:1080 -crypt salsa20 -mtu 1200 -nocomp -QPPCount 61 -QPP -conn 2", "log、foo"},
        {R"({"remoteaddr":"h:1","mode":"manual","localaddr":"[::]:5000","dscp":0,"pprof":true})",
         E::None, "5000|h|1||0||", "-mode manual", "pprof"},
        {"\xEF\xBB\xBF{\r\n\"RemoteAddr\": \"h:1\",\r\n\"Remarks\": \"\xE4\xB8\xAD \",\r\n"
         "\"skiplane_other\": \"-bogus x\", \"tcp\": true, \"mode\": \"default\"}\r\n",
         E::None, "12948|h|1||0||\xD6\xD0 ", "-tcp -bogus x", ""},
        {R"({"remoteaddr":"h:1","localaddr":"0.0.0.0:7","mtu":1350,"sndwnd":128,"rcvwnd":512})",
         E::None, "7|h|1||2||", "", ""},
        // The newest client's keys; ratelimit and closewait are 0 by default there.
        {R"({"remoteaddr":"h:1","ratelimit":0,"closewait":3,"framesize":16384})", E::None,
         "12948|h|1||2||", "-closewait 3 -framesize 16384", ""},
        // Syntax and shape, strictly.
        {"{\n\"remoteaddr\": \"h:1\",\n}", E::Syntax, "3", "", ""},
        {"// c\n{\"remoteaddr\": \"h:1\"}", E::Syntax, "1", "", ""},
        {"{\"remoteaddr\": \"h:1\"}\n\n x", E::Syntax, "3", "", ""},
        {"{\"remoteaddr\": \"h:1\",\n\"REMOTEADDR\": \"h:2\"}", E::Syntax, "2", "", ""},
        {std::string_view("{\"remoteaddr\": \"h:1\"}\0", 22), E::Syntax, "1", "", ""},
        {"{\"remarks\": \"\xC0\xAF\"}", E::Syntax, "1", "", ""},
        {R"({"remarks": "\ud83d"})", E::Syntax, "1", "", ""},  // a surrogate without its pair
        {"{\"a\":\n[1,]}", E::Syntax, "2", "", ""},
        {"{\"a\":\n01}", E::Syntax, "2", "", ""},
        {deeper, E::Syntax, "1", "", ""},
        {deep, E::NoRemoteAddr, "remoteaddr", "", ""},
        {R"({"remoteaddr":"h:1","remarks":"\u4E2d\/\"\\\b\f\n\r\t","conn":-1e0})",
         E::WrongType, "conn", "", ""},
        {R"({"remoteaddr":"h:1","remarks":"\u4E2d\/\"\\\b\f\n\r\t","conn":-0})", E::None,
         "12948|h|1||2||\xD6\xD0/\"\\\b\f\n\r\t", "-conn 0", ""},
        {"[1]", E::NotObject, "", "", ""},
        {"\"x\"", E::NotObject, "", "", ""},
        // Types.
        {R"({"Mtu":"1350","remoteaddr":"h:1"})", E::WrongType, "Mtu", "", ""},
        {R"({"conn":1.0})", E::WrongType, "conn", "", ""},
        {R"({"conn":2147483648})", E::WrongType, "conn", "", ""},
        {R"({"nocomp":1})", E::WrongType, "nocomp", "", ""},
        {R"({"remarks":{}})", E::WrongType, "remarks", "", ""},
        // Values.
        {R"({"key":""})", E::EmptyKey, "key", "", ""},
        {R"({"remoteaddr":"h:1","crypt":""})", E::CommandLine, "crypt", "", ""},
        {R"({"remoteaddr":"h:1","crypt":"a b"})", E::CommandLine, "crypt", "", ""},
        {R"({"key":"a%b"})", E::CommandLine, "key", "", ""},
        {R"({"skiplane_other":"-a ^b"})", E::CommandLine, "skiplane_other", "", ""},
        {R"({"key":"a\tb"})", E::CommandLine, "key", "", ""},
        {"{\"remarks\":\"\xF0\x9F\x98\x80\"}", E::CodePage, "remarks", "", ""},
        {R"({"conn":2147483647})", E::NoRemoteAddr, "remoteaddr", "", ""},
        {R"({"remoteaddr":"h"})", E::BadRemoteAddr, "remoteaddr", "", ""},
        {R"({"remoteaddr":"[]:1"})", E::BadRemoteAddr, "remoteaddr", "", ""},
        {R"({"remoteaddr":"h:"})", E::BadRemoteAddr, "remoteaddr", "", ""},
        {R"({"remoteaddr":"h:0"})", E::BadRemoteAddr, "remoteaddr", "", ""},
        {R"({"remoteaddr":"h:65536"})", E::BadRemoteAddr, "remoteaddr", "", ""},
        {R"({"remoteaddr":"h:1-9"})", E::BadRemoteAddr, "remoteaddr", "", ""},
    };
    for (const ImportCase& c : cases) {
        const ImportedConfig r = ReadClientConfig(c.json, kDefaults);
        EXPECT_EQ(static_cast<int>(r.error), static_cast<int>(c.error)) << c.json;
        if (c.error == E::None) {
            const NodeFields& n = r.node;
            EXPECT_EQ(JoinText(n.localPort, "|", n.server, "|", n.serverPort, "|", n.key, "|",
                               ToText(n.mode), "|", n.dscp, "|", n.remarks),
                      c.detail) << c.json;
            EXPECT_EQ(n.other, c.other) << c.json;
            EXPECT_EQ(r.leftOut, c.leftOut) << c.json;
        } else {
            EXPECT_EQ(c.error == E::Syntax ? ToText(r.line) : r.key, c.detail) << c.json;
        }
    }
}

TEST(ClientConfigRead, MissingWindowsArePinnedWhereTheSharedFieldsDiffer) {
    const ImportedConfig r = ReadClientConfig(R"({"remoteaddr":"h:1","sndwnd":64})", {"1400", "128", ""});
    EXPECT_EQ(r.node.other, "-sndwnd 64 -mtu 1350 -rcvwnd 512");
    EXPECT_FALSE(r.hasRemarks);
}

TEST(ClientConfigWrite, KeysInOrderFlagsTurnedBackTheRestKept) {
    NodeFields n{"", "1080", "1.2.3.4", "29900", "", "", "", 3};
    EXPECT_EQ(WriteClientConfig(n, kDefaults),
              "{\r\n  \"localaddr\": \":1080\",\r\n  \"remoteaddr\": \"1.2.3.4:29900\",\r\n"
              "  \"mode\": \"fast2\",\r\n  \"mtu\": 1350,\r\n  \"sndwnd\": 128,\r\n"
              "  \"rcvwnd\": 512,\r\n  \"remarks\": \"\"\r\n}\r\n");

    n = {"香港\"", "1080", "1.2.3.4", "29900", "k", "46",
         "-nocomp --crypt=none -conn 2 -conn 3 -mtu 1400 -l 127.0.0.1:1080 -nocomp=false "
         "-autoexpire 0 -bogus -x ",
         -1};
    EXPECT_EQ(WriteClientConfig(n, {"1350", "12a", "512"}),
              "{\r\n  \"localaddr\": \"127.0.0.1:1080\",\r\n  \"remoteaddr\": \"1.2.3.4:29900\",\r\n"
              "  \"key\": \"k\",\r\n  \"mtu\": 1400,\r\n  \"rcvwnd\": 512,\r\n  \"dscp\": 46,\r\n"
              "  \"crypt\": \"none\",\r\n  \"conn\": 3,\r\n  \"skiplane_other\": \"-bogus -x\",\r\n"
              "  \"remarks\": \"\xE9\xA6\x99\xE6\xB8\xAF\\\"\"\r\n}\r\n");

    n = {"", "1", "h", "2", "", "0", "-nocomp -log x.log -conn 2 -conn 012", 0};
    EXPECT_EQ(WriteClientConfig(n, kDefaults),
              "{\r\n  \"localaddr\": \":1\",\r\n  \"remoteaddr\": \"h:2\",\r\n"
              "  \"mode\": \"default\",\r\n  \"mtu\": 1350,\r\n  \"sndwnd\": 128,\r\n"
              "  \"rcvwnd\": 512,\r\n  \"nocomp\": true,\r\n"
              "  \"skiplane_other\": \"-log x.log -conn 2 -conn 012\",\r\n  \"remarks\": \"\"\r\n}\r\n");
}

TEST(ClientConfigWrite, CopyPasteCopyGivesTheSameJson) {
    const NodeFields n{"HK", "1080", "[::1]", "29900", "k", "46",
                       "-mode manual -l 127.0.0.1:1080 -mtu 1400 -crypt none -QPP -x y", 3};
    const std::string first = WriteClientConfig(n, kDefaults);
    const ImportedConfig back = ReadClientConfig(first, kDefaults);
    ASSERT_EQ(static_cast<int>(back.error), 0);
    EXPECT_EQ(back.node.other, "-l 127.0.0.1:1080 -mode manual -mtu 1400 -crypt none -QPP -x y");
    EXPECT_EQ(WriteClientConfig(back.node, kDefaults), first);

    // Flags an import would not give back as they stand go whole into skiplane_other.
    for (const char* other : {"-nocomp -r y", "-key= -conn 2", "-l 0.0.0.0:5000", "-l x"}) {
        NodeFields m = n;
        m.other = other;
        const std::string copy = WriteClientConfig(m, kDefaults);
        const ImportedConfig again = ReadClientConfig(copy, kDefaults);
        ASSERT_EQ(static_cast<int>(again.error), 0) << other;
        EXPECT_EQ(WriteClientConfig(again.node, kDefaults), copy) << other;
    }
}

}  // namespace
}  // namespace sk
