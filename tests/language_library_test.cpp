// The contract of both language libraries: strings with their capacities and
// arguments, the tray menu, and the dialogs with their control ids and classes.
#include "resources/language.h"
#include "resources/resource_ids.h"
#include "tests/test_support.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace {

struct StringContract {
    UINT id;
    int capacity;
    const char* conversions;  // in order: d = number, c = letter
    std::initializer_list<int64_t> largest;
};

const StringContract kStrings[] = {
    {IDS_LANG0, 25, "", {}},
    {IDS_LANG1, 25, "", {}},
    {IDS_COMMON_TIP, 50, "", {}},
    {IDS_EJECTED, 50, "c", {L'W'}},
    {IDS_EJECTED_CAP, 25, "", {}},
    {IDS_COUNTDOWN, 50, "dc", {99, L'W'}},
    {IDS_ABOUT, 260, "", {}},
    {IDS_SECOND_START, 260, "", {}},
    {IDS_TIP_EMPTY, 50, "", {}},
    {IDS_TIP_OPEN, 50, "", {}},
    {IDS_AUDIO_PLAYING, 50, "dd", {99, 99}},
    {IDS_AUDIO_PAUSED, 50, "dd", {99, 99}},
    {IDS_AUDIO_STOPPED, 50, "d", {99}},
    {IDS_BUSY_TIP, 25, "", {}},
    {IDS_UPDATE_NEWER, 260, "dddddddd", {65535, 65535, 65535, 65535, 65535, 65535, 65535, 65535}},
    {IDS_UPDATE_NONE, 260, "", {}},
    {IDS_UPDATE_CAPTION, 50, "", {}},
    {IDS_UPDATE_FAILED, 100, "", {}},
};

// The conversions of a format, in order ("%%" is no conversion).
std::string conversionsOf(const wchar_t* format) {
    std::string found;
    for (const wchar_t* p = format; *p != L'\0'; ++p) {
        if (*p != L'%') continue;
        ++p;
        if (*p == L'%') continue;
        found.push_back(static_cast<char>(*p));
        if (*p == L'\0') break;
    }
    return found;
}

void collectMenuIds(HMENU menu, std::multiset<UINT>& ids) {
    for (int i = 0; i < GetMenuItemCount(menu); ++i) {
        if (HMENU sub = GetSubMenu(menu, i)) collectMenuIds(sub, ids);
        else ids.insert(GetMenuItemID(menu, i));
    }
}

std::wstring classOf(HWND window) {
    wchar_t name[64] = L"";
    GetClassNameW(window, name, 64);
    return name;
}

INT_PTR CALLBACK passiveDialogProc(HWND, UINT, WPARAM, LPARAM) {
    return FALSE;
}

class LanguageLibraryTest : public ::testing::TestWithParam<const wchar_t*> {
protected:
    void SetUp() override {
        INITCOMMONCONTROLSEX controls{sizeof controls, ICC_USEREX_CLASSES | ICC_HOTKEY_CLASS | ICC_UPDOWN_CLASS |
                                                           ICC_PROGRESS_CLASS | ICC_WIN95_CLASSES};
        InitCommonControlsEx(&controls);
        module = LoadLibraryW((testProgramDir() + GetParam()).c_str());
        ASSERT_NE(module, nullptr);
        parent = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 600, 600, nullptr, nullptr, nullptr, nullptr);
    }
    void TearDown() override {
        if (parent != nullptr) DestroyWindow(parent);
        if (module != nullptr) FreeLibrary(module);
    }
    HWND createDialog(UINT id) {
        return CreateDialogParamW(module, MAKEINTRESOURCEW(id), parent, passiveDialogProc, 0);
    }
    // Checks that a control exists with the class and, for buttons, the style.
    void expectControl(HWND dialog, int id, const wchar_t* className, LONG buttonType = -1) {
        HWND control = GetDlgItem(dialog, id);
        ASSERT_NE(control, nullptr) << "control " << id;
        EXPECT_STREQ(classOf(control).c_str(), className) << "control " << id;
        if (buttonType >= 0) {
            EXPECT_EQ(GetWindowLongW(control, GWL_STYLE) & BS_TYPEMASK, buttonType) << "control " << id;
        }
        RECT dialogRect, controlRect;
        GetClientRect(dialog, &dialogRect);
        GetWindowRect(control, &controlRect);
        MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&controlRect), 2);
        EXPECT_GE(controlRect.left, 0) << "control " << id << " sticks out";
        EXPECT_GE(controlRect.top, 0) << "control " << id << " sticks out";
        EXPECT_LE(controlRect.right, dialogRect.right) << "control " << id << " sticks out";
        if (std::wstring(className) != WC_COMBOBOXEXW) {
            EXPECT_LE(controlRect.bottom, dialogRect.bottom) << "control " << id << " sticks out";
        }
    }
    HMODULE module = nullptr;
    HWND parent = nullptr;
};

