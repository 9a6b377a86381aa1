// The window probe to a kcptun server: its bytes against those kcp-go itself wrote, the system
// crypto under it (on Windows bcrypt.dll), the check of an answer, and whole rounds on loopback.
#include "services/kcp_probe.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/crypto.h"

#ifdef _WIN32
#include <winsock2.h>
#else
#include <arpa/inet.h>
#include <signal.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <thread>
#include <vector>

namespace sk {
namespace {

std::string Hex(const std::uint8_t* data, std::size_t size) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (std::size_t i = 0; i < size; ++i) out += {digits[data[i] >> 4], digits[data[i] & 15]};
    return out;
}
std::string Hex(const Bytes& b) { return Hex(b.data(), b.size()); }

// --- the system's crypto: RFC 6070 and FIPS-197 (appendix C) -------------------------------

TEST(KcpCrypto, Pbkdf2Sha1AndAesBlockGiveTheStandardsVectors) {
    std::uint8_t derived[20];
    ASSERT_TRUE(platform::DerivePbkdf2Sha1("password", "salt", 4096, derived, sizeof derived));
    EXPECT_EQ(Hex(derived, 20), "4b007901b765489abead49d926f721d065a429c1");
    std::uint8_t key[32], plain[16], out[16];
    for (int i = 0; i < 32; ++i) key[i] = static_cast<std::uint8_t>(i);
    for (int i = 0; i < 16; ++i) plain[i] = static_cast<std::uint8_t>(i * 0x11);
    const struct {
        std::size_t size;
        const char* cipher;
    } cases[] = {{16, "69c4e0d86a7b0430d8cdb78070b4c55a"},
                 {24, "dda97ca4864cdfe06eaf70a0ec0d7191"},
                 {32, "8ea2b7ca516745bfeafc49904b496089"}};
    for (const auto& c : cases) {
        platform::AesBlock aes;
        ASSERT_TRUE(aes.SetKey(key, c.size));
        aes.Encrypt(plain, out);
        EXPECT_EQ(Hex(out, 16), c.cipher) << c.size;
    }
    platform::AesBlock bad;
    EXPECT_FALSE(bad.SetKey(key, 20));
}

// --- framing: bytes kcp-go 5.6.1 (Debian 12) wrote --------------------------------------------
// A Go program against /usr/share/gocode's kcp-go made a client session (NewConn3's
// newUDPSession) with conversation 0x12345678, its nonce generator swapped for one giving
// 00 01 .. 0f, set IKCP_ASK_SEND and flushed; these are the datagrams it wrote. The key is
// pbkdf2.Key("密码 key" in UTF-8, "kcp-go", 4096, 32, sha1.New), "null" framed without a crypt.

TEST(KcpProbeFraming, DerivesTheKeyFromTheCodePagesTextInUtf8) {
    std::uint8_t key[32];
    ASSERT_TRUE(DeriveKcpKey("密码 key", key));
    EXPECT_EQ(Hex(key, 32), "208ff2f29fe89b9ea1b2a0e9cf891a0e83588f479369b71dd1deb6f01327f577");
    ASSERT_TRUE(DeriveKcpKey(kKcpDefaultKey, key));
    EXPECT_EQ(Hex(key, 32), "25d7d7bd51050742d8d791f2b653c6c8b2366b7e25a124cf7a2e12eaf4ffa444");
}

TEST(KcpProbeFraming, AWindowProbeIsByteForByteWhatKcpGoSends) {
    std::uint8_t key[32], nonce[16];
    ASSERT_TRUE(DeriveKcpKey("密码 key", key));
    for (int i = 0; i < 16; ++i) nonce[i] = static_cast<std::uint8_t>(i);
    const struct {
        KcpFraming framing;
        const char* bytes;
    } cases[] = {
        {{KcpFraming::Aes, 32, true},
         "661519836184a0c60849030772d6455d598bd53a50ac2bd510e643541057607f1277c6f8570cedb37974b561e"
         "9"
         "0b4575fa39d9dd"},
        {{KcpFraming::Aes, 16, false},
         "90482093eeac1c569d232fb920ecd8138bda9bfbc12088b2803462d2ae1bea23938bae87f7dc836edd5d0b9"
         "e"},
        {{KcpFraming::Aes, 24, true},
         "99ff4ddcab13c455178c98c2ee3390f08094531d2543d22bcf3aa110b74867540f989ad47dba87dce0568f33"
         "64185ffa2037e53f"},
        {{KcpFraming::Plain, 0, true},
         "000102030405060708090a0b0c0d0e0f3b22c90100000000f1001a0078563412530020000000000000000000"
         "0000000000000000"},
        {{KcpFraming::Bare, 0, true},
         "00000000f1001a00785634125300200000000000000000000000000000000000"},
    };
    for (const auto& c : cases) {
        platform::AesBlock aes;
        if (c.framing.wrap == KcpFraming::Aes) {
            ASSERT_TRUE(aes.SetKey(key, static_cast<std::size_t>(c.framing.keySize)));
        }
        EXPECT_EQ(Hex(FrameKcpProbe(c.framing, &aes, 0x12345678, nonce, 0)), c.bytes)
            << c.framing.wrap << " " << c.framing.keySize;
    }
}

TEST(KcpProbeFraming, CryptNamesAsTheClientTakesThem) {
    const struct {
        const char* name;
        KcpCrypt crypt;
    } cases[] = {{"aes", KcpCrypt::Aes},
                 {"aes-128", KcpCrypt::Aes128},
                 {"aes-192", KcpCrypt::Aes192},
                 {"none", KcpCrypt::None},
                 {"null", KcpCrypt::Null},
                 {"AES", KcpCrypt::Aes},
                 {"rot13", KcpCrypt::Aes},
                 {"", KcpCrypt::Aes},
                 {"salsa20", KcpCrypt::CannotFrame},
                 {"blowfish", KcpCrypt::CannotFrame},
                 {"twofish", KcpCrypt::CannotFrame},
                 {"cast5", KcpCrypt::CannotFrame},
                 {"3des", KcpCrypt::CannotFrame},
                 {"tea", KcpCrypt::CannotFrame},
                 {"xtea", KcpCrypt::CannotFrame},
                 {"xor", KcpCrypt::CannotFrame},
                 {"sm4", KcpCrypt::CannotFrame},
                 {"aes-128-gcm", KcpCrypt::CannotFrame}};
    for (const auto& c : cases) EXPECT_EQ(KcpCryptFromName(c.name), c.crypt) << c.name;
}

// An answer: a segment of the conversation after the CRC, with or without the FEC data header.
TEST(KcpProbeAnswer, OnlyASegmentOfTheConversationThatPassesTheCrcCounts) {
    std::uint8_t key[32] = {7}, nonce[16] = {9};
    platform::AesBlock aes;
    ASSERT_TRUE(aes.SetKey(key, 32));
    const KcpFraming withFec{KcpFraming::Aes, 32, true}, without{KcpFraming::Aes, 32, false};
    const Bytes fec = FrameKcpProbe(withFec, &aes, 77, nonce, 5);
    const Bytes plain = FrameKcpProbe(without, &aes, 77, nonce, 0);
    const KcpFraming bare{KcpFraming::Bare, 0, true};
    const Bytes unwrapped = FrameKcpProbe(bare, &aes, 77, nonce, 0);
    Bytes flipped = fec, parity = FrameKcpProbe({KcpFraming::Plain, 0, true}, &aes, 77, nonce, 0);
    flipped[30] ^= 1;
    parity[24] = 0xF2;  // the FEC header's type: a parity shard is no answer of its own
    const struct {
        KcpFraming framing;
        Bytes datagram;
        std::uint32_t conv;
        bool answer;
    } cases[] = {{withFec, fec, 77, true},
                 {withFec, plain, 77, true},
                 {without, fec, 77, true},
                 {withFec, fec, 78, false},
                 {withFec, flipped, 77, false},
                 {{KcpFraming::Plain, 0, true}, parity, 77, false},
                 {withFec, Bytes(fec.begin(), fec.begin() + 40), 77, false},
                 {bare, unwrapped, 77, true},
                 {bare, fec, 77, false}};
    int i = 0;
    for (auto c : cases)
        EXPECT_EQ(IsKcpAnswer(c.framing, &aes, c.conv, c.datagram), c.answer) << i++;
}

// A name with both kinds of address resolves to its IPv4 one first, as Go's resolver orders them.
TEST(KcpUdp, ResolvesLocalhostToItsIpv4AddressFirst) {
    platform::UdpAddress a;
    ASSERT_TRUE(platform::ResolveUdpAddress("localhost", 4000, a));
    const platform::UdpAddress expected{4, {127, 0, 0, 1}, 4000};
    EXPECT_EQ(a, expected);
}

// --- whole rounds on loopback ----------------------------------------------------------------

#ifdef _WIN32
using Fd = SOCKET;
using Length = int;
void CloseFd(Fd fd) { closesocket(fd); }
void SleepMs(int ms) { Sleep(static_cast<DWORD>(ms)); }
#else
using Fd = int;
using Length = socklen_t;
void CloseFd(Fd fd) { close(fd); }
void SleepMs(int ms) { usleep(static_cast<useconds_t>(ms) * 1000); }
#endif

// A UDP socket bound to a free loopback port.
Fd BoundSocket(std::uint16_t& port) {
#ifdef _WIN32
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
#endif
    const Fd fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    Length length = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length);
    port = ntohs(a.sin_port);
    return fd;
}

