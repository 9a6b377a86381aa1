// Asking a kcptun server whether it answers: one KCP window probe (IKCP_CMD_WASK), framed as
// the kcptun client frames its segments (kcp-go: a 16-byte nonce, the CRC-32 of the rest, the
// FEC data header, the segment, all under the crypt), and the check of an answer.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/crypto.h"
#include "platform/udp.h"
#include "services/text.h"

namespace sk {

// The crypts the probe frames. `Null` is AES in older clients (20210922) and no crypt at all in
// later ones, so both framings are sent for it.
enum class KcpCrypt { Aes, Aes128, Aes192, None, Null, CannotFrame };
// The client's -crypt name: a name it does not know is aes, as the client itself takes it.
KcpCrypt KcpCryptFromName(std::string_view name);

// The client's key when none is given.
inline constexpr char kKcpDefaultKey[] = "it's a secrect";
// The 32 key bytes the client derives from key text in the code page: PBKDF2-HMAC-SHA1 of its
// UTF-8 form (the client sees its command line so), salt "kcp-go", 4096 rounds.
bool DeriveKcpKey(std::string_view keyText, std::uint8_t key[32]);

// One framing: how the datagrams of one client are wrapped.
struct KcpFraming {
    enum Wrap { Aes, Plain, Bare } wrap = Aes;  // AES-CFB, the header unencrypted, no header
    int keySize = 32;                           // Aes: 16, 24 or 32
    bool fec = true;                            // the FEC data header (data and parity > 0)
};

// The window probe of conversation conv, its nonce and FEC sequence number given. key: the 32
// derived bytes (only Aes reads them, its first keySize).
Bytes FrameKcpProbe(const KcpFraming& framing, const platform::AesBlock* aes, std::uint32_t conv,
                    const std::uint8_t nonce[16], std::uint32_t fecSeq);
// True where datagram, unwrapped as framing says, passes the CRC and holds a KCP segment of
// conversation conv, with or without the FEC data header. datagram is decrypted in place.
bool IsKcpAnswer(const KcpFraming& framing, const platform::AesBlock* aes, std::uint32_t conv,
                 Bytes& datagram);

struct KcpProbeTarget {
    Text host;
    std::uint16_t port = 0;
    Text key;  // the code page's text; empty: the client's default
    KcpCrypt crypt = KcpCrypt::Aes;
    int dataShards = 10, parityShards = 3;
};

struct KcpProbeResult {
    bool answered = false;
    bool asked = true;  // false where the system has no crypto to frame with (before Windows 7)
    std::uint32_t delayMs = 0;  // the answer's arrival less the send time of the latest datagram
};

// One round: one socket, one random conversation, up to `tries` datagrams `intervalMs` apart;
// no answer intervalMs after the last is a failure, as is a host that cannot be resolved. Runs
// on the caller's thread, which sleeps between datagrams; Stop from any other thread ends it at
// once with no answer and nothing more sent, and every later Run of this object as well. A crypt
// that cannot be framed sends nothing.
class KcpProbe {
public:
    KcpProbe();
    ~KcpProbe();
    KcpProbe(const KcpProbe&) = delete;
    KcpProbe& operator=(const KcpProbe&) = delete;

    KcpProbeResult Run(const KcpProbeTarget& target);
    void Stop();

    int tries = 3;
    std::uint32_t intervalMs = 1500;
    std::uint32_t sent = 0;  // the datagrams the last round sent

private:
    platform::StopSignal stop_;
    std::atomic<bool> stopped_{false};
};

}  // namespace sk
