#include "services/runtime.h"

#include <vector>

#include "platform/window.h"

namespace sk {

namespace {
std::vector<void (*)()> g_exitRoutines;
constexpr unsigned kTaskModal = 0x2000;
constexpr unsigned kSystemModal = 0x1000;
constexpr unsigned kIconError = 0x10;
}  // namespace

int ShowMessageBox(const Text& text, unsigned flags, Opt<Text> caption, Opt<std::intptr_t> owner) {
    unsigned style = (flags & kSystemModal) ? flags : flags | kTaskModal;
    int id = platform::MessageBox(text, caption ? *caption : Text("信息："), style,
                                  owner ? *owner : 0);
    switch (id) {
        case 2: return kCancel;  // IDCANCEL
        case 3: return kAbort;
        case 4: return kRetry;
        case 5: return kIgnore;
        case 6: return kYes;
        case 7: return kNo;
        default: return kOk;  // IDOK and anything unknown
    }
}

void RegisterExitRoutine(void (*routine)()) {
    for (auto r : g_exitRoutines)
        if (r == routine) return;
    g_exitRoutines.push_back(routine);
}

void RunExitRoutines() {
    std::vector<void (*)()> routines;
    routines.swap(g_exitRoutines);
    for (auto r : routines) r();
}

void RuntimeErrorReport(const Text& message, Opt<int> code) {
    Text report = "运行时出错!\r\n\r\n";
    if (code) report = JoinText(report, "错误代码：", ToText(*code), "\r\n\r\n");
    if (!message.empty()) report = JoinText(report, "错误信息：", message, "\r\n");
    platform::MessageBox(report, "错误", kIconError, 0);
    g_exitRoutines.clear();  // this path skips them
    platform::EndProgram(-1);
}

}  // namespace sk
