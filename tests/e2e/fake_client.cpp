// Stands in for the kcptun client in the end-to-end cases: prints its command line (which
// lands in kcptun.log through the shell's redirection) and runs until it is killed, or exits
// at once with code 3 given --exit. With --record <text> it is the program the shell opens
// files with instead: it appends the text as a line to recorded.txt beside itself and exits.

#include <windows.h>

#include <cstring>
#include <string>

namespace {

bool WriteAll(HANDLE h, const std::string& bytes) {
    DWORD put = 0;
    return WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &put, nullptr) &&
           put == bytes.size();
}

int Record(const char* text) {
    char exe[MAX_PATH] = {};
    DWORD n = GetModuleFileNameA(nullptr, exe, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return 2;
    std::string path = exe;
    path.erase(path.find_last_of('\\') + 1);
    path += "recorded.txt";
    HANDLE f = CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) return 2;
    bool ok = WriteAll(f, std::string(text) + "\r\n");
    CloseHandle(f);
    return ok ? 0 : 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && std::strcmp(argv[1], "--record") == 0) {
        return argc >= 3 ? Record(argv[2]) : 2;
    }

    // Straight to the handle, no stdio buffer: the line is in the log before anyone looks,
    // whether we exit or are killed.
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    WriteAll(out, std::string("fake client: ") + GetCommandLineA() + "\r\n");
    FlushFileBuffers(out);
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--exit") == 0) return 3;
    }
    for (;;) Sleep(1000);
}
