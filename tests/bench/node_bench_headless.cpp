// Prints how long the program takes to start with 1000 nodes and to delete the first of them,
// on the headless window (real files, the portable profile reader), a few runs in a row. The
// same steps as node_bench_wine.cpp, without Wine and without a driver outside the process.
// Not a test: figures only.
//
// Arguments: --nodes=<count> (default 1000), --runs=<count> (default 3).
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <time.h>

#include "app/app.h"
#include "platform/headless/programs_hooks.h"
#include "platform/headless/files_hooks.h"
#include "platform/headless/user.h"
#include "tests/bench/node_bench.h"

namespace {

// <chrono> cannot be used here: its micro suffix has no GBK form.
double Now() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1000.0 + t.tv_nsec / 1e6;
}

// One run in a fresh folder, which plays the executable's directory.
bool Run(int nodes) {
    char pattern[] = "/tmp/skiplane-bench-XXXXXX";
    if (!mkdtemp(pattern)) {
        std::printf("cannot make a folder\n");
        return false;
    }
    const std::string dir = pattern;
    std::string exe = dir + "/Skiplane.exe";
    for (char& c : exe)
        if (c == '/') c = '\\';
    platform::hooks::SetModuleFileName(exe);
    std::ofstream(dir + "/config.ini", std::ios::binary) << bench::NodesConfig(nodes);

    double t0 = Now();
    headless::Launch(app::Main);
    const double startMs = Now() - t0;
    const bool started = ui::ListItemCount(ui::Ctl::列表框_列表) == nodes;
    if (started) bench::PrintStart("host", nodes, startMs);

    headless::SelectItem(ui::Ctl::列表框_列表, 0);
    headless::AnswerMessageBoxes({6});  // IDYES
    t0 = Now();
    headless::Click(ui::Ctl::按钮_删除);
    const double deleteMs = Now() - t0;
    const bool deleted = ui::ListItemCount(ui::Ctl::列表框_列表) == nodes - 1;
    if (started && deleted) bench::PrintDelete("host", nodes, deleteMs);

    if (!started) std::printf("the list never held %d items\n", nodes);
    if (started && !deleted) std::printf("the deletion never completed\n");
    platform::hooks::FinishThreads();  // the start-up update check, before the next start
    std::filesystem::remove_all(dir);
    return started && deleted;
}

}  // namespace

int main(int argc, char** argv) { return bench::RunNodeBench(argc, argv, Run); }
