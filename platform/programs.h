// The programs half of the seam to the operating system: starting programs, the shell, threads,
// waiting for window messages, library modules for functions called by name, and watching a
// process end. Each call is one operating-system call (or a short fixed sequence of them), or
// on the headless layer its stand-in.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "platform/handles.h"

// The calling convention of the Windows functions the program calls by name.
#if defined(_WIN32) && defined(__i386__)
#define SK_WINAPI __attribute__((stdcall))
#else
#define SK_WINAPI
#endif

namespace platform {

// The ANSI process entry of a Toolhelp snapshot (PROCESSENTRY32), field for field.
struct ProcessEntry {
    std::uint32_t size = sizeof(ProcessEntry);
    std::uint32_t usage = 0;
    std::uint32_t processId = 0;
    std::uintptr_t defaultHeapId = 0;
    std::uint32_t moduleId = 0;
    std::uint32_t threads = 0;
    std::uint32_t parentProcessId = 0;
    std::int32_t priorityBase = 0;
    std::uint32_t flags = 0;
    char exeFile[260] = {};
};

// --- programs ------------------------------------------------------------------------------
// CreateProcessA of the command line (no application name, no handle inheritance, no creation
// flags, this process's environment and directory), shown with the SW_* state. Then waits for
// the program's end, or until it is idle for input but at most 1000 ms. False when it did not
// start.
bool StartProgram(const std::string& commandLine, int showState, bool waitForExit);

// --- a tree of processes ------------------------------------------------------------------
// Starts the command line as StartProgram does without waiting for its end, but inside a new
// job object that ends its processes when its last handle closes (kill-on-close: also when this
// program dies). The program is created suspended and put into the job before it runs, so every
// process it starts is in the job too. None when it did not start.
JobHandle StartProgramInJob(const std::string& commandLine, int showState);
// The processes in a job now (JOBOBJECT_BASIC_PROCESS_ID_LIST with room for 32, field for field).
struct JobProcessList {
    std::uint32_t assigned = 0;
    std::uint32_t listed = 0;  // how many of ids hold one
    std::uintptr_t ids[32] = {};
};
JobProcessList JobProcesses(JobHandle job);
// Ends every process in the job; the job stays open.
void EndJob(JobHandle job);

// --- waiting -------------------------------------------------------------------------------
std::uint32_t TickCount();  // milliseconds, wrapping
// Sleeps until a message for the calling thread is waiting (also one already queued) or ms pass.
void WaitForMessage(std::uint32_t ms);
// Sleeps ms, whatever arrives meanwhile.
void PauseThread(std::uint32_t ms);

// --- shell ---------------------------------------------------------------------------------
// ShellExecuteA; an absent verb, parameters or directory passes no pointer. The result is
// ShellExecute's.
int ShellOpen(WindowHandle owner, const std::optional<std::string>& verb,
                 const std::string& file, const std::optional<std::string>& parameters,
                 const std::optional<std::string>& directory, int showState);
// A top-level window with exactly this title, none when there is none.
WindowHandle FindTopLevelWindow(const std::string& title);
// ShellOpen's "open" of file for a worker thread: ShellExecuteExA with SEE_MASK_NOASYNC, since
// the thread may end right after (Microsoft's ShellExecute notes). True when it opened.
bool ShellOpenFromWorker(WindowHandle owner, const std::string& file, int showState);

// --- threads -------------------------------------------------------------------------------
// Runs routine(parameter) on a new thread with the default stack size. With handle, the
// thread's handle is stored there and stays open; without, it is closed at once.
bool StartThread(void (*routine)(int), int parameter, ThreadHandle* handle);
void CloseThreadHandle(ThreadHandle thread);

// Runs work(context) on a thread of its own and waits for it at most ms. True when it ended in
// time; otherwise it goes on alone, and whatever it uses must stay valid until it ends. With
// started, whether the thread began at all (if not, work is never called).
bool RunWithDeadline(void (*work)(void*), void* context, unsigned long ms,
                     bool* started = nullptr);

// --- environment -------------------------------------------------------------------------
// A variable of this process's environment, which the programs it starts inherit. False where
// it is not set.
bool ReadEnvironment(const std::string& name, std::string& value);

// --- libraries ---------------------------------------------------------------------------
LibraryHandle OpenLibrary(const std::string& name);  // LoadLibraryA
void* LibraryExport(LibraryHandle library, const std::string& name);
void* LibraryExportByOrdinal(LibraryHandle library, std::uint16_t ordinal);
void CloseLibrary(LibraryHandle library);

// --- watching a process ------------------------------------------------------------------
// Runs onEnd on the window thread once the process ends. One watch at a time: a new watch or
// CancelProcessWatch replaces it, and a replaced watch never runs. False when the process
// cannot be watched (it is already gone, or not to be opened).
bool WatchProcess(std::uint32_t processId, std::function<void()> onEnd);
void CancelProcessWatch();

}  // namespace platform
