// INI reads and writes, one table of Windows' results for both layers. Each case starts from
// exact file bytes (or no file), makes one call through ReadIniText or WriteIniText, and checks
// the result and the exact bytes of the file afterwards. In the Windows build the same cases
// also go to the system's own profile functions, proving the program's reader and writer
// agree with them; cases where Wine's profile code departs from Windows say why and are left
// out of that comparison under Wine.
//
// Each case names its source. Most come from Wine's conformance tests of the profile
// functions, dlls/kernel32/tests/profile.c, which run on Windows: a check there marked todo_wine
// holds on Windows where Wine fails it. "reasoned" marks a case no test there settles; such a
// case keeps the behaviour the program has always had. "program" marks the program's own
// argument rules (ReadIniText skips leading blanks, takes an empty default for none, and gives
// "" for an empty name), which are not Windows' own.
#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#endif


#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/files.h"
#include "services/storage.h"
#include "tests/unit/scratch_dir.h"

namespace {

using namespace scratch;

using sk::Opt;
using sk::Text;

enum class Op { Read, Write, DeleteKey, DeleteSection };

struct ProfileCase {
    std::string name;
    std::optional<std::string> before;  // nullopt: no file
    Op op;
    std::string section, key;
    std::optional<std::string> arg;  // the default of a read, the value of a write
    std::string result;              // the text read, or "true" / "false"
    std::optional<std::string> after;  // nullopt: no file
    const char* wineDiffers = nullptr;  // why the case is Windows-only
    std::optional<std::string> fileName;  // instead of the case's own file
    std::string source;  // where Windows' result comes from

