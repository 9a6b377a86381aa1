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

// Where a node's texts are shown and stored, in the order of its section.
struct NodePlace {
    Text sk::NodeFields::*field;
    Ctl edit;
    const char* key;
};
const NodePlace kNodePlaces[] = {
    {&sk::NodeFields::remarks, Ctl::编辑框_备注说明, "remarks"},
    {&sk::NodeFields::localPort, Ctl::编辑框_本地端口, "local_port"},
    {&sk::NodeFields::serverPort, Ctl::编辑框_加速端口, "server_port"},
    {&sk::NodeFields::server, Ctl::编辑框_加速IP, "server"},
    {&sk::NodeFields::key, Ctl::编辑框_验证密匙, "key"},
    {&sk::NodeFields::dscp, Ctl::编辑框_dscp, "dscp"},  // after "mode"
    {&sk::NodeFields::other, Ctl::编辑框_其他参数, "other"},
};

sk::SharedWindows SharedWindowsShown() {
    return {ui::Content(Ctl::编辑框_mtu), ui::Content(Ctl::编辑框_sndwnd),
            ui::Content(Ctl::编辑框_rcvwnd)};
}

// "导入失败：" and what follows the source, in a message box.
void ShowFailure(std::string_view source, std::string_view text, std::string_view detail = {},
                 std::string_view end = {}) {
    Text message = "导入失败：";
    for (std::string_view piece : {source, text, detail, end})
        message.append(piece.data(), piece.size());
    sk::ShowMessageBox(message);
}

void ShowRefusal(const sk::ImportedConfig& r, std::string_view source) {
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
    const Text line = sk::ToText(r.line);
    std::string_view named;  // the line or the key, where the text names one
    if (*t[1]) named = r.error == sk::ConfigError::Syntax ? line : r.key;
    ShowFailure(source, t[0], named, t[1]);
}

// Appended, selected, filled and saved, as 新建 and 保存配置 would leave it; only its section and
// the count are written. A node that does not reach the file does not enter the list.
bool AddNode(const sk::NodeFields& n) {
    const int position = ui::ListItemCount(Ctl::列表框_列表);
    {
        ConfigWritesTogether together;
        WriteConfig("NodeList", "Quantity", sk::ToText(position + 1));
        const Text section = NodeSection(position);
        for (const NodePlace& p : kNodePlaces) {
            if (p.field == &sk::NodeFields::dscp) WriteConfig(section, "mode", sk::ToText(n.mode));
            WriteConfig(section, p.key, n.*p.field);
        }
        if (!together.Land()) return false;
    }
    ui::ListAddItem(Ctl::列表框_列表, NodeListText(n.remarks, n.server, n.serverPort));
    ui::SetSelection(Ctl::列表框_列表, position);
    LoadSelectedNode();
    return true;
}

void Import(std::string_view utf8, std::string_view source, std::string_view defaultRemarks) {
    // A text over the size is no config: read as what it is then taken for, no object.
    sk::ImportedConfig r =
        sk::ReadClientConfig(utf8.size() > kMaxConfigSize ? "[]" : utf8, SharedWindowsShown());
    if (r.error != sk::ConfigError::None) {
        ShowRefusal(r, source);
        return;
    }
    if (!r.hasRemarks) r.node.remarks.append(defaultRemarks);  // empty until then
    if (!AddNode(r.node) || r.leftOut.empty()) return;
    sk::ShowMessageBox(r.leftOut.insert(0, "已导入。以下设置未导入："));
}

// The part after the last backslash or slash; a double-byte character's second byte is none.
std::string_view FileNameOf(std::string_view path) {
    std::size_t start = 0;
    for (std::size_t i = 0; i < path.size(); ++i) {
        if (platform::IsGbkLeadByte(path[i])) ++i;
        else if (path[i] == '\\' || path[i] == '/') start = i + 1;
    }
    path.remove_prefix(start);
    return path;
}

bool IsJsonName(std::string_view path) {
    if (path.size() < 5) return false;
    const char* const end = path.data() + path.size() - 5;
    for (int i = 0; i < 5; ++i)
        if ((end[i] | (i ? 0x20 : 0)) != ".json"[i]) return false;  // letters in either case
    return true;
}

void ImportFile(std::string_view path) {
    const std::string_view name = FileNameOf(path);
    const sk::Bytes bytes = sk::ReadFileBytes(path);
    if (bytes.empty() && !sk::FileExists(path)) {
        ShowFailure(name, " 无法读取。");
        return;
    }
    Import(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()), name,
           std::string_view(name.data(), name.size() - 5));  // without ".json"
}

}  // namespace

bool ImportDroppedConfigs(const Text& paths) {
    // One file comes as its path; several each end in CR LF.
    bool any = false;
    for (std::size_t start = 0; start < paths.size();) {
        std::size_t end = start;  // at the next CR LF, or the end (where the string holds a NUL)
        while (end < paths.size() && !(paths[end] == '\r' && paths[end + 1] == '\n')) ++end;
        const std::string_view path(paths.data() + start, end - start);
        start = end + 2;
        if (!IsJsonName(path)) continue;
        ImportFile(path);
        any = true;
    }
    return any;
}

void PasteNode() {
    std::string utf8;
    if (!platform::ReadClipboardText(utf8)) return;
    Import(utf8, "剪贴板内容", "导入的节点");
}

void CopyNode() {
    if (ui::Selection(Ctl::列表框_列表) == -1) return;
    sk::NodeFields n;
    for (const NodePlace& p : kNodePlaces) n.*p.field += ui::Content(p.edit);  // each starts empty
    n.mode = ui::Selection(Ctl::组合框_加速模式);
    platform::WriteClipboardText(sk::WriteClientConfig(n, SharedWindowsShown()));
}

}  // namespace app
