// The node list, the node fields, the bandwidth group and the client path.
#include "app/app.h"
#include "app/config.h"
#include "services/runtime.h"

namespace app {

using ui::Ctl;
using ui::Menu;

namespace {

// The seven node edit boxes, in the order the file stores them.
constexpr Ctl kNodeEdits[] = {Ctl::编辑框_备注说明, Ctl::编辑框_加速IP, Ctl::编辑框_本地端口,
                              Ctl::编辑框_加速端口, Ctl::编辑框_验证密匙, Ctl::编辑框_其他参数,
                              Ctl::编辑框_dscp};

void EnableNodeFields(bool enabled) {
    for (Ctl c : kNodeEdits) ui::SetDisabled(c, !enabled);
    ui::SetDisabled(Ctl::组合框_加速模式, !enabled);
    ui::SetDisabled(Ctl::选择框_验证密匙, !enabled);
}

// Window size derived from a bandwidth in Mbps: integer part times 20.48, toward zero.
Text WindowFromBandwidth(Ctl bandwidth) {
    return sk::ToText(sk::ToInteger(sk::ToInteger(ui::Content(bandwidth)) * 20.48));
}

}  // namespace

void LoadSelectedNode() {
    const int s = ui::Selection(Ctl::列表框_列表);
    if (s == -1) {
        for (Ctl c : kNodeEdits) ui::SetContent(c, "");
        EnableNodeFields(false);
        ui::SetSelection(Ctl::组合框_加速模式, 3);
        return;
    }
    EnableNodeFields(true);
    const ConfigReadOnce readOnce;
    const Text section = NodeSection(s);
    ui::SetContent(Ctl::编辑框_备注说明, ReadConfig(section, "remarks"));
    ui::SetContent(Ctl::编辑框_本地端口, ReadConfig(section, "local_port"));
    ui::SetContent(Ctl::编辑框_加速端口, ReadConfig(section, "server_port"));
    ui::SetContent(Ctl::编辑框_加速IP, ReadConfig(section, "server"));
    ui::SetContent(Ctl::编辑框_验证密匙, ReadConfig(section, "key"));
    ui::SetSelection(Ctl::组合框_加速模式, sk::ToInteger(ReadConfig(section, "mode", Text("3"))));
    ui::SetContent(Ctl::编辑框_dscp, ReadConfig(section, "dscp"));
    ui::SetContent(Ctl::编辑框_其他参数, ReadConfig(section, "other"));
}

namespace {
// SaveSettings; false when the node's values did not reach the file, and its list text then
// stays as the file has it.
bool SaveNode() {
    const int s = ui::Selection(Ctl::列表框_列表);
    if (s == -1) return true;
    ConfigWritesTogether together;  // a saved node is whole in the file, or not there
    WriteConfig("NodeList", "Quantity", sk::ToText(ui::ListItemCount(Ctl::列表框_列表)));
    const Text section = NodeSection(s);
    WriteConfig(section, "remarks", ui::Content(Ctl::编辑框_备注说明));
    WriteConfig(section, "local_port", ui::Content(Ctl::编辑框_本地端口));
    WriteConfig(section, "server_port", ui::Content(Ctl::编辑框_加速端口));
    WriteConfig(section, "server", ui::Content(Ctl::编辑框_加速IP));
    WriteConfig(section, "key", ui::Content(Ctl::编辑框_验证密匙));
    WriteConfig(section, "mode", sk::ToText(ui::Selection(Ctl::组合框_加速模式)));
    WriteConfig(section, "dscp", ui::Content(Ctl::编辑框_dscp));
    WriteConfig(section, "other", ui::Content(Ctl::编辑框_其他参数));
    WriteConfig("BroadbandConfig", "UP", ui::Content(Ctl::编辑框_上传宽带));
    WriteConfig("BroadbandConfig", "DOWN", ui::Content(Ctl::编辑框_下载宽带));
    WriteConfig("BroadbandConfig", "Mtu", ui::Content(Ctl::编辑框_mtu));
    WriteConfig("BroadbandConfig", "Sndwnd", ui::Content(Ctl::编辑框_sndwnd));
    WriteConfig("BroadbandConfig", "Rcvwnd", ui::Content(Ctl::编辑框_rcvwnd));
    // Taken now: a click handled while the save waits for the file may show another node.
    const Text listText = NodeListText(ui::Content(Ctl::编辑框_备注说明),
                                       ui::Content(Ctl::编辑框_加速IP),
                                       ui::Content(Ctl::编辑框_加速端口));
    if (!together.Land()) return false;
    ui::ListSetItemText(Ctl::列表框_列表, s, listText);
    return true;
}
}  // namespace

void SaveSettings() { SaveNode(); }

void NewNode() {
    const int before = ui::Selection(Ctl::列表框_列表);
    const int index = ui::ListAddItem(Ctl::列表框_列表, "127.0.0.1:2333");
    ui::SetSelection(Ctl::列表框_列表, index);
    for (Ctl c : {Ctl::编辑框_备注说明, Ctl::编辑框_本地端口, Ctl::编辑框_验证密匙,
                  Ctl::编辑框_其他参数, Ctl::编辑框_dscp})
        ui::SetContent(c, "");
    EnableNodeFields(true);
    ui::SetContent(Ctl::编辑框_加速IP, "127.0.0.1");
    ui::SetContent(Ctl::编辑框_加速端口, "2333");
    if (SaveNode()) return;  // the mode stays what the list showed
    // Not in the file: neither in the list. The node shown before comes back as the file has it.
    ui::ListDeleteItem(Ctl::列表框_列表, index);
    ui::SetSelection(Ctl::列表框_列表, before);
    LoadSelectedNode();
}

void DeleteNode() {
    const int d = ui::Selection(Ctl::列表框_列表);
    if (d == -1) return;
    if (sk::ShowMessageBox("确定删除此节点？", sk::kMbYesNo) != sk::kYes) return;
    const int countBefore = ui::ListItemCount(Ctl::列表框_列表);
    bool deleted;
    {
        // The section's removal, the new count and the renumbering land together: a kill in
        // between would leave a count that hides the last node.
        ConfigWritesTogether together;
        DeleteConfigSection(NodeSection(d));
        WriteConfig("NodeList", "Quantity", sk::ToText(countBefore - 1));
        if (d < countBefore - 1) {
            ui::SetDisabled(Ctl::列表框_列表, true);
            RenumberNodeSections(d, countBefore);
        }
        deleted = together.Land();
    }
    ui::SetDisabled(Ctl::列表框_列表, false);
    if (!deleted) return;  // still in the file: the node stays in the list, selected
    ui::ListDeleteItem(Ctl::列表框_列表, d);
    ui::SetSelection(Ctl::列表框_列表, -1);
    LoadSelectedNode();
}

void ToggleKeyVisible() {
    ui::SetInputMode(Ctl::编辑框_验证密匙, ui::Checked(Ctl::选择框_验证密匙)
                                               ? ui::InputMode::Normal
                                               : ui::InputMode::Password);
}

void UpdateSendWindow() {
    ui::SetContent(Ctl::编辑框_sndwnd, WindowFromBandwidth(Ctl::编辑框_上传宽带));
}

void UpdateReceiveWindow() {
    ui::SetContent(Ctl::编辑框_rcvwnd, WindowFromBandwidth(Ctl::编辑框_下载宽带));
}

void BrowseForClient() {
    if (!ui::FileDialogOpen(Ctl::通用对话框_目录)) return;
    ui::SetContent(Ctl::编辑框_目录, ui::DialogFileName(Ctl::通用对话框_目录));
    SetClientPath();
}

void OnClientDropped(const Text& paths) {
    if (ImportDroppedConfigs(paths)) return;  // a config is never the client
    ui::SetContent(Ctl::编辑框_目录, paths);
    SetClientPath();
}

void SetClientPath() {
    const Text path = ui::Content(Ctl::编辑框_目录);
    SplitClientPath(path);
    ui::SetMenuDisabled(Menu::打开日志, false);
    WriteConfig("BasisConfig", "ExeFile", path);
}

}  // namespace app
