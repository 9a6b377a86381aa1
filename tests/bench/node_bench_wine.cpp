// Prints how long the real Skiplane.exe takes under Wine to start with 1000 nodes and to delete
// the first of them, a few runs in a row, timed from outside by the end-to-end tests' driver.
// The same steps as node_bench_headless.cpp. Not a test: figures only, nothing about time is
// judged. It fails only when the program does not get there at all.
//
// Arguments: --skiplane=<path of Skiplane.exe> (required), --nodes=<count> (default 1000),
// --runs=<count> (default 3). run_e2e.sh passes others, which are not used here.

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/bench/node_bench.h"
#include "tests/e2e/driver.h"
#include "form/window_table.h"
#include "tests/e2e/sandbox.h"

using form::Ctl;

namespace {

// A finer poll than WaitUntil's 20 ms, so the figures are not rounded up to its steps.
bool Poll(const std::function<bool()>& cond, int timeoutMs) {
    const double end = e2e::NowMs() + timeoutMs;
    for (;;) {
        if (cond()) return true;
        if (e2e::NowMs() >= end) return false;
        Sleep(1);
    }
}

int ListCount(const e2e::App& app) {
    return static_cast<int>(app.Send(Ctl::列表框_列表, LB_GETCOUNT));
}

// One run in a fresh folder: false, with the reason printed, if a step never completes.
bool Run(const std::string& source, int nodes) {
    e2e::Sandbox sandbox;
    e2e::App app;  // ended before the sandbox removes its folder
    bool ok = false;
    do {
        if (!sandbox.Create("skiplane-bench", source) ||
            !sandbox.WriteConfig(bench::NodesConfig(nodes))) {
            std::printf("cannot set up a folder: %s\n", sandbox.Error().c_str());
            break;
        }
        const std::string config = sandbox.ConfigPath();

        double t0 = e2e::NowMs();
        if (!app.Start(sandbox.Exe(), sandbox.Dir(), 120000) ||
            !Poll([&] { return ListCount(app) == nodes; }, 120000)) {
            std::printf("the list never held %d items\n", nodes);
            break;
        }
        bench::PrintStart("wine", nodes, e2e::NowMs() - t0);

        // The first node is selected at start (Current node=0); click it all the same, as a
        // user would, and wait until its fields are loaded.
        if (!app.Sync(60000) || !app.SelectListItem(Ctl::列表框_列表, 0) || !app.Sync(60000) ||
            app.Text(Ctl::编辑框_备注说明) != "node1") {
            std::printf("the first node did not load\n");
            break;
        }
        if (!app.Click(Ctl::按钮_删除)) break;
        e2e::MessageBoxInfo box;
        if (!app.WaitMessageBox(&box, 60000)) {
            std::printf("no delete question\n");
            break;
        }
        // Timed from the answer: the question's own appearance is not the deletion's cost.
        t0 = e2e::NowMs();
        if (!e2e::App::PressMessageBoxButton(box, IDYES)) break;
        const std::string last = "[Node" + std::to_string(nodes - 1) + "]\r\n";
        const std::string gone = "[Node" + std::to_string(nodes) + "]";
        const std::string quantity = "Quantity=" + std::to_string(nodes - 1) + "\r\n";
        if (!Poll(
                [&] {
                    if (ListCount(app) != nodes - 1) return false;
                    const std::string file = e2e::ReadFileBytes(config);
                    return file.find(last) != std::string::npos &&
                           file.find(gone) == std::string::npos &&
                           file.find(quantity) != std::string::npos;
                },
                120000)) {
            std::printf("the deletion never completed\n");
            break;
        }
        bench::PrintDelete("wine", nodes, e2e::NowMs() - t0);
        ok = true;
    } while (false);
    std::fflush(stdout);
    app.Kill();
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string source = e2e::SkiplanePath();
    if (source.empty() || !e2e::FileExists(source)) {
        std::printf("usage: e2e_node_bench --skiplane=<path of Skiplane.exe> [--nodes=N] "
                    "[--runs=N]\n");
        return 2;
    }
    return bench::RunNodeBench(argc, argv, [&](int nodes) { return Run(source, nodes); });
}
