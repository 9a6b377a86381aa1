// The run directory split, file commands and registry commands, on the real files of a
// temporary directory and on the layer's registry (under Wine, HKCU\Software\SkiplaneTest and
// one value directly under HKCU, all removed again). Cases that exist on one layer only say
// so in their names.
#include <gtest/gtest.h>

#include <sys/stat.h>
#ifdef _WIN32
#include <direct.h>
#include <windows.h>
#include <sddl.h>
#undef ReplaceFile  // the program's own sk::ReplaceFile, not the macro for ReplaceFileA
#else
#include <unistd.h>
#endif

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "platform/files.h"
#include "services/storage.h"
#include "tests/unit/scratch_dir.h"
#ifndef _WIN32
#include "platform/headless/files_hooks.h"
#endif

namespace {

using namespace scratch;

std::string CurrentDirectory() {
    char buffer[4096] = {};
#ifdef _WIN32
    return ::_getcwd(buffer, sizeof buffer) ? buffer : "";
#else
    return ::getcwd(buffer, sizeof buffer) ? buffer : "";
#endif
}

void SetCurrentDirectoryForTest(const std::string& native) {
#ifdef _WIN32
    ::_chdir(native.c_str());
#else
    if (::chdir(native.c_str()) != 0) ADD_FAILURE() << "cannot return to " << native;
#endif
}

using platform::RegistryRoot;
using sk::Bytes;
using sk::Text;

Bytes B(std::initializer_list<int> v) {
    Bytes out;
    for (int b : v) out.push_back(static_cast<std::uint8_t>(b));
    return out;
}


std::optional<std::string> FileBytes(const std::string& path) {
    std::ifstream in(Native(path), std::ios::binary);
    if (!in) return std::nullopt;
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void PutFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(Native(path), std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// A fresh directory per test, named in Windows form (backslashes) as the program names paths.
class StorageFiles : public testing::Test {
protected:
    void SetUp() override { dir_ = NewScratchDirectory("skiplane_storage_"); }
    void TearDown() override {
#ifndef _WIN32
        platform::hooks::ClearFailures();
#endif
        RemoveTree(dir_);
    }
    std::string P(const std::string& name) const { return dir_ + "\\" + name; }
    std::string dir_;
};

// --- the executable's directory and name ----------------------------------------------------

TEST(StorageRunDirectory, SplitAtLastBackslashThatIsACharacter) {
    struct Case { std::string path, dir, file; };
    const Case cases[] = {
        {"C:\\Program Files\\Skiplane\\Skiplane.exe", "C:\\Program Files\\Skiplane",
         "Skiplane.exe"},
        // the directory name ends in a double-byte character whose second byte is 0x5C
        {"D:\\kcp\x81\x5C\\Skiplane.exe", "D:\\kcp\x81\x5C", "Skiplane.exe"},
        {"D:\\kcp\x81\x5C", "D:", "kcp\x81\x5C"},
        {"D:\\\xD6\xD0\xCE\xC4\\\xB9\xA4\xBE\xDF.exe", "D:\\\xD6\xD0\xCE\xC4",
         "\xB9\xA4\xBE\xDF.exe"},
        {"C:\\Skiplane.exe", "C:", "Skiplane.exe"},
        // 0x80 leads nothing in code page 936: the backslash after it separates
        {"D:\\a\x80\\Skiplane.exe", "D:\\a\x80", "Skiplane.exe"},
        {"Skiplane.exe", "", "Skiplane.exe"},
        {"C:\\dir\\", "C:\\dir", ""},
        {"C:\\a\x81", "C:", "a\x81"},  // a lead byte at the very end stands alone
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        Text dir = "old", file = "old";
        sk::SplitModulePath(c.path, dir, file);
        EXPECT_EQ(dir, c.dir);
        EXPECT_EQ(file, c.file);
    }
}

TEST(StorageRunDirectory, InitRecordsModulePathAndMakesItCurrent) {
    const std::string previous = CurrentDirectory();
    sk::InitRunDirectory();
    const Text exe = sk::GetExeFileName();
#ifdef _WIN32
    EXPECT_EQ(exe, "unit_tests.exe");
#else
    EXPECT_EQ(exe, "unit_tests");
#endif
    EXPECT_EQ(sk::JoinText(sk::GetRunDirectory(), "\\", exe), platform::ModuleFileName());
    EXPECT_TRUE(sk::FileExists(exe)) << "a bare file name resolves in the run directory";
    SetCurrentDirectoryForTest(previous);
}

#ifndef _WIN32
TEST_F(StorageFiles, HeadlessOnly_ModulePathHookMovesRunDirectory) {
    const std::string previous = CurrentDirectory();
    PutFile(P("config.ini"), "[S]\r\n");
    platform::hooks::SetModuleFileName(P("Skiplane.exe"));
    sk::InitRunDirectory();
    platform::hooks::SetModuleFileName("");
    EXPECT_EQ(sk::GetRunDirectory(), dir_);
    EXPECT_EQ(sk::GetExeFileName(), "Skiplane.exe");
    EXPECT_TRUE(sk::FileExists("config.ini"));
    SetCurrentDirectoryForTest(previous);
    sk::InitRunDirectory();
}
#endif

// --- FileExists, RemoveFile --------------------------------------------------------------------

#ifdef _WIN32
constexpr bool kNamesIgnoreCase = true;
#else
constexpr bool kNamesIgnoreCase = false;  // real Linux files, without wildcards
#endif

TEST_F(StorageFiles, FileExistsForFilesDirectoriesAndWildcards) {
    PutFile(P("config.ini"), "x");
    MakeDirectory(P("sub"));
    struct Case { std::string path; bool exists; };
    const Case cases[] = {
        {P("config.ini"), true},
        {P("CONFIG.INI"), kNamesIgnoreCase},
        {P("sub"), true},
        {P("sub") + "\\", false},  // a trailing backslash finds nothing
        {dir_, true},
        {P("missing.ini"), false},
        {P("sub\\missing.ini"), false},
        {P("*.ini"), true},
        {P("c?nfig.*"), true},
        {P("*.exe"), false},
        {P("sub\\*"), true},  // "." and ".." match even in an empty directory
        {"", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(sk::FileExists(c.path), c.exists);
    }
}

TEST_F(StorageFiles, RemoveFileDeletesOnlyFiles) {
    PutFile(P("Ver.ini"), "[Skiplane]\r\n");
    MakeDirectory(P("sub"));
    EXPECT_TRUE(sk::RemoveFile(P("Ver.ini")));
    EXPECT_EQ(FileBytes(P("Ver.ini")), std::nullopt);
    EXPECT_FALSE(sk::RemoveFile(P("Ver.ini")));
    EXPECT_FALSE(sk::RemoveFile(P("sub")));
    EXPECT_TRUE(IsDirectory(P("sub")));
    EXPECT_FALSE(sk::RemoveFile(""));
}

TEST_F(StorageFiles, RemoveFileFailsWhileAnotherHolderHasIt) {
    PutFile(P("held.ini"), "data");
    const platform::FileHandle held = platform::HoldFileExclusively(P("held.ini"));
    ASSERT_TRUE(platform::IsSet(held));
    EXPECT_FALSE(sk::RemoveFile(P("held.ini")));
    platform::ReleaseHeldFile(held);
    EXPECT_EQ(FileBytes(P("held.ini")), "data");
}

// --- ReadFileBytes -----------------------------------------------------------------------------

TEST_F(StorageFiles, ReadFileBytesGivesExactBytesOrNothing) {
    const std::string content("[Node1]\r\nserver=1.2.3.4\n\0\xFF\x5C\r", 26);
    PutFile(P("config.ini"), content);
    PutFile(P("empty.ini"), "");
    MakeDirectory(P("sub"));
    EXPECT_EQ(sk::ReadFileBytes(P("config.ini")), Bytes(content.begin(), content.end()));
    EXPECT_EQ(sk::ReadFileBytes(P("empty.ini")), Bytes());
    EXPECT_EQ(sk::ReadFileBytes(P("missing.ini")), Bytes());
    EXPECT_EQ(sk::ReadFileBytes(P("sub")), Bytes());
    EXPECT_EQ(sk::ReadFileBytes(""), Bytes());
}

TEST_F(StorageFiles, ReadFileBytesOfExclusivelyHeldFileIsEmpty) {
    PutFile(P("config.ini"), "[S]\r\nk=1\r\n");
    const platform::FileHandle held = platform::HoldFileExclusively(P("config.ini"));
    ASSERT_TRUE(platform::IsSet(held));
    EXPECT_EQ(sk::ReadFileBytes(P("config.ini")), Bytes());
    platform::ReleaseHeldFile(held);
    EXPECT_EQ(sk::ReadFileBytes(P("config.ini")).size(), 10u);
}

// --- WriteFileBytes and ReplaceFile ------------------------------------------------------------

TEST_F(StorageFiles, WriteFileBytesConcatenatesPiecesInOrder) {
    EXPECT_TRUE(sk::WriteFileBytes(P("out.bin"),
                                   {B({'a', 0}), Bytes(), B({0xFF, '\r', '\n'}), B({'z'})}));
    EXPECT_EQ(FileBytes(P("out.bin")), std::string("a\0\xFF\r\nz", 6));
}

TEST_F(StorageFiles, WriteFileBytesWithOneEmptyPieceMakesEmptyFile) {
    EXPECT_TRUE(sk::WriteFileBytes(P("empty.bin"), Bytes()));
    EXPECT_EQ(FileBytes(P("empty.bin")), "");
}

TEST_F(StorageFiles, WriteFileBytesTruncatesLongerFile) {
    PutFile(P("config.ini"), "0123456789");
    EXPECT_TRUE(sk::WriteFileBytes(P("config.ini"), B({'a', 'b'})));
    EXPECT_EQ(FileBytes(P("config.ini")), "ab");
}

TEST_F(StorageFiles, WriteFileBytesFailuresTouchNothing) {
    PutFile(P("held.ini"), "kept");
    const platform::FileHandle held = platform::HoldFileExclusively(P("held.ini"));
    ASSERT_TRUE(platform::IsSet(held));
    EXPECT_FALSE(sk::WriteFileBytes(P("held.ini"), B({'x'})));
    platform::ReleaseHeldFile(held);
    EXPECT_EQ(FileBytes(P("held.ini")), "kept");

    EXPECT_FALSE(sk::WriteFileBytes("", B({'x'})));
    EXPECT_FALSE(sk::WriteFileBytes(P("no\\such\\dir.ini"), B({'x'})));
    EXPECT_FALSE(sk::WriteFileBytes(dir_, B({'x'})));
    EXPECT_TRUE(IsDirectory(dir_));
}

TEST_F(StorageFiles, ReplaceFilePutsTemporaryInPlace) {
    PutFile(P("config.ini"), "old");
    PutFile(P("config.ini.new"), "new content");
    EXPECT_TRUE(sk::ReplaceFile(P("config.ini.new"), P("config.ini")));
    EXPECT_EQ(FileBytes(P("config.ini")), "new content");
    EXPECT_EQ(FileBytes(P("config.ini.new")), std::nullopt);

    EXPECT_FALSE(sk::ReplaceFile(P("missing.new"), P("config.ini")));
    EXPECT_EQ(FileBytes(P("config.ini")), "new content");

    PutFile(P("fresh.new"), "fresh");  // a target that does not exist yet
    EXPECT_TRUE(sk::ReplaceFile(P("fresh.new"), P("fresh.ini")));
    EXPECT_EQ(FileBytes(P("fresh.ini")), "fresh");
}

#ifndef _WIN32
// The injected failures let the program's config rewrite be interrupted at each step.
TEST_F(StorageFiles, HeadlessOnly_InjectedFileFailures) {
    PutFile(P("config.ini"), "original");

    platform::hooks::FailFileCreate();
    EXPECT_FALSE(sk::WriteFileBytes(P("config.ini"), B({'n', 'e', 'w'})));
    EXPECT_EQ(FileBytes(P("config.ini")), "original");
    EXPECT_TRUE(sk::WriteFileBytes(P("config.ini.new"), B({'n'})));  // only the next one

    platform::hooks::FailFileWrite(3, 2);  // the second create from now
    EXPECT_TRUE(sk::WriteFileBytes(P("a.new"), {B({'1', '2'}), B({'3', '4'})}));
    EXPECT_FALSE(sk::WriteFileBytes(P("b.new"), {B({'1', '2'}), B({'3', '4'}), B({'5'})}));
    EXPECT_EQ(FileBytes(P("a.new")), "1234");
    EXPECT_EQ(FileBytes(P("b.new")), "123");

    platform::hooks::FailReplace();
    EXPECT_FALSE(sk::ReplaceFile(P("config.ini.new"), P("config.ini")));
    EXPECT_EQ(FileBytes(P("config.ini")), "original");
    EXPECT_EQ(FileBytes(P("config.ini.new")), "n");
    EXPECT_TRUE(sk::ReplaceFile(P("config.ini.new"), P("config.ini")));

    // A profile write fails whole at each step: the file keeps its bytes, no temporary stays.
    PutFile(P("p.ini"), "[S]\r\nk=1\r\n");
    platform::hooks::FailFileCreate();
    EXPECT_FALSE(sk::WriteIniText(P("p.ini"), "S", Text("k"), Text("2")));
    platform::hooks::FailFileWrite(3);
    EXPECT_FALSE(sk::WriteIniText(P("p.ini"), "S", Text("k"), Text("2")));
    platform::hooks::FailReplace();
    EXPECT_FALSE(sk::WriteIniText(P("p.ini"), "S", Text("k"), Text("2")));
    EXPECT_EQ(FileBytes(P("p.ini")), "[S]\r\nk=1\r\n");
    EXPECT_EQ(FileBytes(P("p.ini.new")), std::nullopt);
    EXPECT_TRUE(sk::WriteIniText(P("p.ini"), "S", Text("k"), Text("2")));
    EXPECT_EQ(FileBytes(P("p.ini")), "[S]\r\nk=2\r\n");
}

// "In use" is only another program's handle in the way: a file this user may not read (missing
// rights; Windows gives ERROR_ACCESS_DENIED, a holder ERROR_SHARING_VIOLATION) fails otherwise,
// and the file stays as it was.
TEST_F(StorageFiles, HeadlessOnly_AFileWithoutRightsIsNotInUse) {
    PutFile(P("config.ini"), "[S]\r\nk=1\r\n");
    ASSERT_EQ(::chmod(Native(P("config.ini")).c_str(), 0200), 0);
    sk::IniEdits edits(P("config.ini"));
    EXPECT_FALSE(edits.Write("S", Text("k"), Text("2")) && edits.Save());
    EXPECT_FALSE(edits.InUse());
    ::chmod(Native(P("config.ini")).c_str(), 0644);
    EXPECT_EQ(FileBytes(P("config.ini")), "[S]\r\nk=1\r\n");
}

// A replacement that took the target away before it failed (a ReplaceFile can; Wine's makes two
// renames): the pending copy is then the only whole one, and it stays for the next start.
TEST_F(StorageFiles, HeadlessOnly_AReplaceThatTookTheTargetAwayKeepsTheNewCopy) {
    PutFile(P("config.ini"), "[S]\r\nk=1\r\n");
    platform::hooks::FailReplace(1, true);
    EXPECT_FALSE(sk::WriteIniText(P("config.ini"), "S", Text("k"), Text("2")));
    EXPECT_EQ(FileBytes(P("config.ini")), std::nullopt);
    EXPECT_EQ(FileBytes(P("config.ini.pending")), "[S]\r\nk=2\r\n");
    EXPECT_TRUE(sk::RecoverFileContents(P("config.ini")));
    EXPECT_EQ(FileBytes(P("config.ini")), "[S]\r\nk=2\r\n");
}

// A save that must rewrite in place (an editor holds the file, sharing writing) and fails at the
// Nth byte of the rewrite (a full disk, a lock) tears the file, which still parses; the complete
// new copy stays beside it as .pending, and the next start takes it in. A failure while the
// temporary file is written changes nothing. Neither counts as "in use".
TEST_F(StorageFiles, HeadlessOnly_ASaveFailingAtTheNthByteLeavesAWholeCopyForTheNextStart) {
    const std::string before = "[S]\r\nk=1\r\nrest=old tail\r\n";
    const std::string after = "[S]\r\nk=22\r\nrest=old tail\r\n";
    struct Case {
        int nth;  // 1: the temporary file's write, 2: the rewrite in place
        std::size_t bytes;
        std::string file;
        bool pending;
    };
    const Case cases[] = {
        {1, 0, before, false},
        {1, 8, before, false},
        {2, 0, before, true},
        {2, 8, "[S]\r\nk=2\r\nrest=old tail\r\n", true},
        {2, before.size(), after.substr(0, before.size()), true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("write " + std::to_string(c.nth) + " fails after " + std::to_string(c.bytes));
        PutFile(P("config.ini"), before);
        const platform::FileHandle held =
            platform::HoldFile(P("config.ini"), platform::kRead | platform::kWrite,
                               platform::kRead | platform::kWrite);
        platform::hooks::FailFileWrite(c.bytes, c.nth);
        sk::IniEdits edits(P("config.ini"));
        EXPECT_FALSE(edits.Write("S", Text("k"), Text("22")) && edits.Save());
        EXPECT_FALSE(edits.InUse());
        platform::ReleaseHeldFile(held);
        EXPECT_EQ(FileBytes(P("config.ini")), c.file);
        EXPECT_EQ(FileBytes(P("config.ini.pending")),
                  c.pending ? std::optional<std::string>(after) : std::nullopt);
        EXPECT_EQ(FileBytes(P("config.ini.new")), std::nullopt);
        EXPECT_TRUE(sk::RecoverFileContents(P("config.ini")));
        EXPECT_EQ(FileBytes(P("config.ini")), c.pending ? after : before);
        EXPECT_EQ(FileBytes(P("config.ini.pending")), std::nullopt);
    }
}
#endif

TEST_F(StorageFiles, IniWriteReplacesTheFileAndLeavesBigEndianAndReadOnlyFilesAlone) {
    PutFile(P("config.ini"), "[S]\r\nk=1\r\n");
    PutFile(P("config.ini.new"), "left by a killed write");
    EXPECT_TRUE(sk::WriteIniText(P("config.ini"), "S", Text("k"), Text("2")));
    EXPECT_EQ(FileBytes(P("config.ini")), "[S]\r\nk=2\r\n");
    EXPECT_EQ(FileBytes(P("config.ini.new")), std::nullopt);
    // Little-endian UTF-16 is read and written as Windows does (the profile case table);
    // big-endian UTF-16 the writer's ANSI lines would garble.
    const std::string utf16be("\xFE\xFF\0[\0S\0]", 8);
    PutFile(P("u.ini"), utf16be);
    EXPECT_FALSE(sk::WriteIniText(P("u.ini"), "S", Text("k"), Text("2")));
    EXPECT_EQ(FileBytes(P("u.ini")), utf16be);
    // A read-only file stays as it is, as with Windows' own profile functions.
    ASSERT_EQ(::chmod(Native(P("config.ini")).c_str(), 0444), 0);
    sk::IniEdits edits(P("config.ini"));
    EXPECT_FALSE(edits.Write("S", Text("k"), Text("3")) && edits.Save());
    EXPECT_FALSE(edits.InUse());  // refused, not held by another program
    ::chmod(Native(P("config.ini")).c_str(), 0644);
    EXPECT_EQ(FileBytes(P("config.ini")), "[S]\r\nk=2\r\n");
    EXPECT_EQ(FileBytes(P("config.ini.new")), std::nullopt);
}

// Two remarks the code page cannot carry (서울, 부산) read alike, as "??" under code page 936:
// the lines an edit does not touch keep their own code units by where they are, so deleting
// (then renumbering) or editing the first node leaves 부산 with the second.
TEST_F(StorageFiles, Utf16LinesOfTheSameAnsiTextKeepTheirOwnCodeUnits) {
    auto utf16 = [](std::u16string_view text) {
        std::string out("\xFF\xFE");
        for (char16_t u : text) out += {static_cast<char>(u & 0xFF), static_cast<char>(u >> 8)};
        return out;
    };
    // Outside the checks, whose text goes into narrow strings that code page 936 cannot carry.
    const std::u16string start = u"[Node1]\r\nremarks=서울\r\n[Node2]\r\nremarks=부산\r\n";
    const std::string deleted = utf16(u"[Node1]\r\nremarks=부산\r\n");
    const std::string edited = utf16(u"[Node1]\r\nremarks=x\r\n[Node2]\r\nremarks=부산\r\n");
    PutFile(P("u.ini"), utf16(start));
    {
        sk::IniEdits edits(P("u.ini"));
        ASSERT_TRUE(edits.Write("Node1"));
        std::string& text = *edits.Content();
        text.replace(text.find("[Node2]"), 7, "[Node1]");
        ASSERT_TRUE(edits.Save());
    }
    EXPECT_EQ(FileBytes(P("u.ini")), deleted);
    PutFile(P("u.ini"), utf16(start));
    EXPECT_TRUE(sk::WriteIniText(P("u.ini"), "Node1", Text("remarks"), Text("x")));
    EXPECT_EQ(FileBytes(P("u.ini")), edited);
}

// --- a profile another program holds open --------------------------------------------------

// Another program holds the profile open in each access and share mode of Wine's conformance
// test test_profile_existing (dlls/kernel32/tests/profile.c, which runs on Windows): Windows'
// profile functions read it unless the holder shares no reading, and write it where the holder
// shares reading and writing (ERROR_SHARING_VIOLATION otherwise). The program reads and saves
// in the same cases and no others. Where the replacement cannot be made (a rename fails over
// any open handle) it is tried for kReplaceRetryMs, then the file is rewritten in place.
TEST_F(StorageFiles, ProfileHeldByAnotherProgramReadsAndSavesAsWindowsDoes) {
    using platform::kDelete;
    using platform::kRead;
    using platform::kWrite;
    struct Case {
        unsigned access, share;
        bool reads, saves;
    };
    const Case cases[] = {
        {kRead, kRead, true, false},
        {kRead, kWrite, false, false},
        {kWrite, kRead, true, false},
        {kWrite, kWrite, false, false},
        {kRead | kWrite, kRead, true, false},
        {kRead | kWrite, kWrite, false, false},
        {kRead, kRead | kWrite, true, true},           // in place
        {kWrite, kRead | kWrite, true, true},          // in place
        {kRead | kWrite, kRead | kWrite, true, true},  // in place: an editor's handle
        {kRead, kRead | kWrite | kDelete, true, true},  // in place
        {kRead | kWrite, kRead | kWrite | kDelete, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("access " + std::to_string(c.access) + ", share " + std::to_string(c.share));
        PutFile(P("held.ini"), "[S]\r\nk=1\r\n");
        const platform::FileHandle held = platform::HoldFile(P("held.ini"), c.access, c.share);
        ASSERT_TRUE(platform::IsSet(held));
        EXPECT_EQ(sk::ReadIniText(P("held.ini"), "S", "k", Text("d")), c.reads ? "1" : "d");
        sk::IniEdits edits(P("held.ini"));
        EXPECT_EQ(edits.Write("S", Text("k"), Text("2")) && edits.Save(), c.saves);
        EXPECT_EQ(edits.InUse(), !c.saves);  // what the program tells the user
        platform::ReleaseHeldFile(held);
        EXPECT_EQ(FileBytes(P("held.ini")), c.saves ? "[S]\r\nk=2\r\n" : "[S]\r\nk=1\r\n");
        EXPECT_EQ(FileBytes(P("held.ini.new")), std::nullopt);
        // Nothing else is left beside it (Wine's ReplaceFile, tried against such a handle,
        // leaves an empty rf*.tmp each time).
        EXPECT_FALSE(sk::FileExists(P("rf*.tmp")));
    }
}

// A holder that lets go while the save is tried again: the file is replaced, not rewritten.
TEST_F(StorageFiles, SaveLandsByReplacementWhenTheHolderLetsGoWithinTheRetry) {
    PutFile(P("config.ini"), "[S]\r\nk=1\r\n");
    const platform::FileHandle held =
        platform::HoldFile(P("config.ini"), platform::kRead | platform::kWrite,
                           platform::kRead | platform::kWrite);
    ASSERT_TRUE(platform::IsSet(held));
#ifdef _WIN32
    // Another thread stands in for the other program, closing its handle after 300 ms.
    struct Holder {
        static DWORD WINAPI LetGo(void* file) {
            ::Sleep(300);
            platform::ReleaseHeldFile(*static_cast<platform::FileHandle*>(file));
            return 0;
        }
    };
    platform::FileHandle heldCopy = held;
    const HANDLE holder = ::CreateThread(nullptr, 0, Holder::LetGo, &heldCopy, 0, nullptr);
    ASSERT_NE(holder, nullptr);
    const DWORD started = ::GetTickCount();
    EXPECT_TRUE(sk::WriteIniText(P("config.ini"), "S", Text("k"), Text("2")));
    // In place would have waited the whole retry.
    EXPECT_LT(::GetTickCount() - started, sk::kReplaceRetryMs);
    ::WaitForSingleObject(holder, INFINITE);
    ::CloseHandle(holder);
#else
    struct stat before, after;
    ASSERT_EQ(::stat(Native(P("config.ini")).c_str(), &before), 0);
    platform::hooks::LetGoAfter(held, 500);
    EXPECT_TRUE(sk::WriteIniText(P("config.ini"), "S", Text("k"), Text("2")));
    ASSERT_EQ(::stat(Native(P("config.ini")).c_str(), &after), 0);
    EXPECT_NE(before.st_ino, after.st_ino);  // a new file in its place
#endif
    EXPECT_EQ(FileBytes(P("config.ini")), "[S]\r\nk=2\r\n");
    EXPECT_EQ(FileBytes(P("config.ini.new")), std::nullopt);
}

// A leftover config.ini.new that cannot be created over does not stop the save: a read-only or
// (on Windows, which refuses CREATE_ALWAYS over a hidden file, as CreateFile's documentation
// says) hidden file and an empty folder are cleared away; a folder with something in it stays,
// and the next name is taken.
TEST_F(StorageFiles, LeftoverTemporaryFilesDoNotBlockTheSave) {
    PutFile(P("config.ini"), "[S]\r\nk=0\r\n");
    int value = 0;
    auto save = [&] {
        const Text next = std::to_string(++value);
        EXPECT_TRUE(sk::WriteIniText(P("config.ini"), "S", Text("k"), next));
        EXPECT_EQ(FileBytes(P("config.ini")), "[S]\r\nk=" + next + "\r\n");
    };
    PutFile(P("config.ini.new"), "read-only leftover");
#ifdef _WIN32
    ASSERT_TRUE(::SetFileAttributesA(P("config.ini.new").c_str(), FILE_ATTRIBUTE_READONLY));
#else
    ASSERT_EQ(::chmod(Native(P("config.ini.new")).c_str(), 0444), 0);
#endif
    save();
    EXPECT_EQ(FileBytes(P("config.ini.new")), std::nullopt);
#ifdef _WIN32
    PutFile(P("config.ini.new"), "hidden leftover");
    ASSERT_TRUE(::SetFileAttributesA(P("config.ini.new").c_str(),
                                     FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
    save();
    EXPECT_EQ(FileBytes(P("config.ini.new")), std::nullopt);
#endif
    ASSERT_TRUE(MakeDirectory(P("config.ini.new")));
    save();
    EXPECT_FALSE(IsDirectory(P("config.ini.new")));
    ASSERT_TRUE(MakeDirectory(P("config.ini.new")));
    PutFile(P("config.ini.new\\kept.txt"), "a user's file");
    save();
    EXPECT_EQ(FileBytes(P("config.ini.new\\kept.txt")), "a user's file");
    EXPECT_EQ(FileBytes(P("config.ini.new1")), std::nullopt);
}

// A config.ini that is a symbolic link is written through: the link stays, its target changes.
TEST_F(StorageFiles, SymbolicLinkIsWrittenThroughToItsTarget) {
    ASSERT_TRUE(MakeDirectory(P("real")));
    PutFile(P("real\\config.ini"), "[S]\r\nk=1\r\n");
    if (!platform::MakeSymbolicLink(P("config.ini"), P("real\\config.ini")))
        GTEST_SKIP() << "the system made no symbolic link (Wine 8's CreateSymbolicLink makes "
                        "none; Windows needs the right to)";
    EXPECT_TRUE(sk::WriteIniText(P("config.ini"), "S", Text("k"), Text("2")));
    EXPECT_EQ(FileBytes(P("real\\config.ini")), "[S]\r\nk=2\r\n");
    EXPECT_EQ(sk::ReadIniText(P("config.ini"), "S", "k"), "2");
    EXPECT_EQ(FileBytes(P("real\\config.ini.new")), std::nullopt);
#ifdef _WIN32
    EXPECT_TRUE(::GetFileAttributesA(P("config.ini").c_str()) & FILE_ATTRIBUTE_REPARSE_POINT);
    ::RemoveDirectoryA(P("config.ini").c_str());
    ::DeleteFileA(P("config.ini").c_str());
#else
    struct stat st;
    ASSERT_EQ(::lstat(Native(P("config.ini")).c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
#endif
}

#ifdef _WIN32
// The saved file keeps the attributes the user gave it: they go onto the new file before it
// takes the old one's place (a rename keeps none of the old file's; Wine's ReplaceFile neither).
TEST_F(StorageFiles, WindowsOnly_SaveKeepsTheFileAttributes) {
    PutFile(P("config.ini"), "[S]\r\nk=1\r\n");
    constexpr DWORD kSet = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    ASSERT_TRUE(::SetFileAttributesA(P("config.ini").c_str(), kSet));
    EXPECT_TRUE(sk::WriteIniText(P("config.ini"), "S", Text("k"), Text("2")));
    EXPECT_EQ(FileBytes(P("config.ini")), "[S]\r\nk=2\r\n");
    EXPECT_EQ(::GetFileAttributesA(P("config.ini").c_str()) & kSet, kSet);
    ::SetFileAttributesA(P("config.ini").c_str(), FILE_ATTRIBUTE_NORMAL);
}

// Every save marks the file for archiving, as any write does, so that backups that follow the
// archive attribute (xcopy /m, robocopy /m) take it: replaced, and rewritten in place beside a
// holder that shares writing. Windows keeps a cleared attribute until the next write; Wine
// reports the attribute on every file, so there it cannot be seen cleared.
TEST_F(StorageFiles, WindowsOnly_EverySavedFileCarriesTheArchiveAttribute) {
    for (bool held : {false, true}) {
        const std::string path = P("config.ini");
        PutFile(path, "[S]\r\nk=1\r\n");
        ASSERT_TRUE(::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL));
        if (::GetFileAttributesA(path.c_str()) & FILE_ATTRIBUTE_ARCHIVE)
            GTEST_SKIP() << "the archive attribute cannot be cleared here (Wine)";
        platform::FileHandle holder{};
        if (held)
            holder = platform::HoldFile(path, platform::kRead | platform::kWrite,
                                        platform::kRead | platform::kWrite);
        EXPECT_TRUE(sk::WriteIniText(path, "S", Text("k"), Text("2")));
        if (held) platform::ReleaseHeldFile(holder);
        EXPECT_EQ(FileBytes(path), "[S]\r\nk=2\r\n");
        EXPECT_NE(::GetFileAttributesA(path.c_str()) & FILE_ATTRIBUTE_ARCHIVE, 0u) << held;
    }
}

// Missing rights are no file in use: where config.ini's access list denies this user deleting
// it, CreateFile gives ERROR_ACCESS_DENIED (a holder gives ERROR_SHARING_VIOLATION), and the save
// fails at once, without 2 s of retries, without "in use", and the file stays as it was. Wine
// keeps access lists but does not enforce them, so there the case cannot arise.
TEST_F(StorageFiles, WindowsOnly_MissingRightsAreNoFileInUse) {
    const std::string path = P("config.ini");
    PutFile(path, "[S]\r\nk=1\r\n");
    auto setAccess = [&](const char* sddl) {
        PSECURITY_DESCRIPTOR sd = nullptr;
        const bool ok =
            ::ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1, &sd,
                                                                   nullptr) &&
            ::SetFileSecurityA(path.c_str(), DACL_SECURITY_INFORMATION, sd);
        ::LocalFree(sd);
        return ok;
    };
    ASSERT_TRUE(setAccess("D:P(D;;SD;;;WD)(A;;FA;;;WD)"));  // everyone: all but deleting
    const HANDLE probe = ::CreateFileA(path.c_str(), DELETE, 7, nullptr, OPEN_EXISTING, 0, nullptr);
    if (probe != INVALID_HANDLE_VALUE) {
        ::CloseHandle(probe);
        GTEST_SKIP() << "access lists are not enforced here (Wine)";
    }
    const DWORD started = ::GetTickCount();
    sk::IniEdits edits(path);
    EXPECT_FALSE(edits.Write("S", Text("k"), Text("2")) && edits.Save());
    EXPECT_FALSE(edits.InUse());
    EXPECT_LT(::GetTickCount() - started, 1000u);
    EXPECT_TRUE(setAccess("D:P(A;;FA;;;WD)"));
    EXPECT_EQ(FileBytes(path), "[S]\r\nk=1\r\n");
    EXPECT_EQ(FileBytes(path + ".pending"), std::nullopt);
}
#endif

TEST_F(StorageFiles, IniOfExclusivelyHeldFileReadsDefaultAndWritesNothing) {
    PutFile(P("config.ini"), "[S]\r\nk=1\r\n");
    const platform::FileHandle held = platform::HoldFileExclusively(P("config.ini"));
    ASSERT_TRUE(platform::IsSet(held));
    EXPECT_EQ(sk::ReadIniText(P("config.ini"), "S", "k", Text("d")), "d");
    EXPECT_FALSE(sk::WriteIniText(P("config.ini"), "S", Text("k"), Text("2")));
    platform::ReleaseHeldFile(held);
    EXPECT_EQ(FileBytes(P("config.ini")), "[S]\r\nk=1\r\n");
}

// --- registry ----------------------------------------------------------------------------------

constexpr int kHkcu = sk::kCurrentUser;
// The value types as the registry reports them.
constexpr auto kRegSz = static_cast<std::uint32_t>(platform::RegistryType::Sz);
constexpr auto kRegBinary = static_cast<std::uint32_t>(platform::RegistryType::Binary);
constexpr auto kRegDword = static_cast<std::uint32_t>(platform::RegistryType::Dword);
const std::string kBase = "Software\\SkiplaneTest";

struct Stored {
    std::uint32_t type;
    Bytes data;
    bool operator==(const Stored& o) const { return type == o.type && data == o.data; }
};

void PrintTo(const Stored& s, std::ostream* os) {
    *os << "type " << s.type << ", " << testing::PrintToString(s.data);
}

std::optional<Stored> Query(RegistryRoot root, const std::string& key, const std::string& name) {
    Stored s{};
    if (!platform::RegistryQueryValue(root, key, name, s.type, s.data)) return std::nullopt;
    return s;
}

class StorageRegistry : public testing::Test {
protected:
    void SetUp() override { Clean(); }
    void TearDown() override {
        Clean();
#ifndef _WIN32
        platform::hooks::SetRegistryWritable(true);
#endif
    }
    // Deepest keys first: a key with subkeys cannot be deleted.
    static void Clean() {
        for (const char* k : {"\\A\\B", "\\A", "\\Leaf\\Child", "\\Leaf", "\\Kinds", ""})
            platform::RegistryDeleteKey(RegistryRoot::CurrentUser, kBase + k);
        platform::RegistryDeleteKey(RegistryRoot::ClassesRoot, "SkiplaneTest");
        platform::RegistryDeleteKey(RegistryRoot::CurrentConfig, kBase);
        platform::RegistryDeleteKey(RegistryRoot::LocalMachine, kBase);
        platform::RegistryDeleteKey(RegistryRoot::Users, ".DEFAULT\\" + kBase);
    }
};

TEST_F(StorageRegistry, ValueKindsAsStored) {
    struct Case {
        const char* name;
        sk::RegistryValue value;
        std::optional<Stored> stored;  // nullopt: nothing written, result false
    };
    const Case cases[] = {
        {"int", std::int32_t{-5}, Stored{kRegDword, B({0xFB, 0xFF, 0xFF, 0xFF})}},
        {"int_big", std::int32_t{0x12345678},
         Stored{kRegDword, B({0x78, 0x56, 0x34, 0x12})}},
        {"number", 2.9, Stored{kRegDword, B({2, 0, 0, 0})}},
        {"negative_number", -2.9, Stored{kRegDword, B({0xFE, 0xFF, 0xFF, 0xFF})}},
        {"text", Text("C:\\a b\\Skiplane.exe"),
         Stored{kRegSz, B({'C', ':', '\\', 'a', ' ', 'b', '\\', 'S', 'k', 'i', 'p', 'l',
                                     'a', 'n', 'e', '.', 'e', 'x', 'e', 0})}},
        {"chinese_text", Text("\xD6\xD0\xCE\xC4"),
         Stored{kRegSz, B({0xD6, 0xD0, 0xCE, 0xC4, 0})}},
        {"empty_text", Text(), Stored{kRegSz, B({0})}},
        {"bytes", B({0, 1, 0xFF}), Stored{kRegBinary, B({0, 1, 0xFF})}},
        {"empty_bytes", Bytes(), Stored{kRegBinary, Bytes()}},
        {"logical", true, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const bool ok = sk::WriteRegistryValue(kHkcu, kBase + "\\Kinds\\" + c.name, c.value);
        EXPECT_EQ(ok, c.stored.has_value());
        EXPECT_EQ(Query(RegistryRoot::CurrentUser, kBase + "\\Kinds", c.name), c.stored);
    }
}

TEST_F(StorageRegistry, LogicalStillCreatesTheKeyButNoValue) {
    EXPECT_FALSE(sk::WriteRegistryValue(kHkcu, kBase + "\\A\\flag", false));
    EXPECT_TRUE(platform::RegistryKeyExists(RegistryRoot::CurrentUser, kBase + "\\A"));
    EXPECT_EQ(Query(RegistryRoot::CurrentUser, kBase + "\\A", "flag"), std::nullopt);
}

TEST_F(StorageRegistry, WriteCreatesIntermediateKeysAndOverwrites) {
    EXPECT_TRUE(sk::WriteRegistryValue(kHkcu, kBase + "\\A\\B\\Skiplane", Text("one")));
    EXPECT_TRUE(platform::RegistryKeyExists(RegistryRoot::CurrentUser, kBase + "\\A"));
    EXPECT_TRUE(sk::WriteRegistryValue(kHkcu, kBase + "\\a\\b\\SKIPLANE", std::int32_t{7}));
    EXPECT_EQ(Query(RegistryRoot::CurrentUser, kBase + "\\A\\B", "Skiplane"),
              (Stored{kRegDword, B({7, 0, 0, 0})}));
}

TEST_F(StorageRegistry, RootCodes) {
    struct Case { int code; RegistryRoot root; std::string key; };
    const Case cases[] = {
        {3, RegistryRoot::CurrentUser, kBase},
        {0, RegistryRoot::CurrentUser, kBase},
        {6, RegistryRoot::CurrentUser, kBase},
        {-1, RegistryRoot::CurrentUser, kBase},
        {1, RegistryRoot::ClassesRoot, "SkiplaneTest"},
        {2, RegistryRoot::CurrentConfig, kBase},
        {4, RegistryRoot::LocalMachine, kBase},
        {5, RegistryRoot::Users, ".DEFAULT\\" + kBase},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        const std::string name = "root" + std::to_string(c.code);
        ASSERT_TRUE(sk::WriteRegistryValue(c.code, c.key + "\\" + name, std::int32_t{c.code}));
        EXPECT_EQ(Query(c.root, c.key, name),
                  (Stored{kRegDword, B({c.code & 0xFF, c.code < 0 ? 0xFF : 0,
                                                  c.code < 0 ? 0xFF : 0, c.code < 0 ? 0xFF : 0})}));
        EXPECT_TRUE(sk::DeleteRegistryValue(c.code, c.key + "\\" + name));
        EXPECT_EQ(Query(c.root, c.key, name), std::nullopt);
    }
}

TEST_F(StorageRegistry, PathWithoutBackslashNamesValueUnderRoot) {
    const std::string name = "SkiplaneTestValue";
    EXPECT_TRUE(sk::WriteRegistryValue(kHkcu, name, Text("x")));
    EXPECT_EQ(Query(RegistryRoot::CurrentUser, "", name), (Stored{kRegSz, B({'x', 0})}));
    EXPECT_TRUE(sk::DeleteRegistryValue(kHkcu, name));
    EXPECT_EQ(Query(RegistryRoot::CurrentUser, "", name), std::nullopt);
    EXPECT_FALSE(sk::DeleteRegistryValue(kHkcu, name));
}

TEST_F(StorageRegistry, DeleteValueKeepsItsKey) {
    ASSERT_TRUE(sk::WriteRegistryValue(kHkcu, kBase + "\\A\\Skiplane", Text("C:\\s.exe")));
    ASSERT_TRUE(sk::WriteRegistryValue(kHkcu, kBase + "\\A\\Other", Text("o")));
    EXPECT_TRUE(sk::DeleteRegistryValue(kHkcu, kBase + "\\A\\skiplane"));
    EXPECT_EQ(Query(RegistryRoot::CurrentUser, kBase + "\\A", "Skiplane"), std::nullopt);
    EXPECT_EQ(Query(RegistryRoot::CurrentUser, kBase + "\\A", "Other"),
              (Stored{kRegSz, B({'o', 0})}));
    EXPECT_TRUE(platform::RegistryKeyExists(RegistryRoot::CurrentUser, kBase + "\\A"));
}

TEST_F(StorageRegistry, DeleteFallsBackToKeyWithoutSubkeys) {
    // No value "Leaf" in SkiplaneTest, but a key of that name with a value and no subkeys.
    ASSERT_TRUE(sk::WriteRegistryValue(kHkcu, kBase + "\\Leaf\\v", std::int32_t{1}));
    EXPECT_TRUE(sk::DeleteRegistryValue(kHkcu, kBase + "\\Leaf"));
    EXPECT_FALSE(platform::RegistryKeyExists(RegistryRoot::CurrentUser, kBase + "\\Leaf"));
    EXPECT_TRUE(platform::RegistryKeyExists(RegistryRoot::CurrentUser, kBase));
}

TEST_F(StorageRegistry, DeleteOfKeyWithSubkeysOrNothingFails) {
    ASSERT_TRUE(sk::WriteRegistryValue(kHkcu, kBase + "\\Leaf\\Child\\v", std::int32_t{1}));
    EXPECT_FALSE(sk::DeleteRegistryValue(kHkcu, kBase + "\\Leaf"));
    EXPECT_TRUE(platform::RegistryKeyExists(RegistryRoot::CurrentUser, kBase + "\\Leaf\\Child"));
    EXPECT_FALSE(sk::DeleteRegistryValue(kHkcu, kBase + "\\Leaf\\missing"));
    EXPECT_FALSE(sk::DeleteRegistryValue(kHkcu, kBase + "\\Nowhere\\missing"));
}

#ifndef _WIN32
TEST_F(StorageRegistry, HeadlessOnly_KeysListedAndReset) {
    platform::hooks::ResetRegistry();
    ASSERT_TRUE(sk::WriteRegistryValue(
        4, "software\\microsoft\\windows\\CurrentVersion\\Run\\Skiplane",
        Text("C:\\Skiplane.exe")));
    EXPECT_EQ(platform::hooks::RegistryKeys(RegistryRoot::LocalMachine),
              (std::vector<std::string>{"software", "software\\microsoft",
                                        "software\\microsoft\\windows",
                                        "software\\microsoft\\windows\\CurrentVersion",
                                        "software\\microsoft\\windows\\CurrentVersion\\Run"}));
    EXPECT_TRUE(platform::hooks::RegistryKeys(RegistryRoot::CurrentUser).empty());
    platform::hooks::ResetRegistry();
    EXPECT_TRUE(platform::hooks::RegistryKeys(RegistryRoot::LocalMachine).empty());
}

TEST_F(StorageRegistry, HeadlessOnly_WithoutRightsNothingChanges) {
    ASSERT_TRUE(sk::WriteRegistryValue(kHkcu, kBase + "\\A\\v", std::int32_t{1}));
    platform::hooks::SetRegistryWritable(false);
    EXPECT_FALSE(sk::WriteRegistryValue(kHkcu, kBase + "\\A\\v", std::int32_t{2}));
    EXPECT_FALSE(sk::WriteRegistryValue(kHkcu, kBase + "\\New\\v", std::int32_t{2}));
    EXPECT_FALSE(sk::DeleteRegistryValue(kHkcu, kBase + "\\A\\v"));
    EXPECT_FALSE(platform::RegistryKeyExists(RegistryRoot::CurrentUser, kBase + "\\New"));
    platform::hooks::SetRegistryWritable(true);
    EXPECT_EQ(Query(RegistryRoot::CurrentUser, kBase + "\\A", "v"),
              (Stored{kRegDword, B({1, 0, 0, 0})}));
}
#endif

}  // namespace
