// The client's JSON config on any bytes: the reader never does anything undefined, a refusal
// says where or what, and an accepted node copies to a config that reads back to a node that
// copies to the same bytes.
#include <cstdint>
#include <string_view>

#include "services/client_flags.h"
#include "services/kcptun_json.h"
#include "tests/fuzz/check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const sk::SharedWindows shared{"1350", "128", "512"};
    const sk::ImportedConfig r = sk::ReadClientConfig(text, shared);
    sk::ReadClientFlags(text);
    using E = sk::ConfigError;
    if (r.error == E::Syntax) FUZZ_CHECK(r.line >= 1);
    if (r.error == E::WrongType || r.error == E::CommandLine || r.error == E::CodePage)
        FUZZ_CHECK(!r.key.empty());
    if (r.error != E::None) return 0;
    FUZZ_CHECK(r.node.mode >= 0 && r.node.mode <= 4);
    const std::string first = sk::WriteClientConfig(r.node, shared);
    const sk::ImportedConfig back = sk::ReadClientConfig(first, shared);
    FUZZ_CHECK(back.error == E::None);
    FUZZ_CHECK(sk::WriteClientConfig(back.node, shared) == first);
    return 0;
}
