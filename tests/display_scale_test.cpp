// Pictures at the display's scale. ctest runs this group in prefixes at 96, 144 and 192 dots per inch.
#include "app/app.h"
#include "common/program_state.h"
#include "drives/drive_record.h"
#include "drives/tray_icon.h"
#include "resources/resource_ids.h"
#include "sheet/settings_sheet.h"
#include "tray/tray_menu.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>
#include <memory>
#include <vector>

namespace {

int screenDpi() {
    HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSX);
    ReleaseDC(nullptr, screen);
    return dpi;
}

// The small-icon size Windows (and Wine, measured) gives each scale the tests run at.
int expectedIconSize() {
    const int dpi = screenDpi();
    return dpi >= 192 ? 32 : dpi >= 144 ? 24 : 16;
}

// Width of an icon and whether its mask is opaque at (x, y).
struct IconShape { int width = 0; bool opaqueCorner = true; bool opaqueCentre = false; };
IconShape shapeOf(HICON icon) {
    IconShape shape;
    ICONINFO info{};
    if (icon == nullptr || !GetIconInfo(icon, &info)) return shape;
    BITMAP bitmap{};
    GetObjectW(info.hbmMask, sizeof bitmap, &bitmap);
    shape.width = bitmap.bmWidth;
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ previous = SelectObject(dc, info.hbmMask);
    shape.opaqueCorner = GetPixel(dc, 0, 0) == RGB(0, 0, 0);
    shape.opaqueCentre = GetPixel(dc, shape.width / 2, shape.width / 2) == RGB(0, 0, 0);
    SelectObject(dc, previous);
    DeleteDC(dc);
    DeleteObject(info.hbmMask);
    if (info.hbmColor != nullptr) DeleteObject(info.hbmColor);
    return shape;
}

class DisplayScaleTest : public ::testing::Test {
protected:
    void SetUp() override { simReset(); }
    void TearDown() override { host.reset(); }
    void start() { host = std::make_unique<MainWindowHost>(); }
    std::unique_ptr<MainWindowHost> host;
};

// Every icon the drive has composed (it composes each when first shown).
void expectIconsOfSize(DriveRecord* record, int size) {
    int composed = 0;
    for (HICON icon : record->icons) {
        if (icon == nullptr) continue;
        ++composed;
        const IconShape shape = shapeOf(icon);
        EXPECT_EQ(shape.width, size);
        EXPECT_FALSE(shape.opaqueCorner);
        EXPECT_TRUE(shape.opaqueCentre) << "the disc is drawn over the whole icon";
    }
    EXPECT_GT(composed, 0);
    ASSERT_NE(record->trayIcon, nullptr);
    EXPECT_EQ(shapeOf(record->trayIcon->data.hIcon).width, size);
}

TEST_F(DisplayScaleTest, TrayIconsAreComposedAtTheSmallIconSizeAndAScaleChangeRecomposesThemLeakingNothing) {
    simConfigure(L'D', dataDisc(L"DATA", 1000));
    simConfigure(L'E', emptyDrive());
    start();
    const int size = expectedIconSize();
    DriveRecord* d = DriveTable[3];
    ASSERT_NE(d, nullptr);
    expectIconsOfSize(d, size);
    EXPECT_EQ(shapeOf(commonIcon).width, size);
    EXPECT_EQ(shapeOf(busyIcon).width, size);

    // Another size, then the message a hidden window gets when the display changes brings back the display's own.
    applyTrayIconSize(size == 20 ? 24 : 20);
    expectIconsOfSize(d, 20 + (size == 20 ? 4 : 0));
    SendMessageW(mainWindow, WM_DISPLAYCHANGE, 32, MAKELPARAM(1024, 768));
    expectIconsOfSize(d, size);
    expectIconsOfSize(DriveTable[4], size);
    EXPECT_EQ(shapeOf(commonIcon).width, size);
    // The taskbar is created anew after a scale change: it gets icons of the display's size.
    applyTrayIconSize(32 - (size == 32 ? 8 : 0));
    SendMessageW(mainWindow, msgTaskbarCreated, 0, 0);
    expectIconsOfSize(d, size);

    applyTrayIconSize(32);
    applyTrayIconSize(size);
    const int gdi = freeGdiSlots(), icons = freeIconSlots(), handles = liveKernelHandles();
    for (int change = 0; change < 100; ++change) applyTrayIconSize(change % 2 == 0 ? (size == 24 ? 32 : 24) : size);
    EXPECT_EQ(freeGdiSlots(), gdi) << "GDI objects";
    EXPECT_EQ(freeIconSlots(), icons) << "icons";
    EXPECT_EQ(liveKernelHandles(), handles) << "kernel handles";
    expectIconsOfSize(d, size);
}

