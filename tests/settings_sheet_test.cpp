// The settings sheet as the user meets it, driven inside the real modal sheet from a timer.
#include "app/app.h"
#include "drives/drive_record.h"
#include "drives/drive_table.h"
#include "resources/resource_ids.h"
#include "service/service.h"
#include "settings/settings_file.h"
#include "sheet/settings_sheet.h"
#include "tray/tray_commands.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>
#include <cstring>
#include <functional>
#include <memory>

namespace {

constexpr int kApplyButton = 0x3021;  // the sheet's Apply button
constexpr BYTE kCtrlAlt = HOTKEYF_CONTROL | HOTKEYF_ALT;

// Runs one step each tick in whichever sheet is showing, then cancels, so no test can hang on the modal sheet.
using Step = std::function<void(HWND sheet)>;
std::vector<Step> script;
size_t nextStep = 0, sheetsSeen = 0;
HWND lastSheet = nullptr;

void CALLBACK scriptTimer(HWND, UINT, UINT_PTR, DWORD) {
    HWND sheet = nullptr;
    do sheet = FindWindowExW(nullptr, sheet, L"#32770", nullptr);
    while (sheet != nullptr && SendMessageW(sheet, PSM_GETTABCONTROL, 0, 0) == 0);
    if (sheet == nullptr) return;
    if (sheet != lastSheet) ++sheetsSeen, lastSheet = sheet;
    if (nextStep < script.size()) script[nextStep++](sheet);
    else PostMessageW(sheet, PSM_PRESSBUTTON, PSBTN_CANCEL, 0);
}

// Opens the sheet by the tray's command and runs `steps`; returns how many sheets showed.
size_t runSheet(std::vector<Step> steps, int startPage = 0) {
    script = std::move(steps);
    nextStep = sheetsSeen = 0;
    lastSheet = nullptr;
    sheetHeader.nStartPage = startPage;
    const UINT_PTR timer = SetTimer(nullptr, 0, 40, scriptTimer);
    SendMessageW(mainWindow, WM_COMMAND, IDM_SETTINGS, 0);
    KillTimer(nullptr, timer);
    EXPECT_EQ(nextStep, script.size()) << "the sheet closed before every step ran";
    return sheetsSeen;
}

HWND page(HWND sheet, int index) { return reinterpret_cast<HWND>(SendMessageW(sheet, PSM_INDEXTOHWND, index, 0)); }
void press(HWND sheet, int button) { SendMessageW(sheet, PSM_PRESSBUTTON, button, 0); }
void click(HWND dialog, int id) { SendDlgItemMessageW(dialog, id, BM_CLICK, 0, 0); }
void notify(HWND dialog, int id, WORD code) {
    SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, code), reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}
void choose(HWND dialog, int id, int index) {
    SendDlgItemMessageW(dialog, id, CB_SETCURSEL, index, 0);
    notify(dialog, id, CBN_SELCHANGE);
}
void typeHotKey(HWND dialog, int id, BYTE key, BYTE extra = 0) {
    SendDlgItemMessageW(dialog, id, HKM_SETHOTKEY, MAKEWORD(key, kCtrlAlt | extra), 0);
    notify(dialog, id, EN_CHANGE);
}
WORD hotKeyOf(HWND dialog, int id) { return LOWORD(SendDlgItemMessageW(dialog, id, HKM_GETHOTKEY, 0, 0)); }
LRESULT selectionOf(HWND dialog, int id) { return SendDlgItemMessageW(dialog, id, CB_GETCURSEL, 0, 0); }
bool enabled(HWND dialog, int id) { return IsWindowEnabled(GetDlgItem(dialog, id)) != FALSE; }
bool checked(HWND dialog, int id) { return IsDlgButtonChecked(dialog, id) == BST_CHECKED; }
std::wstring textOf(HWND dialog, int id) {
    wchar_t text[100] = L"";
    return GetDlgItemTextW(dialog, id, text, 100) > 0 ? text : L"";
}

constexpr wchar_t kRunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";

