// Text, number and byte-set commands: exact bytes in, exact bytes out. GBK bytes are written as
// hex escapes wherever the byte values are the point (a second byte of 0x5C or 0x41, a lead
// byte at the very end, full-width digits).
#include "services/text.h"

#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

namespace sk {
namespace {

Bytes B(std::initializer_list<int> v) {
    Bytes out;
    for (int b : v) out.push_back(static_cast<std::uint8_t>(b));
    return out;
}

// --- JoinText, comparison, length, left and right -----------------------------------------

TEST(TextJoin, AbsentAndEmptyPiecesContributeNothing) {
    const char* absent = nullptr;
    EXPECT_EQ(JoinText(absent, "\\config.ini"), "\\config.ini");
    EXPECT_EQ(JoinText(Text(), "", std::string_view()), "");
    const Text dir = "C:\\\x81\x5C";  // a directory whose last character ends in 0x5C
    const Text joined = JoinText(dir, std::string_view("\\"), "kcptun.log", Text("\xD5\xE6"));
    EXPECT_EQ(joined, Text("C:\\\x81\x5C\\kcptun.log\xD5\xE6"));
    EXPECT_EQ(joined.size(), 18u);
}

TEST(TextCompare, BytewiseUnsignedAndExact) {
    struct Case { std::string_view a, b; int sign; };
    const Case cases[] = {
        {"", "", 0},
        {"", "a", -1},
        {"a", "", 1},
        {"abc", "abc", 0},
        {"ab", "abc", -1},
        {"abd", "abc", 1},
        {"z", "\x80", -1},           // bytes compare unsigned: 0x80 sorts after 'z'
        {"\xD5\xE6", "\xBC\xD9", 1},
        {"A", "a", -1},              // no case folding
        {"KCPTUN.EXE", "kcptun.exe", -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.a) + " vs " + std::string(c.b));
        const int r = CompareText(c.a, c.b);
        EXPECT_EQ((r > 0) - (r < 0), c.sign);
    }
}

TEST(TextLength, CountsBytes) {
    EXPECT_EQ(TextLength(""), 0);
    EXPECT_EQ(TextLength("abc"), 3);
    EXPECT_EQ(TextLength("\xD7\xB4\xCC\xAC"), 4);  // two characters, four bytes
}

TEST(TextLeftRight, ClampAndCutInsideCharacters) {
    struct Case { std::string_view text; int n; std::string_view left, right; };
    const Case cases[] = {
        {"abcde", 10, "abcde", "abcde"},
        {"abcde", 5, "abcde", "abcde"},
        {"abcde", 2, "ab", "de"},
        {"abcde", 0, "", ""},
        {"abcde", -3, "", ""},
        {"abcde", INT_MIN, "", ""},
        {"", 4, "", ""},
        {"a\xD5\xE6", 2, "a\xD5", "\xD5\xE6"},  // a cut may split a double-byte character
        {"\xD5\xE6z", 2, "\xD5\xE6", "\xE6z"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.text) + " n=" + std::to_string(c.n));
        EXPECT_EQ(TextLeft(c.text, c.n), c.left);
        EXPECT_EQ(TextRight(c.text, c.n), c.right);
    }
}

// --- FindText -----------------------------------------------------------------------------

struct FindCase {
    std::string_view text, sought;
    Opt<int> start;
    Opt<bool> ignoreCase;
    int expected;
};

