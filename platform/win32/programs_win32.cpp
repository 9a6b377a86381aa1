// Programs, the shell, threads, message waits, library modules and process watches on Win32.
#include "platform/programs.h"

#include "platform/win32/ui_win32.h"

#include <objbase.h>
#include <shellapi.h>
#include <tlhelp32.h>

#include <cstddef>

namespace platform {

static_assert(sizeof(ProcessEntry) == sizeof(PROCESSENTRY32),
              "ProcessEntry must be laid out as PROCESSENTRY32");

static_assert(offsetof(JobProcessList, ids) == offsetof(JOBOBJECT_BASIC_PROCESS_ID_LIST, ProcessIdList),
              "JobProcessList must be laid out as JOBOBJECT_BASIC_PROCESS_ID_LIST");

namespace {
bool Create(const std::string& commandLine, int showState, DWORD flags, PROCESS_INFORMATION& pi) {
    STARTUPINFOA si{};
    si.cb = sizeof si;  // 68 bytes
    si.dwFlags = STARTF_USESHOWWINDOW;
    si.wShowWindow = static_cast<WORD>(showState);
    std::string line = commandLine;  // CreateProcessA may write into its command line
    return CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, flags, nullptr, nullptr,
                          &si, &pi);
}
void Release(PROCESS_INFORMATION& pi) {
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
}
}  // namespace

bool StartProgram(const std::string& commandLine, int showState, bool waitForExit) {
    PROCESS_INFORMATION pi{};
    if (!Create(commandLine, showState, 0, pi)) return false;
    if (waitForExit) {
        WaitForSingleObject(pi.hProcess, INFINITE);
    } else {
        WaitForInputIdle(pi.hProcess, 1000);
    }
    Release(pi);
    return true;
}

// A process in a job creates its children in that job (Microsoft's AssignProcessToJobObject
// remarks); created suspended, the outer cmd starts nothing before it is in the job. Where this
// program runs in a job of its own that allows it, the tree breaks away from it (before Windows
// 8 a process belongs to one job only); otherwise the tree starts inside it and joins the new
// job as a nested one (Windows 8 on).
JobHandle StartProgramInJob(const std::string& commandLine, int showState) {
    HANDLE job = CreateJobObjectA(nullptr, nullptr);
    if (!job) return {};
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits);
    PROCESS_INFORMATION pi{};
    bool started = Create(commandLine, showState, CREATE_SUSPENDED | CREATE_BREAKAWAY_FROM_JOB, pi) ||
                   Create(commandLine, showState, CREATE_SUSPENDED, pi);
    if (started) {
        // Outside the job nothing could find or end it.
        if (!AssignProcessToJobObject(job, pi.hProcess)) {
            TerminateProcess(pi.hProcess, 1);
            started = false;
        } else {
            ResumeThread(pi.hThread);
            WaitForInputIdle(pi.hProcess, 1000);
        }
        Release(pi);
    }
    if (started) return HandleOf<JobHandle>(job);
    CloseHandle(job);
    return {};
}

JobProcessList JobProcesses(JobHandle job) {
    JobProcessList list;
    // With more than 32 the call fails with ERROR_MORE_DATA but fills in the first 32.
    QueryInformationJobObject(NativeOf<void>(job), JobObjectBasicProcessIdList, &list, sizeof list,
                              nullptr);
    if (list.listed > 32) list.listed = 32;
    return list;
}

void EndJob(JobHandle job) { TerminateJobObject(NativeOf<void>(job), 1); }

void CloseJob(JobHandle job) {
    if (IsSet(job)) CloseHandle(NativeOf<void>(job));
}

std::uint32_t TickCount() { return GetTickCount(); }

