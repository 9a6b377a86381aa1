// The base of the end-to-end fixtures: before each case a sandbox holding the program that
// --skiplane (or another argument) names, and an App to drive it; after the case the App is
// killed, then whatever the sandbox was told to kill, and the folder is removed.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "tests/e2e/driver.h"
#include "tests/e2e/sandbox.h"

namespace e2e {

class SandboxTest : public ::testing::Test {
protected:
    // prefix: how the sandbox's folder name starts; programArg: the argument that names the
    // program, --<programArg>=<path>.
    explicit SandboxTest(std::string prefix, std::string programArg = "skiplane")
        : prefix_(std::move(prefix)), programArg_(std::move(programArg)) {}

    void SetUp() override {
        const std::string program = ToWindowsPath(ArgValue(programArg_.c_str()));
        ASSERT_FALSE(program.empty()) << "pass --" << programArg_ << "=<path of Skiplane.exe>";
        ASSERT_TRUE(sandbox_.Create(prefix_, program)) << sandbox_.Error();
    }

    void TearDown() override {
        app_.Kill();
        sandbox_.Clear();
    }

    const std::string& Dir() const { return sandbox_.Dir(); }
    const std::string& Exe() const { return sandbox_.Exe(); }
    std::string ConfigPath() const { return sandbox_.ConfigPath(); }
    std::string Config() const { return sandbox_.Config(); }

    // Starts the sandbox's program in app and waits until it has handled its window's creation.
    void StartProgram(App& app) {
        ASSERT_TRUE(app.Start(Exe(), Dir())) << "no main window with all controls appeared";
        ASSERT_TRUE(app.Sync()) << "the program stopped handling input";
    }
    // Everything posted to app_ so far has been handled.
    void Settle() { ASSERT_TRUE(app_.Sync()) << "the program stopped handling input"; }

    Sandbox sandbox_;
    App app_;

private:
    std::string prefix_, programArg_;
};

}  // namespace e2e
