// The tray menu as the user meets it: item states, clicks on icons, commands, autorun, language, the shell submenu.
#include "app/app.h"
#include "resources/language.h"
#include "resources/resource_ids.h"
#include "tray/autorun.h"
#include "tray/shell_menu.h"
#include "tray/tray_commands.h"
#include "tray/tray_menu.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>
#include <shlguid.h>
#include <shlobj.h>

#include <algorithm>
#include <cstring>
#include <set>

namespace {

// The items' states as the user sees them, one mark each: '-' greyed, 'x' checked, '!' default, '.' enabled, '?' none.
std::string marks(std::initializer_list<UINT> items, bool byPosition = false) {
    std::string seen;
    for (UINT item : items) {
        const UINT bits = GetMenuState(menuRecord->popup, item, byPosition ? MF_BYPOSITION : MF_BYCOMMAND);
        seen += bits == ~0u ? '?' : bits & MFS_GRAYED ? '-' : bits & MFS_CHECKED ? 'x' : bits & MFS_DEFAULT ? '!' : '.';
    }
    return seen;
}

std::wstring textOf(UINT id) {
    wchar_t text[128] = L"";
    GetMenuStringW(menuRecord->popup, id, text, 128, MF_BYCOMMAND);
    return text;
}

void command(UINT id) { SendMessageW(mainWindow, WM_COMMAND, id, 0); }

using Lines = std::vector<std::string>;
Lines shellLaunches() {
    Lines launches;
    for (const std::string& line : simJournal()) if (line.rfind("shell ", 0) == 0) launches.push_back(line);
    return launches;
}

class TrayMenuTest : public ::testing::Test {
protected:
    void SetUp() override { simReset(); }
    void TearDown() override { host.reset(); }
    void start(const std::string& settings = "") { host = std::make_unique<MainWindowHost>(settings); }
    std::unique_ptr<MainWindowHost> host;
};

// Prepares the menu as a right-click on `letter`'s icon does.
void prepareFor(int letter) {
    menuDriveLetter = letter;
    SendMessageW(mainWindow, WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(menuRecord->popup), 0);
}

// Ends the tray menu from inside its loop, noting the header shown.
std::wstring headerSeen;
void CALLBACK endMenuTimer(HWND, UINT, UINT_PTR id, DWORD) {
    KillTimer(nullptr, id);
    if (!IsWindowVisible(FindWindowW(L"#32768", nullptr))) return;
    headerSeen = textOf(IDM_HEADER);
    EndMenu();
}

TEST_F(TrayMenuTest, ItemsFollowTheIconsDriveStaleIdsOpenNothingCommandsActOnTheDriveWhileItExistsAndLanguagesSwitch) {
    simConfigure(L'D', dataDisc(L"DATA", 1000));
    SimDriveConfig open = emptyDrive();
    open.trayOpen = true;
    simConfigure(L'E', open);
    simConfigure(L'F', audioDisc(10));
    simConfigure(L'G', audioDisc(6));
    start("[dpDiskProp6]\r\nbHide=1\r\n");
    DriveRecord *e = DriveTable[4], *f = DriveTable[5], *g = DriveTable[6];
    e->locked = 1;
    e->speedCommand = IDM_SPEED_8X;
    // Neither disc has an AUTORUN.INF; a letter without a record (none chosen, or gone) leaves the program's commands.
    const struct { int letter; const char* items; const wchar_t* header; } menus[] = {
        {'D', "!..-- ..- ......x", L"Spindlebay [D:]"}, {'E', ".!x-- ..- ...x...", L"Spindlebay [E:]"},
        {'F', "!..-- ...", L"Spindlebay [F:]"}, {0, "----- ---", L"Spindlebay"}, {'H', "----- ---", L"Spindlebay"}};
    ASSERT_TRUE(waitUntil([f] { return f->mediaKind == AudioCd; }, 3000));  // only an audio CD offers its submenu
    for (const auto& menu : menus) {  // Open to the header; the shell, speed and audio submenus; 1x to the highest
        prepareFor(menu.letter);
        const std::string items = marks({IDM_OPEN, IDM_CLOSE, IDM_LOCK, IDM_AUTORUN, IDM_HEADER}) + " " +
            marks({TRAY_POS_SHELL, TRAY_POS_SPEED, TRAY_POS_AUDIO}, true) + " " + marks({IDM_SPEED_1X, IDM_SPEED_2X,
            IDM_SPEED_4X, IDM_SPEED_8X, IDM_SPEED_16X, IDM_SPEED_32X, IDM_SPEED_MAX});
        EXPECT_EQ(items.substr(0, strlen(menu.items)), menu.items) << menu.letter;
        EXPECT_EQ(textOf(IDM_HEADER), menu.header);
    }

    // A right-click opens the menu of the icon's drive; an icon id that names no drive opens nothing.
    simClearJournal();
    for (WPARAM id : {WPARAM{'E'}, WPARAM{26}, WPARAM{'H'}, WPARAM{'a'}, WPARAM{0xFFFF}}) {
        headerSeen.clear();
        SetTimer(nullptr, 0, 300, endMenuTimer);
        SendMessageW(mainWindow, kTrayCallbackMessage, id, WM_RBUTTONUP);
        if (id != 'E') SendMessageW(mainWindow, kTrayCallbackMessage, id, WM_LBUTTONDBLCLK);
        pumpMessages(350);
        EXPECT_EQ(headerSeen, id == 'E' ? L"Spindlebay [E:]" : L"") << id;
        EXPECT_EQ(menuDriveLetter, 'E');
    }
    for (const std::string& line : simJournal()) EXPECT_EQ(line.find("_MEDIA -> "), std::string::npos) << line;

    // Another language rebuilds the menu and the tips.
    const std::wstring englishOpen = textOf(IDM_OPEN);
    liveSettings.global.nLanguage = 1;
    loadLanguageAndMenu();
    EXPECT_NE(textOf(IDM_OPEN), englishOpen);
    wchar_t trayOpen[50];
    loadText(IDS_TIP_OPEN, trayOpen, 50);
    EXPECT_EQ(std::wstring(e->tipTrayOpen), std::wstring(L"Spindlebay v.6\n[E:] ") + trayOpen);

    isVistaOrLater = 0;  // before Vista the program plays audio itself
    g->audioStatus = kAudioPlaying;  // G: is hidden: no monitor changes it
    menuDriveLetter = 'G';
    const std::pair<UINT, const char*> requests[] = {
        {IDM_OPEN, "G: IOCTL_STORAGE_EJECT_MEDIA -> ok"},   {IDM_CLOSE, "G: IOCTL_STORAGE_LOAD_MEDIA -> ok"},
        {IDM_PLAY, "G: IOCTL_CDROM_PLAY_AUDIO_MSF in=000200180200 -> ok"},
        {IDM_PAUSE, "G: IOCTL_CDROM_PAUSE_AUDIO -> ok"},    {IDM_STOP, "G: IOCTL_CDROM_STOP_AUDIO -> ok"},
        {IDM_SPEED_MAX, "G: IOCTL_CDROM_SET_SPEED read=65535 write=65535 -> ok"}};
    for (const auto& [id, request] : requests) {
        simClearJournal();
        command(id);
        EXPECT_TRUE(journalHas(request)) << request;
    }
    EXPECT_EQ(g->speedCommand, IDM_SPEED_MAX);
    simClearJournal();
    command(IDM_SPEED_4X);
    EXPECT_EQ(g->speedCommand, IDM_SPEED_4X);
    EXPECT_TRUE(journalOf('G').empty()) << "other speeds wait for the monitor";
    command(IDM_LOCK);
    EXPECT_EQ(g->locked, 1) << "the monitor applies it on its next pass";
    command(IDM_LOCK);
    EXPECT_EQ(g->locked, 0);
    removeDriveRecord(6);
    simClearJournal();
    for (const auto& request : requests) command(request.first);
    for (UINT id : {IDM_LOCK, IDM_NEXT, IDM_PREVIOUS, IDM_SPEED_1X, IDM_HEADER}) command(id);
    EXPECT_TRUE(journalOf('G').empty());

    command(IDM_README);
    const std::wstring guide = L"shell default \"" + testProgramDir() + L"readme.txt\" \"\" \"\" -> ";
    ASSERT_EQ(shellLaunches().size(), 1u);
    EXPECT_EQ(shellLaunches()[0].substr(0, guide.size()), std::string(guide.begin(), guide.end()));
    command(IDM_EXIT);
    MSG message;
    EXPECT_TRUE(PeekMessageW(&message, mainWindow, WM_DESTROY, WM_DESTROY, PM_REMOVE));
}

TEST(AutorunSplit, SplitsLikeTheShellWithinItsBuffers) {
    const std::wstring unended = L"\"" + std::wstring(258, L'x'), x258(258, L'y'), blankAtEnd = x258 + L" ";
    const struct { const wchar_t *value, *program, *parameters; } cases[] = {
        {L"setup.exe /auto", L"setup.exe", L"/auto"}, {L"\"My Setup.exe\" /s", L"\"My Setup.exe\"", L"/s"},
        {L"\"", L"\"", L""},                         {L"\"a b\"", L"\"a b\"", L""},
        {L" setup.exe", L"", L"setup.exe"},          {L"", L"", L""},
        {unended.c_str(), unended.c_str(), L""},     {blankAtEnd.c_str(), x258.c_str(), L""},
    };
    for (const auto& c : cases) {
        wchar_t program[MAX_PATH], parameters[MAX_PATH];
        splitAutorunCommand(c.value, program, parameters);
        EXPECT_EQ(std::wstring(program) + L"|" + parameters, std::wstring(c.program) + L"|" + c.parameters) << c.value;
    }
}

using AutorunTest = TrayMenuTest;

TEST_F(AutorunTest, OpenOrShellExecuteRunsInTheDriveRootAndFailuresOrNoKeysExploreIt) {
    const struct { wchar_t letter; const char* autorun; bool program; const char* item; Lines journal; } discs[] = {
        {L'D', "open=setup.exe /auto\r\n", true, ".", {"shell open \"setup.exe\" \"/auto\" \"D:\\\" -> ok"}},
        {L'E', "open=\r\nshellexecute=\"missing.exe\" -x\r\n", false, ".",
         {"shell open \"\"missing.exe\"\" \"-x\" \"E:\\\" -> fail", "shell explore \"E:\\\" \"\" \"\" -> ok"}},
        {L'F', "icon=game.ico\r\n", false, "-", {"shell explore \"F:\\\" \"\" \"\" -> ok"}},
    };
    TempDir roots[3];
    for (int i = 0; i < 3; ++i) {
        writeTextFile(roots[i].file(L"AUTORUN.INF"), "[AutoRun]\r\n" + std::string(discs[i].autorun));
        if (discs[i].program) writeTextFile(roots[i].file(L"setup.exe"), "MZ");
        SimDriveConfig config = dataDisc(L"GAME", 1000);
        config.root = roots[i].path();
        simConfigure(discs[i].letter, config);
    }
    start();
    for (const auto& disc : discs) {
        prepareFor(disc.letter);
        EXPECT_EQ(marks({IDM_AUTORUN}), disc.item) << char(disc.letter);
        simClearJournal();
        command(IDM_AUTORUN);
        EXPECT_EQ(shellLaunches(), disc.journal);
    }
}

// Watches the shell's context menus of drive items through the method table they all share: which are alive
// (queried, not finally released), the flags queried with and what they were told to run. Runs nothing itself,
// answers WM_MENUCHAR to show it saw it, and puts the table back in its destructor whatever the test did.
struct ShellMenuSpy {
    static constexpr LRESULT kMenuCharAnswer = 0x5EE;
    static inline std::set<void*> alive;
    static inline UINT queryFlags;
    static inline int invocations;
    static inline CMINVOKECOMMANDINFOEX invoked;
    static inline void* original[8];
    void** table = nullptr;
    DWORD protection = 0;

