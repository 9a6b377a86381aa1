// The open-file dialog and message boxes.
#include "platform/window.h"

#include "platform/win32/ui_win32.h"

#include <commdlg.h>

#include <algorithm>
#include <cstring>
#include <vector>

// <windows.h> maps MessageBox to MessageBoxA; ours is a function of its own.
#undef MessageBox

namespace platform {

namespace {
using GetOpenFileNameFunction = BOOL(WINAPI*)(LPOPENFILENAMEA);

// The common dialog library is loaded when the dialog is first asked for, not with the program:
// loading it brings the print spooler's client in with it (under Wine also CUPS and its TLS and
// Kerberos libraries), several megabytes and part of the start-up time for a dialog most starts
// never show. Window thread only.
GetOpenFileNameFunction OpenFileNameFunction() {
    static GetOpenFileNameFunction function = nullptr;
    if (!function) {
        if (HMODULE library = LoadLibraryA("comdlg32.dll"))
            function = reinterpret_cast<GetOpenFileNameFunction>(
                reinterpret_cast<void*>(GetProcAddress(library, "GetOpenFileNameA")));
    }
    return function;
}

// "desc|pattern||" to the zero-separated, double-zero-terminated list the dialog wants. A '|'
// that is the second byte of a double-byte character is left alone.
std::string FilterList(std::string filter) {
    if (filter.empty()) return filter;
    if (filter.size() < 2 || filter.compare(filter.size() - 2, 2, "||") != 0) filter += "||";
    for (size_t i = 0; i < filter.size(); ++i) {
        auto ch = static_cast<unsigned char>(filter[i]);
        if (IsDBCSLeadByte(ch) && i + 1 < filter.size())
            ++i;
        else if (ch == '|')
            filter[i] = '\0';
    }
    return filter;
}
}  // namespace

bool OpenFileDialog(const FileDialogOptions& options, std::string& path) {
    std::string filter = FilterList(options.filter);
    std::vector<char> file(4096, '\0');
    std::memcpy(file.data(), path.data(), std::min(path.size(), file.size() - 1));

    OPENFILENAMEA ofn{};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = win32::MainHwnd();
    ofn.lpstrFilter = filter.empty() ? nullptr : filter.c_str();
    ofn.nFilterIndex = static_cast<DWORD>(std::max(1, options.filterIndex));
    ofn.lpstrFile = file.data();
    ofn.nMaxFile = static_cast<DWORD>(file.size());
    ofn.lpstrInitialDir = options.initialDir.empty() ? nullptr : options.initialDir.c_str();
    ofn.lpstrTitle = options.title.empty() ? nullptr : options.title.c_str();
    ofn.lpstrDefExt = options.defaultExt.empty() ? nullptr : options.defaultExt.c_str();
    ofn.Flags = OFN_HIDEREADONLY | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST;
    const GetOpenFileNameFunction getOpenFileName = OpenFileNameFunction();
    if (!getOpenFileName || !getOpenFileName(&ofn)) return false;
    path = file.data();
    return true;
}

int MessageBox(std::string_view text, std::string_view caption, unsigned style,
               WindowHandle owner) {
    return MessageBoxA(NativeOf<HWND__>(owner), std::string(text).c_str(),
                       std::string(caption).c_str(), style);
}

}  // namespace platform
