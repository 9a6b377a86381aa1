// The kcptun client's flags and JSON keys, and its command line read as Go's flag package
// reads it: "-x" and "--x" alike, "-x=v" or "-x v" for a value, the last occurrence wins, and
// reading stops at the first token that is not a flag.
#pragma once

#include <string_view>
#include <vector>

namespace sk {

enum class FlagType : unsigned char { Text, Integer, Bool };

struct ClientFlag {
    const char* key;    // the JSON key of client/config.go
    const char* name;   // the flag as the client spells it
    const char* alias;  // its short name, or ""
    FlagType type;
    bool zeroIsDefault;  // an integer whose default is 0 (false for every bool)
    bool leftOut;        // log and profiling: never taken into a node
};

// By flag name or alias, exactly (Go's flags are case-sensitive); null for an unknown one.
const ClientFlag* FindFlag(std::string_view name);
// By JSON key, ASCII case aside (as Go's encoding/json matches); null for an unknown one.
const ClientFlag* FindKey(std::string_view key);
// Whether two JSON keys match as Go's encoding/json matches them: ASCII case aside.
bool SameKey(std::string_view a, std::string_view b);

struct FlagUse {
    const ClientFlag* flag;
    std::string_view value;  // for a bool: "true", "false" or what followed '='
    std::size_t at;          // where its first token starts in the text
};
struct ClientFlags {
    std::vector<FlagUse> uses;  // every occurrence, in order
    std::size_t stop;  // where reading stopped: the text's size, or the first token not read
};
// Reads blank-separated tokens. An unknown flag, a value flag without its value, "-", "--" and
// any token that is not a flag stop the reading there.
ClientFlags ReadClientFlags(std::string_view text);
// Go's strconv.ParseBool; false for what it refuses.
bool ParseGoBool(std::string_view text, bool& value);

}  // namespace sk
