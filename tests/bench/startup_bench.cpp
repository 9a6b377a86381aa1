// Prints what starting Skiplane.exe costs under Wine next to a program that shows one plain
// window of the same size (minimal_window.exe), both started from here in one Wine session: the
// session's start is paid before either, and what Wine costs any process is in both alike. Not a
// test: figures only. It fails only when a program never shows a window or never gets idle.
//
// Arguments: --skiplane=<Skiplane.exe>, --minimal=<minimal_window.exe>, --runs=<count> (default
// 9). run_e2e.sh passes others, which are not used here.

#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/bench/node_bench.h"
#include "tests/e2e/driver.h"
#include "tests/e2e/sandbox.h"

namespace {

struct Case {
    const char* label;
    bool minimal;
    std::string config;  // empty: no config.ini
    std::vector<double> shownMs, idleMs, peakMb;
};

struct FindCtx {
    DWORD pid;
    HWND found;
};
BOOL CALLBACK FindVisible(HWND h, LPARAM lp) {
    auto* ctx = reinterpret_cast<FindCtx*>(lp);
    DWORD pid = 0;
    GetWindowThreadProcessId(h, &pid);
    if (pid != ctx->pid || !IsWindowVisible(h)) return TRUE;
    ctx->found = h;
    return FALSE;
}

// On a thread of its own: its return is timed while the main thread looks for the window.
struct IdleWait {
    HANDLE process;
    double t0, ms;
    DWORD result;
};
DWORD WINAPI WaitIdle(void* p) {
    auto* w = static_cast<IdleWait*>(p);
    w->result = WaitForInputIdle(w->process, 30000);
    w->ms = e2e::NowMs() - w->t0;
    return 0;
}

// One start in a fresh folder; adds its figures to the case. False if it never showed a
// window or never got idle.
bool Run(Case& c, const std::string& source, int run) {
    e2e::Sandbox sandbox;
    if (!sandbox.Create("skiplane-startup", source,
                        c.minimal ? "minimal_window.exe" : "Skiplane.exe") ||
        (!c.config.empty() && !sandbox.WriteConfig(c.config))) {
        std::printf("run %d, %s: cannot set up a folder: %s\n", run, c.label,
                    sandbox.Error().c_str());
        return false;
    }
    const std::string &dir = sandbox.Dir(), &exe = sandbox.Exe();
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    std::string cmd = "\"" + exe + "\"";
    const double t0 = e2e::NowMs();
    if (!CreateProcessA(exe.c_str(), cmd.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        dir.c_str(), &si, &pi)) {
        std::printf("run %d, %s: cannot start\n", run, c.label);
        return false;
    }
    IdleWait idle{pi.hProcess, t0, 0, WAIT_FAILED};
    HANDLE waiter = CreateThread(nullptr, 0, WaitIdle, &idle, 0, nullptr);
    FindCtx win{pi.dwProcessId, nullptr};
    while (EnumWindows(FindVisible, reinterpret_cast<LPARAM>(&win)), !win.found) {
        if (e2e::NowMs() - t0 > 30000 || WaitForSingleObject(pi.hProcess, 0) == 0) break;
        Sleep(1);
    }
    const double shownMs = e2e::NowMs() - t0;
    WaitForSingleObject(waiter, INFINITE);
    CloseHandle(waiter);
    if (win.found) c.shownMs.push_back(shownMs);
    if (idle.result == 0) {
        c.idleMs.push_back(idle.ms);
        const double wait = t0 + idle.ms + 500 - e2e::NowMs();
        if (wait > 0) Sleep(static_cast<DWORD>(wait));
        PROCESS_MEMORY_COUNTERS pmc{};
        pmc.cb = sizeof pmc;
        if (GetProcessMemoryInfo(pi.hProcess, &pmc, sizeof pmc))
            c.peakMb.push_back(static_cast<double>(pmc.PeakWorkingSetSize) / (1024.0 * 1024.0));
    }
    // The plain window ends as asked; Skiplane would only go to the tray.
    if (!c.minimal || !win.found || !PostMessageA(win.found, WM_CLOSE, 0, 0) ||
        WaitForSingleObject(pi.hProcess, 5000) != 0)
        TerminateProcess(pi.hProcess, 1);
    WaitForSingleObject(pi.hProcess, 10000);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    const bool ok = win.found && idle.result == 0;
    if (!ok) std::printf("run %d, %s: %s\n", run, c.label, win.found ? "never idle" : "no window");
    return ok;
}

double Median(std::vector<double> v) {
    if (v.empty()) return -1;
    std::sort(v.begin(), v.end());
    const size_t m = v.size() / 2;
    return v.size() % 2 ? v[m] : (v[m - 1] + v[m]) / 2;
}

// A case's median with its unit, or "none" when no start got that far.
std::string Figure(const std::vector<double>& v, const char* unit) {
    if (v.empty()) return "none";
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.1f %s", Median(v), unit);
    return buf;
}

// The DLLs named in the file's import directory, as objdump -p lists them; sets stripped when
// the COFF symbol table is gone.
std::vector<std::string> Imports(const std::string& f, bool* stripped) {
    std::vector<std::string> out;
    auto fits = [&](size_t off, size_t n) { return off <= f.size() && n <= f.size() - off; };
    if (!fits(0, sizeof(IMAGE_DOS_HEADER))) return out;
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(f.data());
    const size_t ntAt = static_cast<size_t>(dos->e_lfanew);
    if (dos->e_magic != IMAGE_DOS_SIGNATURE || !fits(ntAt, sizeof(IMAGE_NT_HEADERS32))) return out;
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(f.data() + ntAt);
    *stripped = nt->FileHeader.PointerToSymbolTable == 0 && nt->FileHeader.NumberOfSymbols == 0;
    const auto* sec = IMAGE_FIRST_SECTION(nt);
    const WORD sections = nt->FileHeader.NumberOfSections;
    if (!fits(reinterpret_cast<const char*>(sec) - f.data(), sections * sizeof *sec)) return out;
    auto offset = [&](DWORD rva) -> size_t {
        for (WORD i = 0; i < sections; ++i)
            if (rva >= sec[i].VirtualAddress && rva - sec[i].VirtualAddress < sec[i].SizeOfRawData)
                return rva - sec[i].VirtualAddress + sec[i].PointerToRawData;
        return f.size();
    };
    const DWORD dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress;
    for (size_t d = offset(dir); fits(d, sizeof(IMAGE_IMPORT_DESCRIPTOR));
         d += sizeof(IMAGE_IMPORT_DESCRIPTOR)) {
        const auto* desc = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(f.data() + d);
        if (desc->Name == 0) break;
        const size_t name = offset(desc->Name);
        if (name < f.size()) out.push_back(f.c_str() + name);
    }
    return out;
}

}  // namespace

