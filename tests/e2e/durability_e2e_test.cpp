// config.ini against a kill at any moment: the real Skiplane.exe saves, creates or deletes a node
// and is killed a random few milliseconds after the click, 200 times. Each of those steps must
// land whole or not at all, so the file afterwards is byte for byte either what it was before
// the step or what the same step gives when nothing interrupts it. Anything else counts as a
// loss: a node or setting gone, a count that hides a node, a truncated file. Beside a holder
// that makes the save rewrite the file in place, the next start must find it so.

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "tests/e2e/driver.h"
#include "form/window_table.h"
#include "tests/e2e/fixture.h"

using form::Ctl;

namespace {

enum class Step { Save, New, Delete };
const char* const kStepNames[] = {"save", "new", "delete"};

std::string StartingConfig() {
    std::vector<std::string> lines = {"[BasisConfig]",     "Run=false",     "[BroadbandConfig]",
                                      "UP=10",             "DOWN=50",       "Mtu=1350",
                                      "Sndwnd=300",        "Rcvwnd=1200",   "[NodeList]",
                                      "Quantity=4",        "Current node=0"};
    for (int k = 1; k <= 4; ++k) {
        const std::string n = std::to_string(k);
        for (const std::string& line : std::vector<std::string>{
                 "[Node" + n + "]", "remarks=节点" + n, "local_port=108" + n, "server_port=2333",
              "server=10.0.0." + n, "key=k" + n, "mode=2", "dscp=", "other="})
            lines.push_back(line);
    }
    return e2e::Lines(lines);
}

// The file's sections by name (the first of each), their keys and values.
using Sections = std::map<std::string, std::map<std::string, std::string>>;
Sections Parse(const std::string& bytes) {
    Sections sections;
    std::map<std::string, std::string>* current = nullptr;
    std::size_t start = 0;
    while (start < bytes.size()) {
        std::size_t end = bytes.find_first_of("\r\n", start);
        if (end == std::string::npos) end = bytes.size();
        const std::string line = bytes.substr(start, end - start);
        start = end + 1;
        const std::size_t eq = line.find('=');
        if (line.size() > 2 && line.front() == '[' && line.back() == ']')
            current = &sections[line.substr(1, line.size() - 2)];
        else if (current && eq != std::string::npos)
            current->emplace(line.substr(0, eq), line.substr(eq + 1));
    }
    return sections;
}

// A node or setting the user would miss: a node of the starting file (but the one a deletion
// removes) that the count no longer reaches or that lost a value, or a shared setting gone.
bool LosesSomething(const std::string& bytes, Step step) {
    Sections file = Parse(bytes);
    for (const char* key : {"UP", "DOWN", "Mtu", "Sndwnd", "Rcvwnd"})
        if (!file["BroadbandConfig"].count(key)) return true;
    if (!file["BasisConfig"].count("Run")) return true;
    const int quantity = std::atoi(file["NodeList"]["Quantity"].c_str());
    std::set<std::string> listed;
    for (int k = 1; k <= quantity && k <= 10; ++k) {
        auto& node = file["Node" + std::to_string(k)];
        if (node.size() == 8) listed.insert(node["server"]);
    }
    for (int k = 1; k <= 4; ++k)
        if (!(step == Step::Delete && k == 2) && !listed.count("10.0.0." + std::to_string(k)))
            return true;
    return false;
}

// An editor's handle on a file, sharing reading and writing, for as long as it lives.
struct Holder {
    HANDLE file = INVALID_HANDLE_VALUE;
    explicit Holder(const std::string& path) {
        if (!path.empty())
            file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                               FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                               nullptr);
    }
    ~Holder() {
        if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    }
};

class EnduranceConfig : public e2e::SandboxTest {
protected:
    EnduranceConfig() : SandboxTest("skiplane-kill") {}

