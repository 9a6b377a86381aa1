// Prints how long the program takes to start with 1000 nodes and to delete the first of them,
// on the headless window (real files, the portable profile reader). Not a test: figures only.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <time.h>

#include "app/app.h"
#include "platform/headless/storage_hooks.h"
#include "platform/headless/user.h"

namespace {

// <chrono> cannot be used here: its micro suffix has no GBK form.
double Now() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1000.0 + t.tv_nsec / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
    const int nodes = argc > 1 ? std::atoi(argv[1]) : 1000;
    char pattern[] = "/tmp/skiplane-bench-XXXXXX";
    const std::string dir = mkdtemp(pattern);
    std::string exe = dir + "/Skiplane.exe";
    for (char& c : exe)
        if (c == '/') c = '\\';
    platform::hooks::SetModuleFileName(exe);

    std::string file = "[NodeList]\r\nQuantity=" + std::to_string(nodes) + "\r\nCurrent node=0\r\n";
    for (int i = 1; i <= nodes; ++i)
        file += "[Node" + std::to_string(i) + "]\r\nremarks=node" + std::to_string(i) +
                "\r\nlocal_port=1080\r\nserver_port=4000\r\nserver=10.0." + std::to_string(i / 250) +
                "." + std::to_string(i % 250) + "\r\nkey=k\r\nmode=3\r\ndscp=\r\nother=\r\n";
    std::ofstream(dir + "/config.ini", std::ios::binary) << file;

    double t0 = Now();
    headless::Launch(app::Main);
    const double startMs = Now() - t0;

    headless::SelectItem(ui::Ctl::列表框_列表, 0);
    headless::AnswerMessageBoxes({6});  // IDYES
    t0 = Now();
    headless::Click(ui::Ctl::按钮_删除);
    const double deleteMs = Now() - t0;

    std::printf("host: start with %d nodes: %.1f ms\n", nodes, startMs);
    std::printf("host: delete the first of %d nodes: %.1f ms (%d left)\n", nodes, deleteMs,
                ui::ListItemCount(ui::Ctl::列表框_列表));
    std::filesystem::remove_all(dir);
    return 0;
}
