// The main window in memory. It keeps what a native window would keep, reports the user's
// actions that tests perform through the same callbacks as the real window, and records what
// the program showed (message boxes, popups, icons, dialogs).
#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <thread>
#include <utility>

#include "platform/headless/programs_hooks.h"
#include "platform/programs.h"
#include "platform/headless/user.h"
#include "res/icon_data.h"

namespace headless {

namespace {

struct ProgramEnded {
    int code;
};

struct Control {
    std::string text;
    bool enabled = true;
    bool checked = false;
    form::InputMode mode = form::InputMode::Normal;
    std::vector<std::pair<std::string, int>> items;
    int selection = -1;
    int topIndex = 0;
    int caret = 0;
};

struct State {
    platform::UiCallbacks callbacks;
    bool created = false;
    std::atomic<bool> ended{false};  // read by the program's other threads
    int exitCode = 0;
    bool visible = false;
    bool minimized = false;
    Ctl focus = Ctl::Count;
    bool trayShown = false;
    bool topMost = false;
    int topMostChanges = 0;
    Control controls[form::kControlCount];
    std::string statusTexts[form::kStatusPanelCount];
    std::thread::id uiThread;
    bool dropRegistered = false;

    std::deque<int> messageBoxAnswers;
    std::function<void()> messageBoxHook;
    std::deque<std::optional<std::string>> dialogAnswers;
    int popupAnswer = 0;

