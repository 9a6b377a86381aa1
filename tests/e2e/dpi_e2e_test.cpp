// The window at other scales: in a Wine session at 144 DPI (HighDpi*, CTest e2e_wine_144dpi),
// and told of a move to a monitor of another scale (WM_DPICHANGED) in the 96-DPI session.
// Every control must be where the window table puts it, scaled by DPI/96 and rounded.

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/e2e/driver.h"
#include "form/window_table.h"

using form::Ctl;
using form::Kind;

namespace {

// Windows' numbers (Microsoft's documentation of WM_DPICHANGED and WM_GETDPISCALEDSIZE).
constexpr UINT kDpiChanged = 0x02E0, kGetDpiScaledSize = 0x02E4;

int At(int dpi, int pixelsAt96) { return MulDiv(pixelsAt96, dpi, 96); }

// The stock GUI font at the screen's DPI, else its face at a height scaled to dpi.
HFONT GuiFontAt(int dpi) {
    auto stock = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
    LOGFONTA lf;
    if (dpi == e2e::ScreenDpi() || !GetObjectA(stock, sizeof lf, &lf)) return stock;
    lf.lfHeight = MulDiv(lf.lfHeight, dpi, e2e::ScreenDpi());
    return CreateFontIndirectA(&lf);
}

// The row height a list box of our own gets from the GUI font at dpi.
int ListRowAt(int dpi) {
    HWND list = CreateWindowExA(0, "ListBox", "", WS_POPUP, 0, 0, 100, 100, nullptr, nullptr,
                                GetModuleHandleA(nullptr), nullptr);
    HFONT font = GuiFontAt(dpi);
    SendMessageA(list, WM_SETFONT, reinterpret_cast<WPARAM>(font), 0);
    int h = static_cast<int>(SendMessageA(list, LB_GETITEMHEIGHT, 0, 0));
    DestroyWindow(list);
    if (font != GetStockObject(DEFAULT_GUI_FONT)) DeleteObject(font);
    return h;
}

// How far a caption reaches in the font selected into dc: its advance less the blank after its
// last character (a full-width colon is half blank).
int InkWidth(HDC dc, const char* caption) {
    wchar_t wide[256] = {};
    int n = MultiByteToWideChar(CP_ACP, 0, caption, -1, wide, 256) - 1;
    SIZE text{};
    ABC last{};
    if (n <= 0 || !GetTextExtentPoint32W(dc, wide, n, &text) ||
        !GetCharABCWidthsW(dc, wide[n - 1], wide[n - 1], &last))
        return 0;
    return text.cx - (last.abcC > 0 ? last.abcC : 0);
}

// Every control at the table's geometry scaled to dpi, and with it the list's rows, the combo
// box's list and the status bar's panels.
void ExpectLaidOutAt(const e2e::App& app, int dpi) {
    const SIZE client = app.ClientSize();
    for (const form::ControlDef& d : form::kControls) {
        if (d.kind == Kind::Window || d.kind == Kind::FileDialog || d.kind == Kind::DropTarget)
            continue;
        SCOPED_TRACE(testing::Message() << d.name << " at " << dpi << " DPI");
        const form::Rect t = form::ClientRect(d.id), got = app.RectInClient(d.id);
        if (d.kind == Kind::StatusBar) {
            EXPECT_EQ(got.left, 0);
            EXPECT_EQ(got.width, client.cx);
            EXPECT_EQ(got.top + got.height, client.cy);
            continue;
        }
        EXPECT_EQ(got.left, At(dpi, t.left));
        EXPECT_EQ(got.top, At(dpi, t.top));
        EXPECT_EQ(got.width, At(dpi, t.width));
        if (d.kind != Kind::ComboBox) {
            EXPECT_EQ(got.height, At(dpi, t.height));
        }
    }
    RECT dropped{};
    app.Send(Ctl::组合框_加速模式, CB_GETDROPPEDCONTROLRECT, 0, reinterpret_cast<LPARAM>(&dropped));
    EXPECT_GE(dropped.bottom - dropped.top, At(dpi, 160));
    EXPECT_EQ(app.ListItemHeight(Ctl::列表框_列表), ListRowAt(dpi) + At(dpi, 2));
    // Panel widths 150, 150 and the rest, scaled: right edges.
    EXPECT_EQ(app.StatusParts(), (std::vector<int>{At(dpi, 150), 2 * At(dpi, 150), -1}));
}

class DpiE2E : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = e2e::MakeTempDir("skiplane-dpi");
        ASSERT_TRUE(CopyFileA(e2e::SkiplanePath().c_str(), (dir_ + "\\Skiplane.exe").c_str(), FALSE));
        // A node with a Chinese remark, so that the list shows Chinese too.
        ASSERT_TRUE(e2e::WriteFileBytes(dir_ + "\\config.ini",
                                        e2e::Lines({"[NodeList]", "Quantity=1", "Current node=0",
                                                    "[Node1]", "remarks=香港节点",
                                                    "server=10.0.0.2", "server_port=4000"})));
        ASSERT_TRUE(app_.Start(dir_ + "\\Skiplane.exe", dir_));
        ASSERT_TRUE(app_.Sync());
    }
    void TearDown() override {
        app_.Kill();
        e2e::RemoveTree(dir_);
    }
    std::string dir_;
    e2e::App app_;
};