TEST(TextFind, Forward) {
    const FindCase cases[] = {
        // start position: omitted, 0 and negative all mean the first byte
        {"abca", "a", {}, {}, 1},
        {"abca", "a", 0, {}, 1},
        {"abca", "a", -5, {}, 1},
        {"abca", "a", 2, {}, 4},
        {"abca", "a", 4, {}, 4},
        {"abca", "a", 5, {}, -1},
        {"abca", "a", INT_MAX, {}, -1},
        {"abca", "a", INT_MIN, {}, 1},
        {"abc", "bc", {}, {}, 2},        // match ending at the last byte
        {"ab", "abc", {}, {}, -1},       // longer than the text
        {"abcab", "abx", {}, {}, -1},
        // empty searched text: 1 for a non-empty region, whatever the start
        {"abc", "", {}, {}, 1},
        {"abc", "", 3, {}, 1},
        {"abc", "", 4, {}, -1},
        {"", "", {}, {}, -1},
        {"", "a", {}, {}, -1},
        // the second byte of a double-byte character is never a match position
        {"\x81\x5C", "\\", {}, {}, -1},
        {"\x81\x5C" "a\\b", "\\", {}, {}, 4},
        {"\xD5\xE6\xBC\xD9", "\xE6\xBC", {}, {}, -1},
        {"a\xD5\xE6\xBC\xD9", "\xBC\xD9", {}, {}, 4},
        {"\x81\x41" "A", "A", {}, {}, 3},
        // the walk starts at the start position even inside a character
        {"\x81\x5C\\", "\\", 2, {}, 2},
        // a lead byte as the last byte is still a candidate, then the walk ends
        {"ab\x81", "\x81", {}, {}, 3},
        {"a\x81", "b", {}, {}, -1},
        // code page 936: 0x80 (the euro sign) and 0xFF are characters of one byte, lead nothing
        {"\x80\\", "\\", {}, {}, 2},
        {"\xFF" "a", "a", {}, {}, 2},
        {"\x80\x81\x5C\\", "\\", {}, {}, 4},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.text) + " / " + std::string(c.sought) +
                     " start=" + (c.start ? std::to_string(*c.start) : "-"));
        EXPECT_EQ(FindText(c.text, c.sought, c.start, c.ignoreCase), c.expected);
    }
}

TEST(TextFind, IgnoreCaseFoldsAsciiLettersOnly) {
    const std::string_view path = "c:\\tools\\kcptun\\client_windows_386.exe";
    EXPECT_EQ(FindText(path, "CLIENT_WINDOWS_386.EXE", {}, true), 17);
    EXPECT_EQ(FindText(path, "CLIENT_WINDOWS_386.EXE", {}, false), -1);
    EXPECT_EQ(FindText(path, "CLIENT_WINDOWS_386.EXE"), -1);  // exact unless asked

    const FindCase cases[] = {
        {"`", "@", {}, true, -1},        // 0x60/0x40 differ by 0x20 but are no letters
        {"{", "[", {}, true, -1},
        {"^", "~", {}, true, -1},
        {"x\xE1\xA1", "\xC1\xA1", {}, true, -1},  // no Latin-1 folding of GBK bytes
        {"x\xC1\xA1", "\xC1\xA1", {}, true, 2},
        {"\x81\x41", "a", {}, true, -1},  // second byte 'A' is no candidate
        {"\x81\x41" "A", "a", {}, true, 3},
        {"KcPtUn", "kCpTuN", {}, true, 1},
        {"aXb", "xB", 2, true, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.text) + " / " + std::string(c.sought));
        EXPECT_EQ(FindText(c.text, c.sought, c.start, c.ignoreCase), c.expected);
    }
}

TEST(TextFindReverse, LastMatchInsideRegion) {
    const FindCase cases[] = {
        // backslashes at byte positions 3 and 5
        {"ab\\c\\d", "\\", {}, {}, 5},
        {"ab\\c\\d", "\\", 5, {}, 3},     // region: first 4 bytes
        {"ab\\c\\d", "\\", 6, {}, 5},     // region: first 5 bytes, match at 5 fits
        {"ab\\c\\d", "\\", 4, {}, 3},
        {"ab\\c\\d", "\\", 3, {}, -1},
        {"ab\\c\\d", "\\", 1, {}, -1},
        {"ab\\c\\d", "\\", 0, {}, -1},
        {"ab\\c\\d", "\\", -2, {}, -1},
        {"ab\\c\\d", "\\", 100, {}, 5},
        {"ab\\c\\d", "\\", INT_MIN, {}, -1},
        // a match must lie wholly inside the region
        {"abcabc", "bc", 6, {}, 2},
        {"abcabc", "bc", 7, {}, 5},
        {"abcabc", "x", {}, {}, -1},
        // a trailing 0x5C second byte is no backslash
        {"D:\\dir\\\x81\x5C", "\\", {}, {}, 7},
        {"D:\\\x81\x5C\\kcptun.exe", "\\", {}, {}, 6},
        {"\xD5\xE6\xBC\xD9", "\xE6\xBC", {}, {}, -1},
        // empty searched text
        {"abc", "", {}, {}, 1},
        {"abc", "", 2, {}, 1},
        {"abc", "", 1, {}, -1},
        {"", "", {}, {}, -1},
        // ignore case
        {"A.EXE\\a.exe", ".EXE", {}, true, 8},
        {"A.EXE\\a.exe", ".EXE", {}, false, 2},
        {"A.EXE\\a.exe", ".EXE", {}, {}, 2},
        {"\x81\x41" "b", "a", {}, true, -1},
        {"a\\\x80\\", "\\", {}, {}, 4},  // 0x80 stands alone: the last backslash counts
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.text) + " / " + std::string(c.sought) +
                     " start=" + (c.start ? std::to_string(*c.start) : "-"));
        EXPECT_EQ(FindTextReverse(c.text, c.sought, c.start, c.ignoreCase), c.expected);
    }
}

