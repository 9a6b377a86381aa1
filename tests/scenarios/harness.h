// The whole application on the headless window, in a fresh folder of its own per test: the
// folder plays the executable's directory, so config.ini lands there.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "app/app.h"
#include "platform/headless/programs_hooks.h"
#include "platform/headless/files_hooks.h"
#include "platform/headless/udp_hooks.h"
#include "platform/headless/user.h"
#include "services/windows_functions.h"
#include "ui/controls.h"

namespace scenario {

using ui::Ctl;
using ui::Menu;

constexpr int IDOK = 1, IDYES = 6, IDNO = 7;

class AppTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/skiplane-scenario-XXXXXX";
        dir_ = mkdtemp(pattern);
        std::string exe = dir_ + "/Skiplane.exe";
        for (char& c : exe)
            if (c == '/') c = '\\';  // the program sees Windows paths
        platform::hooks::SetModuleFileName(exe);
        sk::ReleaseWindowsFunctions();
        platform::hooks::ResetProcesses();
        platform::hooks::ResetRegistry();
        // No update server unless a test brings one: the start-up check then ends at once.
        app::VersionFileUrl = "";
        app::HomePageUrl = "http://skiplane.example/";
        // Every server answers, at once and from no network, unless a test says otherwise.
        platform::hooks::SimulateUdp([](std::uint16_t) { return true; });
    }
    void TearDown() override {
        platform::hooks::FinishThreads();
        platform::hooks::ClearFailures();
        platform::hooks::SetModuleFileName("");
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }

    std::string ConfigFile() const { return dir_ + "/config.ini"; }
    void GivenConfig(const std::string& bytes) const {
        std::ofstream(ConfigFile(), std::ios::binary) << bytes;
    }
    std::string Config() const {
        std::ifstream in(ConfigFile(), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    bool ConfigExists() const { return std::filesystem::exists(ConfigFile()); }

    void Start() { headless::Launch(app::Main); }
    // Starts the program again on the same folder, as a user restarting it.
    void Restart() { Start(); }

    std::string Item(int i) const { return ui::ListItemText(Ctl::列表框_列表, i); }
    int Items() const { return ui::ListItemCount(Ctl::列表框_列表); }
    int Selected() const { return ui::Selection(Ctl::列表框_列表); }
    std::string Field(Ctl c) const { return ui::Content(c); }
    // Replaces a field's text the way a user does: select all, delete, type.
    void Retype(Ctl c, const std::string& text) const {
        headless::ClearByKeyboard(c);
        headless::Type(c, text);
    }

    // The folder as the program sees it (Windows form), with a trailing backslash.
    std::string WinDir() const {
        std::string d = dir_ + "\\";
        for (char& c : d)
            if (c == '/') c = '\\';
        return d;
    }

    std::string dir_;
};

}  // namespace scenario