int main() {
    const std::string skiplane = e2e::SkiplanePath();
    const std::string minimal = e2e::ToWindowsPath(e2e::ArgValue("minimal"));
    const std::string runsArg = e2e::ArgValue("runs");
    const int runs = runsArg.empty() ? 9 : std::atoi(runsArg.c_str());
    if (!e2e::FileExists(skiplane) || !e2e::FileExists(minimal) || runs < 1) {
        std::fprintf(stderr, "usage: e2e_startup_bench --skiplane=<Skiplane.exe> "
                             "--minimal=<minimal_window.exe> [--runs=N]\n");
        return 2;
    }
    Case cases[] = {
        {"(a) minimal window", true, {}, {}, {}, {}},
        {"(b) Skiplane, empty folder", false, {}, {}, {}, {}},
        {"(c) Skiplane, 1000 nodes", false, bench::NodesConfig(1000), {}, {}, {}},
        {"(d) Skiplane, Quantity=2000000000", false,
         "[NodeList]\r\nQuantity=2000000000\r\n[Node2]\r\nserver=b\r\n", {}, {}, {}},
    };
    // Run by run the programs take turns, so that a drift of the machine touches all alike.
    int failures = 0;
    for (int run = 1; run <= runs; ++run)
        for (Case& c : cases)
            if (!Run(c, c.minimal ? minimal : skiplane, run)) ++failures;

    std::printf("medians of %d runs, from CreateProcess (peak working set 500 ms after idle):\n",
                runs);
    for (const Case& c : cases)
        std::printf("  %-34s window shown %10s, idle %10s, peak working set %8s\n", c.label,
                    Figure(c.shownMs, "ms").c_str(), Figure(c.idleMs, "ms").c_str(),
                    Figure(c.peakMb, "MB").c_str());
    const double idleA = Median(cases[0].idleMs), idleB = Median(cases[1].idleMs);
    const double idleC = Median(cases[2].idleMs), idleD = Median(cases[3].idleMs);
    const double peakA = Median(cases[0].peakMb), peakB = Median(cases[1].peakMb);
    if (!failures) {  // a comparison with a missing start would mislead
        std::printf("start to idle, empty folder: %.2fx the minimal window (Skiplane %.1f ms, "
                    "minimal %.1f ms)\n", idleB / idleA, idleB, idleA);
        std::printf("start to idle, 1000 nodes: %+.1f ms over the empty folder (%.1f ms)\n",
                    idleC - idleB, idleC);
        std::printf("start to idle, Quantity=2000000000 and one node: %.1f ms\n", idleD);
        std::printf("peak working set, empty folder: %+.1f MB over the minimal window "
                    "(Skiplane %.1f MB, minimal %.1f MB)\n", peakB - peakA, peakB, peakA);
    }

    HANDLE file = CreateFileA(skiplane.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    const DWORD size = file == INVALID_HANDLE_VALUE ? 0 : GetFileSize(file, nullptr);
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    bool stripped = false;
    const std::vector<std::string> dlls = Imports(e2e::ReadFileBytes(skiplane), &stripped);
    std::printf("Skiplane.exe: %.1f KB (%s), imports", size / 1024.0,
                stripped ? "stripped" : "not stripped");
    for (const std::string& dll : dlls) std::printf(" %s", dll.c_str());
    std::printf("\n");
    if (failures) std::printf("%d of %d starts failed\n", failures, runs * 4);
    return failures ? 1 : 0;
}