// --- ToLower and ReplaceText -------------------------------------------------------------

TEST(TextLower, AsciiLettersOnlyAndDoubleByteUntouched) {
    struct Case { std::string_view in, out; };
    const Case cases[] = {
        {"", ""},
        {"ABC xyz 123 @[`{Z", "abc xyz 123 @[`{z"},
        {"KCPTUN.EXE", "kcptun.exe"},
        {"\x81\x41" "B", "\x81\x41" "b"},          // second byte 'A' stays
        {"\x81" "AB", "\x81" "Ab"},
        {"\xC1\xC2" "D", "\xC1\xC2" "d"},
        {"A\x81", "a\x81"},                        // lone lead byte at the end is kept
        {"\x80" "AB", "\x80" "ab"},                // 0x80 and 0xFF lead nothing in code page 936
        {"\xFF" "A", "\xFF" "a"},
        {"\xD7\xB4\xCC\xAC" "OK", "\xD7\xB4\xCC\xAC" "ok"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.in));
        EXPECT_EQ(ToLower(c.in), c.out);
    }
}

TEST(TextReplace, ClampsPositionAndLength) {
    struct Case { std::string_view text; int start, length; Opt<Text> repl; std::string_view out; };
    const Case cases[] = {
        {"abcdef", 3, 10, Text("X"), "abX"},
        {"abcdef", 3, 0, Text("X"), "abXcdef"},
        {"abcdef", 3, -1, Text("XY"), "abXYcdef"},
        {"abcdef", 3, 2, {}, "abef"},
        {"abcdef", 3, 2, Text(""), "abef"},
        {"abcdef", 0, 0, Text("X"), "Xabcdef"},   // position 0 behaves as 1
        {"abcdef", 0, 1, Text("X"), "Xbcdef"},
        {"abcdef", -5, 1, Text("X"), "Xbcdef"},
        {"abcdef", 1, 6, Text("Z"), "Z"},
        {"abcdef", 4, 3, {}, "abc"},
        {"abcdef", 6, 5, Text("!"), "abcde!"},
        {"abcdef", 7, 3, Text("X"), "abcdefX"},   // past the end: append
        {"abcdef", 99, 3, {}, "abcdef"},
        {"abcdef", INT_MIN, INT_MAX, Text("X"), "X"},
        {"", 1, 5, Text("A"), "A"},
        {"", 1, 5, {}, ""},
        {"a\xD5\xE6" "b", 3, 1, Text("\xBC\xD9"), "a\xD5\xBC\xD9" "b"},  // counts bytes
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.text) + " " + std::to_string(c.start) + "," +
                     std::to_string(c.length));
        EXPECT_EQ(ReplaceText(c.text, c.start, c.length, c.repl), c.out);
    }
    const Text original = "abcdef";
    (void)ReplaceText(original, 2, 2, Text("Q"));
    EXPECT_EQ(original, "abcdef");
}

// --- ToInteger -----------------------------------------------------------------------------

