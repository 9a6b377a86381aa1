// The update check with any Ver.ini (the fuzz input, served as a 200 answer's body), a check by
// hand for inputs of odd length and at start-up otherwise. Each check ends, shows at most one
// message, leaves no Ver.ini beside the program, and lets the next check run.
#include <sched.h>
#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <new>
#include <string>

#include "app/app.h"
#include "platform/headless/programs_hooks.h"
#include "platform/headless/files_hooks.h"
#include "platform/headless/user.h"
#include "platform/window.h"
#include "tests/fuzz/check.h"
#include "tests/support/http_server.h"

namespace {

struct World {
    std::string dir;
    testhttp::Server server{0, testhttp::Server::Mode::OneAtATime};
    int checks = 0;
};

// Acts as the window thread until the check's thread has ended.
void AwaitCheck() {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (platform::hooks::ThreadsRunning() > 0) {
        FUZZ_CHECK(std::chrono::steady_clock::now() < deadline);
        platform::PumpMessages();
        sched_yield();
    }
}

// A fresh window and process records (they grow with every message and home page shown).
void Start() {
    app::VersionFileUrl = "";
    platform::hooks::ResetProcesses();
    headless::Launch(app::Main);
    AwaitCheck();  // the start-up check, with no address, ends at once
}

World& TheWorld() {
    static World* world = [] {
        auto* w = new World;  // lives as long as the process
        FUZZ_CHECK(w->server.Port() != 0);
        char pattern[] = "/tmp/skiplane-fuzz-XXXXXX";
        w->dir = mkdtemp(pattern);
        std::string exe = w->dir + "/Skiplane.exe";
        for (char& c : exe)
            if (c == '/') c = '\\';
        platform::hooks::SetModuleFileName(exe);
        static std::string dir = w->dir;  // left empty at the end, as libFuzzer exits
        std::atexit([] { std::filesystem::remove_all(dir); });
        app::HomePageUrl = "http://home.example/";
        Start();
        return w;
    }();
    return *world;
}

}  // namespace

// The program replaces operator new and delete with malloc and free (services/runtime.cpp), and
// the standard library's nothrow new calls that new. The sanitizer's nothrow new, which libFuzzer
// uses, does not: it goes to malloc here too, so the program's delete frees what it made.
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return std::malloc(size ? size : 1);
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    World& w = TheWorld();
    if (++w.checks % 1000 == 0) Start();
    const std::string file(reinterpret_cast<const char*>(data), size);
    w.server.ServeOnce("/Ver.ini", testhttp::Ok(file));
    app::VersionFileUrl = w.server.Url("/Ver.ini");
    const std::size_t boxes = headless::MessageBoxes().size();
    const int connections = w.server.Connections();

    app::StartUpdateCheck(size % 2 ? app::kCheckByHand : app::kCheckAtStartUp);
    AwaitCheck();
    FUZZ_CHECK(w.server.Connections() == connections + 1);
    FUZZ_CHECK(headless::MessageBoxes().size() <= boxes + 1);
    FUZZ_CHECK(!std::filesystem::exists(w.dir + "/Ver.ini"));
    return 0;
}