    // Starts the program on the starting file, clicks the step and kills the program
    // killAfterMs after the click that writes, or once the step is handled when it is negative.
    // held: an editor holds config.ini open meanwhile, sharing reading and writing.
    void Run(Step step, double killAfterMs, bool held = false) {
        ASSERT_TRUE(e2e::WriteFileBytes(ConfigPath(), StartingConfig()));
        Holder holder(held ? ConfigPath() : std::string());
        e2e::App app;
        ASSERT_TRUE(app.Start(Exe(), Dir()));
        ASSERT_TRUE(app.SelectListItem(Ctl::列表框_列表, 1));
        ASSERT_TRUE(app.Sync());
        if (step == Step::Save) {
            ASSERT_TRUE(app.Retype(Ctl::编辑框_备注说明, "改过"));
            ASSERT_TRUE(app.Retype(Ctl::编辑框_上传宽带, "20"));
            ASSERT_TRUE(app.Sync());
        }
        ASSERT_TRUE(app.Click(step == Step::Save  ? Ctl::按钮_保存
                              : step == Step::New ? Ctl::按钮_新建
                                                  : Ctl::按钮_删除));
        if (step == Step::Delete) {
            e2e::MessageBoxInfo box;
            ASSERT_TRUE(app.WaitMessageBox(&box));
            ASSERT_TRUE(e2e::App::PressMessageBoxButton(box, IDYES));
        }
        if (killAfterMs < 0) {
            // Handled to the end; quitting would write more. A save waiting for the holder
            // answers messages meanwhile: its end is the pending copy's.
            ASSERT_TRUE(app.Sync());
            for (int waited = 0; waited < 5000 && e2e::FileExists(ConfigPath() + ".pending");
                 waited += 20)
                Sleep(20);
            ASSERT_TRUE(app.Sync());
        } else {
            const double until = e2e::NowMs() + killAfterMs;
            if (killAfterMs > 100) Sleep(static_cast<DWORD>(killAfterMs) - 50);  // spin the rest
            while (e2e::NowMs() < until) {
            }
        }
        app.Kill();
        ASSERT_FALSE(app.Running());
    }

    // The next start, up and idle, killed before it could write anything of its own.
    void StartAgain() {
        e2e::App app;
        ASSERT_TRUE(app.Start(Exe(), Dir()));
        ASSERT_TRUE(app.Sync());
        app.Kill();
        ASSERT_FALSE(app.Running());
    }
};

TEST_F(EnduranceConfig, KilledDuringSaveNewOrDeleteTheFileIsBeforeOrAfterWhole) {
    // What each step gives when it runs to the end.
    std::string whole[3];
    for (int s = 0; s < 3; ++s) {
        ASSERT_NO_FATAL_FAILURE(Run(static_cast<Step>(s), -1));
        whole[s] = e2e::ReadFileBytes(ConfigPath());
        ASSERT_NE(whole[s], StartingConfig()) << kStepNames[s] << " wrote nothing";
    }

    // Kill moments spread over the step's own milliseconds and a little beyond; a deletion
    // first waits for its message box to close.
    std::mt19937 random(20261208);
    std::uniform_real_distribution<double> moment(0.0, 1.0);
    const double spanMs[3] = {12.0, 12.0, 40.0};
    int before[3] = {}, after[3] = {}, partial = 0, lost = 0, leftTemporary = 0;
    constexpr int kKills = 200;
    for (int round = 0; round < kKills; ++round) {
        const int s = round % 3;
        const double killAfterMs = moment(random) * spanMs[s];
        ASSERT_NO_FATAL_FAILURE(Run(static_cast<Step>(s), killAfterMs));
        const std::string file = e2e::ReadFileBytes(ConfigPath());
        if (file == StartingConfig()) {
            ++before[s];
        } else if (file == whole[s]) {
            ++after[s];
        } else {
            ++partial;
            if (LosesSomething(file, static_cast<Step>(s))) ++lost;
            ADD_FAILURE() << "round " << round << ", " << kStepNames[s] << " killed after "
                          << killAfterMs << " ms left:\n" << file;
        }
        if (e2e::FileExists(ConfigPath() + ".new")) ++leftTemporary;
        DeleteFileA((ConfigPath() + ".new").c_str());
        // A complete copy killed before it went in place (the file then is as before the step);
        // the next round's start would take it in.
        DeleteFileA((ConfigPath() + ".pending").c_str());
    }
    std::printf("kills: %d, steps partly written: %d, of them losing a node or setting: %d, "
                "config.ini.new left behind: %d\n", kKills, partial, lost, leftTemporary);
    for (int s = 0; s < 3; ++s)
        std::printf("  %-6s killed before it landed: %3d, after: %3d\n", kStepNames[s], before[s],
                    after[s]);
    EXPECT_EQ(partial, 0);
    EXPECT_EQ(lost, 0);
    // The kills must have hit both sides of the writes, or they proved nothing.
    for (int s = 0; s < 3; ++s) {
        EXPECT_GT(before[s], 0) << kStepNames[s];
        EXPECT_GT(after[s], 0) << kStepNames[s];
    }
}

