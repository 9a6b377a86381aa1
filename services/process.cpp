#include "services/process.h"

#include "platform/programs.h"
#include "platform/window.h"

namespace sk {

namespace {
int Clamp(int v, int lo, int hi) { return v < lo ? lo : v > hi ? hi : v; }

// SW_* values for show modes 1-6.
constexpr int kSwHide = 0, kSwShowNormal = 1, kSwShowMinimized = 2, kSwShowMaximized = 3,
              kSwShowNoActivate = 4, kSwMinimize = 6, kSwShowNa = 8;
}  // namespace

bool RunProgram(const Text& commandLine, bool waitForExit, Opt<int> showMode) {
    static constexpr int kShow[] = {kSwHide, kSwShowNormal, kSwShowMinimized, kSwShowMaximized,
                                    kSwShowNoActivate, kSwMinimize};
    const int mode = showMode ? Clamp(*showMode, 1, 6) : 2;
    return platform::StartProgram(commandLine, kShow[mode - 1], waitForExit);
}

int ShellExecuteFile(Opt<int> operation, const Text& file, Opt<Text> parameters,
                     Opt<Text> directory, Opt<int> showMode) {
    static const char* const kVerbs[] = {"edit", "explore", "find", "open", "print"};
    static constexpr int kShow[] = {kSwHide, kSwShowNormal, kSwShowMinimized, kSwShowMaximized,
                                    kSwShowNa, kSwMinimize};
    Opt<Text> verb;
    if (operation && *operation >= 1 && *operation <= 5) verb = Text(kVerbs[*operation - 1]);
    const int show = showMode && *showMode >= 1 && *showMode <= 6 ? kShow[*showMode - 1]
                                                                  : kSwShowNormal;
    return platform::ShellOpen({}, verb, file, parameters, directory.value_or(Text()), show);
}

void OpenWebPage(Opt<Text> address) {
    const platform::WindowHandle owner = platform::FindTopLevelWindow("Microsoft Internet Explorer");
    platform::ShellOpen(owner, Text("open"), address.value_or(Text("about:blank")), {}, {},
                           kSwShowNormal);
}

void OpenWebPageFromWorker(const Text& address) {
    const platform::WindowHandle owner = platform::FindTopLevelWindow("Microsoft Internet Explorer");
    platform::ShellOpenFromWorker(owner, address, kSwShowNormal);
}

bool StartThread(void (*routine)(int), Opt<int> parameter, platform::OwnedThread* handle) {
    platform::ThreadHandle thread{};
    if (!platform::StartThread(routine, parameter.value_or(0), handle ? &thread : nullptr))
        return false;
    if (handle) handle->reset(thread);
    return true;
}

void Delay(int ms) {
    if (ms <= 0) return;
    const std::uint32_t start = platform::TickCount();
    const auto wanted = static_cast<std::uint32_t>(ms);
    for (;;) {
        platform::PumpMessages();
        const std::uint32_t elapsed = platform::TickCount() - start;
        if (elapsed > wanted) return;
        platform::WaitForMessage(wanted - elapsed + 1);
    }
}

bool WatchProcessExit(std::uint32_t processId, void (*routine)()) {
    return platform::WatchProcess(processId, routine);
}

void StopWatchingProcess() { platform::CancelProcessWatch(); }

}  // namespace sk
