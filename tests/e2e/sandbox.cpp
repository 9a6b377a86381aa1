#include "tests/e2e/sandbox.h"

#include <windows.h>

#include <utility>

#include "tests/e2e/driver.h"
#include "tests/e2e/processes.h"

namespace e2e {

bool Sandbox::Create(const std::string& prefix, const std::string& program,
                     const std::string& exeName) {
    Clear();
    error_.clear();
    if (program.empty()) return Fail("no program given");
    if (!FileExists(program)) return Fail(program + " does not exist");
    dir_ = MakeTempDir(prefix);
    if (dir_.empty()) return Fail("cannot make a temporary folder " + prefix + "-...");
    exe_ = CopyIn(program, exeName);
    if (exe_.empty()) return Fail("cannot copy " + program + " into " + dir_);
    return true;
}

std::string Sandbox::Config() const { return ReadFileBytes(ConfigPath()); }

bool Sandbox::WriteConfig(const std::string& bytes) const {
    return !dir_.empty() && WriteFileBytes(ConfigPath(), bytes);
}

std::string Sandbox::CopyIn(const std::string& source, const std::string& name) const {
    if (dir_.empty()) return {};
    const std::string to = Path(name);
    return CopyFileA(source.c_str(), to.c_str(), FALSE) ? to : std::string();
}

void Sandbox::Clear() {
    for (const std::string& name : leftovers_) {
        // A bound, so that a process that cannot be ended does not hold the run for ever.
        for (int round = 0; round < 100; ++round) {
            const DWORD pid = FindProcess(name);
            if (!pid) break;
            KillProcess(pid);
        }
    }
    RemoveTree(dir_);
    dir_.clear();
    exe_.clear();
}

bool Sandbox::Fail(std::string why) {
    error_ = std::move(why);
    return false;
}

}  // namespace e2e
