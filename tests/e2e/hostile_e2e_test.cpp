// config.ini files no user meant to write: random bytes, a 5 MB value, a UTF-8 byte-order mark, a
// NUL byte, numbers beyond every integer, negative and absurd counts. The real Skiplane.exe must
// come up and answer at once, leave the file byte for byte as it was while only reading it, and
// on quitting keep every line it does not itself write. (Servers that stall, flood or drop
// are the update cases' job.)

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "tests/e2e/driver.h"
#include "tests/e2e/processes.h"
#include "form/window_table.h"
#include "tests/e2e/sandbox.h"

using form::Ctl;

namespace {

struct HostileFile {
    const char* name;
    std::string bytes;
};

std::string RandomBytes(std::size_t n) {
    std::mt19937 random(8);
    std::string s(n, '\0');
    for (char& c : s) c = static_cast<char>(random());
    return s;
}

// A count of two billion and one node header far beyond the others.
const std::string kAbsurdQuantityAndStrayNode =
    "[NodeList]\r\nQuantity=2000000000\r\n[Node1]\r\nserver=a\r\n[Node999999999]\r\nserver=z\r\n";

std::vector<HostileFile> HostileFiles() {
    const std::string nodes = "[NodeList]\r\nQuantity=2\r\n[Node1]\r\nserver=a\r\n[Node2]\r\nserver=b\r\n";
    return {
        {"random bytes", RandomBytes(64 * 1024)},
        {"5 MB value", "[BasisConfig]\r\nExeFile=C:\\" + std::string(5 << 20, 'x') + ".exe\r\n" + nodes},
        {"UTF-8 byte-order mark", "\xEF\xBB\xBF" + nodes},
        {"NUL byte", std::string("[NodeList]\r\nQuantity=2\r\n[Node1]\r\nserver=a\0b\r\n", 42) +
                         "remarks=\0\r\n[Node2]\r\nserver=b\r\n"},
        {"overflowing numbers",
         "[BroadbandConfig]\r\nUP=99999999999999999999\r\nDOWN=-2147483649\r\nMtu=4294967297\r\n"
         "Sndwnd=1e400\r\nRcvwnd=0x7FFFFFFF\r\n[NodeList]\r\nQuantity=18446744073709551617\r\n"
         "Current node=99999999999\r\n[Node1]\r\nlocal_port=999999999999\r\nmode=-99999999999\r\n"},
        {"negative Quantity", "[NodeList]\r\nQuantity=-5\r\nCurrent node=-3\r\n[Node1]\r\nserver=a\r\n"},
        {"smallest Quantity", "[NodeList]\r\nQuantity=-2147483648\r\n[Node1]\r\nserver=a\r\n"},
        {"absurd Quantity, no nodes", "[NodeList]\r\nQuantity=2147483647\r\n"},
    };
}

// The keys the program writes on quitting; any other line must survive it.
const std::set<std::string> kWrittenKeys = {
    "Enable", "Current node", "Quantity", "remarks", "local_port", "server_port", "server", "key",
    "mode",   "dscp",         "other",    "UP",      "DOWN",       "Mtu",         "Sndwnd", "Rcvwnd"};

std::vector<std::string> LinesOf(const std::string& bytes) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < bytes.size()) {
        std::size_t end = bytes.find_first_of("\r\n", start);
        if (end == std::string::npos) end = bytes.size();
        lines.push_back(bytes.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

TEST(HostileInputE2E, StrangeConfigFilesStartAnswerAndLoseNothing) {
    e2e::Sandbox sandbox;
    ASSERT_TRUE(sandbox.Create("skiplane-hostile", e2e::SkiplanePath())) << sandbox.Error();
    const std::string dir = sandbox.Dir(), exe = sandbox.Exe(), config = sandbox.ConfigPath();
    for (const HostileFile& f : HostileFiles()) {
        SCOPED_TRACE(f.name);
        ASSERT_TRUE(e2e::WriteFileBytes(config, f.bytes));
        e2e::App app;
        const double started = e2e::NowMs();
        ASSERT_TRUE(app.Start(exe, dir)) << "no window";
        ASSERT_TRUE(app.Sync(2000)) << "not answering";
        const double idleMs = e2e::NowMs() - started;
        // Looking at the first node reads it again; the window keeps answering.
        if (!app.ListItems(Ctl::列表框_列表).empty()) {
            ASSERT_TRUE(app.SelectListItem(Ctl::列表框_列表, 0));
            ASSERT_TRUE(app.Sync(2000)) << "not answering after a click";
        }
        EXPECT_TRUE(app.MessageBoxes().empty());
        EXPECT_TRUE(e2e::ReadFileBytes(config) == f.bytes) << "changed by reading";
        std::printf("[ hostile  ] %-26s answering after %4.0f ms, %zu list items\n", f.name,
                    idleMs, app.ListItems(Ctl::列表框_列表).size());

        ASSERT_TRUE(app.PostMenuCommand(form::Menu::退出));
        ASSERT_EQ(app.WaitExit(), 0u);
        const std::string after = e2e::ReadFileBytes(config);
        int lost = 0;
        for (const std::string& line : LinesOf(f.bytes)) {
            const std::size_t eq = line.find('=');
            if (eq != std::string::npos && kWrittenKeys.count(line.substr(0, eq))) continue;
            if (after.find(line) == std::string::npos) ++lost;
        }
        EXPECT_EQ(lost, 0) << "lines the program does not write went missing on quitting";
    }
}

// The count is believed only as far as the node sections bear it out: start-up is done at
// once, in little memory, with the one real node listed and nothing written.
TEST(HostileInputE2E, AnAbsurdQuantityWithAStrayHeaderIsIdleWithinTwoSecondsUnder50MB) {
    const std::string dir = e2e::MakeTempDir("skiplane-absurd");
    const std::string exe = dir + "\\Skiplane.exe", config = dir + "\\config.ini";
    ASSERT_TRUE(CopyFileA(e2e::SkiplanePath().c_str(), exe.c_str(), FALSE));
    ASSERT_TRUE(e2e::WriteFileBytes(config, kAbsurdQuantityAndStrayNode));
    e2e::App app;
    const double started = e2e::NowMs();
    ASSERT_TRUE(app.Start(exe, dir)) << "no window";
    ASSERT_TRUE(app.Sync(2000)) << "not answering";
    const double idleMs = e2e::NowMs() - started;
    const size_t peakBytes = e2e::PeakWorkingSet(app.Pid());
    std::printf("[ hostile  ] absurd Quantity: idle after %.0f ms, peak working set %.1f MB\n",
                idleMs, static_cast<double>(peakBytes) / (1024.0 * 1024.0));
    EXPECT_LT(idleMs, 2000.0);
    EXPECT_GT(peakBytes, 0u);
    EXPECT_LT(peakBytes, 50u * 1024 * 1024);
    EXPECT_EQ(app.ListItems(Ctl::列表框_列表), std::vector<std::string>{"a:"});
    EXPECT_TRUE(e2e::ReadFileBytes(config) == kAbsurdQuantityAndStrayNode);
    app.Kill();
    e2e::RemoveTree(dir);
}

}  // namespace