    ShellMenuSpy() {
        IShellItem* item = nullptr;
        IContextMenu* menu = nullptr;
        if (FAILED(SHCreateItemFromParsingName(L"C:\\", nullptr, IID_PPV_ARGS(&item)))) return;
        item->BindToHandler(nullptr, BHID_SFUIObject, IID_PPV_ARGS(&menu));
        item->Release();
        if (menu == nullptr) return;
        void** methods = *reinterpret_cast<void***>(menu);
        menu->Release();
        if (!VirtualProtect(methods, sizeof original, PAGE_READWRITE, &protection)) return;
        table = methods;
        std::copy(table, table + 8, original);
        // x64 has one calling convention, so plain lambdas stand in for the methods.
        table[2] = method([](IContextMenu* self) {
            const ULONG left = reinterpret_cast<ULONG (*)(IContextMenu*)>(original[2])(self);
            if (left == 0) alive.erase(self);
            return left;
        });
        table[3] = method([](IContextMenu* self, HMENU popup, UINT index, UINT first, UINT last, UINT flags) {
            alive.insert(self);
            queryFlags = flags;
            using Query = HRESULT (*)(IContextMenu*, HMENU, UINT, UINT, UINT, UINT);
            return reinterpret_cast<Query>(original[3])(self, popup, index, first, last, flags);
        });
        table[4] = method([](IContextMenu*, CMINVOKECOMMANDINFO* info) {
            ++invocations;
            invoked = *reinterpret_cast<CMINVOKECOMMANDINFOEX*>(info);
            return S_OK;
        });
        table[7] = method([](IContextMenu3* self, UINT message, WPARAM w, LPARAM l, LRESULT* result) {
            using Handle = HRESULT (*)(IContextMenu3*, UINT, WPARAM, LPARAM, LRESULT*);
            if (message != WM_MENUCHAR) return reinterpret_cast<Handle>(original[7])(self, message, w, l, result);
            *result = kMenuCharAnswer;
            return S_OK;
        });
    }
    ~ShellMenuSpy() {
        if (table == nullptr) return;
        std::copy(original, original + 8, table);
        VirtualProtect(table, sizeof original, protection, &protection);
    }
    template <typename Method> static void* method(Method lambda) { return reinterpret_cast<void*>(+lambda); }
};

void setShiftAndControl(bool down) {
    BYTE keys[256];
    GetKeyboardState(keys);
    keys[VK_SHIFT] = keys[VK_CONTROL] = down ? 0x80 : 0;
    SetKeyboardState(keys);
}

// Inside the tray menu's loop, as a hovering user makes it: position 3 opens three times, the last with Shift and
// Ctrl down and one of the shell's commands chosen, and the menu ends with that submenu still open.
HMENU placeholder, lastShellMenu;
void CALLBACK hoverShellTimer(HWND, UINT, UINT_PTR id, DWORD) {
    KillTimer(nullptr, id);
    placeholder = GetSubMenu(menuRecord->popup, TRAY_POS_SHELL);
    for (int hover = 0; hover < 3; ++hover) {
        if (hover == 2) setShiftAndControl(true);
        SendMessageW(mainWindow, WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(placeholder), TRAY_POS_SHELL);
        const HMENU shell = lastShellMenu = GetSubMenu(menuRecord->popup, TRAY_POS_SHELL);
        EXPECT_TRUE(shell != placeholder && GetMenuItemCount(shell) > 0);
        EXPECT_EQ(ShellMenuSpy::alive.size(), 1u) << "hover " << hover << " kept an earlier context menu";
        EXPECT_EQ(ShellMenuSpy::queryFlags, static_cast<UINT>(hover == 2 ? CMF_EXTENDEDVERBS : CMF_NORMAL)) << hover;
        EXPECT_EQ(SendMessageW(mainWindow, WM_MENUCHAR, 'x', reinterpret_cast<LPARAM>(shell)),
                  ShellMenuSpy::kMenuCharAnswer) << "the shell's menu must see the window's messages first";
        if (hover == 2) break;
        SendMessageW(mainWindow, WM_UNINITMENUPOPUP, reinterpret_cast<WPARAM>(shell), 0);
        EXPECT_TRUE(GetSubMenu(menuRecord->popup, TRAY_POS_SHELL) == placeholder && !IsMenu(shell)) << hover;
        EXPECT_NE(SendMessageW(mainWindow, WM_MENUCHAR, 'x', 0), ShellMenuSpy::kMenuCharAnswer);
    }
    invokeShellCommand(kFirstShellCommand + 2, POINT{12, 34});
    setShiftAndControl(false);
    EndMenu();
}

TEST_F(TrayMenuTest, TheDrivesShellMenuIsBuiltOfferedMessagesInvokedAndReleased) {
    // Wine maps C: to a folder the shell can show; the drive is simulated.
    simConfigure(L'C', dataDisc(L"SYSTEM", 1000));
    start();
    ShellMenuSpy spy;
    ASSERT_NE(spy.table, nullptr) << "the shell gives no context menu for C:\\";
    ShellMenuSpy::invocations = 0;
    SetTimer(nullptr, 0, 300, hoverShellTimer);
    SendMessageW(mainWindow, kTrayCallbackMessage, 'C', WM_RBUTTONUP);
    ASSERT_EQ(ShellMenuSpy::invocations, 1);
    const CMINVOKECOMMANDINFOEX& invoked = ShellMenuSpy::invoked;
    EXPECT_EQ(invoked.cbSize, sizeof(CMINVOKECOMMANDINFOEX));
    EXPECT_EQ(invoked.fMask, static_cast<DWORD>(CMIC_MASK_UNICODE | CMIC_MASK_PTINVOKE | CMIC_MASK_SHIFT_DOWN |
                                                CMIC_MASK_CONTROL_DOWN));
    EXPECT_TRUE(invoked.lpVerbW == MAKEINTRESOURCEW(2) && invoked.lpVerb == MAKEINTRESOURCEA(2));
    EXPECT_TRUE(invoked.hwnd == mainWindow && invoked.ptInvoke.x == 12 && invoked.ptInvoke.y == 34);
    EXPECT_TRUE(ShellMenuSpy::alive.empty()) << "the context menu outlived the tray menu";
    EXPECT_TRUE(GetSubMenu(menuRecord->popup, TRAY_POS_SHELL) == placeholder && !IsMenu(lastShellMenu));
}

}  // namespace