TEST(TextToInteger, ParsesTextLikeTheCLibraryWithFullWidthFolding) {
    struct Case { std::string_view in; std::int32_t out; };
    const Case cases[] = {
        {"", 0},
        {"abc", 0},
        {"  12ab", 12},
        {"-7", -7},
        {"+5", 5},
        {"+", 0},
        {"-", 0},
        {"--5", 0},
        {"- 5", 0},
        {"\t\n\v\f\r 42", 42},
        {"007", 7},
        {"12 34", 12},
        {"2147483647", INT_MAX},
        {"2147483648", INT_MIN},           // wraps, no clamping
        {"-2147483648", INT_MIN},
        {"4294967295", -1},
        {"4294967297", 1},
        {"99999999999", 1215752191},
        // full-width digits, signs and the ideographic space
        {"\xA3\xB1\xA3\xB2\xA3\xB3", 123},
        {"\xA3\xB0\xA3\xB9", 9},
        {"1\xA3\xB2" "3", 123},
        {"\xA3\xAD\xA3\xB7", -7},
        {"\xA3\xAB" "9", 9},
        {"\xA1\xA1\xA1\xA1" "12", 12},
        {"\xA1\xA1\xA3\xB1", 1},
        {"\xA3\xA0" "5", 0},               // 0xA0 is outside the full-width block
        {"\xA1\xAB" "5", 0},               // reads as "~5"
        {"\xA1\xEE" "5", 0},               // reads as "*5"
        {"12\xA1\xEF", 12},
        {"12\xD5\xE6" "3", 12},            // any other character ends the number
        {"\xD5\xE6" "3", 0},
        {"7\xA3", 7},                      // lone lead byte at the end is dropped
        {" \x81", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.in));
        EXPECT_EQ(ToInteger(c.in), c.out);
        EXPECT_EQ(ToInteger(Text(c.in)), c.out);
    }
    const char* absent = nullptr;
    EXPECT_EQ(ToInteger(absent), 0);
}

TEST(TextToInteger, OtherKinds) {
    EXPECT_EQ(ToInteger(std::int32_t{-5}), -5);
    EXPECT_EQ(ToInteger(true), 1);
    EXPECT_EQ(ToInteger(false), 0);
    EXPECT_EQ(ToInteger(std::uint8_t{255}), 255);
    EXPECT_EQ(ToInteger(std::int16_t{-32768}), -32768);
    EXPECT_EQ(ToInteger(std::int64_t{0x100000005}), 5);  // low 32 bits
    EXPECT_EQ(ToInteger(std::int64_t{0xFFFFFFFF}), -1);
    EXPECT_EQ(ToInteger(std::int64_t{-3}), -3);
    EXPECT_EQ(ToInteger(static_cast<Routine>(nullptr)), 0);
}

TEST(TextToInteger, NumbersTruncateTowardZero) {
    struct Case { double in; std::int32_t out; };
    const double inf = std::numeric_limits<double>::infinity();
    const Case cases[] = {
        {2.9, 2},
        {-2.9, -2},
        {0.999, 0},
        {-0.5, 0},
        {1400.0, 1400},
        {2147483647.9, INT_MAX},
        {-2147483648.9, INT_MIN},
        // unrepresentable values give 0x80000000, as the x86 conversion does
        {2147483648.0, INT_MIN},
        {1e10, INT_MIN},
        {-1e10, INT_MIN},
        {inf, INT_MIN},
        {-inf, INT_MIN},
        {std::numeric_limits<double>::quiet_NaN(), INT_MIN},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.in);
        EXPECT_EQ(ToInteger(c.in), c.out);
    }
    EXPECT_EQ(ToInteger(2.9f), 2);
    EXPECT_EQ(ToInteger(-2.9f), -2);
    EXPECT_EQ(ToInteger(3e9f), INT_MIN);
}

// --- ToText --------------------------------------------------------------------------------

TEST(TextToText, Integers) {
    EXPECT_EQ(ToText(std::int32_t{1400}), "1400");
    EXPECT_EQ(ToText(std::int32_t{0}), "0");
    EXPECT_EQ(ToText(std::int32_t{-5}), "-5");
    EXPECT_EQ(ToText(std::int32_t{INT_MIN}), "-2147483648");
    EXPECT_EQ(ToText(std::int16_t{-32768}), "-32768");
    EXPECT_EQ(ToText(std::uint8_t{255}), "255");
    EXPECT_EQ(ToText(std::int64_t{1000000000000}), "1000000000000");
    EXPECT_EQ(ToText(std::numeric_limits<std::int64_t>::min()), "-9223372036854775808");
}