    std::vector<MessageBoxShown> messageBoxes;
    std::vector<TrayCall> trayCalls;
    int liveIcons = 0;
    std::vector<std::vector<platform::PopupEntry>> popups;
    std::vector<FileDialogShown> fileDialogs;
    std::vector<std::string> journal;
    std::map<unsigned, std::uint32_t> timers;  // id, when it is due
};
State g;

// Another copy of the program, outside this process: it outlives the program's own starts.
std::string g_otherCopy;  // its folder, ASCII letters folded
int g_copiesAsked = 0;
int g_failTrayAdds = 0;  // the shell's state, not the program's
std::string Folded(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

// Work handed over from other threads, run by the window thread when it pumps messages.
std::mutex g_queueMutex;
std::condition_variable g_queueDone;
std::deque<std::pair<std::function<void()>*, bool*>> g_queue;
std::mutex g_boxMutex;

Control& C(Ctl c) { return g.controls[static_cast<int>(c)]; }

// Runs a user action; the program may end inside it.
template <class Action>
void AsUser(Action&& action) {
    if (!g.created || g.ended) return;
    try {
        action();
    } catch (const ProgramEnded& e) {
        g.ended = true;
        g.exitCode = e.code;
    }
}

bool Due(std::uint32_t when) { return platform::hooks::Now() - when < 0x80000000u; }

// The timers due now, each once and earliest first, as WM_TIMER would come.
void RunDueTimers() {
    std::vector<std::pair<std::uint32_t, unsigned>> due;
    for (const auto& [id, when] : g.timers)
        if (Due(when)) due.push_back({platform::hooks::Now() - when, id});
    std::sort(due.begin(), due.end(), [](auto a, auto b) { return a.first > b.first; });
    for (const auto& [late, id] : due) {
        auto it = g.timers.find(id);
        if (it == g.timers.end() || !Due(it->second)) continue;  // stopped or restarted meanwhile
        g.timers.erase(it);
        if (g.callbacks.timer) g.callbacks.timer(id);
    }
}

void ResetAll() {
    g.~State();
    new (&g) State();
    for (int i = 0; i < form::kControlCount; ++i) {
        const form::ControlDef& d = form::kControls[i];
        Control& c = g.controls[i];
        c.text = d.caption;
        c.enabled = d.enabled;
        c.mode = d.mode;
    }
    Control& combo = C(Ctl::组合框_加速模式);
    for (const char* item : form::kModeItems) combo.items.push_back({item, 0});
    combo.selection = form::kInitialMode;
    for (int i = 0; i < form::kStatusPanelCount; ++i) g.statusTexts[i] = form::kStatusPanelTexts[i];
}

}  // namespace

// --- lifecycle ---------------------------------------------------------------------------
bool Ended() { return g.ended; }
int ExitCode() { return g.exitCode; }

int Launch(int (*entry)()) {
    ResetAll();
    g.uiThread = std::this_thread::get_id();
    int result = 0;
    try {
        result = entry();
    } catch (const ProgramEnded& e) {
        g.ended = true;
        g.exitCode = e.code;
        result = e.code;
    }
    return result;
}

void Idle(std::uint32_t ms) {
    const std::uint32_t end = platform::hooks::Now() + ms;
    for (;;) {
        // The program's threads do their work while the clock stands.
        AsUser([] {
            platform::PumpMessages();
            platform::hooks::FinishThreads();
        });
        if (g.ended) return;
        std::uint32_t wait = end - platform::hooks::Now();
        if (wait == 0 || wait >= 0x80000000u) return;
        for (const auto& [id, when] : g.timers)
            if (!Due(when)) wait = std::min(wait, when - platform::hooks::Now());
        platform::WaitForMessage(wait);
    }
}

// --- acting as the user ------------------------------------------------------------------
void Click(Ctl c) {
    AsUser([&] {
        if (!C(c).enabled) return;
        g.focus = c;  // a mouse click focuses the button it presses
        if (form::Def(c).kind == form::Kind::CheckBox) C(c).checked = !C(c).checked;
        g.callbacks.clicked(c);
    });
}

void Type(Ctl c, const std::string& chars) {
    AsUser([&] {
        Control& box = C(c);
        const int limit = form::Def(c).maxLength;
        for (unsigned char ch : chars) {
            if (!box.enabled || box.mode == form::InputMode::ReadOnly) return;
            if (!form::AdmitsTypedChar(box.mode, ch)) continue;
            if (ch == '\b') {
                if (box.text.empty()) continue;
                box.text.pop_back();
            } else {
                if (limit > 0 && static_cast<int>(box.text.size()) >= limit) continue;
                box.text.push_back(static_cast<char>(ch));
            }
            g.callbacks.textChanged(c);
        }
    });
}

void Paste(Ctl c, const std::string& text) {
    AsUser([&] {
        Control& box = C(c);
        if (!box.enabled || box.mode == form::InputMode::ReadOnly) return;
        box.text += text;
        g.callbacks.textChanged(c);
    });
}

void ClearByKeyboard(Ctl c) {
    AsUser([&] {
        Control& box = C(c);
        if (!box.enabled || box.mode == form::InputMode::ReadOnly || box.text.empty()) return;
        box.text.clear();
        g.callbacks.textChanged(c);
    });
}

void SelectItem(Ctl list, int index) {
    AsUser([&] {
        Control& box = C(list);
        if (!box.enabled || index < 0 || index >= static_cast<int>(box.items.size())) return;
        box.selection = index;
        box.caret = index;
        g.callbacks.itemSelected(list);
    });
}

void DropFiles(const std::vector<std::string>& paths) {
    AsUser([&] {
        if (!g.dropRegistered || paths.empty()) return;
        std::string text;
        if (paths.size() == 1) {
            text = paths[0];
        } else {
            for (const auto& p : paths) text += p + "\r\n";
        }
        g.callbacks.filesDropped(text);
    });
}

void TrayMouse(unsigned mouseMessage) {
    AsUser([&] { g.callbacks.trayMessage(mouseMessage); });
}

void RequestClose() {
    AsUser([&] {
        if (g.callbacks.closeQuery()) platform::EndProgram(0);  // the window would be destroyed
    });
}
void PressEsc() { RequestClose(); }

void ClickStatusBar(int x, int y, int keys) {
    AsUser([&] { g.callbacks.statusBarButtonDown(x, y, keys); });
}

void TaskbarRecreated() {
    AsUser([&] { g.callbacks.taskbarCreated(); });
}

void Minimize() {
    if (g.created && !g.ended && g.visible) g.minimized = true;
}
void AskEndSession() {
    AsUser([&] { g.callbacks.session(0); });
}
void EndSession(bool ending) {
    AsUser([&] { g.callbacks.session(ending ? 1 : 2); });
}
void Wake() {
    AsUser([&] { g.callbacks.resumed(); });
}
void PressControlKey(Ctl c, char key) {
    AsUser([&] {
        if (C(c).enabled && g.callbacks.controlKey) g.callbacks.controlKey(c, key);
    });
}

void StartAnotherCopy() {
    AsUser([&] { g.callbacks.anotherCopyStarted(); });
}
void OtherCopyRunsAt(const std::string& folder) { g_otherCopy = Folded(folder); }
int CopiesAskedToComeBack() { return g_copiesAsked; }
void FailTrayAdds(int n) { g_failTrayAdds = n; }
bool Minimized() { return g.minimized; }
Ctl Focus() { return g.focus; }

void ChooseFromTrayMenu(Menu item) {
    AnswerPopup(form::MenuCommand(item));
    TrayMouse(0x205);  // WM_RBUTTONUP
    g.popupAnswer = 0;
}

// --- scripted answers --------------------------------------------------------------------
void AnswerMessageBoxes(const std::vector<int>& ids) {
    g.messageBoxAnswers.assign(ids.begin(), ids.end());
}
void WhileMessageBoxIsUp(std::function<void()> hook) { g.messageBoxHook = std::move(hook); }
void AnswerFileDialogs(const std::vector<std::optional<std::string>>& answers) {
    g.dialogAnswers.assign(answers.begin(), answers.end());
}
void AnswerPopup(int command) { g.popupAnswer = command; }

// --- what the user sees ------------------------------------------------------------------
const std::vector<MessageBoxShown>& MessageBoxes() { return g.messageBoxes; }
const std::vector<TrayCall>& TrayCalls() { return g.trayCalls; }
int LiveIcons() { return g.liveIcons; }
const std::vector<std::vector<platform::PopupEntry>>& Popups() { return g.popups; }
const std::vector<FileDialogShown>& FileDialogs() { return g.fileDialogs; }
std::vector<std::string> TakeJournal() { return std::exchange(g.journal, {}); }
bool TopMost() { return g.topMost; }
int TopMostChanges() { return g.topMostChanges; }
Geometry WindowGeometry() {
    return {(1024 - form::kWindowWidth) / 2, (768 - form::kWindowHeight) / 2, form::kWindowWidth,
            form::kWindowHeight};
}
form::InputMode InputModeOf(Ctl c) { return C(c).mode; }

}  // namespace headless

// ===== the platform seam ===================================================================
namespace platform {

using headless::C;
using headless::g;

bool CreateMainWindow(const UiCallbacks& callbacks) {
    g.callbacks = callbacks;
    g.created = true;
    g.visible = true;
    g.callbacks.created();
    return true;
}

int RunMessageLoop() {
    PumpMessages();
    return g.exitCode;  // the test drives the rest
}


void StartTimer(unsigned id, std::uint32_t ms) { g.timers[id] = platform::hooks::Now() + ms; }
void StopTimer(unsigned id) { g.timers.erase(id); }

void PumpMessages() {
    headless::RunDueTimers();
    for (;;) {
        std::pair<std::function<void()>*, bool*> item;
        {
            std::lock_guard<std::mutex> lock(headless::g_queueMutex);
            if (headless::g_queue.empty()) return;
            item = headless::g_queue.front();
            headless::g_queue.pop_front();
        }
        (*item.first)();
        {
            std::lock_guard<std::mutex> lock(headless::g_queueMutex);
            *item.second = true;
        }
        headless::g_queueDone.notify_all();
    }
}

// The process ends here: from now on nothing the program still does while its stack unwinds
// (a scope that would save on leaving, a routine the update thread finishes) reaches a file or
// the registry, as nothing does after a real process's end.
void EndProgram(int exitCode) {
    g.visible = false;
    g.ended = true;
    g.exitCode = exitCode;
    throw headless::ProgramEnded{exitCode};
}

WindowHandle MainWindowHandle() { return g.created ? WindowHandle{0x10010} : WindowHandle{}; }

std::string GetText(Ctl c) { return C(c).text; }
void SetText(Ctl c, std::string_view text) {
    C(c).text.assign(text);
    if (form::Def(c).kind == form::Kind::Edit) g.callbacks.textChanged(c);  // as EN_CHANGE would
}
bool IsEnabled(Ctl c) { return C(c).enabled; }
void SetEnabled(Ctl c, bool enabled) {
    C(c).enabled = enabled;
    if (!enabled && g.focus == c) g.focus = Ctl::Count;  // as Windows leaves it: nowhere
    g.journal.push_back((enabled ? "enable " : "disable ") + std::string(form::Def(c).name));
}
bool IsWindowVisible() { return g.visible; }
void SetWindowVisible(bool visible) { g.visible = visible; }
bool IsWindowMinimized() { return g.minimized; }
void MinimizeWindow() { g.minimized = true; }
void BringWindowBack() {
    g.visible = true;
    g.minimized = false;
}
bool HasKeyboardFocus(Ctl c) { return g.focus == c; }
void GiveKeyboardFocus(Ctl c) {
    if (C(c).enabled) g.focus = c;
}

bool ClaimOnlyCopy(const std::string& folder) {
    if (headless::g_otherCopy.empty() || headless::g_otherCopy != headless::Folded(folder))
        return true;
    ++headless::g_copiesAsked;
    return false;
}
void SetTopMost(bool topMost) {
    g.topMost = topMost;
    ++g.topMostChanges;
}
bool IsChecked(Ctl c) { return C(c).checked; }
void SetChecked(Ctl c, bool checked) { C(c).checked = checked; }
void SetInputMode(Ctl c, form::InputMode mode) { C(c).mode = mode; }
form::InputMode GetInputMode(Ctl c) { return C(c).mode; }
int GetSelection(Ctl c) { return C(c).selection; }
void SetSelection(Ctl c, int index) {
    C(c).selection = index;
    if (index >= 0) C(c).caret = index;
}
int ItemCount(Ctl c) { return static_cast<int>(C(c).items.size()); }
int AddItem(Ctl c, std::string_view text, int value) {
    C(c).items.emplace_back(std::string(text), value);
    return static_cast<int>(C(c).items.size()) - 1;
}
bool DeleteItem(Ctl c, int index) {
    auto& box = C(c);
    if (index < 0 || index >= static_cast<int>(box.items.size())) return false;
    box.items.erase(box.items.begin() + index);
    if (box.selection == index) box.selection = -1;
    else if (box.selection > index) --box.selection;
    return true;
}
std::string ItemText(Ctl c, int index) {
    auto& box = C(c);
    if (index < 0 || index >= static_cast<int>(box.items.size())) return {};
    return box.items[index].first;
}
void ReplaceItemText(Ctl c, int index, std::string_view text) {
    C(c).items[index].first.assign(text);
}
std::string StatusText(int panel) { return g.statusTexts[panel]; }
void SetStatusText(int panel, std::string_view text) {
    g.statusTexts[panel].assign(text);
    g.journal.push_back("status " + std::to_string(panel));
}
ByteVector WindowIcon() { return ByteVector(res::kIconFile, res::kIconFile + sizeof(res::kIconFile)); }

bool OpenFileDialog(const FileDialogOptions& options, std::string& path) {
    g.fileDialogs.push_back({options, path});
    if (g.dialogAnswers.empty()) return false;
    std::optional<std::string> answer = g.dialogAnswers.front();
    g.dialogAnswers.pop_front();
    if (!answer) return false;
    path = *answer;
    return true;
}

int MessageBox(std::string_view text, std::string_view caption, unsigned style,
               WindowHandle owner) {
    // The update check shows its boxes from its own thread.
    std::unique_lock<std::mutex> lock(headless::g_boxMutex);
    g.messageBoxes.push_back({std::string(text), std::string(caption), style, owner});
    if (g.messageBoxHook) {
        auto hook = std::move(g.messageBoxHook);
        g.messageBoxHook = nullptr;
        lock.unlock();
        hook();
        lock.lock();
    }
    if (g.messageBoxAnswers.empty()) return 1;  // IDOK
    int id = g.messageBoxAnswers.front();
    g.messageBoxAnswers.pop_front();
    return id;
}

void NotifyIcon(TrayOp op, const TrayRecord& record) {
    g.trayCalls.push_back({op, record});
    g.journal.push_back("tray");
    if (op == TrayOp::Add) {
        if (headless::g_failTrayAdds > 0) {
            --headless::g_failTrayAdds;
            return;
        }
        g.trayShown = true;
    } else if (op == TrayOp::Delete) {
        g.trayShown = false;
    }
}
bool TrayIconShown() { return g.trayShown; }
void StopTrayRetries() { g.journal.push_back("tray retries stopped"); }
void ShowTrayBalloon(const std::string& title, const std::string& text, BalloonIcon icon) {
    if (!g.trayShown) return;
    g.journal.push_back(std::string(icon == BalloonIcon::Warning ? "warning" : "info") +
                        " balloon " + title + ": " + text);
}
IconHandle CreateIconFromBytes(const ByteVector& iconFile) {
    // Accept what a real loader would: an icon directory with at least one image.
    if (iconFile.size() < 22 || iconFile[0] != 0 || iconFile[1] != 0 || iconFile[2] != 1 ||
        iconFile[4] == 0)
        return {};
    static std::intptr_t next = 0x5000;
    ++g.liveIcons;
    return IconHandle{++next};
}
void DestroyIconHandle(IconHandle icon) {
    if (IsSet(icon)) --g.liveIcons;
}

void ShowPopupMenu(const std::vector<PopupEntry>& entries) {
    g.popups.push_back(entries);
    int command = g.popupAnswer;
    g.popupAnswer = 0;
    for (const PopupEntry& e : entries) {
        if (e.command == command && !e.separator && !e.disabled) {
            g.callbacks.menuCommand(command);
            return;
        }
    }
}

bool RegisterDropTarget(WindowHandle window) {
    if (!IsSet(window)) return false;
    g.dropRegistered = true;
    return true;
}

bool IsUiThread() { return std::this_thread::get_id() == g.uiThread; }

void RunOnUiThread(const std::function<void()>& work) {
    if (IsUiThread()) {
        work();
        return;
    }
    std::function<void()> copy = work;
    bool done = false;
    std::unique_lock<std::mutex> lock(headless::g_queueMutex);
    headless::g_queue.push_back({&copy, &done});
    headless::g_queueDone.wait(lock, [&] { return done; });
}

}  // namespace platform
