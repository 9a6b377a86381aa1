// A node in the client's own JSON config: dropped files, Ctrl+V and Ctrl+C in the list. The
// JSON is UTF-8 (hex for non-ASCII); the window's texts are GBK.
#include <fstream>

#include "app/config.h"
#include "platform/codepage.h"
#include "platform/headless/files_hooks.h"
#include "services/kcptun_json.h"
#include "tests/scenarios/harness.h"

namespace scenario {
namespace {

class Import : public AppTest {
protected:
    void Write(const std::string& name, const std::string& bytes) const {
        std::ofstream(dir_ + "/" + name, std::ios::binary) << bytes;
    }
    std::vector<std::string> Shown() const {
        std::vector<std::string> texts;
        for (const auto& box : headless::MessageBoxes()) texts.push_back(box.text);
        return texts;
    }
};

std::u16string Utf16(const std::string& utf8) {
    std::u16string units;
    platform::Utf16FromUtf8(utf8, units);
    return units;
}

const char kOneNode[] =
    "[NodeList]\r\nQuantity=1\r\n[Node1]\r\nremarks=HK\r\nlocal_port=1080\r\nserver_port=29900\r\n"
    "server=1.2.3.4\r\nkey=\r\nmode=3\r\ndscp=\r\nother=\r\n"
    "[BroadbandConfig]\r\nUP=\r\nDOWN=\r\nMtu=1350\r\nSndwnd=128\r\nRcvwnd=512\r\n";

// Each .json file in order, each with its own message; the other files and the client path are
// left alone; the write is the node's section and the count, nothing else.
TEST_F(Import, DroppedConfigsBecomeNodesOneByOne) {
    GivenConfig(kOneNode);
    Start();
    Retype(Ctl::编辑框_mtu, "1400");  // an unsaved shared edit stays unsaved
    Write("hk.JSON", "{\"remoteaddr\": \"5.6.7.8:4000\", \"crypt\": \"none\", \"log\": \"a\", "
                     "\"x\": 1, \"mtu\": 1350}");
    Write("bad.json", "{\"remoteaddr\": \"5.6.7.8:4000\",\n}");
    headless::DropFiles({WinDir() + "client.exe", WinDir() + "hk.JSON", WinDir() + "bad.json",
                         WinDir() + "gone.json"});
    EXPECT_EQ(Shown(), (std::vector<std::string>{
                           "已导入。以下设置未导入：log、x",
                           "导入失败：bad.json 不是 kcptun 客户端配置（第 2 行附近有语法错误）。",
                           "导入失败：gone.json 无法读取。"}));
    EXPECT_EQ(Field(Ctl::编辑框_目录), "");
    EXPECT_EQ(Items(), 2);
    EXPECT_EQ(Item(1), "hk(5.6.7.8:4000)");
    EXPECT_EQ(Selected(), 1);
    EXPECT_FALSE(ui::Disabled(Ctl::编辑框_其他参数));
    EXPECT_EQ(Field(Ctl::编辑框_其他参数), "-crypt none -mtu 1350");  // against the field shown
    EXPECT_EQ(Field(Ctl::编辑框_本地端口), "12948");
    EXPECT_EQ(Field(Ctl::组合框_加速模式), "fast");
    EXPECT_EQ(Config(),
              "[NodeList]\r\nQuantity=2\r\n[Node1]\r\nremarks=HK\r\nlocal_port=1080\r\n"
              "server_port=29900\r\nserver=1.2.3.4\r\nkey=\r\nmode=3\r\ndscp=\r\nother=\r\n"
              "[BroadbandConfig]\r\nUP=\r\nDOWN=\r\nMtu=1350\r\nSndwnd=128\r\nRcvwnd=512\r\n"
              "[Node2]\r\nremarks=hk\r\nlocal_port=12948\r\nserver_port=4000\r\nserver=5.6.7.8\r\n"
              "key=\r\nmode=2\r\ndscp=\r\nother=-crypt none -mtu 1350\r\n");
}

// Copy gives the client's config on the clipboard in both formats; pasting it back gives a node
// that copies to the same bytes and starts the client the same way.
TEST_F(Import, CopyThenPasteThenCopy) {
    GivenConfig(kOneNode);
    Start();
    headless::SelectItem(Ctl::列表框_列表, 0);
    Retype(Ctl::编辑框_备注说明, "香港");
    Retype(Ctl::编辑框_其他参数, "-nocomp -conn 2 -bogus");
    headless::PressControlKey(Ctl::列表框_列表, 'C');
    const std::string json =
        "{\r\n  \"localaddr\": \":1080\",\r\n  \"remoteaddr\": \"1.2.3.4:29900\",\r\n"
        "  \"mode\": \"fast2\",\r\n  \"mtu\": 1350,\r\n  \"sndwnd\": 128,\r\n  \"rcvwnd\": 512,\r\n"
        "  \"nocomp\": true,\r\n  \"conn\": 2,\r\n  \"skiplane_other\": \"-bogus\",\r\n"
        "  \"remarks\": \"\xE9\xA6\x99\xE6\xB8\xAF\"\r\n}\r\n";
    EXPECT_EQ(headless::ClipboardUnicode(), Utf16(json));
    std::string ansi = json;
    ansi.replace(ansi.find("\xE9\xA6\x99\xE6\xB8\xAF"), 6, "香港");
    EXPECT_EQ(headless::ClipboardAnsi(), ansi);

    headless::PressControlKey(Ctl::列表框_列表, 'V');
    EXPECT_TRUE(headless::MessageBoxes().empty());
    EXPECT_EQ(Item(1), "香港(1.2.3.4:29900)");
    EXPECT_EQ(Field(Ctl::编辑框_其他参数), "-nocomp -conn 2 -bogus");
    headless::SetClipboard(std::nullopt);
    headless::PressControlKey(Ctl::列表框_列表, 'C');
    EXPECT_EQ(headless::ClipboardUnicode(), Utf16(json));
}

TEST_F(Import, ClipboardRefusalsAndDefaults) {
    Start();
    headless::SetClipboard(u"not json");
    headless::PressControlKey(Ctl::列表框_列表, 'V');
    headless::SetClipboard(u"{\"remoteaddr\": \"h:1\", \"key\": \"\"}");
    headless::PressControlKey(Ctl::列表框_列表, 'V');
    headless::SetClipboard(u"{\"remoteaddr\": \"h:1\", \"crypt\": \"a&b\"}");
    headless::PressControlKey(Ctl::列表框_列表, 'V');
    headless::SetClipboard(u"{\"remoteaddr\": \"h:1\", \"remarks\": \"\U0001F600\"}");
    headless::PressControlKey(Ctl::列表框_列表, 'V');
    EXPECT_EQ(Shown(), (std::vector<std::string>{
                           "导入失败：剪贴板内容 不是 kcptun 客户端配置（第 1 行附近有语法错误）。",
                           "导入失败：剪贴板内容：key 为空（留空的验证密匙表示客户端的默认密钥）。",
                           "导入失败：剪贴板内容：crypt 含有不能用于命令行的字符。",
                           "导入失败：剪贴板内容：remarks 含有当前系统编码无法表示的字符。"}));
    EXPECT_EQ(Items(), 0);
    EXPECT_FALSE(ConfigExists());

    headless::SetClipboard(u"{\"remoteaddr\": \"h:1\"}");
    headless::PressControlKey(Ctl::列表框_列表, 'V');
    EXPECT_EQ(Item(0), "导入的节点(h:1)");
}

// A node that cannot reach the file does not enter the list, as with 新建.
TEST_F(Import, AFailedWriteKeepsTheListAsTheFileHasIt) {
    GivenConfig(kOneNode);
    Start();
    headless::SelectItem(Ctl::列表框_列表, 0);
    const platform::FileHandle held =
        platform::HoldFile(ConfigFile(), platform::kRead | platform::kWrite, platform::kRead);
    headless::SetClipboard(u"{\"remoteaddr\": \"h:1\"}");
    headless::PressControlKey(Ctl::列表框_列表, 'V');
    EXPECT_EQ(Shown(), std::vector<std::string>{app::kConfigInUseMessage});
    EXPECT_EQ(Items(), 1);
    EXPECT_EQ(Selected(), 0);
    platform::ReleaseHeldFile(held);
    EXPECT_EQ(Config(), kOneNode);
}

}  // namespace
}  // namespace scenario
