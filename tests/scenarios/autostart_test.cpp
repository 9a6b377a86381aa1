// Starting with Windows: the Run value, machine-wide or for this user, and Run in config.ini.
#include "tests/scenarios/harness.h"
#include "services/storage.h"

namespace scenario {
namespace {

using platform::RegistryRoot;

const char* const kRunKey = "software\\microsoft\\windows\\CurrentVersion\\Run";

// The Run value's text under a root, or nullopt without one.
std::optional<std::string> RunValue(RegistryRoot root) {
    std::uint32_t type = 0;
    platform::ByteVector data;
    if (!platform::RegistryQueryValue(root, kRunKey, "Skiplane", type, data)) return std::nullopt;
    EXPECT_EQ(type, static_cast<std::uint32_t>(platform::RegistryType::Sz));
    return std::string(data.begin(), data.end()).c_str();  // up to the terminating zero
}

using Autostart = AppTest;

TEST_F(Autostart, TickingWritesTheExecutablesPathAndClearingRemovesItFromBothKeys) {
    const std::string exe = WinDir() + "Skiplane.exe";
    Start();
    headless::Click(Ctl::选择框_开机启动);
    EXPECT_EQ(RunValue(RegistryRoot::LocalMachine), exe);
    EXPECT_EQ(RunValue(RegistryRoot::CurrentUser), std::nullopt);
    EXPECT_EQ(Config(), "[BasisConfig]\r\nRun=true\r\n");

    // A value made by hand, or by an earlier copy elsewhere, goes as well.
    ASSERT_TRUE(sk::WriteRegistryValue(3, std::string(kRunKey) + "\\Skiplane", sk::Text("x.exe")));
    headless::Click(Ctl::选择框_开机启动);
    EXPECT_EQ(RunValue(RegistryRoot::LocalMachine), std::nullopt);
    EXPECT_EQ(RunValue(RegistryRoot::CurrentUser), std::nullopt);
    EXPECT_EQ(Config(), "[BasisConfig]\r\nRun=false\r\n");
}

TEST_F(Autostart, AStaleValueIsRewrittenWithTheCurrentPath) {
    ASSERT_TRUE(sk::WriteRegistryValue(4, std::string(kRunKey) + "\\Skiplane",
                                       sk::Text("D:\\old\\Skiplane.exe")));
    GivenConfig("[BasisConfig]\r\nRun=true\r\n");
    Start();
    EXPECT_TRUE(ui::Checked(Ctl::选择框_开机启动));
    EXPECT_EQ(RunValue(RegistryRoot::LocalMachine), "D:\\old\\Skiplane.exe");  // not repaired
    headless::Click(Ctl::选择框_开机启动);
    headless::Click(Ctl::选择框_开机启动);
    EXPECT_EQ(RunValue(RegistryRoot::LocalMachine), WinDir() + "Skiplane.exe");
}

// With both values, Windows would start two copies at log-on.
TEST_F(Autostart, AMachineWideValueReplacesAnEarlierPerUserOne) {
    platform::hooks::SetMachineRegistryWritable(false);
    Start();
    headless::Click(Ctl::选择框_开机启动);
    headless::Click(Ctl::选择框_开机启动);
    ASSERT_TRUE(sk::WriteRegistryValue(sk::kCurrentUser, std::string(kRunKey) + "\\Skiplane",
                                       sk::Text("x.exe")));
    platform::hooks::SetMachineRegistryWritable(true);
    headless::Click(Ctl::选择框_开机启动);
    EXPECT_EQ(RunValue(RegistryRoot::LocalMachine), WinDir() + "Skiplane.exe");
    EXPECT_EQ(RunValue(RegistryRoot::CurrentUser), std::nullopt);
}

TEST_F(Autostart, WithoutAdministratorRightsTheUsersKeyIsUsed) {
    platform::hooks::SetMachineRegistryWritable(false);
    Start();
    headless::Click(Ctl::选择框_开机启动);
    EXPECT_EQ(RunValue(RegistryRoot::LocalMachine), std::nullopt);
    EXPECT_EQ(RunValue(RegistryRoot::CurrentUser), WinDir() + "Skiplane.exe");
    EXPECT_EQ(Config(), "[BasisConfig]\r\nRun=true\r\n");
    headless::Click(Ctl::选择框_开机启动);
    EXPECT_EQ(RunValue(RegistryRoot::CurrentUser), std::nullopt);
    EXPECT_EQ(Config(), "[BasisConfig]\r\nRun=false\r\n");
}

TEST_F(Autostart, APathWithBlanksIsQuoted) {
    std::filesystem::create_directory(dir_ + "/My Tools");
    std::string exe = dir_ + "/My Tools/Skiplane.exe";
    for (char& c : exe)
        if (c == '/') c = '\\';
    platform::hooks::SetModuleFileName(exe);
    Start();
    headless::Click(Ctl::选择框_开机启动);
    EXPECT_EQ(RunValue(RegistryRoot::LocalMachine), "\"" + exe + "\"");
}

}  // namespace
}  // namespace scenario
