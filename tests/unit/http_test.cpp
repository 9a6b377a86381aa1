// HttpReadFile against a local server of our own, on both layers: WinINet under Wine, libcurl
// on Linux. The headless cases also see the read sizes the download asked for.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <thread>  // std::chrono::steady_clock (<chrono> itself has a character GBK lacks)

#include "services/http.h"
#include "tests/support/http_server.h"
#ifdef _WIN32
#include <windows.h>
#include <psapi.h>
#include <tlhelp32.h>
#else
#include <dirent.h>
#include <fstream>
#include "platform/headless/internet_hooks.h"
#include "platform/headless/programs_hooks.h"
#endif

namespace {

std::string Read(const std::string& url) {
    const sk::Bytes body = sk::HttpReadFile(url);
    return std::string(body.begin(), body.end());
}

std::string Pattern(std::size_t n) {
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>('a' + i % 23);
    return s;
}

#ifndef _WIN32
// Every read of the last request asked for this many bytes.
void ExpectReadSizes(std::size_t size) {
    const auto sizes = platform::hooks::HttpReadSizes();
    ASSERT_FALSE(sizes.empty());
    for (std::size_t s : sizes) EXPECT_EQ(s, size);
}
#else
void ExpectReadSizes(std::size_t) {}
#endif

TEST(HttpReadSize, FollowsTheContentLengthUpToItsBound) {
    const struct {
        const char* header;
        std::size_t size;
    } cases[] = {{"5", 6},          {"0", 10240},       {"-3", 10240},    {"abc", 10240},
                 {"12abc", 13},     {" 7", 8},          {"102399", 102400}, {"102400", 102400},
                 {"10485760", 102400}, {"99999999999999999999", 102400}, {nullptr, 10240}};
    for (const auto& c : cases)
        EXPECT_EQ(sk::HttpReadSize(c.header), c.size) << (c.header ? c.header : "(none)");
}

TEST(HttpReadFile, BodiesComeBackWholeUpToOneMegabyte) {
    testhttp::Server server;
    ASSERT_NE(server.Port(), 0);
    const std::string big = Pattern(10 * 1024 * 1024);
    server.Serve("/five", testhttp::Ok("hello"));
    server.Serve("/none", "HTTP/1.0 200 OK\r\n\r\n" + Pattern(25000));
    server.Serve("/word", "HTTP/1.0 200 OK\r\nContent-Length: abc\r\n\r\n" + Pattern(300));
    server.Serve("/big", testhttp::Ok(big));
    server.Serve("/missing", "HTTP/1.0 404 Not Found\r\nContent-Length: 9\r\n\r\nNot found");

    EXPECT_EQ(Read(server.Url("/five")), "hello");
    ExpectReadSizes(6);
    EXPECT_EQ(Read(server.Url("/none")), Pattern(25000));
    ExpectReadSizes(10240);
    EXPECT_EQ(Read(server.Url("/word")), Pattern(300));
    ExpectReadSizes(10240);
    // A body beyond 1 MB is cut there, as if the connection had dropped.
    EXPECT_EQ(Read(server.Url("/big")), big.substr(0, sk::kHttpMaxBody));
    ExpectReadSizes(102400);
    EXPECT_EQ(Read(server.Url("/missing")), "Not found");  // the status is not examined
}

TEST(HttpReadFile, ABrokenTransferGivesWhatCameAndBadAddressesGiveNothing) {
    testhttp::Server server;
    server.ServeDropped("/drop", "HTTP/1.0 200 OK\r\nContent-Length: 1000\r\n\r\n" + Pattern(300));
    server.Serve("/frag", testhttp::Ok("fragment"));
    EXPECT_EQ(Read(server.Url("/drop")), Pattern(300));

    EXPECT_EQ(Read(server.Url("/frag#part")), "fragment");
    EXPECT_EQ(server.Requests().back().rfind("GET /frag HTTP/1.0\r\n", 0), 0u);

    const int connections = server.Connections();
    for (const char* bad : {"", "not a url", "ftp://127.0.0.1/x", "http://"})
        EXPECT_EQ(Read(bad), "") << bad;
    EXPECT_EQ(server.Connections(), connections);
}

TEST(HttpReadFile, TheInternetHandleIsMadeOnceAndReused) {
    testhttp::Server server;
    server.Serve("/a", testhttp::Ok("a"));
    EXPECT_EQ(Read(server.Url("/a")), "a");
#ifndef _WIN32
    const int opened = platform::hooks::InternetHandlesOpened();
    EXPECT_EQ(Read(server.Url("/a")), "a");
    EXPECT_EQ(platform::hooks::InternetHandlesOpened(), opened);
    sk::CloseInternetHandle();
    EXPECT_EQ(Read(server.Url("/a")), "a");
    EXPECT_EQ(platform::hooks::InternetHandlesOpened(), opened + 1);
#else
    EXPECT_EQ(Read(server.Url("/a")), "a");
#endif
}

// A server that trickles its answer or redirects without end holds the download no longer than
// its deadline (the update check's is 60 s; here 1.5 s); over libcurl redirects stop at 10.
TEST(HttpReadFile, EndsByItsDeadlineWhateverTheServerDoes) {
    testhttp::Server server;
    const std::string body = Pattern(400);
    server.ServeSlowly("/trickle", testhttp::Ok(body), 4, 100);  // 11 s in all
    server.Serve("/loop", "HTTP/1.0 302 Found\r\nLocation: /loop\r\nContent-Length: 0\r\n\r\n");
    for (const char* target : {"/trickle", "/loop"}) {
        const auto start = std::chrono::steady_clock::now();
        const sk::Bytes got = sk::HttpReadFile(server.Url(target), 1500);
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::steady_clock::now() - start).count();
        std::printf("[ http     ] %s ended after %lld ms\n", target, static_cast<long long>(ms));
        EXPECT_LT(ms, 6000) << target;
        const std::string text(got.begin(), got.end());
        EXPECT_EQ(text, body.substr(0, text.size())) << target;  // what came, if anything
    }
#ifndef _WIN32
    EXPECT_LE(server.Connections(), 1 + 1 + 10);  // the trickle, the first request, 10 redirects
#endif
}

