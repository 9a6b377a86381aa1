// Whether the server answers while the client runs. The kcptun client says nothing when its
// server stays silent (a wrong key or crypt, a closed port, UDP blocked): so the program asks
// the server itself, with one window probe framed as this node's client frames its packets,
// after each start and every minute, on a short-lived thread of its own.
#include <utility>

#include "app/app.h"
#include "platform/programs.h"
#include "platform/window.h"
#include "services/client_flags.h"
#include "services/kcp_probe.h"
#include "services/process.h"

namespace app {

namespace {

constexpr std::uint32_t kProbeEveryMs = 60000;

// What the probe frames from: the node's values at the last start, kept for its restarts.
sk::KcpProbeTarget g_target;
Text g_address;          // host:port as the user gave it, for the balloons
bool g_canAsk = false;   // a target the probe can frame (no -c, -tcp, port range or odd crypt)

// The state of this run of the client; every start and stop begins it afresh.
unsigned g_run = 0;
bool g_watching = false;
int g_patience = 1;  // failed rounds in a row before the balloon
int g_failures = 0;  // failed rounds in a row
bool g_warned = false;  // this run's no-answer balloon was shown and no answer came since

// The round under way, made and deleted on the window thread.
struct Round {
    sk::KcpProbe probe;
    sk::KcpProbeTarget target;
    unsigned run;
};
Round* g_round = nullptr;
bool g_roundWanted = false;  // a new run's first round waits for the old round to end

bool IsDecimal(std::string_view text) {
    if (text.empty() || text.size() > 9) return false;
    for (char c : text)
        if (c < '0' || c > '9') return false;
    return true;
}

// Whether Go's flag reading stopped at -c: the client reads it, and its file overrides
// everything the probe would frame from.
bool StopsAtConfigFile(std::string_view other, std::size_t at) {
    std::string_view token = other.substr(at);
    token = token.substr(0, token.find_first_of(" \t"));
    if (token.substr(0, 2) == "--") token.remove_prefix(1);
    return token == "-c" || token.substr(0, 3) == "-c=";
}

void RunRound(int);

void StartRound() {
    if (!g_watching || SessionEnding()) return;
    ui::RunLater(StartRound, kProbeEveryMs);
    if (g_round) {  // this run's round is still under way, or the last run's is ending
        if (g_round->run != g_run) g_roundWanted = true;
        return;
    }
    g_round = new Round{{}, g_target, g_run};
    if (!sk::StartThread(RunRound)) {
        delete g_round;
        g_round = nullptr;
    }
}

void ShowNoAnswer() {
    ui::ShowTrayBalloon(sk::JoinText("服务器 ", g_address, " 没有回应。\r\n"
                                     "请检查加速 IP、加速端口、验证密匙和加密方式，以及 UDP 是否被防火墙拦截。"),
                        true);
}

void RoundEnded(const sk::KcpProbeResult& result) {
    Round* round = std::exchange(g_round, nullptr);
    const bool current = round->run == g_run && g_watching;
    delete round;
    if (std::exchange(g_roundWanted, false)) StartRound();
    if (!current || SessionEnding()) return;  // nobody may be left to see a balloon
    if (!result.asked) {  // no crypto to frame with: never a word, and no more asking
        g_watching = false;
        return ui::CancelRunLater(StartRound);
    }
    if (result.answered) {
        if (g_warned)
            ui::ShowTrayBalloon(sk::JoinText("服务器 ", g_address, " 已恢复回应（延迟 ",
                                             sk::ToText(static_cast<std::int32_t>(result.delayMs)),
                                             " 毫秒）。"),
                                false);
        g_warned = false;
        g_failures = 0;
        g_patience = 2;  // once it answered, one lost round is no news
    } else if (++g_failures >= g_patience && !g_warned) {
        g_warned = true;
        ShowNoAnswer();
    }
}

// On the round's own thread: the window thread learns the result and owns the round again.
void RunRound(int) {
    Round* round = g_round;
    const sk::KcpProbeResult result = round->probe.Run(round->target);
    platform::RunOnUiThread([&] { RoundEnded(result); });
}

}  // namespace

void CaptureServerTarget(const Text& server, const Text& port, const Text& key, const Text& other) {
    g_canAsk = false;
    g_target = {};
    Text address = sk::JoinText(server, ":", port), keyText = key;
    Text crypt = "aes";
    bool tcp = false;
    const sk::ClientFlags flags = sk::ReadClientFlags(other);
    if (StopsAtConfigFile(other, flags.stop)) return;
    for (const sk::FlagUse& use : flags.uses) {  // the last occurrence wins, as in the client
        const std::string_view name = use.flag->name;
        if (name == "remoteaddr") address = Text(use.value);
        if (name == "key") keyText = Text(use.value);
        if (name == "crypt") crypt = Text(use.value);
        if (name == "tcp") sk::ParseGoBool(use.value, tcp);
        int* shards = name == "datashard"     ? &g_target.dataShards
                      : name == "parityshard" ? &g_target.parityShards
                                              : nullptr;
        if (shards && IsDecimal(use.value)) *shards = sk::ToInteger(use.value);
    }
    const std::size_t colon = address.rfind(':');
    if (tcp || colon == Text::npos || !IsDecimal(address.substr(colon + 1))) return;  // a range
    const int portNumber = sk::ToInteger(address.substr(colon + 1));
    const Text host(sk::Unbracketed(std::string_view(address).substr(0, colon)));
    g_target.crypt = sk::KcpCryptFromName(crypt);
    if (portNumber < 1 || portNumber > 65535 || host.empty() ||
        g_target.crypt == sk::KcpCrypt::CannotFrame)
        return;
    // Without a key the client takes KCPTUN_KEY from the environment it inherits from us.
    if (keyText.empty()) platform::ReadEnvironment("KCPTUN_KEY", keyText);
    g_target.host = host;
    g_target.port = static_cast<std::uint16_t>(portNumber);
    g_target.key = keyText;
    g_address = address;
    g_canAsk = true;
}

void BeginServerWatch(bool patient) {
    EndServerWatch();
    g_watching = g_canAsk;
    g_patience = patient ? 2 : 1;
    // From the message loop: never inside the handler that started the client.
    if (g_watching) ui::RunLater(StartRound, 0);
}

void EndServerWatch() {
    ++g_run;
    g_watching = false;
    g_failures = 0;
    g_warned = false;
    g_roundWanted = false;
    ui::CancelRunLater(StartRound);
    if (g_round) g_round->probe.Stop();
}

}  // namespace app