class SettingsSheetTest : public ::testing::Test {
protected:
    void SetUp() override {
        simReset();
        RegDeleteKeyValueW(HKEY_CURRENT_USER, kRunKey, L"sbay");
    }
    void TearDown() override {
        serviceMode = 0;
        host.reset();
        RegDeleteKeyValueW(HKEY_CURRENT_USER, kRunKey, L"sbay");
    }
    void start(const std::string& settings) { host = std::make_unique<MainWindowHost>(settings); }
    std::vector<int> numbers(const wchar_t* section, std::initializer_list<const wchar_t*> keys) {
        std::vector<int> values;
        for (const wchar_t* key : keys) values.push_back(GetPrivateProfileIntW(section, key, -999, file().c_str()));
        return values;
    }
    int number(const wchar_t* section, const wchar_t* key) { return numbers(section, {key})[0]; }
    std::wstring file() const { return host->settingsFile(); }
    std::unique_ptr<MainWindowHost> host;
};

TEST_F(SettingsSheetTest, GeneralPageShowsTheDefaultDiskAndSavesItsHotKeysButOkUnchangedWritesNothing) {
    simConfigure(L'C', emptyDrive());
    simConfigure(L'D', dataDisc(L"DATA", 1000));
    start("[g_propMain]\r\nnLanguage=5\r\nnDefaultDisk=81\r\nhkDefDiskEject.fsModifiers=11\r\nhkDefDiskEject.vk=116\r\n"
          "hkDefDiskClose.fsModifiers=6\r\nhkDefDiskClose.vk=66\r\nhkDefDiskSelect.fsModifiers=8\r\n");
    WIN32_FILE_ATTRIBUTE_DATA before{}, after{};
    GetFileAttributesExW(file().c_str(), GetFileExInfoStandard, &before);
    Sleep(50);
    // An unknown language and a default disk without a drive select nothing; Settings again returns at once.
    EXPECT_EQ(runSheet({[](HWND sheet) {
                            HWND g = page(sheet, 0);
                            EXPECT_EQ(selectionOf(g, IDC_LANGUAGE), -1);
                            EXPECT_EQ(selectionOf(g, IDC_DEF_DISK), -1);
                            for (int id : {IDC_DEF_EJECT, IDC_DEF_EJECT_WIN, IDC_DEF_CLOSE, IDC_DEF_SELECT_WIN}) {
                                EXPECT_FALSE(enabled(g, id)) << id;
                            }
                            EXPECT_EQ(hotKeyOf(g, IDC_DEF_CLOSE), 0);
                            SendMessageW(sheet, PSM_SETCURSEL, 1, 0);
                            SendMessageW(mainWindow, WM_COMMAND, IDM_SETTINGS, 0);
                        },
                        [](HWND sheet) { press(sheet, PSBTN_OK); }}),
              1u);
    GetFileAttributesExW(file().c_str(), GetFileExInfoStandard, &after);
    EXPECT_EQ(CompareFileTime(&before.ftLastWriteTime, &after.ftLastWriteTime), 0) << "OK unchanged wrote the file";

    // A combination another window holds cannot be registered.
    HWND other = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    ASSERT_TRUE(RegisterHotKey(other, 1, MOD_CONTROL | MOD_ALT, VK_F8));
    runSheet({[](HWND sheet) {
        HWND g = page(sheet, 0);
        choose(g, IDC_DEF_DISK, 1);
        // MOD_SHIFT and MOD_ALT become the control's own flags; MOD_WIN goes to the box, and alone is no key.
        struct Shown { int field, box; WORD control; bool boxChecked; };
        for (Shown f : {Shown{IDC_DEF_EJECT, IDC_DEF_EJECT_WIN, MAKEWORD(VK_F5, kCtrlAlt), true},
                        Shown{IDC_DEF_CLOSE, IDC_DEF_CLOSE_WIN, MAKEWORD('B', HOTKEYF_CONTROL | HOTKEYF_SHIFT), false},
                        Shown{IDC_DEF_SELECT, IDC_DEF_SELECT_WIN, 0, false}}) {
            EXPECT_TRUE(enabled(g, f.field) && enabled(g, f.box)) << f.field;
            EXPECT_EQ(hotKeyOf(g, f.field), f.control) << f.field;
            EXPECT_EQ(checked(g, f.box), f.boxChecked) << f.field;
        }
        typeHotKey(g, IDC_DEF_CLOSE, VK_F6, HOTKEYF_EXT);  // HOTKEYF_EXT must not turn into MOD_WIN
        SetFocus(GetDlgItem(g, IDC_DEF_SELECT));
        SendDlgItemMessageW(g, IDC_DEF_SELECT, WM_KEYDOWN, VK_F7, 0);
        EXPECT_EQ(hotKeyOf(g, IDC_DEF_SELECT), MAKEWORD(VK_F7, HOTKEYF_ALT)) << "a bare key gets Alt";
        typeHotKey(g, IDC_DEF_SELECT, VK_F8);
        press(sheet, PSBTN_APPLYNOW);
    }});
    DestroyWindow(other);
    EXPECT_EQ(numbers(L"g_propMain", {L"nLanguage", L"nDefaultDisk", L"hkDefDiskEject.fsModifiers",
                                      L"hkDefDiskEject.vk", L"hkDefDiskClose.fsModifiers", L"hkDefDiskClose.vk",
                                      L"hkDefDiskSelect.vk"}),
              std::vector<int>({-1, 'D', MOD_WIN | MOD_CONTROL | MOD_ALT, VK_F5, MOD_CONTROL | MOD_ALT, VK_F6, VK_F8}))
        << "Ctrl+Alt+F8 is saved although it could not be registered";
    EXPECT_EQ(number(L"dpDiskProp2", L"bHide"), -999) << "the drive page never showed";
    EXPECT_EQ(std::vector<int>(globalHotKeyRegistered, globalHotKeyRegistered + 3), std::vector<int>({1, 1, 0}));
}