// The same beside an editor that holds config.ini open, sharing reading and writing: each step
// waits out its retries, then rewrites the file in place while the complete new copy waits
// beside it as config.ini.pending. Kills fall on the step's first milliseconds, the wait and
// the rewrite; the next start must then find the file whole, before the step or after it.
TEST_F(EnduranceConfig, KilledDuringTheRewriteInPlaceTheNextStartFindsTheFileWhole) {
    std::string whole[3];
    for (int s = 0; s < 3; ++s) {
        ASSERT_NO_FATAL_FAILURE(Run(static_cast<Step>(s), -1, true));
        whole[s] = e2e::ReadFileBytes(ConfigPath());
        ASSERT_NE(whole[s], StartingConfig()) << kStepNames[s] << " wrote nothing";
    }
    std::mt19937 random(20261209);
    std::uniform_real_distribution<double> moment(0.0, 1.0);
    const double spanMs[3] = {12.0, 12.0, 40.0};
    int before[3] = {}, after[3] = {}, torn = 0, lost = 0;
    constexpr int kKills = 200;
    for (int round = 0; round < kKills; ++round) {
        const int s = round % 3;
        // One in four at the step's start; the others around the end of the 2 s of retries.
        const double killAfterMs = round % 4 == 0 ? moment(random) * spanMs[s]
                                                  : 1980.0 + moment(random) * 120.0;
        ASSERT_NO_FATAL_FAILURE(Run(static_cast<Step>(s), killAfterMs, true));
        const std::string left = e2e::ReadFileBytes(ConfigPath());
        if (left != StartingConfig() && left != whole[s]) ++torn;  // the kill hit the rewrite
        ASSERT_NO_FATAL_FAILURE(StartAgain());
        const std::string file = e2e::ReadFileBytes(ConfigPath());
        if (file == StartingConfig()) {
            ++before[s];
        } else if (file == whole[s]) {
            ++after[s];
        } else {
            ++lost;
            ADD_FAILURE() << "round " << round << ", " << kStepNames[s] << " killed after "
                          << killAfterMs << " ms left:\n" << file;
        }
        EXPECT_FALSE(e2e::FileExists(ConfigPath() + ".pending")) << round;
        EXPECT_FALSE(e2e::FileExists(ConfigPath() + ".new")) << round;
        DeleteFileA((ConfigPath() + ".pending").c_str());
        DeleteFileA((ConfigPath() + ".new").c_str());
    }
    std::printf("kills: %d, during the rewrite: %d, the next start found a file neither before "
                "nor after: %d\n", kKills, torn, lost);
    for (int s = 0; s < 3; ++s)
        std::printf("  %-6s before: %3d, after: %3d\n", kStepNames[s], before[s], after[s]);
    EXPECT_EQ(lost, 0);
    for (int s = 0; s < 3; ++s) {
        EXPECT_GT(before[s], 0) << kStepNames[s];
        EXPECT_GT(after[s], 0) << kStepNames[s];
    }
}

}  // namespace