void WaitForMessage(std::uint32_t ms) {
    // MWMO_INPUTAVAILABLE: a message already queued but not yet seen also ends the wait.
    MsgWaitForMultipleObjectsEx(0, nullptr, ms, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
}

void PauseThread(std::uint32_t ms) { Sleep(ms); }

int ShellOpen(WindowHandle owner, const std::optional<std::string>& verb,
                 const std::string& file, const std::optional<std::string>& parameters,
                 const std::optional<std::string>& directory, int showState) {
    // ShellExecute may hand the work to shell extensions over COM, so COM comes first on the
    // calling thread (Microsoft's ShellExecute documentation). Only the window thread calls
    // this: COM is initialised there on the first call and kept for the thread's life.
    static const HRESULT com =
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    (void)com;
    HINSTANCE r = ShellExecuteA(NativeOf<HWND__>(owner), verb ? verb->c_str() : nullptr,
                                file.c_str(), parameters ? parameters->c_str() : nullptr,
                                directory ? directory->c_str() : nullptr, showState);
    return static_cast<int>(reinterpret_cast<INT_PTR>(r));
}

WindowHandle FindTopLevelWindow(const std::string& title) {
    return HandleOf<WindowHandle>(FindWindowA(nullptr, title.c_str()));
}

bool ShellOpenFromWorker(WindowHandle owner, const std::string& file, int showState) {
    SHELLEXECUTEINFOA info{};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOASYNC;
    info.hwnd = NativeOf<HWND__>(owner);
    info.lpVerb = "open";
    info.lpFile = file.c_str();
    info.nShow = showState;
    return ShellExecuteExA(&info) != FALSE;
}

namespace {
struct ThreadStart {
    void (*routine)(int);
    int parameter;
};
DWORD WINAPI ThreadMain(LPVOID p) {
    ThreadStart start = *static_cast<ThreadStart*>(p);
    delete static_cast<ThreadStart*>(p);
    // COM once for the thread's life, for the shell calls it may make.
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    start.routine(start.parameter);
    if (SUCCEEDED(com)) CoUninitialize();
    return 0;
}
}  // namespace

bool ReadEnvironment(const std::string& name, std::string& value) {
    char buffer[1024];
    const DWORD n = GetEnvironmentVariableA(name.c_str(), buffer, sizeof buffer);
    if (n == 0 || n >= sizeof buffer) return false;  // unset, or longer than any key in use
    value.assign(buffer, n);
    return true;
}

bool StartThread(void (*routine)(int), int parameter, ThreadHandle* handle) {
    auto* start = new ThreadStart{routine, parameter};
    HANDLE h = CreateThread(nullptr, 0, ThreadMain, start, 0, nullptr);
    if (!h) {
        delete start;
        return false;
    }
    if (handle) {
        *handle = HandleOf<ThreadHandle>(h);
    } else {
        CloseHandle(h);
    }
    return true;
}

namespace {
// One run, shared by the waiting thread and the running one: whichever lets go last frees it.
struct Run {
    void (*work)(void*);
    void* context;
    HANDLE done;
    volatile LONG holders;
};
void LetGo(Run* run) {
    if (InterlockedDecrement(&run->holders) != 0) return;
    CloseHandle(run->done);
    delete run;
}
DWORD WINAPI RunMain(LPVOID p) {
    auto* run = static_cast<Run*>(p);
    run->work(run->context);
    SetEvent(run->done);
    LetGo(run);
    return 0;
}
}  // namespace

bool RunWithDeadline(void (*work)(void*), void* context, unsigned long ms, bool* started) {
    HANDLE done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    auto* run = done ? new Run{work, context, done, 2} : nullptr;
    HANDLE thread = run ? CreateThread(nullptr, 0, RunMain, run, 0, nullptr) : nullptr;
    if (started) *started = thread != nullptr;
    if (!thread) {
        if (!done) return false;
        CloseHandle(done);
        delete run;
        return false;
    }
    CloseHandle(thread);
    const bool inTime = WaitForSingleObject(done, ms) == WAIT_OBJECT_0;
    LetGo(run);
    return inTime;
}

void CloseThreadHandle(ThreadHandle thread) {
    if (IsSet(thread)) CloseHandle(NativeOf<void>(thread));
}

LibraryHandle OpenLibrary(const std::string& name) {
    return HandleOf<LibraryHandle>(LoadLibraryA(name.c_str()));
}
void* LibraryExport(LibraryHandle library, const std::string& name) {
    return reinterpret_cast<void*>(GetProcAddress(NativeOf<HINSTANCE__>(library), name.c_str()));
}
void* LibraryExportByOrdinal(LibraryHandle library, std::uint16_t ordinal) {
    return reinterpret_cast<void*>(
        GetProcAddress(NativeOf<HINSTANCE__>(library), MAKEINTRESOURCEA(ordinal)));
}
void CloseLibrary(LibraryHandle library) {
    if (IsSet(library)) FreeLibrary(NativeOf<HINSTANCE__>(library));
}

// The system's thread pool waits on the process; its end reaches the window thread as a posted
// message carrying the watch's number, so that a watch replaced meanwhile is recognised as stale.
namespace {
struct Watch {
    HANDLE process = nullptr;
    HANDLE wait = nullptr;
    std::function<void()> onEnd;
};
Watch g_watch;
LONG g_watchNumber = 0;

VOID CALLBACK ProcessEnded(PVOID number, BOOLEAN) {
    PostMessageA(win32::MainHwnd(), win32::kProcessEndedMessage,
                 reinterpret_cast<WPARAM>(number), 0);
}
}  // namespace

bool WatchProcess(std::uint32_t processId, std::function<void()> onEnd) {
    CancelProcessWatch();
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, processId);
    if (!process) return false;
    HANDLE wait = nullptr;
    const LONG number = ++g_watchNumber;
    if (!RegisterWaitForSingleObject(&wait, process, ProcessEnded,
                                     reinterpret_cast<PVOID>(static_cast<INT_PTR>(number)),
                                     INFINITE, WT_EXECUTEONLYONCE)) {
        CloseHandle(process);
        return false;
    }
    g_watch = {process, wait, std::move(onEnd)};
    return true;
}

void CancelProcessWatch() {
    ++g_watchNumber;
    if (g_watch.wait) UnregisterWait(g_watch.wait);
    if (g_watch.process) CloseHandle(g_watch.process);
    g_watch = {};
}

namespace win32 {
void OnProcessEnded(WPARAM number) {
    if (static_cast<LONG>(number) != g_watchNumber || !g_watch.onEnd) return;
    std::function<void()> onEnd = std::move(g_watch.onEnd);
    CancelProcessWatch();
    onEnd();
}
}  // namespace win32

}  // namespace platform