TEST_P(LanguageLibraryTest, EveryStringFitsItsCapacityWithItsArgumentsInOrder) {
    for (const StringContract& contract : kStrings) {
        wchar_t text[1024] = L"";
        const int length = LoadStringW(module, contract.id, text, 1024);
        EXPECT_GT(length, 0) << "string " << contract.id;
        EXPECT_LT(length, contract.capacity) << "string " << contract.id << " is cut when loaded";
        EXPECT_EQ(conversionsOf(text), contract.conversions) << "string " << contract.id;
        wchar_t formatted[1024];
        formatText(formatted, 1024, text, contract.largest);
        EXPECT_LT(lstrlenW(formatted), contract.capacity) << "string " << contract.id << " overflows when formatted";
    }
    // Each language is named in its own language, whatever the library's.
    wchar_t english[25], russian[25];
    LoadStringW(module, IDS_LANG0, english, 25);
    LoadStringW(module, IDS_LANG1, russian, 25);
    EXPECT_STREQ(english, L"English");
    EXPECT_STREQ(russian, L"\x0420\x0443\x0441\x0441\x043A\x0438\x0439");
}

TEST_P(LanguageLibraryTest, PopupHoldsEveryCommandAndTheFixedPositions) {
    HMENU menu = LoadMenuW(module, MAKEINTRESOURCEW(IDM_TRAY));
    ASSERT_NE(menu, nullptr);
    HMENU popup = GetSubMenu(menu, 0);
    ASSERT_NE(popup, nullptr);
    std::multiset<UINT> ids;
    collectMenuIds(popup, ids);
    const std::vector<UINT> required = {IDM_EXIT,     IDM_README,   IDM_ABOUT,    IDM_OPEN,     IDM_CLOSE,
                                        IDM_LOCK,     IDM_PLAY,     IDM_STOP,     IDM_PAUSE,    IDM_NEXT,
                                        IDM_PREVIOUS, IDM_SPEED_1X, IDM_SPEED_2X, IDM_SPEED_4X, IDM_SPEED_8X,
                                        IDM_SPEED_16X, IDM_SPEED_32X, IDM_SPEED_MAX, IDM_HEADER, IDM_SETTINGS,
                                        IDM_AUTORUN,  IDM_UPDATE};
    for (UINT id : required) EXPECT_EQ(ids.count(id), 1u) << "command " << id;
    // The shell's own commands take 1..0x7FFF: the menu must not use them.
    for (UINT id : ids) EXPECT_TRUE(id == 0 || id > 0x7FFF) << "command " << id;

    ASSERT_GT(GetMenuItemCount(popup), TRAY_POS_PROGRAM);
    EXPECT_NE(GetSubMenu(popup, TRAY_POS_SHELL), nullptr);
    std::multiset<UINT> speeds, audio;
    collectMenuIds(GetSubMenu(popup, TRAY_POS_SPEED), speeds);
    collectMenuIds(GetSubMenu(popup, TRAY_POS_AUDIO), audio);
    EXPECT_EQ(speeds.count(IDM_SPEED_8X), 1u);
    EXPECT_EQ(audio.count(IDM_PLAY), 1u);
    EXPECT_NE(GetMenuState(popup, TRAY_POS_PROGRAM, MF_BYPOSITION), 0xFFFFFFFFu);

    wchar_t header[64];
    GetMenuStringW(popup, IDM_HEADER, header, 64, MF_BYCOMMAND);
    EXPECT_EQ(std::wstring(header).substr(0, 15), L"Spindlebay [A:]");
    DestroyMenu(menu);
}

