// The truth about the tunnel: whether the server answers (when the program asks, from which of
// the node's values, which balloons follow), and a fresh client after the machine's addresses
// change. The servers here answer or stay silent at once, from no network; the framing itself
// is tested against kcp-go's bytes.
#include "tests/scenarios/harness.h"

#include "platform/headless/network_hooks.h"

#include <atomic>

namespace scenario {
namespace {

namespace hooks = platform::hooks;

const std::string kNoAnswer =
    "warning balloon Skiplane: 服务器 1.2.3.4:4000 没有回应。\r\n"
    "请检查加速 IP、加速端口、验证密匙和加密方式，以及 UDP 是否被防火墙拦截。";
const std::string kRecovered = "info balloon Skiplane: 服务器 1.2.3.4:4000 已恢复回应（延迟 0 毫秒）。";

class ServerWatch : public AppTest {
protected:
    void SetUp() override {
        AppTest::SetUp();
        hooks::SimulateUdp([this](std::uint16_t) { return answering_.load(); });
        hooks::OnProgramStart(
            [](const std::string&) { hooks::AddProcess("client.exe", hooks::LastJob()); });
    }
    void StartReady(const std::string& port, const std::string& other, bool enabled = false) {
        std::ofstream(dir_ + "/client.exe") << "MZ";
        GivenConfig("[BasisConfig]\r\nExeFile=" + WinDir() + "client.exe\r\nEnable=" +
                    (enabled ? "true" : "false") + "\r\n[BroadbandConfig]\r\nMtu=1350\r\n"
                    "Sndwnd=256\r\nRcvwnd=1024\r\n[NodeList]\r\nQuantity=1\r\nCurrent node=0\r\n"
                    "[Node1]\r\nlocal_port=1080\r\nserver_port=" + port + "\r\nserver=1.2.3.4\r\n"
                    "key=k1\r\nmode=2\r\nother=" + other + "\r\n");
        Start();
    }
    // The balloons of ms of idling (the rounds it starts run to their end).
    std::vector<std::string> After(std::uint32_t ms) {
        headless::Idle(ms);
        std::vector<std::string> balloons;
        for (const std::string& line : headless::TakeJournal())
            if (line.find("balloon") != std::string::npos) balloons.push_back(line);
        return balloons;
    }
    std::atomic<bool> answering_{true};
};

using Lines = std::vector<std::string>;

// A start by the user expects an answer at once; then only two lost rounds in a row are news,
// each no-answer balloon once, until an answer says the server is back.
TEST_F(ServerWatch, BalloonsFollowTheRoundsAfterAStartByTheUser) {
    answering_ = false;
    StartReady("4000", "-nocomp");
    headless::Click(Ctl::按钮_启动);
    EXPECT_EQ(After(0), Lines{kNoAnswer});
    EXPECT_EQ(hooks::TakeUdpSends(), (std::vector<std::uint16_t>{4000, 4000, 4000}));
    EXPECT_EQ(After(59999), Lines{});  // no round before the minute is up
    EXPECT_TRUE(hooks::TakeUdpSends().empty());
    EXPECT_EQ(After(1), Lines{});  // still silent: said once
    EXPECT_EQ(hooks::TakeUdpSends().size(), 3u);
    answering_ = true;
    EXPECT_EQ(After(60000), Lines{kRecovered});
    EXPECT_EQ(hooks::TakeUdpSends().size(), 1u);  // the first datagram was answered
    answering_ = false;
    EXPECT_EQ(After(60000), Lines{});
    EXPECT_EQ(After(60000), Lines{kNoAnswer});

    // Stopped: nothing is asked any more, and a new start begins afresh.
    headless::Click(Ctl::按钮_停止);
    hooks::TakeUdpSends();
    EXPECT_EQ(After(180000), Lines{});
    EXPECT_TRUE(hooks::TakeUdpSends().empty());
    headless::Click(Ctl::按钮_启动);
    EXPECT_EQ(After(0), Lines{kNoAnswer});
}

// A start on its own at log-on, and a restart after waking, give the network a round more.
TEST_F(ServerWatch, AStartOnItsOwnAndARestartWaitForTwoLostRounds) {
    answering_ = false;
    StartReady("4000", "", true);
    EXPECT_EQ(After(0), Lines{});
    EXPECT_EQ(After(60000), Lines{kNoAnswer});
    headless::Wake();
    EXPECT_EQ(After(0), Lines{});  // this run's state began afresh with the restart
    EXPECT_EQ(After(60000), Lines{kNoAnswer});
}

// What the probe asks is the node as its client takes it: 其他参数 read as Go reads flags, the
// last one winning; no asking where the client dials otherwise or the crypt cannot be framed.
TEST_F(ServerWatch, TheNodeAsTheClientTakesItDecidesWhereAndWhetherToAsk) {
    const struct {
        std::string port, other;
        std::vector<std::uint16_t> sends;
    } cases[] = {
        {"4000", "-r 5.6.7.8:4001 -crypt xyz", {4001}},  // an unknown crypt is aes to the client
        {"4000", "--remoteaddr=[::1]:4002 -crypt none", {4002}},
        {"4000", "-tcp -tcp=false -ds 0 -ps 0", {4000}},
        {"4000", "-tcp", {}},
        {"4000", "-nocomp -c client.json", {}},
        {"4000", "-crypt salsa20", {}},
        {"4000-4010", "", {}},  // a port range
        {"4000", "-r 1.2.3.4:0", {}},
    };
    for (const auto& c : cases) {
        StartReady(c.port, c.other);
        hooks::TakeUdpSends();
        headless::Click(Ctl::按钮_启动);
        After(0);
        EXPECT_EQ(hooks::TakeUdpSends(), c.sends) << c.port << " " << c.other;
        headless::Click(Ctl::按钮_停止);
    }
}

// An address that comes or goes restarts the running client once the addresses are quiet for
// 3 s, and never sooner than 10 s after the last restart; not while stopped or checking.
TEST_F(ServerWatch, AnAddressChangeRestartsTheClientOnceTheNetworkSettles) {
    const auto changed = [] {
        return hooks::RaiseAddressChange(platform::AddressEvent::Added, 4, {192, 168, 1, 20});
    };
    const auto starts = [] { return hooks::ProgramsStarted().size(); };
    StartReady("4000", "");
    headless::Click(Ctl::按钮_启动);
    After(0);
    ASSERT_TRUE(changed());
    After(2000);
    ASSERT_TRUE(changed());  // the quiet starts over
    After(2999);
    EXPECT_EQ(starts(), 1u);
    const std::uint32_t restart = hooks::Now() + 1;
    After(1);
    EXPECT_EQ(starts(), 2u);
    EXPECT_TRUE(ui::Disabled(Ctl::按钮_启动));

    ASSERT_TRUE(changed());  // right after the restart's check: waits for the 10 s gap
    After(restart + 9900 - hooks::Now());
    EXPECT_EQ(starts(), 2u);
    After(200);
    EXPECT_EQ(starts(), 3u);

    headless::Click(Ctl::按钮_停止);
    ASSERT_TRUE(changed());
    hooks::DuringNextWait([&] { ASSERT_TRUE(changed()); });  // during the start's check
    headless::Click(Ctl::按钮_启动);
    After(20000);
    EXPECT_EQ(starts(), 4u);
}

}  // namespace
}  // namespace scenario
