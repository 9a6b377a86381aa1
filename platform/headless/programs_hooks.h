// The headless process layer's other side, for tests: the programs the program started, a
// process table the fake Toolhelp and termination functions work on, the shell's calls, the
// libraries, and a clock that only moves while the program waits. Only tests include this.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/handles.h"

namespace platform::hooks {

// Empties the process table and every record; the clock keeps running.
void ResetProcesses();

struct ProgramStart {
    std::string commandLine;
    int showState;
    bool waitForExit;
};
const std::vector<ProgramStart>& ProgramsStarted();
// What starting a command line does (for example, brings up a client process). Kept until reset.
void OnProgramStart(std::function<void(const std::string& commandLine)> effect);
// Command lines that fail to start.
void FailProgramStarts(bool fail);
// Threads of RunWithDeadline that fail to start.
void FailThreadStarts(bool fail);

// The process table, in snapshot order. A running process, in the job of that number (see
// LastJob; 0: none); its new id.
std::uint32_t AddProcess(const std::string& exeName, int job = 0);
// The process ends by itself: a watch on it fires.
void EndProcess(std::uint32_t processId);
// The process ends by itself as soon as the next snapshot that lists it is closed: between a
// look-up by name and what follows it.
void EndAfterNextSnapshot(std::uint32_t processId);
std::vector<std::string> ProcessNames();
const std::vector<std::uint32_t>& TerminatedProcesses();
int OpenHandles();  // snapshot and process handles not yet closed
// Processes of an ended job are gone only ms later, as a client closing its sockets.
void EndedProcessesLinger(std::uint32_t ms);
int LastJob();      // the number of the job started last (0: none yet)
bool Watching(std::uint32_t processId);

// The clock: milliseconds that passed while the program waited for messages.
std::uint32_t Now();
// Runs once, the next time the program waits for messages (a click during a delay).
void DuringNextWait(std::function<void()> action);

// Acts as the window thread until every thread the program started has ended (30 s at most).
void FinishThreads();
int ThreadsRunning();

struct ShellCall {
    platform::WindowHandle owner;
    std::optional<std::string> verb;
    std::string file;
    std::optional<std::string> parameters, directory;
    int showState;
    bool fromWorker = false;  // ShellOpenFromWorker
};
const std::vector<ShellCall>& ShellCalls();
// A top-level window the shell can be given as owner, by title (0: none).
void SetTopLevelWindow(const std::string& title, WindowHandle window);

// Libraries: the system's six of the default list, each with its exports; kernel32 exports the
// process functions over the table above. Loads and frees in order, as "load NAME"/"free NAME".
const std::vector<std::string>& LibraryEvents();
void RemoveExport(const std::string& library, const std::string& function);
// Moves an export to another library (lower-case names with ".dll").
void MoveExport(const std::string& function, const std::string& from, const std::string& to);

}  // namespace platform::hooks
