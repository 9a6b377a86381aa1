// A node copied with Ctrl+C from the real Skiplane.exe is a config the real kcptun client takes
// with -c and carries bytes with, through Debian's kcptun-server on loopback.
//
// Arguments: --kcptun=<kcptun client for Windows> --tunnel-server=<kcptun-server's UDP port>
// --tunnel-target=<the TCP port kcptun-server forwards to> (run_e2e.sh passes them).

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "form/window_table.h"
#include "tests/e2e/driver.h"
#include "tests/e2e/fixture.h"
#include "tests/e2e/net.h"

using form::Ctl;

namespace {

class JsonE2E : public e2e::SandboxTest {
protected:
    JsonE2E() : SandboxTest("skiplane-json") {}
};

std::string Clipboard(UINT format) {
    std::string bytes;
    if (!OpenClipboard(nullptr)) return bytes;
    if (HANDLE h = GetClipboardData(format)) {
        const char* p = static_cast<const char*>(GlobalLock(h));
        if (format == CF_UNICODETEXT) {
            const auto* w = reinterpret_cast<const wchar_t*>(p);
            const int n = WideCharToMultiByte(CP_UTF8, 0, w, -1, nullptr, 0, nullptr, nullptr);
            bytes.resize(n > 0 ? n - 1 : 0);
            WideCharToMultiByte(CP_UTF8, 0, w, -1, bytes.data(), n, nullptr, nullptr);
        } else {
            bytes = p;
        }
        GlobalUnlock(h);
    }
    CloseClipboard();
    return bytes;
}

TEST_F(JsonE2E, ACopiedNodeIsAConfigTheRealClientCarriesBytesWith) {
    const std::string kcptun = e2e::ToWindowsPath(e2e::ArgValue("kcptun"));
    const int serverPort = std::atoi(e2e::ArgValue("tunnel-server").c_str());
    const int targetPort = std::atoi(e2e::ArgValue("tunnel-target").c_str());
    ASSERT_TRUE(!kcptun.empty() && serverPort > 0 && targetPort > 0)
        << "pass --kcptun, --tunnel-server and --tunnel-target";
    sandbox_.KillAtEnd("kcptun-client.exe");
    e2e::EchoServer echo(targetPort);
    ASSERT_EQ(echo.Port(), targetPort);
    const std::string local = std::to_string(targetPort + 2), server = std::to_string(serverPort);
    ASSERT_TRUE(e2e::WriteFileBytes(
        ConfigPath(),
        e2e::Lines({"[BroadbandConfig]", "Mtu=1350", "Sndwnd=300", "Rcvwnd=1200", "[NodeList]",
                    "Quantity=1", "[Node1]", "remarks=E2E", "local_port=" + local,
                    "server_port=" + server, "server=127.0.0.1", "key=skiplane-e2e", "mode=2",
                    "dscp=", "other=-conn 2 -autoexpire 60"})));
    StartProgram(app_);
    if (OpenClipboard(nullptr)) {
        EmptyClipboard();
        CloseClipboard();
    }

    // The keys go to the focused window: the list, in the active window. A fresh session's
    // desktop may still hold the activation: the click is made again until the list has it.
    const auto listFocused = [&] {
        return GetForegroundWindow() == app_.Main() &&
               e2e::FocusOf(app_.Main()) == app_.Hwnd(Ctl::列表框_列表);
    };
    for (int i = 0; i < 5 && !listFocused(); ++i) {
        SetForegroundWindow(app_.Main());
        e2e::MouseClick(app_.Hwnd(Ctl::列表框_列表), 8);  // the first item
        e2e::WaitUntil(listFocused, 2000);
    }
    ASSERT_TRUE(listFocused());
    ASSERT_TRUE(e2e::WaitUntil([&] { return app_.Enabled(Ctl::编辑框_其他参数); }));
    keybd_event(VK_CONTROL, 0, 0, 0);
    keybd_event('C', 0, 0, 0);
    keybd_event('C', 0, KEYEVENTF_KEYUP, 0);
    keybd_event(VK_CONTROL, 0, KEYEVENTF_KEYUP, 0);
    const std::string json = "{\r\n  \"localaddr\": \":" + local +
                             "\",\r\n  \"remoteaddr\": \"127.0.0.1:" + server +
                             "\",\r\n  \"key\": \"skiplane-e2e\",\r\n  \"mode\": \"fast\",\r\n"
                             "  \"mtu\": 1350,\r\n  \"sndwnd\": 300,\r\n  \"rcvwnd\": 1200,\r\n"
                             "  \"conn\": 2,\r\n  \"autoexpire\": 60,\r\n  \"remarks\": \"E2E\"\r\n}\r\n";
    ASSERT_TRUE(e2e::WaitUntil([&] { return !Clipboard(CF_UNICODETEXT).empty(); }));
    EXPECT_EQ(Clipboard(CF_UNICODETEXT), json);
    EXPECT_EQ(Clipboard(CF_TEXT), json);

    const std::string file = Dir() + "\\node.json";
    ASSERT_TRUE(e2e::WriteFileBytes(file, Clipboard(CF_UNICODETEXT)));
    std::string command = "\"" + kcptun + "\" -c \"" + file + "\"";
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    ASSERT_TRUE(CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE,
                               CREATE_NO_WINDOW, nullptr, Dir().c_str(), &si, &pi));
    std::string payload;
    for (int i = 0; i < 64 * 1024; ++i) payload += static_cast<char>((i * 131 + 7) & 0xFF);
    std::string got;
    EXPECT_TRUE(e2e::WaitUntil(
        [&] { return e2e::TcpRoundTrip(targetPort + 2, payload, 3000, &got); }, 20000))
        << "came back: " << got.size() << " bytes";
    TerminateProcess(pi.hProcess, 0);
    WaitForSingleObject(pi.hProcess, 5000);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
}

}  // namespace