// Ten redirects, relative or absolute, are followed; the eleventh, or a loop, is a failure that
// comes well before the deadline.
TEST(HttpReadFile, RedirectsAreFollowedTenTimesAtMost) {
    testhttp::Server server;
    const auto to = [](const std::string& where) {
        return "HTTP/1.0 302 Found\r\nLocation: " + where + "\r\nContent-Length: 0\r\n\r\n";
    };
    for (int i = 0; i < 11; ++i)
        server.Serve("/r" + std::to_string(i),
                     to(i % 2 ? server.Url("/r" + std::to_string(i + 1)) : "r" + std::to_string(i + 1)));
    server.Serve("/r11", testhttp::Ok("end"));
    server.Serve("/loop", to("/loop"));
    const struct {
        const char* target;
        const char* body;
    } cases[] = {{"/r1", "end"}, {"/r0", ""}, {"/loop", ""}};
    for (const auto& c : cases) {
        const auto start = std::chrono::steady_clock::now();
        const sk::Bytes got = sk::HttpReadFile(server.Url(c.target), 20000);
        EXPECT_EQ(std::string(got.begin(), got.end()), c.body) << c.target;
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10)) << c.target;
    }
    EXPECT_EQ(server.Requests().size(), 11u + 11u + 11u);
}

// The process's threads, handles (or open files) and private bytes. Wine reports neither the
// handle count nor the private bytes (0 both): its working set is printed as well.
std::string Figures() {
    char line[128];
#ifdef _WIN32
    DWORD handles = 0;
    GetProcessHandleCount(GetCurrentProcess(), &handles);
    PROCESS_MEMORY_COUNTERS_EX m{};
    GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&m),
                         sizeof m);
    int threads = 0;
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 te{};
    te.dwSize = sizeof te;
    for (BOOL ok = Thread32First(snap, &te); ok; ok = Thread32Next(snap, &te))
        threads += te.th32OwnerProcessID == GetCurrentProcessId();
    CloseHandle(snap);
    std::snprintf(line, sizeof line, "threads %d, handles %lu, private %lu KB, working set %lu KB",
                  threads, handles, static_cast<unsigned long>(m.PrivateUsage / 1024),
                  static_cast<unsigned long>(m.WorkingSetSize / 1024));
#else
    std::ifstream status("/proc/self/status");
    std::string threads, rss;
    for (std::string l; std::getline(status, l);) {
        if (l.rfind("Threads:", 0) == 0) threads = l.substr(9);
        if (l.rfind("VmRSS:", 0) == 0) rss = l.substr(7);
    }
    int files = 0;
    if (DIR* d = opendir("/proc/self/fd")) {
        while (readdir(d)) ++files;
        closedir(d);
    }
    std::snprintf(line, sizeof line, "threads %s, files %d, resident %s", threads.c_str(), files,
                  rss.c_str());
#endif
    return line;
}

