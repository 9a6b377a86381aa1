// Why the client ended, as read from the kcptun.log it left: the explaining line and the client's
// own line, converted to the code page; a log as the real client and cmd.exe write it.
#include "tests/scenarios/harness.h"

namespace scenario {
namespace {

std::string Utf8(const char8_t* s) { return reinterpret_cast<const char*>(s); }

class Reasons : public AppTest {
protected:
    std::string ReasonFor(const std::string& log, bool anyLine) {
        std::ofstream(dir_ + "/kcptun.log", std::ios::binary) << log;
        return app::ClientEndReason(WinDir() + "kcptun.log", anyLine);
    }
};

TEST_F(Reasons, TheClientsLineIsExplainedWhereItsFormIsKnown) {
    const std::string help = "\n\nNAME:\n   kcptun - client(with SMUX)\n\nUSAGE:\n   error-prone\n";
    const std::string longChinese = Utf8(u8"一") + std::string(20, 'x') + [] {
        std::string s;
        for (int i = 0; i < 80; ++i) s += reinterpret_cast<const char*>(u8"通");
        return s;
    }();
    const struct {
        std::string log, reason;
    } cases[] = {
        {"2026/12/08 22:00:00 main.go:71: listen tcp :12948: bind: winapi error #10048\n",
         "本地端口 12948 无法监听：已被其他程序占用，或被系统保留。\r\n"
         "客户端输出：listen tcp :12948: bind: winapi error #10048"},
        // A Chinese Windows' own message, in UTF-8; the port is the client's, not the field's.
        {Utf8(u8"2026/12/08 22:00:00 listen tcp 127.0.0.1:1081: bind: 通常每个套接字地址只允许使用一次。\r\n"),
         "本地端口 1081 无法监听：已被其他程序占用，或被系统保留。\r\n"
         "客户端输出：listen tcp 127.0.0.1:1081: bind: 通常每个套接字地址只允许使用一次。"},
        {"Incorrect Usage. flag provided but not defined: -bogus" + help,
         "其他参数中有客户端不认识的参数：-bogus\r\n"
         "客户端输出：Incorrect Usage. flag provided but not defined: -bogus"},
        {"flag needs an argument: -mtu" + help,
         "参数 -mtu 缺少取值。\r\n客户端输出：flag needs an argument: -mtu"},
        {"invalid value \"abc\" for flag -mtu: parse error" + help,
         "参数 -mtu 的取值 abc 无效。\r\n客户端输出：invalid value \"abc\" for flag -mtu: parse error"},
        {"Cannot use two forms of the same flag: l localaddr\n",
         "其他参数重复给出了同一参数。\r\n客户端输出：Cannot use two forms of the same flag: l localaddr"},
        {"2026/12/08 22:00:00 main.go:90: panic: runtime error\n",
         "客户端输出：panic: runtime error"},
        // No error word: the last line; cmd.exe's own message is in the OEM code page.
        {"version: 20210922\n系统找不到指定的路径。\r\n\r\n", "客户端输出：系统找不到指定的路径。"},
        // Cut to 160 bytes, not inside a character: 7 + 2 + 20 + 65 * 2 = 159, one more is 161.
        {"error: " + longChinese + "\n",
         "客户端输出：error: 一xxxxxxxxxxxxxxxxxxxx" + [] {
             std::string s;
             for (int i = 0; i < 65; ++i) s += "通";
             return s;
         }()},
        {"", "客户端没有留下任何输出，请确认 KCPTun目录 指向 kcptun 客户端。"},
        {"\r\n  \r\n", "客户端没有留下任何输出，请确认 KCPTun目录 指向 kcptun 客户端。"},
    };
    for (const auto& c : cases) EXPECT_EQ(ReasonFor(c.log, true), c.reason) << c.log;
}

TEST_F(Reasons, OnlyAnErrorWordGivesADeathAReasonAndOnlyTheLast64KbAreRead) {
    const std::string running = "2026/12/08 22:00:00 remote address: 1.2.3.4:4000\n";
    EXPECT_EQ(ReasonFor(running, false), "");  // a killed client says nothing of why
    EXPECT_EQ(ReasonFor(running, true), "客户端输出：remote address: 1.2.3.4:4000");
    EXPECT_EQ(app::ClientEndReason(WinDir() + "missing.log", false), "");

    // Only the last 64 KB: an error word before them is not read, nor in the line they cut.
    const std::string ordinary(64 * 1024 - 20, 'b');
    const std::string log = "panic: early\n" + std::string(30, 'a') + " error cut\n" + ordinary + "\n";
    EXPECT_EQ(ReasonFor(log, false), "");
    EXPECT_EQ(ReasonFor(log, true), "客户端输出：" + ordinary.substr(0, 160));
}

}  // namespace
}  // namespace scenario