TEST_F(DpiE2E, AMoveToAnotherScaleLaysTheWindowOutForItAndBackExactly) {
    ASSERT_EQ(e2e::ScreenDpi(), 96);
    for (int dpi : {144, 120, 96}) {
        // The size Windows is to suggest, then the move with the rectangle it suggests.
        SIZE size{};
        EXPECT_TRUE(app_.SendWithData(Ctl::MainWindow, kGetDpiScaledSize, dpi, &size, sizeof size));
        EXPECT_EQ(size.cx, At(dpi, form::kWindowWidth));
        EXPECT_EQ(size.cy, At(dpi, form::kWindowHeight));
        RECT suggested{30, 20, 30 + size.cx, 20 + size.cy};
        app_.SendWithData(Ctl::MainWindow, kDpiChanged, MAKEWPARAM(dpi, dpi), &suggested,
                          sizeof suggested);
        const RECT r = app_.WindowRect();
        EXPECT_TRUE(EqualRect(&r, &suggested)) << r.left << "," << r.top << " " << r.right << "," << r.bottom;
        ExpectLaidOutAt(app_, dpi);
    }
}

TEST_F(DpiE2E, HighDpiWindowIsOneAndAHalfTimesTheTableWithNoCaptionCut) {
    ASSERT_EQ(e2e::ScreenDpi(), 144) << "a Wine session at LogPixels 144 (CTest e2e_wine_144dpi)";
    const RECT r = app_.WindowRect();
    EXPECT_EQ(r.right - r.left, 813);
    EXPECT_EQ(r.bottom - r.top, 702);
    EXPECT_EQ(r.left, (1024 - 813) / 2);
    EXPECT_EQ(r.top, (768 - 702) / 2);
    ExpectLaidOutAt(app_, 144);

    // Each label's and check box's caption fits its control in the GUI font (the stock one at
    // the screen's DPI, as the program's), give or take the pixel a glyph's outline is rounded
    // up to: "Sndwnd：" ends on its label's edge at 96 DPI already.
    HDC dc = GetDC(nullptr);
    HGDIOBJ old = SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
    for (const form::ControlDef& d : form::kControls) {
        if ((d.kind != Kind::Label && d.kind != Kind::CheckBox) || !*d.caption) continue;
        int box = d.kind == Kind::CheckBox ? GetSystemMetrics(SM_CXMENUCHECK) : 0;
        EXPECT_LE(box + InkWidth(dc, d.caption), app_.RectInClient(d.id).width + 1) << d.name;
    }
    SelectObject(dc, old);
    ReleaseDC(nullptr, dc);

    SendMessageTimeoutA(app_.Main(), WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 5000, nullptr);
    Sleep(500);  // let the window paint before it is photographed
    EXPECT_TRUE(e2e::SaveScreenshot(e2e::ArtifactsDir() + "\\skiplane-144dpi.bmp"));
}

}  // namespace