    ProfileCase& From(std::string where) {
        source = std::move(where);
        return *this;
    }
};

void PrintTo(const ProfileCase& c, std::ostream* os) { *os << c.name; }

ProfileCase Read(std::string name, std::optional<std::string> file, std::string section,
                 std::string key, std::optional<std::string> def, std::string result) {
    return ProfileCase{std::move(name), file,         Op::Read, std::move(section),
                       std::move(key),  std::move(def), std::move(result), file,
                       nullptr,         std::nullopt, std::string()};
}

ProfileCase Change(std::string name, std::optional<std::string> before, Op op, std::string section,
                   std::string key, std::optional<std::string> value, bool ok,
                   std::optional<std::string> after) {
    return ProfileCase{std::move(name), std::move(before), op, std::move(section), std::move(key),
                       std::move(value), ok ? "true" : "false", std::move(after), nullptr,
                       std::nullopt, std::string()};
}

ProfileCase WindowsOnly(ProfileCase c, const char* why) {
    c.wineDiffers = why;
    return c;
}

ProfileCase WithFileName(ProfileCase c, std::string fileName) {
    c.fileName = std::move(fileName);
    return c;
}

std::string Digits(std::size_t n) {
    std::string s;
    for (std::size_t i = 0; i < n; ++i) s += static_cast<char>('0' + i % 10);
    return s;
}

const std::nullopt_t none = std::nullopt;

// The file's bytes in UTF-16 (little-endian) after the byte-order mark FF FE, as Notepad saves
// "Unicode".
std::string Utf16(std::u16string_view text) {
    std::string bytes = "\xFF\xFE";
    for (char16_t u : text) {
        bytes += static_cast<char>(u & 0xFF);
        bytes += static_cast<char>(u >> 8);
    }
    return bytes;
}

// The tests in profile.c the cases come from.
const std::string kGetString = "profile.c test_GetPrivateProfileString: ";
const std::string kWriteString = "profile.c test_WritePrivateProfileString: ";
const std::string kProfileString = "profile.c test_profile_string: ";
const std::string kReasoned = "reasoned: ";
const std::string kProgram = "program: ReadIniText's own argument rule";

std::vector<ProfileCase> Cases() {
    const std::string config =
        "[BasisConfig]\r\nExeFile=C:\\kcptun\\client_windows_386.exe\r\nMtu=1350\r\n"
        "[NodeList]\r\nQuantity=2\r\nCurrent node = 1\r\n";
    const std::string quoted = "[S]\r\nd=\"a b\"\r\ns= 'x' \r\nu=\"abc'\r\nq=\"\r\nn=\"\"x\"\"\r\n";
    const std::string along = "[S]\r\nk=" + Digits(20000) + "\r\nf=" + Digits(10239) +
                              "\r\ng=" + Digits(10240) + "\r\n";
    // test_WritePrivateProfileString's file of 31 bytes: zero bytes, no line end.
    const std::string zeros("Data \0 before \0 first \0 section", 31);
    // Outside code page 936 (a pair of surrogates): only UTF-16 carries it.
    const std::u16string smile = u"\U0001F600";
    return {
        // --- reads ---------------------------------------------------------------------
        Read("StoredValue", config, "BasisConfig", "Mtu", none, "1350")
            .From(kGetString + "successful case"),
        Read("StoredPath", config, "BasisConfig", "ExeFile", "x",
             "C:\\kcptun\\client_windows_386.exe")
            .From(kGetString + "successful case"),
        Read("MissingKeyGivesDefault", config, "BasisConfig", "SndWnd", "1400", "1400")
            .From(kGetString + "lpKeyName is missing"),
        Read("MissingKeyWithoutDefaultIsEmpty", config, "BasisConfig", "SndWnd", none, "")
            .From(kGetString + "lpDefault is NULL gives \"\""),
        Read("EmptyDefaultCountsAsNone", config, "BasisConfig", "SndWnd", "", "")
            .From(kGetString + "lpDefault is empty gives \"\""),
        Read("MissingSectionGivesDefault", config, "Node9", "server", "d", "d")
            .From(kGetString + "lpAppName is missing"),
        Read("MissingFileGivesDefault", none, "BasisConfig", "Enable", "false", "false")
            .From(kGetString + "lpFileName is nonexistent"),
        Read("MissingFileWithoutDefaultIsEmpty", none, "BasisConfig", "Enable", none, "")
            .From(kReasoned + "as a missing key without default"),
        Read("EmptyKeyIgnoresDefault", config, "BasisConfig", "", "d", "")
            .From(kProgram + " (Windows gives the default: test_GetPrivateProfileString, "
                             "lpKeyName is empty)"),
        Read("BlankKeyIgnoresDefault", config, "BasisConfig", " \t\x01", "d", "").From(kProgram),
        Read("EmptySectionIgnoresDefault", config, "", "Mtu", "d", "")
            .From(kProgram + " (Windows gives the default: test_GetPrivateProfileString, "
                             "lpAppName is empty)"),
        Read("BlankSectionIgnoresDefault", config, "   ", "Mtu", "d", "").From(kProgram),
        WithFileName(Read("EmptyFileNameIgnoresDefault", none, "BasisConfig", "Mtu", "d", ""), "")
            .From(kProgram + " (Windows gives the default: test_GetPrivateProfileString, "
                             "lpFileName is empty)"),
        WithFileName(Read("BlankFileNameIgnoresDefault", none, "BasisConfig", "Mtu", "d", ""),
                     " \t")
            .From(kProgram),
        Read("LeadingBlanksOfKeySkipped", config, "BasisConfig", " Mtu", none, "1350")
            .From(kProgram),
        Read("LeadingBlanksOfSectionSkipped", config, "\t BasisConfig", "Mtu", none, "1350")
            .From(kProgram),
        Read("KeyWithInnerBlank", config, "NodeList", "Current node", "0", "1")
            .From(kReasoned + "blanks inside a name are part of it"),
        Read("NamesIgnoreAsciiCase", "[basisconfig]\r\nMTU=1350\r\n", "BasisConfig", "Mtu", none,
             "1350")
            .From(kGetString + "case does not match"),
        Read("SecondByteNotCaseFolded", "[\x81\x41]\r\nk=1\r\n", "\x81\x61", "k", "d", "d")
            .From(kReasoned + "a double-byte character is compared whole"),
        Read("FirstOfDuplicateSectionsWins", "[S]\r\nk=1\r\n[s]\r\nk=2\r\n", "S", "k", none, "1")
            .From(kReasoned + "kept"),
        Read("KeyOfLaterDuplicateSectionUnseen", "[S]\r\na=1\r\n[S]\r\nk=2\r\n", "S", "k", "d",
             "d")
            .From(kReasoned + "kept"),
        Read("FirstOfDuplicateKeysWins", "[S]\r\nk=1\r\nK=2\r\n", "S", "k", none, "1")
            .From(kReasoned + "kept"),
        Read("BlanksAroundNameAndValueDropped", "[S]\r\n \t k \t= \t v  w \t\r\n", "S", "k", none,
             "v  w")
            .From(kReasoned + "kept"),
        Read("BlanksInsideBracketsDropped", "[ S ]\r\nk=1\r\n", "S", "k", none, "1")
            .From("profile.c test_profile_sections_names: \"[ section1 ]\" is section1"),
        Read("DoubleQuotesStripped", quoted, "S", "d", none, "a b")
            .From(kGetString + "key value has quotation marks which are stripped"),
        Read("SingleQuotesStrippedInsideBlanks", quoted, "S", "s", none, "x")
            .From(kReasoned + "kept"),
        Read("UnmatchedQuotesKept", quoted, "S", "u", none, "\"abc'").From(kReasoned + "kept"),
        Read("LoneQuoteKept", quoted, "S", "q", none, "\"").From(kReasoned + "kept"),
        Read("OnlyOuterQuotePairStripped", quoted, "S", "n", none, "\"x\"")
            .From(kReasoned + "kept"),
        Read("EmptyStoredValueBeatsDefault", "[S]\r\nk=\r\n", "S", "k", "d", "")
            .From(kProfileString + "name2= is a key"),
        Read("LineWithoutEqualsHasNoValue", "[S]\r\nk\r\n", "S", "k", "d", "d")
            .From(kProfileString + "lines without an '=' are no keys"),
        Read("CommentIsNotTheKey", "[S]\r\n;k=1\r\nk=2\r\n", "S", "k", none, "2")
            .From(kReasoned + "kept"),
        Read("IndentedCommentIsNotTheKey", "[S]\r\n \t;k=1\r\nk=2\r\n", "S", "k", none, "2")
            .From(kReasoned + "a line whose first non-blank character is ';' names no key "
                              "'k'; kept"),
        Read("KeyBeforeFirstSectionBelongsToNone", "k=1\r\n[S]\r\nk=2\r\n", "S", "k", none, "2")
            .From(kReasoned + "kept"),
        Read("LfLineEnds", "[A]\nk=1\n[S]\nk=2\n", "S", "k", none, "2")
            .From("profile.c test_profile_delete_on_close: a file of LF line ends is read"),
        Read("CrLineEnds", "[A]\rk=1\r[S]\rk=2\r", "S", "k", none, "2")
            .From(kGetString + "the \"CR only\" file"),
        Read("LongValueCutTo10239Bytes", along, "S", "k", none, Digits(10239))
            .From(kGetString + "nSize is exact size of output (cut to nSize - 1)"),
        Read("Value10239BytesWhole", along, "S", "f", none, Digits(10239))
            .From(kGetString + "nSize has room for NULL terminator"),
        Read("Value10240BytesCut", along, "S", "g", none, Digits(10239))
            .From(kGetString + "nSize is exact size of output"),
        Read("LongDefaultCut", along, "S", "missing", Digits(20000), Digits(10239))
            .From(kReasoned + "the default fills the same buffer"),
        Read("DefaultLosesTrailingSpaces", config, "BasisConfig", "SndWnd", "1400  ", "1400")
            .From(kGetString + "lpDefault has trailing blank characters"),
        Read("QuotedDefaultStripped", config, "BasisConfig", "SndWnd", "'d'", "d")
            .From(kReasoned + "kept"),
        Read("ChineseNamesAndValue", "[节点1]\r\n备注 = 香港 01\r\n", "节点1", "备注", none,
             "香港 01")
            .From(kReasoned + "ANSI text in the system code page"),
        Read("SectionNameRunsToTheLastBracket", "[a]b]\r\nk=1\r\n", "a]b", "k", "d", "1")
            .From(kReasoned + "no test there has a header with two ']'; kept"),
        Read("SectionNameTakesNoSecondByteForBracket", "[\x81]]\r\nk=1\r\n", "\x81]", "k", "d",
             "1")
            .From(kReasoned + "0x81 0x5D is one character; kept"),
        // The text read is the buffer's, which ends at the first zero byte.
        Read("ZeroByteEndsTheValueRead", std::string("[S]\r\nk=ab\0cd\r\n", 14), "S", "k", "d",
             "ab")
            .From(kReasoned + "GetPrivateProfileStringA's buffer holds a zero-terminated text"),
        Read("Utf16FileReadThroughTheCodePage", Utf16(u"[节点1]\r\n备注=香港 01\r\n"), "节点1",
             "备注", none, "香港 01")
            .From("Microsoft docs, WritePrivateProfileString (lpFileName): a file of Unicode "
                  "characters; its text reaches the ANSI functions through the code page"),
        Read("Utf16FileWithCrLineEnds", Utf16(u"[A]\rk=1\r[S]\rk=2\r"), "S", "k", none, "2")
            .From(kGetString + "the \"CR only\" file, in UTF-16"),
        WindowsOnly(Read("Utf8BomHidesFirstSection", "\xEF\xBB\xBF[S]\r\nk=1\r\n", "S", "k", "d",
                         "d"),
                    "Wine decodes a file with a UTF-8 BOM as UTF-8; Windows reads the BOM as "
                    "part of the first line")
            .From(kReasoned + "Windows knows only UTF-16 byte-order marks; kept"),
        WindowsOnly(Read("OpenBracketLineStartsSection", "[A]\r\nk=1\r\n[B\r\nk=2\r\n", "B", "k",
                         "d", "2"),
                    "Wine takes a '[' line without ']' for a key line")
            .From(kReasoned + "kept"),
        WindowsOnly(Read("TrailingBlankInSectionArgumentCounts", "[S]\r\nk=1\r\n", "S ", "k", "d",
                         "d"),
                    "Wine trims blanks off the section argument")
            .From(kReasoned + "test_profile_int builds a blank-padded section name but passes "
                              "the plain one, so nothing there settles it; kept"),

        // --- writes --------------------------------------------------------------------
        Change("WriteCreatesMissingFile", none, Op::Write, "BasisConfig", "Mtu", "1350", true,
               "[BasisConfig]\r\nMtu=1350\r\n")
            .From(kWriteString + "relative paths (a new file)"),
        Change("WriteEmptyValue", none, Op::Write, "S", "k", "", true, "[S]\r\nk=\r\n")
            .From(kWriteString + "empty lpString"),
        Change("NewSectionAppendedAtEnd", "[A]\r\nk=1\r\n", Op::Write, "B", "x", "2", true,
               "[A]\r\nk=1\r\n[B]\r\nx=2\r\n")
            .From(kWriteString + "make an addition and verify the INI"),
        Change("NewSectionAfterUnterminatedLine", "[A]\r\nk=1", Op::Write, "B", "x", "2", true,
               "[A]\r\nk=1\r\n[B]\r\nx=2\r\n")
            .From(kWriteString + "NULLs in file before first section (CR LF after a last line "
                                 "without one)"),
        Change("NewKeyAfterLastLineOfItsSection", "[A]\r\nk=1\r\n[B]\r\nx=2\r\n", Op::Write, "A",
               "n", "3", true, "[A]\r\nk=1\r\nn=3\r\n[B]\r\nx=2\r\n")
            .From(kProfileString + "name5 is enumerated after name4"),
        Change("NewKeyAfterUnterminatedLine", "[A]\r\nk=1", Op::Write, "A", "n", "3", true,
               "[A]\r\nk=1\r\nn=3\r\n")
            .From(kReasoned + "as a new section after such a line"),
        Change("NewKeyAfterTrailingComment", "[A]\r\nk=1\r\n;end\r\n[B]\r\n", Op::Write, "A", "n",
               "2", true, "[A]\r\nk=1\r\n;end\r\nn=2\r\n[B]\r\n")
            .From(kReasoned + "kept"),
        Change("NewKeyInEmptySection", "[A]\r\n[B]\r\nx=2\r\n", Op::Write, "A", "n", "1", true,
               "[A]\r\nn=1\r\n[B]\r\nx=2\r\n")
            .From(kReasoned + "kept"),
        Change("ValueReplacedInPlace", "[A]\r\nk=1\r\nm=2\r\n[B]\r\nk=3\r\n", Op::Write, "A", "k",
               "100", true, "[A]\r\nk=100\r\nm=2\r\n[B]\r\nk=3\r\n")
            .From(kReasoned + "kept"),
        Change("ReplaceKeepsSpellingOfFile", "[basis]\r\nMTU=1\r\n", Op::Write, "Basis", "mtu",
               "2", true, "[basis]\r\nMTU=2\r\n")
            .From(kReasoned + "kept"),
        Change("IndentedKeyLineRewritten", "[S]\r\n  k = 1 \r\nm=1\r\n", Op::Write, "S", "k",
               "2", true, "[S]\r\nk=2\r\nm=1\r\n")
            .From(kReasoned + "kept"),
        Change("LineWithoutEqualsGetsTheValue", "[S]\r\nk\r\nm=1\r\n", Op::Write, "S", "k", "2",
               true, "[S]\r\nk=2\r\nm=1\r\n")
            .From(kReasoned + "kept"),
        Change("SemicolonLineIsNotTheKeyWritten", "[S]\r\n;k=1\r\n", Op::Write, "S", "k", "2",
               true, "[S]\r\n;k=1\r\nk=2\r\n")
            .From(kReasoned + "as the read passes it by; kept"),
        Change("WrittenValueLosesLeadingBlanks", none, Op::Write, "S", "k", " \t v w ", true,
               "[S]\r\nk=v w \r\n")
            .From(kReasoned + "no test there writes a value with leading blanks; kept"),
        WindowsOnly(Change("ReplacedLastLineKeepsItsMissingLineEnd", "[A]\r\nk=1", Op::Write, "A",
                           "k", "2", true, "[A]\r\nk=2"),
                    "Wine rewrites every line it keeps with CR LF")
            .From(kReasoned + "no test there replaces a last line without a line end; a "
                              "replaced line keeps its own line end, as it always did"),
        Change("FirstOfDuplicateKeysReplaced", "[S]\r\nk=1\r\nk=2\r\n", Op::Write, "S", "k", "3",
               true, "[S]\r\nk=3\r\nk=2\r\n")
            .From(kReasoned + "kept"),
        Change("NewKeyGoesToFirstDuplicateSection", "[S]\r\na=1\r\n[S]\r\nb=2\r\n", Op::Write, "S",
               "c", "3", true, "[S]\r\na=1\r\nc=3\r\n[S]\r\nb=2\r\n")
            .From(kReasoned + "kept"),
        Change("CommentsAndUnknownLinesKept", ";top\r\n[S]\r\n;note\r\nnoequals\r\nk=1\r\n",
               Op::Write, "S", "k", "2", true, ";top\r\n[S]\r\n;note\r\nnoequals\r\nk=2\r\n")
            .From(kReasoned + "kept"),
        Change("ChineseWrite", none, Op::Write, "节点1", "备注", "香港 节点", true,
               "[节点1]\r\n备注=香港 节点\r\n")
            .From(kReasoned + "ANSI text in the system code page"),
        Change("DeleteKeyRemovesItsLine", "[A]\r\nk=1\r\nm=2\r\n", Op::DeleteKey, "A", "k", none,
               true, "[A]\r\nm=2\r\n")
            .From(kWriteString + "lpString is NULL, key2 key is deleted"),
        Change("DeleteLastKeyKeepsHeader", "[A]\r\nk=1\r\n", Op::DeleteKey, "a", "K", none, true,
               "[A]\r\n")
            .From(kWriteString + "leave just the section"),
        Change("DeleteMissingKeyChangesNothing", "[A]\r\nk=1\r\n", Op::DeleteKey, "A", "z", none,
               true, "[A]\r\nk=1\r\n")
            .From(kWriteString + "try to delete key2 again"),
        Change("DeleteSectionWithItsKeys", "[A]\r\nk=1\r\n[B]\r\nx=2\r\ny=3\r\n[C]\r\nz=4\r\n",
               Op::DeleteSection, "B", "", none, true, "[A]\r\nk=1\r\n[C]\r\nz=4\r\n")
            .From(kWriteString + "lpKeyName is NULL, App1 section is deleted"),
        Change("DeleteSectionIgnoresCaseTakesComments", "[A]\r\nk=1\r\n[b]\r\n;c\r\nx=2\r\n",
               Op::DeleteSection, "B", "", none, true, "[A]\r\nk=1\r\n")
            .From(kReasoned + "kept"),
        Change("DeleteMissingSectionChangesNothing", "[A]\r\nk=1\r\n", Op::DeleteSection, "Z", "",
               none, true, "[A]\r\nk=1\r\n")
            .From(kReasoned + "as a missing key"),
        WithFileName(Change("WriteToEmptyFileNameFails", none, Op::Write, "S", "k", "v", false,
                            none),
                     "")
            .From(kWriteString + "empty lpFileName"),
        Change("Utf16WriteStaysUtf16", Utf16(u"[节点1]\r\n备注=香港\r\n"), Op::Write, "节点1",
               "备注", "东京", true, Utf16(u"[节点1]\r\n备注=东京\r\n"))
            .From("Microsoft docs, WritePrivateProfileString (lpFileName): if the file was "
                  "created using Unicode characters, the function writes Unicode characters"),
        Change("Utf16NewSectionStaysUtf16", Utf16(u"[A]\r\nk=1"), Op::Write, "B", "x", "2", true,
               Utf16(u"[A]\r\nk=1\r\n[B]\r\nx=2\r\n"))
            .From("Microsoft docs, WritePrivateProfileString (lpFileName); " + kWriteString +
                  "CR LF after a last line without one"),
        Change("Utf16LineOutsideTheCodePageKept", Utf16(u"[S]\r\nx=" + smile + u"\r\nk=1\r\n"),
               Op::Write, "S", "k", "2", true, Utf16(u"[S]\r\nx=" + smile + u"\r\nk=2\r\n"))
            .From(kReasoned + "Windows edits a Unicode file in Unicode; lines it does not touch "
                              "keep their characters"),
        WindowsOnly(Change("DeleteKeyInMissingFileCreatesIt", none, Op::DeleteKey, "S", "k", none,
                           true, ""),
                    "Wine creates no file when nothing is deleted")
            .From(kWriteString + "NULL lpString (todo_wine)"),
        WindowsOnly(Change("DeleteSectionInMissingFileCreatesIt", none, Op::DeleteSection, "S", "",
                           none, true, ""),
                    "Wine creates no file when nothing is deleted")
            .From(kWriteString + "NULL lpKeyName (todo_wine)"),
        WindowsOnly(Change("UntouchedLinesKeepTheirBytes",
                           "; settings\r\n\r\n[A]\r\n  k = 1\r\n\r\n[B]\r\nx=2\r\n", Op::Write,
                           "B", "x", "3", true,
                           "; settings\r\n\r\n[A]\r\n  k = 1\r\n\r\n[B]\r\nx=3\r\n"),
                    "Wine rewrites the whole file without blank lines and blanks")
            .From(kWriteString + "NULLs in file before first section (todo_wine: Windows keeps "
                                 "the bytes of the lines it does not write)"),
        WindowsOnly(Change("ZeroBytesBeforeFirstSectionKept", zeros, Op::Write, "section1", "key1",
                           "string1", true, zeros + "\r\n[section1]\r\nkey1=string1\r\n"),
                    "Wine drops what follows a zero byte")
            .From(kWriteString + "NULLs in file before first section (todo_wine)"),
        WindowsOnly(Change("BytesAfterZeroByteInValueKept",
                           std::string("[S]\r\nk=ab\0cd\r\nm=1\r\n", 19), Op::Write, "S", "m",
                           "2", true, std::string("[S]\r\nk=ab\0cd\r\nm=2\r\n", 19)),
                    "Wine drops what follows a zero byte")
            .From(kWriteString + "NULLs in file before first section (todo_wine: zero bytes "
                                 "and what follows them stay)"),
    };
}

std::optional<std::string> FileBytes(const std::string& path) {
    std::ifstream in(Native(path), std::ios::binary);
    if (!in) return std::nullopt;
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class ProfileCases : public testing::TestWithParam<ProfileCase> {
protected:
    static void SetUpTestSuite() { directory_ = NewScratchDirectory("skiplane_profile_"); }
    static void TearDownTestSuite() { RemoveTree(directory_); }
    static std::string directory_;
};

std::string ProfileCases::directory_;

// The case's file as it starts, in the suite's folder; gives its path.
std::string PutCaseFile(const std::string& directory, const ProfileCase& c, const char* suffix) {
    const std::string path = directory + "\\" + c.name + suffix;
    std::remove(Native(path).c_str());
    if (c.before) {
        std::ofstream out(Native(path), std::ios::binary);
        out.write(c.before->data(), static_cast<std::streamsize>(c.before->size()));
    }
    return path;
}

TEST_P(ProfileCases, ResultAndFileBytes) {
    const ProfileCase& c = GetParam();
    EXPECT_FALSE(c.source.empty()) << "a case without its source";
    const std::string path = PutCaseFile(directory_, c, ".ini");
    const std::string file = c.fileName ? *c.fileName : path;

    std::string result;
    switch (c.op) {
        case Op::Read:
            result = sk::ReadIniText(file, c.section, c.key,
                                     c.arg ? Opt<Text>(*c.arg) : Opt<Text>());
            break;
        case Op::Write:
            result = sk::WriteIniText(file, c.section, c.key, *c.arg) ? "true" : "false";
            break;
        case Op::DeleteKey:
            result = sk::WriteIniText(file, c.section, c.key) ? "true" : "false";
            break;
        case Op::DeleteSection:
            result = sk::WriteIniText(file, c.section) ? "true" : "false";
            break;
    }
    EXPECT_EQ(result, c.result);
    EXPECT_EQ(FileBytes(path), c.after);
}

// The same reads through a snapshot: the program's own reader, so the Windows-only cases hold
// under Wine too.
TEST_P(ProfileCases, SnapshotReadsAsWindowsDoes) {
    const ProfileCase& c = GetParam();
    if (c.op != Op::Read) GTEST_SKIP() << "not a read";
    const std::string path = PutCaseFile(directory_, c, ".snapshot.ini");
    const sk::IniSnapshot snapshot(c.fileName ? *c.fileName : path);
    for (int twice = 0; twice < 2; ++twice)  // reading again gives the same
        EXPECT_EQ(snapshot.Read(c.section, c.key, c.arg ? Opt<Text>(*c.arg) : Opt<Text>()),
                  c.result);
    EXPECT_EQ(FileBytes(path), c.before);
}

#ifdef _WIN32
// Wine keeps its own configuration in the registry; Windows has no such key.
bool UnderWine() {
    return platform::RegistryKeyExists(platform::RegistryRoot::LocalMachine, "Software\\Wine");
}

// The system's GetPrivateProfileStringA and WritePrivateProfileStringA on the same bytes. The
// program's own argument rules (blank names, an empty default, the file name) are not theirs,
// so those cases stay out.
TEST_P(ProfileCases, SystemFunctionsAgree) {
    const ProfileCase& c = GetParam();
    auto blankStart = [](const std::string& s) { return s.empty() || s[0] <= ' '; };
    if (c.fileName || blankStart(c.section) || (c.op != Op::DeleteSection && blankStart(c.key)) ||
        (c.op == Op::Read && c.arg && c.arg->empty()))
        GTEST_SKIP() << "the program's own argument rule";
    if (c.wineDiffers && UnderWine()) GTEST_SKIP() << "Wine differs from Windows: " << c.wineDiffers;
    const std::string path = PutCaseFile(directory_, c, ".system.ini");
    std::string result;
    if (c.op == Op::Read) {
        std::vector<char> buffer(10240);
        const DWORD n = GetPrivateProfileStringA(c.section.c_str(), c.key.c_str(),
                                                 c.arg ? c.arg->c_str() : nullptr, buffer.data(),
                                                 static_cast<DWORD>(buffer.size()), path.c_str());
        result.assign(buffer.data(), n);
    } else {
        const char* key = c.op == Op::DeleteSection ? nullptr : c.key.c_str();
        const char* value = c.op == Op::Write ? c.arg->c_str() : nullptr;
        result = WritePrivateProfileStringA(c.section.c_str(), key, value, path.c_str()) ? "true"
                                                                                         : "false";
    }
    EXPECT_EQ(result, c.result);
    EXPECT_EQ(FileBytes(path), c.after);
}
#endif

INSTANTIATE_TEST_SUITE_P(Table, ProfileCases, testing::ValuesIn(Cases()),
                         [](const testing::TestParamInfo<ProfileCase>& info) {
                             return info.param.name;
                         });

}  // namespace