// The drive page selects the menu's drive or the nearest below, and edits only the selected drive.
TEST_F(SettingsSheetTest, DrivePageSelectsTheMenusDriveAndEditsOnlyThatOneLeavingTheGlobalSection) {
    for (wchar_t letter : {L'C', L'E', L'G'}) simConfigure(letter, emptyDrive());
    start("[dpDiskProp4]\r\nbHide=1\r\nuAutoCloseSeconds=17\r\nbAutoCloseIn=1\r\n");
    struct Case { int menuLetter; LRESULT selected; };
    for (Case c : {Case{'E', 1}, Case{'F', 1}, Case{'Z', 2}, Case{'C', 0}, Case{'B', -1}, Case{0, -1}}) {
        SCOPED_TRACE(c.menuLetter);
        menuDriveLetter = c.menuLetter;
        runSheet({[c](HWND sheet) {
                     HWND d = page(sheet, 1);
                     ASSERT_NE(d, nullptr);
                     EXPECT_EQ(selectionOf(d, IDC_DRIVE), c.selected);
                     EXPECT_EQ(checked(d, IDC_HIDE), c.selected == 1);
                     EXPECT_EQ(enabled(d, IDC_HIDE), c.selected >= 0);
                     EXPECT_EQ(textOf(d, IDC_SECONDS), c.selected == 1 ? L"17" : c.selected >= 0 ? L"0" : L"");
                     notify(d, IDC_LOCK, BN_CLICKED);  // with nothing selected no click may edit any record
                     EXPECT_EQ(settingsModified, c.selected >= 0 ? 1 : 0);
                 }},
                 1);
        EXPECT_EQ(menuDriveLetter, c.selected < 0 ? c.menuLetter : "CEG"[c.selected]);
    }
    menuDriveLetter = 'E';
    const DriveSettings eBefore = liveSettings.drives[4];
    runSheet({[&](HWND sheet) {
                  HWND d = page(sheet, 1);
                  choose(d, IDC_DRIVE, 2);
                  EXPECT_EQ(settingsModified, 0);
                  EXPECT_FALSE(enabled(sheet, kApplyButton));
                  EXPECT_FALSE(checked(d, IDC_HIDE)) << "G's own settings";
                  click(d, IDC_HIDE);
                  click(d, IDC_AUTO_CLOSE);
                  EXPECT_TRUE(enabled(d, IDC_SECONDS) && enabled(d, IDC_SHOW_TIME));
                  typeHotKey(d, IDC_EJECT_KEY, 'J');
                  EXPECT_TRUE(enabled(sheet, kApplyButton));
                  press(sheet, PSBTN_APPLYNOW);
                  EXPECT_EQ(numbers(L"dpDiskProp6", {L"bHide", L"bAutoCloseIn", L"hkEject.vk", L"hkEject.fsModifiers"}),
                            std::vector<int>({1, 1, 'J', MOD_CONTROL | MOD_ALT}));
                  EXPECT_EQ(DriveTable[6]->ejectHotKeyRegistered, 1);
                  EXPECT_EQ(std::memcmp(&liveSettings.drives[4], &eBefore, sizeof eBefore), 0);
                  EXPECT_EQ(number(L"g_propMain", L"nDefaultDisk"), -999) << "the general page never showed";
              },
              [this](HWND sheet) {
                  // G leaves while the sheet is open: its entry stays, its section is not saved.
                  removeDriveRecord(6);
                  HWND d = page(sheet, 1);
                  click(d, IDC_LOCK);
                  press(sheet, PSBTN_APPLYNOW);
                  EXPECT_EQ(selectionOf(d, IDC_DRIVE), 2);
                  EXPECT_EQ(liveSettings.drives[6].bLock, 1);
                  EXPECT_EQ(number(L"dpDiskProp6", L"bLock"), 0);
                  // Countdowns below 5 seconds, typed or left empty, are saved as 5.
                  choose(d, IDC_DRIVE, 1);
                  for (auto [typed, saved] : {std::pair{L"3", 5}, {L"99", 99}, {L"", 5}}) {
                      SetDlgItemTextW(d, IDC_SECONDS, typed);
                      press(sheet, PSBTN_APPLYNOW);
                      EXPECT_EQ(number(L"dpDiskProp4", L"uAutoCloseSeconds"), saved) << typed;
                  }
              }},
             1);
    EXPECT_EQ(menuDriveLetter, 'E');
}

