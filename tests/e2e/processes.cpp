#include "tests/e2e/processes.h"

#include <psapi.h>
#include <tlhelp32.h>
#include <winternl.h>

#include <vector>

namespace e2e {

namespace {

// The offsets into the PEB and the process parameters of a process as wide as the tools (the
// program and the cmd.exe it starts are built and run at the same width).
#ifdef _WIN64
constexpr DWORD kPebProcessParameters = 0x20;
constexpr DWORD kParamsCommandLine = 0x70;
#else
constexpr DWORD kPebProcessParameters = 0x10;
constexpr DWORD kParamsCommandLine = 0x40;
#endif

using NtQueryInformationProcessFn = NTSTATUS(WINAPI*)(HANDLE, PROCESSINFOCLASS, PVOID, ULONG,
                                                      PULONG);
using GetProcessMemoryInfoFn = BOOL(WINAPI*)(HANDLE, PPROCESS_MEMORY_COUNTERS, DWORD);
using NtQuerySystemInformationFn = NTSTATUS(WINAPI*)(SYSTEM_INFORMATION_CLASS, PVOID, ULONG, PULONG);

// SystemHandleInformation (16): a count, then one entry per handle of every process.
constexpr ULONG kSystemHandleInformation = 16;
constexpr NTSTATUS kInfoLengthMismatch = static_cast<NTSTATUS>(0xC0000004L);
struct HandleEntry {
    ULONG ownerPid;
    BYTE objectType, flags;
    USHORT handle;
    PVOID object;
    ACCESS_MASK access;
};

bool ReadRemote(HANDLE process, const void* address, void* out, size_t n) {
    SIZE_T got = 0;
    return ReadProcessMemory(process, address, out, n, &got) && got == n;
}

std::string CommandLineOf(HANDLE process) {
    auto query = reinterpret_cast<NtQueryInformationProcessFn>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQueryInformationProcess")));
    if (!query) return {};
    PROCESS_BASIC_INFORMATION basic{};
    ULONG len = 0;
    if (query(process, ProcessBasicInformation, &basic, sizeof basic, &len) < 0) return {};
    if (!basic.PebBaseAddress) return {};
    const char* peb = reinterpret_cast<const char*>(basic.PebBaseAddress);
    const char* params = nullptr;
    if (!ReadRemote(process, peb + kPebProcessParameters, &params, sizeof params) || !params)
        return {};
    UNICODE_STRING line{};
    if (!ReadRemote(process, params + kParamsCommandLine, &line, sizeof line)) return {};
    if (line.Length == 0 || !line.Buffer) return {};
    std::wstring wide(line.Length / sizeof(wchar_t), L'\0');
    if (!ReadRemote(process, line.Buffer, wide.data(), wide.size() * sizeof(wchar_t))) return {};
    int wlen = static_cast<int>(wide.size());
    int n = WideCharToMultiByte(CP_ACP, 0, wide.data(), wlen, nullptr, 0, nullptr, nullptr);
    if (n <= 0) return {};
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_ACP, 0, wide.data(), wlen, out.data(), n, nullptr, nullptr);
    return out;
}

}  // namespace

std::vector<ProcessInfo> Processes() {
    std::vector<ProcessInfo> out;
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snap == INVALID_HANDLE_VALUE) return out;
    PROCESSENTRY32 pe{};
    pe.dwSize = sizeof pe;
    for (BOOL more = Process32First(snap, &pe); more; more = Process32Next(snap, &pe))
        out.push_back({pe.th32ProcessID, pe.th32ParentProcessID, pe.szExeFile});
    CloseHandle(snap);
    return out;
}

DWORD FindProcess(const std::string& exeName) {
    for (const ProcessInfo& p : Processes()) {
        // lstrcmpiA folds case by characters, so GBK trail bytes are left alone.
        if (lstrcmpiA(p.exeName.c_str(), exeName.c_str()) == 0) return p.pid;
    }
    return 0;
}

std::vector<DWORD> ChildrenOf(DWORD pid) {
    std::vector<DWORD> out;
    for (const ProcessInfo& p : Processes()) {
        if (p.parentPid == pid && p.pid != pid) out.push_back(p.pid);
    }
    return out;
}

std::string ProcessCommandLine(DWORD pid) {
    HANDLE h = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid);
    if (!h) return {};
    std::string line = CommandLineOf(h);
    CloseHandle(h);
    return line;
}

bool KillProcess(DWORD pid) {
    HANDLE h = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid);
    if (!h) return false;
    TerminateProcess(h, 1);
    bool ended = WaitForSingleObject(h, 5000) == WAIT_OBJECT_0;
    CloseHandle(h);
    return ended;
}

bool WaitProcessGone(const std::string& exeName, int timeoutMs) {
    DWORD start = GetTickCount();
    for (;;) {
        if (!FindProcess(exeName)) return true;
        if (static_cast<int>(GetTickCount() - start) >= timeoutMs) return false;
        Sleep(20);
    }
}

namespace {
bool MemoryCounters(DWORD pid, PROCESS_MEMORY_COUNTERS_EX& counters) {
    // kernel32's name for it (Windows 7 and later), so that psapi.dll is not needed.
    auto get = reinterpret_cast<GetProcessMemoryInfoFn>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "K32GetProcessMemoryInfo")));
    if (!get) return false;
    HANDLE h = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid);
    if (!h) return false;
    counters = {};
    counters.cb = sizeof counters;
    const BOOL ok =
        get(h, reinterpret_cast<PPROCESS_MEMORY_COUNTERS>(&counters), sizeof counters);
    CloseHandle(h);
    return ok != FALSE;
}
}  // namespace

size_t PrivateBytes(DWORD pid) {
    PROCESS_MEMORY_COUNTERS_EX counters;
    return MemoryCounters(pid, counters) ? counters.PagefileUsage : 0;
}

size_t PeakWorkingSet(DWORD pid) {
    PROCESS_MEMORY_COUNTERS_EX counters;
    return MemoryCounters(pid, counters) ? counters.PeakWorkingSetSize : 0;
}

int HandleCount(DWORD pid) {
    auto query = reinterpret_cast<NtQuerySystemInformationFn>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation")));
    if (!query) return -1;
    std::vector<char> buffer(256 * 1024);
    NTSTATUS status;
    ULONG len = 0;
    while ((status = query(static_cast<SYSTEM_INFORMATION_CLASS>(kSystemHandleInformation),
                           buffer.data(), static_cast<ULONG>(buffer.size()), &len)) ==
           kInfoLengthMismatch)
        buffer.resize(buffer.size() * 2);
    if (status < 0 || buffer.size() < sizeof(ULONG_PTR)) return -1;
    const ULONG count = *reinterpret_cast<const ULONG*>(buffer.data());
    if ((buffer.size() - sizeof(ULONG_PTR)) / sizeof(HandleEntry) < count) return -1;
    const auto* entries = reinterpret_cast<const HandleEntry*>(buffer.data() + sizeof(ULONG_PTR));
    int n = 0;
    for (ULONG k = 0; k < count; ++k)
        if (entries[k].ownerPid == pid) ++n;
    return n;
}

}  // namespace e2e
