#include "services/kcp_probe.h"

#include <cstring>

#include "platform/codepage.h"

namespace sk {

namespace {

constexpr std::size_t kNonceSize = 16, kCryptHeaderSize = 20, kFecHeaderSize = 8, kSegmentSize = 24;
constexpr std::uint8_t kCmdPush = 81, kCmdWins = 84, kCmdWask = 83;
constexpr std::uint16_t kFecData = 0xF1, kFecParity = 0xF2;
constexpr std::uint16_t kWindow = 32;  // kcp-go's receive window as a session starts
// kcp-go's initial vector for its feedback mode.
constexpr std::uint8_t kInitialVector[16] = {167, 115, 79,  156, 18,  172, 27,  1,
                                             164, 21,  242, 193, 252, 120, 230, 107};

void Put32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
std::uint32_t Get32(const std::uint8_t* p) {
    return p[0] | p[1] << 8 | p[2] << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

std::uint32_t Crc32(const std::uint8_t* data, std::size_t size) {
    std::uint32_t crc = 0xFFFFFFFF;
    for (std::size_t i = 0; i < size; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit) crc = crc >> 1 ^ (0xEDB88320 & (0u - (crc & 1)));
    }
    return ~crc;
}

// CFB over whole 16-byte blocks from kcp-go's initial vector; the tail takes the last
// keystream block's first bytes.
void CfbEncrypt(const platform::AesBlock& aes, std::uint8_t* data, std::size_t size) {
    std::uint8_t stream[16];
    aes.Encrypt(kInitialVector, stream);
    for (std::size_t at = 0; at < size; at += 16) {
        const std::size_t n = size - at < 16 ? size - at : 16;
        for (std::size_t i = 0; i < n; ++i) data[at + i] ^= stream[i];
        if (n == 16) aes.Encrypt(data + at, stream);
    }
}
void CfbDecrypt(const platform::AesBlock& aes, std::uint8_t* data, std::size_t size) {
    std::uint8_t stream[16], next[16];
    aes.Encrypt(kInitialVector, stream);
    for (std::size_t at = 0; at < size; at += 16) {
        const std::size_t n = size - at < 16 ? size - at : 16;
        if (n == 16) aes.Encrypt(data + at, next);
        for (std::size_t i = 0; i < n; ++i) data[at + i] ^= stream[i];
        std::memcpy(stream, next, sizeof next);
    }
}

}  // namespace

KcpCrypt KcpCryptFromName(std::string_view name) {
    static constexpr struct {
        const char* name;
        KcpCrypt crypt;
    } kNames[] = {{"aes-128", KcpCrypt::Aes128},      {"aes-192", KcpCrypt::Aes192},
                  {"none", KcpCrypt::None},           {"null", KcpCrypt::Null},
                  {"salsa20", KcpCrypt::CannotFrame}, {"blowfish", KcpCrypt::CannotFrame},
                  {"twofish", KcpCrypt::CannotFrame}, {"cast5", KcpCrypt::CannotFrame},
                  {"3des", KcpCrypt::CannotFrame},    {"tea", KcpCrypt::CannotFrame},
                  {"xtea", KcpCrypt::CannotFrame},    {"xor", KcpCrypt::CannotFrame},
                  {"sm4", KcpCrypt::CannotFrame},     {"aes-128-gcm", KcpCrypt::CannotFrame}};
    for (const auto& entry : kNames)
        if (name == entry.name) return entry.crypt;
    return KcpCrypt::Aes;
}

bool DeriveKcpKey(std::string_view keyText, std::uint8_t key[32]) {
    const std::string utf8 = platform::Utf8FromUtf16(platform::Utf16FromAnsi(keyText));
    return platform::DerivePbkdf2Sha1(utf8, "kcp-go", 4096, key, 32);
}

Bytes FrameKcpProbe(const KcpFraming& framing, const platform::AesBlock* aes, std::uint32_t conv,
                    const std::uint8_t nonce[16], std::uint32_t fecSeq) {
    const std::size_t crypt = framing.wrap == KcpFraming::Bare ? 0 : kCryptHeaderSize;
    const std::size_t fec = framing.fec ? kFecHeaderSize : 0;
    Bytes out(crypt + fec + kSegmentSize, 0);
    std::uint8_t* p = out.data() + crypt;
    if (framing.fec) {
        Put32(p, fecSeq);
        p[4] = kFecData;
        p[6] = 2 + kSegmentSize;  // the size field counts itself
        p += fec;
    }
    Put32(p, conv);  // then cmd, frg, wnd; ts, sn, una and length stay 0
    p[4] = kCmdWask;
    p[6] = kWindow;
    if (crypt) {
        std::memcpy(out.data(), nonce, kNonceSize);
        Put32(out.data() + kNonceSize, Crc32(out.data() + crypt, out.size() - crypt));
    }
    if (framing.wrap == KcpFraming::Aes) CfbEncrypt(*aes, out.data(), out.size());
    return out;
}

bool IsKcpAnswer(const KcpFraming& framing, const platform::AesBlock* aes, std::uint32_t conv,
                 Bytes& datagram) {
    std::size_t at = 0;
    if (framing.wrap != KcpFraming::Bare) {
        if (datagram.size() < kCryptHeaderSize) return false;
        if (framing.wrap == KcpFraming::Aes) CfbDecrypt(*aes, datagram.data(), datagram.size());
        at = kCryptHeaderSize;
        if (Crc32(datagram.data() + at, datagram.size() - at) !=
            Get32(datagram.data() + kNonceSize))
            return false;
    }
    if (datagram.size() - at >= kFecHeaderSize) {
        const std::uint16_t flag = datagram[at + 4] | datagram[at + 5] << 8;
        if (flag == kFecParity) return false;
        if (flag == kFecData) at += kFecHeaderSize;
    }
    if (datagram.size() - at < kSegmentSize) return false;
    const std::uint8_t cmd = datagram[at + 4];
    return Get32(datagram.data() + at) == conv && cmd >= kCmdPush && cmd <= kCmdWins;
}

KcpProbe::KcpProbe() : stop_(platform::CreateStopSignal()) {}
KcpProbe::~KcpProbe() { platform::CloseStopSignal(stop_); }

void KcpProbe::Stop() {
    stopped_ = true;
    platform::RaiseStopSignal(stop_);
}

KcpProbeResult KcpProbe::Run(const KcpProbeTarget& target) {
    sent = 0;
    KcpProbeResult result;
    // For null the unencrypted framing goes first: a server without a crypt takes any datagram
    // for a segment, and the first one from an address opens its session.
    const bool fec = target.dataShards > 0 && target.parityShards > 0;
    KcpFraming framings[2] = {{KcpFraming::Aes, 32, fec}, {KcpFraming::Aes, 32, fec}};
    int count = 1;
    switch (target.crypt) {
        case KcpCrypt::Aes128:
            framings[0].keySize = 16;
            break;
        case KcpCrypt::Aes192:
            framings[0].keySize = 24;
            break;
        case KcpCrypt::None:
            framings[0].wrap = KcpFraming::Plain;
            break;
        case KcpCrypt::Null:
            framings[0].wrap = KcpFraming::Bare, count = 2;
            break;
        case KcpCrypt::CannotFrame:
            return result;
        case KcpCrypt::Aes:
            break;
    }
    const int keySize = framings[count - 1].keySize;
    std::uint8_t key[32];
    platform::AesBlock aes;
    platform::UdpAddress server;
    std::uint32_t conv = 0;
    if (!DeriveKcpKey(target.key.empty() ? kKcpDefaultKey : target.key, key) ||
        !aes.SetKey(key, static_cast<std::size_t>(keySize)) ||
        !platform::RandomBytes(reinterpret_cast<std::uint8_t*>(&conv), sizeof conv)) {
        result.asked = false;
        return result;
    }
    if (stopped_ || !platform::ResolveUdpAddress(target.host, target.port, server)) return result;
    const platform::UdpSocket socket = platform::OpenUdpSocket(server.family);
    if (socket == platform::UdpSocket{}) return result;
    std::uint8_t buffer[1500];
    for (int round = 0; round < tries && !stopped_; ++round) {
        // Taken before the send: a busy thread cannot make the delay look shorter than it is.
        const std::uint32_t sentAt = platform::UdpClockMs();
        for (int i = 0; i < count && !stopped_; ++i) {
            std::uint8_t nonce[16];
            platform::RandomBytes(nonce, sizeof nonce);
            const Bytes datagram =
                FrameKcpProbe(framings[i], &aes, conv, nonce, static_cast<std::uint32_t>(round));
            if (platform::SendUdp(socket, server, datagram.data(), datagram.size())) ++sent;
        }
        for (;;) {
            const std::uint32_t spent = platform::UdpClockMs() - sentAt;
            std::size_t size = 0;
            platform::UdpAddress from;
            const platform::UdpWait wait =
                platform::ReceiveUdp(socket, stop_, spent < intervalMs ? intervalMs - spent : 0,
                                     buffer, sizeof buffer, size, from);
            if (wait != platform::UdpWait::Received) {
                if (wait == platform::UdpWait::Stopped) round = tries;
                break;
            }
            const std::uint32_t arrival = platform::UdpClockMs();
            for (int i = 0; i < count && from == server && !result.answered; ++i) {
                Bytes answer(buffer, buffer + size);
                result.answered = IsKcpAnswer(framings[i], &aes, conv, answer);
            }
            if (result.answered) {
                result.delayMs = arrival - sentAt;
                round = tries;
                break;
            }
        }
    }
    platform::CloseUdpSocket(socket);
    return result;
}

}  // namespace sk
