// Prints what a start of the client costs on the real Skiplane.exe under Wine: the time from the
// click on 启动加速 to the running state on screen, and the processor time the program uses
// over the two-second start check; then the processor time of a minute in the notification area
// with the client running, the server asked after the check and once more at the minute (no
// server listens: each round is all three datagrams). Not a test: figures only. It fails only
// when a start does not get there at all.
//
// Arguments: --skiplane=<path of Skiplane.exe>, --fake-client=<fake_client.exe>,
// --runs=<count> (default 10). run_e2e.sh passes others, which are not used here.

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/e2e/driver.h"
#include "tests/e2e/processes.h"
#include "form/window_table.h"
#include "tests/e2e/sandbox.h"

using form::Ctl;

namespace {

// User and kernel time of the process so far, in ms.
double CpuMs(HANDLE process) {
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(process, &created, &exited, &kernel, &user)) return -1;
    auto ms = [](FILETIME t) {
        return static_cast<double>((static_cast<ULONGLONG>(t.dwHighDateTime) << 32) |
                                   t.dwLowDateTime) / 10000.0;
    };
    return ms(kernel) + ms(user);
}

struct Figures {
    double clickToRunningMs, checkCpuMs;
};

// Two starts in one program: the first timed to the running state, the second left alone for
// the processor time of its wait (the driver's reads would cost the program time of their own).
bool Run(const e2e::Sandbox& sandbox, Figures& out) {
    e2e::App app;
    if (!app.Start(sandbox.Exe(), sandbox.Dir()) || !app.Sync()) return false;
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, app.Pid());
    const double clicked = e2e::NowMs();
    app.Click(Ctl::按钮_启动);
    for (;;) {
        if (app.StatusText(1) == "状态：正在运行！") break;
        if (e2e::NowMs() - clicked > 5000) return false;
        Sleep(1);
    }
    out.clickToRunningMs = e2e::NowMs() - clicked;
    Sleep(2500);
    app.Click(Ctl::按钮_停止);
    if (!app.Sync() || !e2e::WaitProcessGone("client.exe")) return false;

    const double before = CpuMs(process);
    app.Click(Ctl::按钮_启动);
    Sleep(2000);
    out.checkCpuMs = CpuMs(process) - before;
    Sleep(500);
    const bool running = app.StatusText(1) == "状态：正在运行！";
    app.PostMenuCommand(form::Menu::退出);
    app.WaitExit();
    CloseHandle(process);
    return running && e2e::WaitProcessGone("client.exe");
}

// A minute in the notification area from just after the start check: the first round of asking
// the server runs within it, the one a minute later at its end.
bool TrayMinute(const e2e::Sandbox& sandbox, double& cpuMs) {
    e2e::App app;
    if (!app.Start(sandbox.Exe(), sandbox.Dir()) || !app.Sync()) return false;
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, app.Pid());
    app.Click(Ctl::按钮_启动);
    Sleep(2100);
    app.Close();  // to the notification area
    const double before = CpuMs(process);
    Sleep(61000);
    cpuMs = CpuMs(process) - before;
    const bool running = app.StatusText(1) == "状态：正在运行！";
    app.PostMenuCommand(form::Menu::退出);
    app.WaitExit();
    CloseHandle(process);
    return running && e2e::WaitProcessGone("client.exe");
}

}  // namespace

int main() {
    const std::string skiplane = e2e::SkiplanePath();
    const std::string fake = e2e::ToWindowsPath(e2e::ArgValue("fake-client"));
    const int runs = e2e::ArgValue("runs").empty() ? 10 : std::atoi(e2e::ArgValue("runs").c_str());
    if (skiplane.empty() || fake.empty()) {
        std::fprintf(stderr, "pass --skiplane=<Skiplane.exe> and --fake-client=<fake_client.exe>\n");
        return 2;
    }
    e2e::Sandbox sandbox;
    sandbox.KillAtEnd("client.exe");  // a client whose stop never came
    if (!sandbox.Create("skiplane-client-bench", skiplane)) {
        std::printf("cannot set up a folder: %s\n", sandbox.Error().c_str());
        return 1;
    }
    const std::string client = sandbox.CopyIn(fake, "client.exe");
    if (client.empty() ||
        !sandbox.WriteConfig(
            e2e::Lines({"[BasisConfig]", "ExeFile=" + client, "[BroadbandConfig]", "Mtu=1350",
                        "Sndwnd=300", "Rcvwnd=1200", "[NodeList]", "Quantity=1", "[Node1]",
                        "local_port=1081", "server_port=29900", "server=127.0.0.1", "mode=2"}))) {
        std::printf("cannot put the client and config.ini into %s\n", sandbox.Dir().c_str());
        return 1;
    }
    int failures = 0;
    Figures sum{};
    for (int i = 1; i <= runs; ++i) {
        Figures f{};
        if (!Run(sandbox, f)) {
            std::printf("run %d: the start did not complete\n", i);
            ++failures;
            continue;
        }
        sum.clickToRunningMs += f.clickToRunningMs;
        sum.checkCpuMs += f.checkCpuMs;
        std::printf("run %d: click to running state %.1f ms; processor time during the 2 s check "
                    "%.1f ms (%.2f %% of one core)\n",
                    i, f.clickToRunningMs, f.checkCpuMs, f.checkCpuMs / 20.0);
    }
    // Wine counts processor time in whole scheduler ticks: the mean says more than one run.
    if (runs > failures)
        std::printf("mean of %d runs: click to running state %.1f ms; processor time during the "
                    "2 s check %.1f ms (%.2f %% of one core)\n",
                    runs - failures, sum.clickToRunningMs / (runs - failures),
                    sum.checkCpuMs / (runs - failures), sum.checkCpuMs / (runs - failures) / 20.0);
    double trayMs = 0;
    if (TrayMinute(sandbox, trayMs))
        std::printf("61 s in the notification area, client running, server asked twice: "
                    "processor time %.1f ms\n", trayMs);
    else
        ++failures;
    return failures ? 1 : 0;
}
