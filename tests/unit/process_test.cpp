// Threads, program starts and the message-pumping delay. The Win32 cases start real programs
// under Wine and wait on a real message queue.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "services/process.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

std::atomic<int> g_received{-1};
void Remember(int parameter) { g_received = parameter; }

bool Eventually(const std::function<bool()>& cond) {
    for (int i = 0; i < 500 && !cond(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return cond();
}

TEST(StartThread, RunsTheRoutineWithItsParameterAndKeepsTheHandleOnlyWhenAsked) {
    platform::OwnedThread handle;
    g_received = -1;
    ASSERT_TRUE(sk::StartThread(Remember, 7, &handle));
    EXPECT_TRUE(handle);
    EXPECT_TRUE(Eventually([] { return g_received == 7; }));
    g_received = -1;
    ASSERT_TRUE(sk::StartThread(Remember));
    EXPECT_TRUE(Eventually([] { return g_received == 0; }));  // no parameter: 0
#ifdef _WIN32
    EXPECT_EQ(WaitForSingleObject(platform::NativeOf<void>(handle.get()), 5000), WAIT_OBJECT_0);
    EXPECT_TRUE(CloseHandle(platform::NativeOf<void>(handle.release())));
#endif
}

#ifdef _WIN32
TEST(RunProgram, Win32OnlyStartsRealProgramsAndReportsAMissingOne) {
    EXPECT_FALSE(sk::RunProgram("Z:\\no\\such\\program.exe", false));
    char exitFile[MAX_PATH];
    GetTempPathA(MAX_PATH, exitFile);
    std::string marker = std::string(exitFile) + "skiplane-runprogram.txt";
    DeleteFileA(marker.c_str());
    // With wait, it returns once the program has ended: its file is there.
    EXPECT_TRUE(sk::RunProgram("cmd /c echo done> \"" + marker + "\"", true, 1));
    EXPECT_NE(GetFileAttributesA(marker.c_str()), INVALID_FILE_ATTRIBUTES);
    DeleteFileA(marker.c_str());
}

std::atomic<int> g_dispatched{0};
LRESULT CALLBACK CountingProc(HWND h, UINT m, WPARAM w, LPARAM l) {
    if (m == WM_APP) ++g_dispatched;
    return DefWindowProcA(h, m, w, l);
}

TEST(Delay, Win32OnlyHandlesAMessageThatArrivesDuringTheWaitAndWaitsItsTime) {
    WNDCLASSA wc{};
    wc.lpfnWndProc = CountingProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "SkiplaneDelayTest";
    RegisterClassA(&wc);
    HWND window = CreateWindowA("SkiplaneDelayTest", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                wc.hInstance, nullptr);
    ASSERT_NE(window, nullptr);
    g_dispatched = 0;
    std::thread sender([window] {
        Sleep(100);
        PostMessageA(window, WM_APP, 0, 0);
    });
    const DWORD start = GetTickCount();
    sk::Delay(300);
    const DWORD waited = GetTickCount() - start;
    sender.join();
    EXPECT_EQ(g_dispatched, 1);
    EXPECT_GE(waited, 300u);
    DestroyWindow(window);
}
#endif

}  // namespace