// The tray menu as the screen shows it: the Exit item's picture (its red cross) lies wholly left of its text.
struct MenuRow { int redPixels = 0, textPixels = 0, rightmostRed = -1, leftmostText = 1 << 30; };
MenuRow menuRowSeen;
bool menuCaptured = false;

void CALLBACK captureMenu(HWND, UINT, UINT_PTR id, DWORD) {
    HWND menuWindow = FindWindowW(L"#32768", nullptr);
    if (menuWindow == nullptr || !IsWindowVisible(menuWindow)) return;
    KillTimer(nullptr, id);
    int position = -1;
    for (int i = 0; i < GetMenuItemCount(menuRecord->popup); ++i) {
        if (GetMenuItemID(menuRecord->popup, i) == IDM_EXIT) position = i;
    }
    RECT item{}, window{};
    if (position >= 0 && GetMenuItemRect(nullptr, menuRecord->popup, position, &item) &&
        GetWindowRect(menuWindow, &window)) {
        const int width = window.right - window.left, height = window.bottom - window.top;
        BITMAPINFO info{};
        info.bmiHeader = {sizeof(BITMAPINFOHEADER), width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
        void* bits = nullptr;
        HBITMAP shot = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
        HDC source = GetWindowDC(menuWindow);
        HDC dc = CreateCompatibleDC(source);
        HGDIOBJ previous = SelectObject(dc, shot);
        BitBlt(dc, 0, 0, width, height, source, 0, 0, SRCCOPY);
        const auto* pixels = static_cast<const uint32_t*>(bits);
        for (int y = std::max(0L, item.top - window.top); y < std::min<long>(height, item.bottom - window.top); ++y) {
            for (int x = 0; x < width; ++x) {
                const uint32_t p = pixels[y * width + x];
                const int r = (p >> 16) & 255, g = (p >> 8) & 255, b = p & 255;
                if (r > 140 && g < 90 && b < 90) {
                    ++menuRowSeen.redPixels;
                    menuRowSeen.rightmostRed = std::max(menuRowSeen.rightmostRed, x);
                } else if (r < 100 && g < 100 && b < 100 && std::max({r, g, b}) - std::min({r, g, b}) < 30) {
                    ++menuRowSeen.textPixels;
                    menuRowSeen.leftmostText = std::min(menuRowSeen.leftmostText, x);
                }
            }
        }
        SelectObject(dc, previous);
        DeleteDC(dc);
        ReleaseDC(menuWindow, source);
        DeleteObject(shot);
        menuCaptured = true;
    }
    EndMenu();
}

TEST_F(DisplayScaleTest, MenuPicturesSitInTheirSlotLeftOfTheText) {
    simConfigure(L'D', emptyDrive());
    start();
    SetCursorPos(0, 0);  // away from the items, so none is highlighted
    menuCaptured = false;
    menuRowSeen = MenuRow{};
    SetTimer(nullptr, 0, 300, captureMenu);
    SendMessageW(mainWindow, kTrayCallbackMessage, 'D', WM_RBUTTONUP);
    pumpMessages(100);
    ASSERT_TRUE(menuCaptured);
    EXPECT_EQ(menuRecord->pictureSize, expectedIconSize());
    EXPECT_GT(menuRowSeen.redPixels, 10) << "the picture shows";
    EXPECT_GT(menuRowSeen.textPixels, 10) << "the text shows";
    EXPECT_LT(menuRowSeen.rightmostRed, menuRowSeen.leftmostText) << "no picture pixel within the text's columns";

    // Where the check mark is wider than a picture and its margin, the picture asks for no width, never a negative one.
    menuRecord->pictureSize = 16;
    menuRecord->dpi = 4 * 96;
    MEASUREITEMSTRUCT measure{};
    onMeasureItem(&measure);
    EXPECT_EQ(measure.itemWidth, 0u);
    EXPECT_EQ(measure.itemHeight, 18u);
}

// The sheet at this scale: its pictures drawn for it, every control inside its page.
std::vector<std::string> sheetProblems;
int sheetStep = 0;

void checkPage(HWND sheet, int index) {
    HWND page = reinterpret_cast<HWND>(SendMessageW(sheet, PSM_INDEXTOHWND, index, 0));
    RECT inside{};
    GetWindowRect(page, &inside);
    for (HWND child = GetWindow(page, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
        if (!IsWindowVisible(child)) continue;
        RECT r{};
        GetWindowRect(child, &r);
        if (r.left < inside.left || r.top < inside.top || r.right > inside.right || r.bottom > inside.bottom) {
            sheetProblems.push_back("page " + std::to_string(index) + ": control " +
                                    std::to_string(GetDlgCtrlID(child)) + " leaves its page");
        }
    }
}

void CALLBACK sheetTimer(HWND, UINT, UINT_PTR, DWORD) {
    HWND sheet = nullptr;
    do sheet = FindWindowExW(nullptr, sheet, L"#32770", nullptr);
    while (sheet != nullptr && SendMessageW(sheet, PSM_GETTABCONTROL, 0, 0) == 0);
    if (sheet == nullptr) return;
    const int size = expectedIconSize();
    int width = 0, height = 0;
    switch (sheetStep++) {
    case 0: {
        HWND tabs = reinterpret_cast<HWND>(SendMessageW(sheet, PSM_GETTABCONTROL, 0, 0));
        ImageList_GetIconSize(reinterpret_cast<HIMAGELIST>(SendMessageW(tabs, TCM_GETIMAGELIST, 0, 0)), &width, &height);
        if (width != size) sheetProblems.push_back("tab pictures are " + std::to_string(width) + " wide");
        HWND general = reinterpret_cast<HWND>(SendMessageW(sheet, PSM_INDEXTOHWND, 0, 0));
        width = 0;
        ImageList_GetIconSize(reinterpret_cast<HIMAGELIST>(SendDlgItemMessageW(general, IDC_LANGUAGE, CBEM_GETIMAGELIST, 0, 0)),
                              &width, &height);
        if (width != size) sheetProblems.push_back("flags are " + std::to_string(width) + " wide");
        checkPage(sheet, 0);
        SendMessageW(sheet, PSM_SETCURSEL, 1, 0);
        break;
    }
    case 1:
        checkPage(sheet, 1);
        break;
    default:
        PostMessageW(sheet, PSM_PRESSBUTTON, PSBTN_CANCEL, 0);
    }
}

TEST_F(DisplayScaleTest, TheSheetsPicturesAreDrawnForItsScaleAndEveryControlStaysInsideItsPage) {
    simConfigure(L'D', emptyDrive());
    start();
    sheetProblems.clear();
    sheetStep = 0;
    sheetHeader.nStartPage = 0;
    const UINT_PTR timer = SetTimer(nullptr, 0, 60, sheetTimer);
    SendMessageW(mainWindow, WM_COMMAND, IDM_SETTINGS, 0);
    KillTimer(nullptr, timer);
    EXPECT_GE(sheetStep, 3);
    for (const std::string& problem : sheetProblems) ADD_FAILURE() << problem;
}

}  // namespace
