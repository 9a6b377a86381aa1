// A folder of its own for one run of the program: made under the temporary folder, with the
// program copied in. When the sandbox ends (or is cleared) the processes it was told of are
// killed and the folder is removed with everything in it. The end-to-end fixtures
// (fixture.h) and the Wine benchmarks all start the program this way.
#pragma once

#include <string>
#include <vector>

namespace e2e {

class Sandbox {
public:
    Sandbox() = default;
    ~Sandbox() { Clear(); }
    Sandbox(const Sandbox&) = delete;
    Sandbox& operator=(const Sandbox&) = delete;

    // Clears what the sandbox held, makes a fresh folder whose name starts with prefix and
    // copies program (a Windows path) into it as exeName. False, with the reason in Error(),
    // when no program is given, it does not exist, or the folder or the copy cannot be made.
    bool Create(const std::string& prefix, const std::string& program,
                const std::string& exeName = "Skiplane.exe");
    const std::string& Error() const { return error_; }

    const std::string& Dir() const { return dir_; }
    const std::string& Exe() const { return exe_; }  // <folder>\<exeName>
    std::string Path(const std::string& name) const { return dir_ + "\\" + name; }
    std::string ConfigPath() const { return Path("config.ini"); }
    // config.ini's bytes, or empty text when there is none.
    std::string Config() const;
    bool WriteConfig(const std::string& bytes) const;
    // Copies source into the folder as name (any folder in name must exist); gives the copy's
    // path, or empty text when it fails.
    std::string CopyIn(const std::string& source, const std::string& name) const;

    // Processes of that exe file name, wherever they run from, are killed whenever the sandbox
    // is cleared: the clients the program starts outlive it when it is killed.
    void KillAtEnd(const std::string& exeName) { leftovers_.push_back(exeName); }
    // Kills those processes (the program itself is its App's to end, before this) and removes
    // the folder.
    void Clear();

private:
    bool Fail(std::string why);

    std::string dir_, exe_, error_;
    std::vector<std::string> leftovers_;
};

}  // namespace e2e