// Without drives only the general page remains; 1011 follows 1010, and as the
// service, where a Run value is no way to start, 1010 is disabled and follows 1011.
TEST_F(SettingsSheetTest, WithoutDrivesOnlyTheGeneralPageAndTheStartUpBoxesFollowEachOther) {
    start("[g_propMain]\r\nnDefaultDisk=68\r\nnLanguage=0\r\n");
    EXPECT_EQ(runSheet({[](HWND sheet) {
                 HWND tabs = reinterpret_cast<HWND>(SendMessageW(sheet, PSM_GETTABCONTROL, 0, 0)), g = page(sheet, 0);
                 EXPECT_EQ(SendMessageW(tabs, TCM_GETITEMCOUNT, 0, 0), 1);
                 ASSERT_NE(g, nullptr);
                 EXPECT_FALSE(enabled(g, IDC_DEF_DISK) || enabled(g, IDC_DEF_SELECT) || enabled(g, IDC_AS_SERVICE));
                 for (bool on : {true, false}) {
                     click(g, IDC_AUTOSTART);
                     EXPECT_EQ(enabled(g, IDC_AS_SERVICE), on);
                 }
                 choose(g, IDC_LANGUAGE, 1);  // saved by OK, which just closes: only Apply reopens the sheet
                 press(sheet, PSBTN_OK);
             }},
             1), 1u);
    EXPECT_EQ(numbers(L"g_propMain", {L"nDefaultDisk", L"nLanguage"}), std::vector<int>({0, 1}));
    serviceMode = 1;
    runSheet({[](HWND sheet) {
        HWND g = page(sheet, 0);
        EXPECT_FALSE(enabled(g, IDC_AUTOSTART));
        EnableWindow(GetDlgItem(g, IDC_AS_SERVICE), TRUE);
        for (bool on : {true, false}) {
            click(g, IDC_AS_SERVICE);
            EXPECT_EQ(checked(g, IDC_AUTOSTART), on);
        }
    }});
}

}  // namespace