// Fifty checks against a server that sends its head, then trickles the body (19 bytes each
// 200 ms), each given up at 300 ms:
// every abandoned transfer ends after its current read, and never more than one waits for
// another. Once the server answers properly the next download gets through.
TEST(HttpReadFile, AbandonedTransfersEndAfterTheirCurrentRead) {
    testhttp::Server server;
    const std::string head = "HTTP/1.0 200 OK\r\n\r\n";
    server.ServeSlowly("/Ver.ini", head + Pattern(400), static_cast<int>(head.size()), 200);
    std::printf("[ http     ] before: %s\n", Figures().c_str());
    int most = 0;
    for (int i = 0; i < 50; ++i) {
        const sk::Bytes got = sk::HttpReadFile(server.Url("/Ver.ini"), 300);
        EXPECT_EQ(std::string(got.begin(), got.end()), "") << i;
        most = std::max(most, sk::HttpTransfersAlive());
    }
    std::printf("[ http     ] after 50 checks: %s; at most %d transfers alive\n",
                Figures().c_str(), most);
    EXPECT_LE(most, 2);  // the one given up, and the next, waiting for it
    server.Serve("/Ver.ini", testhttp::Ok("[Skiplane]"));
    EXPECT_EQ(Read(server.Url("/Ver.ini")), "[Skiplane]");
    const auto start = std::chrono::steady_clock::now();
    while (sk::HttpTransfersAlive() > 0 && std::chrono::steady_clock::now() - start < std::chrono::seconds(2))
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(sk::HttpTransfersAlive(), 0);
#ifndef _WIN32
    EXPECT_EQ(platform::hooks::RequestsOpen(), 0);
#endif
}

#ifndef _WIN32
TEST(HttpReadFile, ATransferWhoseThreadCouldNotStartIsFreed) {
    testhttp::Server server;
    server.Serve("/a", testhttp::Ok("a"));
    platform::hooks::FailThreadStarts(true);
    EXPECT_EQ(Read(server.Url("/a")), "");
    platform::hooks::FailThreadStarts(false);
    EXPECT_EQ(sk::HttpTransfersAlive(), 0);
    EXPECT_EQ(server.Connections(), 0);
}
#endif

// The tests' own server (tests/support) as the fuzz targets use it: an answer given once, and
// one connection at a time with no request heads kept.
TEST(TestHttpServer, AnAnswerServedOnceGoesToTheNextRequestOnly) {
    for (auto mode : {testhttp::Server::Mode::Threaded, testhttp::Server::Mode::OneAtATime}) {
        const bool threaded = mode == testhttp::Server::Mode::Threaded;
        SCOPED_TRACE(threaded ? "a thread per connection" : "one at a time");
        testhttp::Server server(0, mode);
        ASSERT_NE(server.Port(), 0);
        server.ServeOnce("/once", testhttp::Ok("first"));
        server.Serve("/always", testhttp::Ok("again"));
        EXPECT_EQ(Read(server.Url("/once")), "first");
        EXPECT_EQ(Read(server.Url("/once")), "");  // the 404, whose body is empty
        EXPECT_EQ(Read(server.Url("/always")), "again");
        EXPECT_EQ(Read(server.Url("/always")), "again");
        server.ServeOnce("/once", testhttp::Ok("second"));
        EXPECT_EQ(Read(server.Url("/once")), "second");
        EXPECT_EQ(server.Connections(), 5);
        EXPECT_EQ(server.Requests().size(), threaded ? 5u : 0u);
    }
}

TEST(TestHttpServer, OneAtATimeAnswersEveryRequestInTurn) {
    testhttp::Server server(0, testhttp::Server::Mode::OneAtATime);
    ASSERT_NE(server.Port(), 0);
    const std::string big = Pattern(1024 * 1024);
    server.Serve("/big", testhttp::Ok(big));
    server.Serve("/small", testhttp::Ok("small"));
    for (int i = 0; i < 10; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(Read(server.Url("/big")), big);
        EXPECT_EQ(Read(server.Url("/small")), "small");
        EXPECT_EQ(Read(server.Url("/nothing")), "");
    }
    EXPECT_EQ(server.Connections(), 30);
    EXPECT_TRUE(server.Requests().empty());
}

#ifdef _WIN32
TEST(HttpReadFile, Win32OnlyAServerThatNeverAnswersIsGivenUpAfterTheTimeOut) {
    testhttp::Server server;
    server.ServeStalled("/stall");
    const unsigned long start = GetTickCount();
    EXPECT_EQ(Read(server.Url("/stall")), "");
    const unsigned long waited = GetTickCount() - start;
    std::printf("[ http     ] a stalled download ended after %lu ms\n", waited);
    EXPECT_GE(waited, 29000ul);
    EXPECT_LT(waited, 120000ul) << "the download waited for the server without end";
}
#endif

}  // namespace