TEST_P(LanguageLibraryTest, DialogsHaveTheirControls) {
    constexpr LONG kCheck = BS_AUTOCHECKBOX;
    struct Control { int id; const wchar_t* className; LONG buttonType; };
    const std::vector<Control> general = {
        {IDC_AUTOSTART, WC_BUTTONW, kCheck},       {IDC_AS_SERVICE, WC_BUTTONW, kCheck},
        {IDC_LANGUAGE, WC_COMBOBOXEXW, -1},       {IDC_DEF_DISK, WC_COMBOBOXEXW, -1},
        {IDC_DEF_EJECT, HOTKEY_CLASSW, -1},       {IDC_DEF_CLOSE, HOTKEY_CLASSW, -1},
        {IDC_DEF_SELECT, HOTKEY_CLASSW, -1},      {IDC_DEF_EJECT_WIN, WC_BUTTONW, kCheck},
        {IDC_DEF_CLOSE_WIN, WC_BUTTONW, kCheck},  {IDC_DEF_SELECT_WIN, WC_BUTTONW, kCheck}};
    const std::vector<Control> drive = {
        {IDC_DRIVE, WC_COMBOBOXEXW, -1},          {IDC_EJECT_KEY, HOTKEY_CLASSW, -1},
        {IDC_CLOSE_KEY, HOTKEY_CLASSW, -1},       {IDC_EJECT_KEY_WIN, WC_BUTTONW, kCheck},
        {IDC_CLOSE_KEY_WIN, WC_BUTTONW, kCheck},  {IDC_SECONDS, WC_EDITW, -1},
        {IDC_SECONDS_SPIN, UPDOWN_CLASSW, -1},    {IDC_AUTO_CLOSE, WC_BUTTONW, kCheck},
        {IDC_SHOW_TIME, WC_BUTTONW, kCheck},      {IDC_LOGOFF_EJECT, WC_BUTTONW, kCheck},
        {IDC_BEEP_INSIDE, WC_BUTTONW, kCheck},    {IDC_HIDE, WC_BUTTONW, kCheck},
        {IDC_LOCK, WC_BUTTONW, kCheck}};
    const std::vector<Control> countdown = {
        {IDC_PROGRESS, PROGRESS_CLASSW, -1}, {IDOK, WC_BUTTONW, BS_DEFPUSHBUTTON}, {IDCANCEL, WC_BUTTONW, BS_PUSHBUTTON}};
    HWND pages[3] = {createDialog(IDD_GENERAL), createDialog(IDD_DRIVE),
                     CreateDialogParamW(module, MAKEINTRESOURCEW(IDD_COUNTDOWN), nullptr, passiveDialogProc, 0)};
    const std::vector<Control>* controls[3] = {&general, &drive, &countdown};
    for (int i = 0; i < 3; ++i) {
        ASSERT_NE(pages[i], nullptr) << "dialog " << i;
        for (const Control& control : *controls[i]) expectControl(pages[i], control.id, control.className, control.buttonType);
    }
    EXPECT_NE(GetWindowLongW(pages[0], GWL_STYLE) & WS_CHILD, 0);
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(pages[0], IDC_AS_SERVICE)));
    // The up-down control writes its position into the edit as a number.
    HWND spin = GetDlgItem(pages[1], IDC_SECONDS_SPIN);
    EXPECT_EQ(reinterpret_cast<HWND>(SendMessageW(spin, UDM_GETBUDDY, 0, 0)), GetDlgItem(pages[1], IDC_SECONDS));
    SendMessageW(spin, UDM_SETRANGE32, 5, 60);
    SendMessageW(spin, UDM_SETPOS32, 0, 42);
    wchar_t text[8];
    GetDlgItemTextW(pages[1], IDC_SECONDS, text, 8);
    EXPECT_STREQ(text, L"42");
    // The countdown starts hidden, with a close box.
    EXPECT_FALSE(IsWindowVisible(pages[2]));
    EXPECT_NE(GetWindowLongW(pages[2], GWL_STYLE) & WS_SYSMENU, 0);
    for (HWND page : pages) DestroyWindow(page);
}

INSTANTIATE_TEST_SUITE_P(BothLanguages, LanguageLibraryTest,
                         ::testing::Values(L"sbay_6_eng.dll", L"sbay_6_rus.dll"));

}  // namespace
