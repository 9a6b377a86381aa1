// Processes, the shell, threads, message waits and libraries in memory. Started programs are
// recorded and do what the test says; the Toolhelp stand-ins and the jobs
// work on an in-memory process table; time passes only while the program waits.
#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <memory>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include "platform/headless/programs_hooks.h"
#include "platform/programs.h"
#include "platform/window.h"

namespace platform {

namespace {

struct Process {
    std::uint32_t id;
    std::string exeName;
    int job;  // 0: none
};

struct Handle {
    std::vector<Process> snapshot;
    std::size_t next = 0;
};

struct State {
    std::vector<hooks::ProgramStart> started;
    std::function<void(const std::string&)> onStart;
    bool failStarts = false;
    std::vector<Process> processes;
    std::uint32_t nextProcessId = 1000;
    std::vector<std::uint32_t> terminated;
    std::set<int> jobs;  // open jobs; numbers go on across resets
    std::uint32_t linger = 0;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> dying;  // process, when it is gone
    std::map<std::intptr_t, Handle> handles;
    std::intptr_t nextHandle = 0x100;
    std::uint32_t watched = 0;
    std::uint32_t endAfterSnapshot = 0;
    std::function<void()> onWatchedEnd;
    std::function<void()> duringWait;
    std::vector<hooks::ShellCall> shellCalls;
    std::map<std::string, WindowHandle> topLevel;
    std::vector<std::string> libraryEvents;
    std::map<std::string, std::map<std::string, void*>> exports;
};
State g;
std::uint32_t g_now = 0;
int g_lastJob = 0;

using Bool = std::int32_t;

// Removes a process from the table; a watch on it fires on the window thread (the caller's).
void ProcessGone(std::uint32_t id) {
    auto it = std::find_if(g.processes.begin(), g.processes.end(),
                           [&](const Process& p) { return p.id == id; });
    if (it == g.processes.end()) return;
    g.processes.erase(it);
    if (g.watched == id) {
        auto onEnd = std::move(g.onWatchedEnd);
        g.watched = 0;
        g.onWatchedEnd = nullptr;
        if (onEnd) onEnd();
    }
}

// Processes of an ended job whose time has come.
void Bury() {
    for (std::size_t i = 0; i < g.dying.size();) {
        if (g_now - g.dying[i].second < 0x80000000u) {
            const std::uint32_t id = g.dying[i].first;
            g.dying.erase(g.dying.begin() + static_cast<std::ptrdiff_t>(i));
            ProcessGone(id);
        } else {
            ++i;
        }
    }
}

std::intptr_t NewHandle(Handle h) {
    g.handles[++g.nextHandle] = std::move(h);
    return g.nextHandle;
}

// --- kernel32 stand-ins ------------------------------------------------------------------
std::intptr_t SK_WINAPI FakeCreateToolhelp32Snapshot(std::uint32_t flags, std::uint32_t) {
    if (flags != 2) return -1;  // only TH32CS_SNAPPROCESS
    return NewHandle({g.processes});
}
Bool ReadEntry(std::intptr_t snapshot, ProcessEntry* entry, bool first) {
    auto it = g.handles.find(snapshot);
    if (it == g.handles.end() || !entry ||
        entry->size != sizeof(ProcessEntry))
        return 0;
    Handle& h = it->second;
    if (first) h.next = 0;
    if (h.next >= h.snapshot.size()) return 0;
    const Process& p = h.snapshot[h.next++];
    *entry = ProcessEntry{};
    entry->processId = p.id;
    entry->threads = 1;
    p.exeName.copy(entry->exeFile, sizeof entry->exeFile - 1);
    return 1;
}
Bool SK_WINAPI FakeProcess32First(std::intptr_t s, ProcessEntry* e) { return ReadEntry(s, e, true); }
Bool SK_WINAPI FakeProcess32Next(std::intptr_t s, ProcessEntry* e) { return ReadEntry(s, e, false); }
Bool SK_WINAPI FakeCloseHandle(std::intptr_t handle) {
    auto it = g.handles.find(handle);
    if (it == g.handles.end()) return 0;
    const bool listed = std::any_of(it->second.snapshot.begin(), it->second.snapshot.end(),
                                    [](const Process& p) { return p.id == g.endAfterSnapshot; });
    g.handles.erase(it);
    if (listed) ProcessGone(std::exchange(g.endAfterSnapshot, 0));
    return 1;
}
std::uint32_t SK_WINAPI FakeGetCurrentProcessId() { return 4; }

std::map<std::string, std::map<std::string, void*>> SystemExports() {
    return {
        {"kernel32.dll",
         {{"CreateToolhelp32Snapshot", reinterpret_cast<void*>(FakeCreateToolhelp32Snapshot)},
          {"Process32First", reinterpret_cast<void*>(FakeProcess32First)},
          {"Process32Next", reinterpret_cast<void*>(FakeProcess32Next)},
          {"CloseHandle", reinterpret_cast<void*>(FakeCloseHandle)},
          {"GetCurrentProcessId", reinterpret_cast<void*>(FakeGetCurrentProcessId)}}},
        {"gdi32.dll", {}},  {"user32.dll", {}}, {"advapi32.dll", {}},
        {"mpr.dll", {}},    {"shell32.dll", {}},
    };
}

std::string Lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

void Reset() {
    g = State{};
    g.exports = SystemExports();
}
struct Init {
    Init() { Reset(); }
} g_init;

}  // namespace

bool StartProgram(const std::string& commandLine, int showState, bool waitForExit) {
    if (g.failStarts) return false;
    g.started.push_back({commandLine, showState, waitForExit});
    if (g.onStart) g.onStart(commandLine);
    return true;
}

// A job is its number; ending it, or closing it (kill-on-close), ends its processes.
JobHandle StartProgramInJob(const std::string& commandLine, int showState) {
    if (g.failStarts) return {};
    g.jobs.insert(++g_lastJob);
    const JobHandle job{g_lastJob};
    StartProgram(commandLine, showState, false);
    return job;
}

JobProcessList JobProcesses(JobHandle job) {
    Bury();
    JobProcessList list;
    for (const Process& p : g.processes)
        if (p.job == static_cast<int>(job) && list.listed < 32) list.ids[list.listed++] = p.id;
    list.assigned = list.listed;
    return list;
}

void EndJob(JobHandle job) {
    const JobProcessList list = JobProcesses(job);
    for (const std::uintptr_t p : list.ids) {
        const auto id = static_cast<std::uint32_t>(p);
        if (id == 0) break;
        if (std::any_of(g.dying.begin(), g.dying.end(), [id](const auto& d) { return d.first == id; }))
            continue;
        g.terminated.push_back(id);
        if (g.linger == 0) {
            ProcessGone(id);
        } else {
            g.dying.push_back({id, g_now + g.linger});
        }
    }
}

void CloseJob(JobHandle job) {
    if (g.jobs.erase(static_cast<int>(job)) == 0) return;  // a job from before a reset
    EndJob(job);
}

std::uint32_t TickCount() { return g_now; }

void WaitForMessage(std::uint32_t ms) {
    if (auto action = std::move(g.duringWait)) {
        g.duringWait = nullptr;
        action();  // it arrived as a message: handled now, at no cost in time
        return;
    }
    g_now += ms;
    Bury();
}

// The clock moves on; nothing else happens meanwhile.
void PauseThread(std::uint32_t ms) { g_now += ms; }

std::mutex g_shellMutex;  // the update check opens pages from its own thread

int ShellOpen(WindowHandle owner, const std::optional<std::string>& verb, const std::string& file,
              const std::optional<std::string>& parameters,
              const std::optional<std::string>& directory, int showState) {
    std::lock_guard<std::mutex> lock(g_shellMutex);
    g.shellCalls.push_back({owner, verb, file, parameters, directory, showState});
    return 42;  // above 32: success
}

bool ShellOpenFromWorker(WindowHandle owner, const std::string& file, int showState) {
    std::lock_guard<std::mutex> lock(g_shellMutex);
    g.shellCalls.push_back({owner, std::string("open"), file, {}, {}, showState, true});
    return true;
}

WindowHandle FindTopLevelWindow(const std::string& title) {
    auto it = g.topLevel.find(title);
    return it == g.topLevel.end() ? WindowHandle{} : it->second;
}

std::atomic<int> g_threadsRunning{0};
bool g_failThreadStarts = false;

void CloseThreadHandle(ThreadHandle) {}

bool ReadEnvironment(const std::string& name, std::string& value) {
    const char* v = std::getenv(name.c_str());
    if (v) value = v;
    return v != nullptr;
}

bool StartThread(void (*routine)(int), int parameter, ThreadHandle* handle) {
    static std::intptr_t nextThread = 0x7000;
    ++g_threadsRunning;
    std::thread([routine, parameter] {
        routine(parameter);
        --g_threadsRunning;
    }).detach();
    if (handle) *handle = ThreadHandle{++nextThread};
    return true;
}

// The run's thread counts among the program's threads, so FinishThreads waits for it as well.
bool RunWithDeadline(void (*work)(void*), void* context, unsigned long ms, bool* started) {
    if (started) *started = !g_failThreadStarts;
    if (g_failThreadStarts) return false;
    struct Run {
        std::mutex mutex;
        std::condition_variable ended;
        bool done = false;
    };
    auto run = std::make_shared<Run>();
    ++g_threadsRunning;
    std::thread([run, work, context] {
        work(context);
        {
            std::lock_guard<std::mutex> lock(run->mutex);
            run->done = true;
        }
        run->ended.notify_all();
        --g_threadsRunning;
    }).detach();
    std::unique_lock<std::mutex> lock(run->mutex);
    return run->ended.wait_for(lock, std::chrono::milliseconds(ms), [&] { return run->done; });
}

// A name without a folder is one of the system's libraries (".dll" added when it has no
// extension); a path names a file, and no library files exist here.
LibraryHandle OpenLibrary(const std::string& name) {
    if (name.find('\\') != std::string::npos || name.find('/') != std::string::npos) return {};
    std::string key = Lower(name);
    if (key.find('.') == std::string::npos) key += ".dll";
    auto it = g.exports.find(key);
    if (it == g.exports.end()) return {};
    g.libraryEvents.push_back("load " + key);
    return HandleOf<LibraryHandle>(&*it);
}
void* LibraryExport(LibraryHandle library, const std::string& name) {
    auto* lib = NativeOf<std::pair<const std::string, std::map<std::string, void*>>>(library);
    auto it = lib->second.find(name);
    return it == lib->second.end() ? nullptr : it->second;
}
void* LibraryExportByOrdinal(LibraryHandle, std::uint16_t) { return nullptr; }
void CloseLibrary(LibraryHandle library) {
    if (!IsSet(library)) return;
    auto* lib = NativeOf<std::pair<const std::string, std::map<std::string, void*>>>(library);
    g.libraryEvents.push_back("free " + lib->first);
}

bool WatchProcess(std::uint32_t processId, std::function<void()> onEnd) {
    CancelProcessWatch();
    const bool exists = std::any_of(g.processes.begin(), g.processes.end(),
                                    [&](const Process& p) { return p.id == processId; });
    if (!exists) return false;
    g.watched = processId;
    g.onWatchedEnd = std::move(onEnd);
    return true;
}

void CancelProcessWatch() {
    g.watched = 0;
    g.onWatchedEnd = nullptr;
}

// --- the tests' side ---------------------------------------------------------------------
namespace hooks {

void ResetProcesses() { Reset(); }
const std::vector<ProgramStart>& ProgramsStarted() { return g.started; }
void OnProgramStart(std::function<void(const std::string&)> effect) { g.onStart = std::move(effect); }
void FailProgramStarts(bool fail) { g.failStarts = fail; }
void FailThreadStarts(bool fail) { platform::g_failThreadStarts = fail; }

std::uint32_t AddProcess(const std::string& exeName, int job) {
    g.processes.push_back({++g.nextProcessId, exeName, job});
    return g.nextProcessId;
}
void EndProcess(std::uint32_t processId) { ProcessGone(processId); }
void EndAfterNextSnapshot(std::uint32_t processId) { g.endAfterSnapshot = processId; }
std::vector<std::string> ProcessNames() {
    std::vector<std::string> names;
    for (const Process& p : g.processes) names.push_back(p.exeName);
    return names;
}
const std::vector<std::uint32_t>& TerminatedProcesses() { return g.terminated; }
int OpenHandles() { return static_cast<int>(g.handles.size()); }
void EndedProcessesLinger(std::uint32_t ms) { g.linger = ms; }
int LastJob() { return g_lastJob; }

bool Watching(std::uint32_t processId) { return processId != 0 && g.watched == processId; }

std::uint32_t Now() { return g_now; }
void DuringNextWait(std::function<void()> action) { g.duringWait = std::move(action); }

void FinishThreads() {
    for (int i = 0; i < 30000 && g_threadsRunning > 0; ++i) {
        PumpMessages();  // their work for the window thread
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}
int ThreadsRunning() { return g_threadsRunning; }

const std::vector<ShellCall>& ShellCalls() { return g.shellCalls; }
void SetTopLevelWindow(const std::string& title, WindowHandle window) { g.topLevel[title] = window; }

const std::vector<std::string>& LibraryEvents() { return g.libraryEvents; }
void RemoveExport(const std::string& library, const std::string& function) {
    g.exports[library].erase(function);
}
void MoveExport(const std::string& function, const std::string& from, const std::string& to) {
    g.exports[to][function] = g.exports[from][function];
    g.exports[from].erase(function);
}

}  // namespace hooks

}  // namespace platform
