// Processes of the Wine session seen from outside: the list, parent links, a process's command
// line as its creator passed it, and ending one. Used to follow the client Skiplane starts
// through cmd.exe.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace e2e {

struct ProcessInfo {
    DWORD pid = 0;
    DWORD parentPid = 0;
    std::string exeName;  // file name only, e.g. "cmd.exe"
};

// Every process now running (one Toolhelp snapshot).
std::vector<ProcessInfo> Processes();
// The first running process of that exe name (case-insensitive), or 0.
DWORD FindProcess(const std::string& exeName);
// The processes whose parent is pid.
std::vector<DWORD> ChildrenOf(DWORD pid);

// The command line of a running process, read from its process parameters and given in the
// ANSI code page, byte for byte; empty text when it cannot be read.
std::string ProcessCommandLine(DWORD pid);

// Terminates the process and waits up to 5 s for it to end; true once it has ended.
bool KillProcess(DWORD pid);
// Polls until no process of that exe name runs; false when one still runs after timeoutMs.
bool WaitProcessGone(const std::string& exeName, int timeoutMs = 10000);

// The private memory of a running process in bytes (PagefileUsage: the private commit on
// Windows; Wine 8 leaves PrivateUsage at zero for other processes and gives the anonymous
// resident memory here, which grows with every page the heap takes), or 0 when it cannot be read.
size_t PrivateBytes(DWORD pid);
// The most memory the process has had in its working set so far, in bytes, or 0 when it cannot
// be read.
size_t PeakWorkingSet(DWORD pid);
// The number of handles the process holds, from the system's handle table (GetProcessHandleCount
// answers 0 under Wine), or -1 when the table cannot be read.
int HandleCount(DWORD pid);

}  // namespace e2e