KcpProbeResult Round(KcpProbe& probe, std::uint16_t port, const char* key, const char* crypt,
                     int ds, int ps) {
    return probe.Run({"127.0.0.1", port, key, KcpCryptFromName(crypt), ds, ps});
}

#ifndef _WIN32
// Debian's kcptun-server on a free loopback port, in a process group of its own that ends
// with the test.
class KcptunServer {
public:
    explicit KcptunServer(std::vector<std::string> options) {
        CloseFd(BoundSocket(port));
        std::vector<std::string> args = {
            "kcptun-server", "-l",    "127.0.0.1:" + std::to_string(port), "-t",
            "127.0.0.1:9",   "-quiet"};
        args.insert(args.end(), options.begin(), options.end());
        pid_ = fork();
        if (pid_ == 0) {
            setpgid(0, 0);
            std::vector<char*> argv;
            for (auto& a : args) argv.push_back(a.data());
            argv.push_back(nullptr);
            freopen("/dev/null", "w", stderr);
            execvp(argv[0], argv.data());
            _exit(127);
        }
        setpgid(pid_, pid_);
        SleepMs(1000);  // its key derivation and listen, on a busy machine too
    }
    ~KcptunServer() {
        kill(-pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    std::uint16_t port = 0;

private:
    pid_t pid_;
};

TEST(KcpProbeRound, Debian12sServerAnswersTheRightKeyAndCryptOnly) {
    // The server's command line is UTF-8, as Windows hands it to the client.
    KcptunServer aes({"-key", "\xE5\xAF\x86\xE7\xA0\x81"}),
        plain({"-key", "k", "-crypt", "none", "-ds", "0", "-ps", "0"}), nul({"-crypt", "null"}),
        aes128({"-key", "k", "-crypt", "aes-128", "-ds", "0", "-ps", "0"});
    const struct {
        std::uint16_t port;
        const char *key, *crypt;
        int ds, ps;
        bool answered;
    } cases[] = {{aes.port, "\xC3\xDC\xC2\xEB", "aes", 10, 3, true},  // 密码 in GBK
                 {aes.port, "\xC3\xDC\xC2\xEB", "aes", 0, 0, true},   // the server takes both
                 {plain.port, "k", "none", 0, 0, true},
                 {nul.port, "", "null", 10, 3, true},
                 {aes128.port, "k", "aes-128", 10, 3, true},
                 {aes.port, "wrong", "aes", 10, 3, false},
                 {plain.port, "k", "aes", 0, 0, false},
                 {aes128.port, "k", "aes", 0, 0, false}};
    for (const auto& c : cases) {
        KcpProbe probe;
        probe.intervalMs = c.answered ? 1500 : 300;  // an answer comes to the first try
        const KcpProbeResult r = Round(probe, c.port, c.key, c.crypt, c.ds, c.ps);
        EXPECT_EQ(r.answered, c.answered) << c.port << " " << c.key << " " << c.crypt;
        EXPECT_EQ(probe.sent, (c.answered ? 1u : 3u) * (std::string(c.crypt) == "null" ? 2 : 1));
    }
}

#endif

// A peer that records when each datagram comes and sends back the one numbered `echo` after
// holdMs (a copy of the probe is a segment of its conversation, so it counts as an answer).
struct Peer {
    explicit Peer(int echo, int holdMs) : fd(BoundSocket(port)) {
        thread = std::thread([this, echo, holdMs] {
            std::uint8_t buffer[1500];
            for (;;) {
                fd_set readable;
                FD_ZERO(&readable);
                FD_SET(fd, &readable);
                timeval wait{1, 500000};  // longer than any interval between tries
                if (select(static_cast<int>(fd) + 1, &readable, nullptr, nullptr, &wait) != 1)
                    break;
                sockaddr_in from{};
                Length length = sizeof from;
                const int n =
                    static_cast<int>(recvfrom(fd, reinterpret_cast<char*>(buffer), sizeof buffer, 0,
                                              reinterpret_cast<sockaddr*>(&from), &length));
                arrivals.push_back(platform::UdpClockMs());
                if (static_cast<int>(arrivals.size()) != echo) continue;
                SleepMs(holdMs);
                sendto(fd, reinterpret_cast<const char*>(buffer), n, 0,
                       reinterpret_cast<sockaddr*>(&from), length);
            }
        });
    }
    ~Peer() { CloseFd(fd); }
    std::uint16_t port;
    Fd fd;
    std::vector<std::uint32_t> arrivals;
    std::thread thread;
};

TEST(KcpProbeRound, TriesThreeTimesApartAndTimesTheAnswerFromTheLatestSend) {
    Peer peer(3, 120);
    KcpProbe probe;
    probe.intervalMs = 1000;  // wide margins: a loaded machine must not fail this
    const KcpProbeResult r = Round(probe, peer.port, "k", "aes", 10, 3);
    peer.thread.join();
    EXPECT_TRUE(r.answered);
    EXPECT_GE(r.delayMs, 110u);
    EXPECT_LT(r.delayMs, 1000u);  // from the first send it would be 2120
    ASSERT_EQ(peer.arrivals.size(), 3u);
    for (int i = 1; i < 3; ++i) {
        EXPECT_GE(peer.arrivals[i] - peer.arrivals[i - 1], 980u);
        EXPECT_LT(peer.arrivals[i] - peer.arrivals[i - 1], 1900u);  // no try left out
    }
}

TEST(KcpProbeRound, FailsAnIntervalAfterTheThirdAndSendsNothingAfterAStop) {
    Peer silent(0, 0);
    KcpProbe probe;
    probe.intervalMs = 300;
    const std::uint32_t start = platform::UdpClockMs();
    EXPECT_FALSE(Round(probe, silent.port, "k", "aes", 10, 3).answered);
    const std::uint32_t spent = platform::UdpClockMs() - start;
    EXPECT_GE(spent, 900u);
    EXPECT_LT(spent, 1180u);  // not a fourth interval

    Peer peer(0, 0);
    KcpProbe stopped;
    std::thread stopper([&] {
        SleepMs(100);
        stopped.Stop();
    });
    const std::uint32_t begun = platform::UdpClockMs();
    EXPECT_FALSE(Round(stopped, peer.port, "k", "aes", 10, 3).answered);
    EXPECT_LT(platform::UdpClockMs() - begun, 400u);  // not the round's 900
    stopper.join();
    silent.thread.join();
    peer.thread.join();
    EXPECT_EQ(peer.arrivals.size(), 1u);
    EXPECT_EQ(stopped.sent, 1u);
}

TEST(KcpProbeRound, NoServerGetsNoAnswer) {
    std::uint16_t port;
    CloseFd(BoundSocket(port));  // a closed port: its ICMP answer is no datagram (WSAECONNRESET)
    KcpProbe probe;
    probe.intervalMs = 100;
    EXPECT_FALSE(Round(probe, port, "k", "aes", 10, 3).answered);
    EXPECT_EQ(probe.sent, 3u);
}

}  // namespace
}  // namespace sk
