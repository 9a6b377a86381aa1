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

}  // namespace e2e
