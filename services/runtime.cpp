#include "services/runtime.h"

#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "platform/window.h"

namespace sk {

namespace {
std::vector<void (*)()> g_exitRoutines;
constexpr unsigned kTaskModal = 0x2000;
constexpr unsigned kSystemModal = 0x1000;
constexpr unsigned kIconError = 0x10;
}  // namespace

int ShowMessageBox(const Text& text, unsigned flags, Opt<Text> caption,
                   Opt<platform::WindowHandle> owner) {
    unsigned style = (flags & kSystemModal) ? flags : flags | kTaskModal;
    int id = platform::MessageBox(text, caption ? *caption : Text("信息："), style,
                                  owner.value_or(platform::WindowHandle{}));
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
    platform::MessageBox(report, "错误", kIconError, {});
    g_exitRoutines.clear();  // this path skips them
    platform::EndProgram(-1);
}

}  // namespace sk

// Every value the program builds comes from here: running out of memory is the runtime error
// report, not an exception nobody catches.
void* operator new(std::size_t size) {
    if (void* p = std::malloc(size ? size : 1)) return p;
    // Written by hand into a fixed buffer: there is no memory for a Text, and printf's formatter
    // would be the largest thing in the program.
    char message[64] = "分配 ";
    char digits[16];
    int n = 0;
    do digits[n++] = static_cast<char>('0' + size % 10); while (size /= 10);
    char* p = message + std::strlen(message);
    while (n) *p++ = digits[--n];
    std::strcpy(p, " 字节内存失败!");
    sk::RuntimeErrorReport(message);
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