TEST(TextToText, NumbersAsMicrosoftRuntimePrintsThem) {
    struct Case { double in; std::string_view out; };
    const double inf = std::numeric_limits<double>::infinity();
    const Case cases[] = {
        {3.0, "3"},
        {0.0 + 1.0, "1"},                 // a list position plus 1.0: a section number
        {2.5, "2.5"},
        {-2.5, "-2.5"},
        {0.0, "0"},
        {-0.0, "-0"},
        {0.1, "0.1"},
        {1.0 / 3.0, "0.3333333333333"},
        {0.0001, "0.0001"},               // exponent -4: still fixed
        {0.00001, "1e-005"},
        {0.000123456, "0.000123456"},
        {1234567890123.0, "1234567890123"},
        {9999999999999.0, "9999999999999"},
        {1e13, "1e+013"},
        {12345678901234.0, "1.234567890123e+013"},
        {9999999999999.5, "1e+013"},      // rounding carries into the exponent
        {1e100, "1e+100"},
        {-1e-300, "-1e-300"},
        {1.5e308, "1.5e+308"},
        {inf, "1.#INF"},
        {-inf, "-1.#INF"},
        {std::numeric_limits<double>::quiet_NaN(), "1.#QNAN"},
        {-std::numeric_limits<double>::quiet_NaN(), "-1.#IND"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.out);
        EXPECT_EQ(ToText(c.in), c.out);
    }
}

TEST(TextToText, FloatsWithSixDigits) {
    struct Case { float in; std::string_view out; };
    const Case cases[] = {
        {2.5f, "2.5"},
        {0.1f, "0.1"},
        {100000.0f, "100000"},
        {1000000.0f, "1e+006"},
        {123456789.0f, "1.23457e+008"},
        {1e-5f, "1e-005"},
        {-3.0f, "-3"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.out);
        EXPECT_EQ(ToText(c.in), c.out);
    }
}

TEST(TextToText, LogicalsBytesAndArrays) {
    EXPECT_EQ(ToText(true), "\xD5\xE6");   // 真
    EXPECT_EQ(ToText(false), "\xBC\xD9");  // 假
    EXPECT_EQ(ToText(true), "真");

    struct Case { Bytes in; std::string_view out; };
    const Case cases[] = {
        {B({'a', 'b', 0, 'c', 'd'}), "ab"},
        {B({'x', 'y'}), "xy"},
        {B({}), ""},
        {B({0, 'a'}), ""},
        {B({0xD5, 0xE6, 0x0D, 0x0A}), "\xD5\xE6\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.out);
        EXPECT_EQ(ToText(c.in), c.out);
    }

    std::array<char, 8> name{'k', 'c', 'p', 0, 'j', 'u', 'n', 'k'};
    EXPECT_EQ(ToText(name), "kcp");
    std::array<char, 4> full{'a', 'b', 'c', 'd'};
    EXPECT_EQ(ToText(full), "abcd");

    const char* absent = nullptr;
    EXPECT_EQ(ToText(absent), "");
    EXPECT_EQ(ToText("\x81\x5C"), "\x81\x5C");
}

// --- ToBytes -------------------------------------------------------------------------------

TEST(TextToBytes, LittleEndianAsStored) {
    EXPECT_EQ(ToBytes("ab\xD5\xE6"), B({0x61, 0x62, 0xD5, 0xE6}));
    EXPECT_EQ(ToBytes(""), B({}));
    const char* absent = nullptr;
    EXPECT_EQ(ToBytes(absent), B({}));
    EXPECT_EQ(ToBytes(Text("a")), B({0x61}));

    EXPECT_EQ(ToBytes(std::int32_t{0x12345678}), B({0x78, 0x56, 0x34, 0x12}));
    EXPECT_EQ(ToBytes(std::int32_t{-2}), B({0xFE, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(ToBytes(true), B({1, 0, 0, 0}));
    EXPECT_EQ(ToBytes(false), B({0, 0, 0, 0}));
    EXPECT_EQ(ToBytes(1.0), B({0, 0, 0, 0, 0, 0, 0xF0, 0x3F}));
    EXPECT_EQ(ToBytes(-2.5), B({0, 0, 0, 0, 0, 0, 0x04, 0xC0}));
    EXPECT_EQ(ToBytes(std::int16_t{-2}), B({0xFE, 0xFF}));
    EXPECT_EQ(ToBytes(std::int16_t{0x0102}), B({0x02, 0x01}));
    EXPECT_EQ(ToBytes(std::uint8_t{0xAB}), B({0xAB}));

    const Bytes withZero = B({'a', 0, 'b'});
    EXPECT_EQ(ToBytes(withZero), withZero);
    EXPECT_EQ(ToBytes(std::vector<double>{1.0, -2.5}),
              B({0, 0, 0, 0, 0, 0, 0xF0, 0x3F, 0, 0, 0, 0, 0, 0, 0x04, 0xC0}));
    EXPECT_EQ(ToBytes(std::vector<double>{}), B({}));
}

}  // namespace
}  // namespace sk
