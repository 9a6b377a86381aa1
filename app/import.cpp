// A node given as the kcptun client's own JSON config: taken from dropped .json files and from
// the clipboard (Ctrl+V in the list), and given back to the clipboard (Ctrl+C in the list).
#include "app/app.h"
#include "app/config.h"
#include "platform/clipboard.h"
#include "platform/codepage.h"
#include "services/kcptun_json.h"
#include "services/runtime.h"
#include "services/storage.h"

namespace app {

using ui::Ctl;

namespace {

constexpr std::size_t kMaxConfigSize = 64 * 1024;

sk::SharedWindows SharedWindowsShown() {
    return {ui::Content(Ctl::编辑框_mtu), ui::Content(Ctl::编辑框_sndwnd),
            ui::Content(Ctl::编辑框_rcvwnd)};
}

Text RefusalOf(const sk::ImportedConfig& r, const Text& source) {
    // Between the source and the key, after the key; the syntax error's line goes between.
    static const char* const kTexts[][2] = {
        {"", ""},
        {" 不是 kcptun 客户端配置（第 ", " 行附近有语法错误）。"},
        {" 不是 kcptun 客户端配置（不是 JSON 对象）。", ""},
        {" 不是 kcptun 客户端配置（", " 的类型不对）。"},
        {"：缺少 remoteaddr。", ""},
        {"：remoteaddr 的格式应为 主机:端口。", ""},
        {"：key 为空（留空的验证密匙表示客户端的默认密钥）。", ""},
        {"：", " 含有不能用于命令行的字符。"},
        {"：", " 含有当前系统编码无法表示的字符。"},
    };
    const auto& t = kTexts[static_cast<int>(r.error)];
    const bool named = *t[1] != '\0';
    return sk::JoinText("导入失败：", source, t[0],
                        !named ? Text() : r.error == sk::ConfigError::Syntax ? sk::ToText(r.line) : r.key,
                        t[1]);
}

// Appended, selected, filled and saved, as 新建 and 保存配置 would leave it; only its section and
// the count are written. A node that does not reach the file does not enter the list.
bool AddNode(const sk::NodeFields& n) {
    const int position = ui::ListItemCount(Ctl::列表框_列表);
    {
        ConfigWritesTogether together;
        WriteConfig("NodeList", "Quantity", sk::ToText(position + 1));
        const Text section = NodeSection(position);
        const Text mode = sk::ToText(n.mode);
        const std::pair<const char*, const Text*> values[] = {
            {"remarks", &n.remarks}, {"local_port", &n.localPort}, {"server_port", &n.serverPort},
            {"server", &n.server},   {"key", &n.key},              {"mode", &mode},
            {"dscp", &n.dscp},       {"other", &n.other}};
        for (const auto& v : values) WriteConfig(section, v.first, *v.second);
        if (!together.Land()) return false;
    }
    ui::ListAddItem(Ctl::列表框_列表, NodeListText(n.remarks, n.server, n.serverPort));
    ui::SetSelection(Ctl::列表框_列表, position);
    LoadSelectedNode();
    return true;
}

void Import(std::string_view utf8, const Text& source, const Text& defaultRemarks) {
    sk::ImportedConfig r;
    if (utf8.size() > kMaxConfigSize)
        r.error = sk::ConfigError::NotObject;
    else
        r = sk::ReadClientConfig(utf8, SharedWindowsShown());
    if (r.error != sk::ConfigError::None) {
        sk::ShowMessageBox(RefusalOf(r, source));
        return;
    }
    if (!r.hasRemarks) r.node.remarks = defaultRemarks;
    if (!AddNode(r.node) || r.leftOut.empty()) return;
    Text keys;
    for (const Text& k : r.leftOut) keys = sk::JoinText(keys, keys.empty() ? "" : "、", k);
    sk::ShowMessageBox(sk::JoinText("已导入。以下设置未导入：", keys));
}

// The part after the last backslash or slash; a double-byte character's second byte is none.
Text FileNameOf(const Text& path) {
    std::size_t start = 0;
    for (std::size_t i = 0; i < path.size(); ++i) {
        if (platform::IsGbkLeadByte(path[i])) ++i;
        else if (path[i] == '\\' || path[i] == '/') start = i + 1;
    }
    return path.substr(start);
}

bool IsJsonName(const Text& path) {
    return path.size() >= 5 && sk::ToLower(path.substr(path.size() - 5)) == ".json";
}

void ImportFile(const Text& path) {
    const Text name = FileNameOf(path);
    const sk::Bytes bytes = sk::ReadFileBytes(path);
    if (bytes.empty() && !sk::FileExists(path)) {
        sk::ShowMessageBox(sk::JoinText("导入失败：", name, " 无法读取。"));
        return;
    }
    Import(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()), name,
           name.substr(0, name.size() - 5));
}

}  // namespace

bool ImportDroppedConfigs(const Text& paths) {
    // One file comes as its path; several each end in CR LF.
    std::vector<Text> configs;
    for (std::size_t start = 0; start < paths.size();) {
        std::size_t end = paths.find("\r\n", start);
        if (end == Text::npos) end = paths.size();
        const Text path = paths.substr(start, end - start);
        if (IsJsonName(path)) configs.push_back(path);
        start = end + 2;
    }
    for (const Text& path : configs) ImportFile(path);
    return !configs.empty();
}

void PasteNode() {
    std::u16string text;
    if (!platform::ReadClipboardText(text)) return;
    Import(sk::Utf8FromUtf16(text), "剪贴板内容", "导入的节点");
}

void CopyNode() {
    if (ui::Selection(Ctl::列表框_列表) == -1) return;
    sk::NodeFields n;
    n.remarks = ui::Content(Ctl::编辑框_备注说明);
    n.localPort = ui::Content(Ctl::编辑框_本地端口);
    n.server = ui::Content(Ctl::编辑框_加速IP);
    n.serverPort = ui::Content(Ctl::编辑框_加速端口);
    n.key = ui::Content(Ctl::编辑框_验证密匙);
    n.dscp = ui::Content(Ctl::编辑框_dscp);
    n.other = ui::Content(Ctl::编辑框_其他参数);
    n.mode = ui::Selection(Ctl::组合框_加速模式);
    platform::WriteClipboardText(sk::Utf16FromUtf8(sk::WriteClientConfig(n, SharedWindowsShown())));
}

}  // namespace app
