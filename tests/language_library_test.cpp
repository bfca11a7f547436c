// Both language libraries hold what the program loads from them: texts within the sizes it loads them
// into, the tray menu with its submenus where it looks for them, and dialogs with the same controls.
#include "resources/language.h"
#include "resources/resource_ids.h"
#include "tests/test_support.h"

#include <commctrl.h>
#include <gtest/gtest.h>

namespace {

struct StringContract {
    UINT id;
    int capacity;
    const char* conversions;  // in order: d = number, c = letter
    std::initializer_list<int64_t> largest;
};

const StringContract kStrings[] = {
    {IDS_LANG0, 25, "", {}}, {IDS_LANG1, 25, "", {}}, {IDS_COMMON_TIP, 50, "", {}}, {IDS_EJECTED, 50, "c", {L'W'}},
    {IDS_EJECTED_CAP, 25, "", {}}, {IDS_COUNTDOWN, 50, "dc", {99, L'W'}}, {IDS_ABOUT, 260, "", {}},
    {IDS_SECOND_START, 260, "", {}}, {IDS_TIP_EMPTY, 50, "", {}}, {IDS_TIP_OPEN, 50, "", {}},
    {IDS_AUDIO_PLAYING, 50, "dd", {99, 99}}, {IDS_AUDIO_PAUSED, 50, "dd", {99, 99}}, {IDS_AUDIO_STOPPED, 50, "d", {99}},
    {IDS_UPDATE_NEWER, 260, "dddddddd", {65535, 65535, 65535, 65535, 65535, 65535, 65535, 65535}},
    {IDS_BUSY_TIP, 25, "", {}}, {IDS_UPDATE_NONE, 260, "", {}}, {IDS_UPDATE_CAPTION, 50, "", {}},
    {IDS_UPDATE_FAILED, 100, "", {}},
};

std::string conversionsOf(const wchar_t* format) {  // "%%" is no conversion
    std::string found;
    for (const wchar_t* p = format; *p != L'\0'; ++p) {
        if (*p != L'%' || *++p == L'%') continue;
        found.push_back(static_cast<char>(*p));
        if (*p == L'\0') break;
    }
    return found;
}

// "id:class" of each control with an id in the library's three dialogs.
std::wstring controlsOf(HMODULE module) {
    std::wstring list;
    for (UINT id : {IDD_GENERAL, IDD_DRIVE, IDD_COUNTDOWN}) {
        HWND dialog = CreateDialogParamW(module, MAKEINTRESOURCEW(id), GetDesktopWindow(),
                                         [](HWND, UINT, WPARAM, LPARAM) -> INT_PTR { return FALSE; }, 0);
        for (HWND c = GetWindow(dialog, GW_CHILD); c != nullptr; c = GetWindow(c, GW_HWNDNEXT)) {
            wchar_t name[64] = L"";
            GetClassNameW(c, name, 64);
            const int control = GetDlgCtrlID(c);
            if (control != -1 && control != 0xFFFF) list += std::to_wstring(control) + L":" + name + L" ";
        }
        list += dialog != nullptr ? L"|" : L"<no dialog>";
        DestroyWindow(dialog);
    }
    return list;
}

bool outsideTheShellsRange(HMENU menu) {  // the shell's own commands take 1..0x7FFF
    for (int i = 0; i < GetMenuItemCount(menu); ++i) {
        const UINT id = GetMenuItemID(menu, i);
        if (GetSubMenu(menu, i) ? !outsideTheShellsRange(GetSubMenu(menu, i)) : id != 0 && id <= 0x7FFF) return false;
    }
    return true;
}

TEST(LanguageLibrary, StringsFitTheirCapacityWithTheirArgumentsAndMenuAndDialogsAreComplete) {
    INITCOMMONCONTROLSEX classes{sizeof classes, ICC_USEREX_CLASSES | ICC_WIN95_CLASSES};
    InitCommonControlsEx(&classes);
    std::wstring firstDialogs;
    for (const wchar_t* name : {L"sbay_6_eng.dll", L"sbay_6_rus.dll"}) {
        SCOPED_TRACE(testing::Message() << name);
        HMODULE module = LoadLibraryW((testProgramDir() + name).c_str());
        ASSERT_NE(module, nullptr);
        for (const StringContract& contract : kStrings) {
            wchar_t text[1024] = L"", formatted[1024];
            const int length = LoadStringW(module, contract.id, text, 1024);
            formatText(formatted, 1024, text, contract.largest);
            EXPECT_TRUE(length > 0 && length < contract.capacity && lstrlenW(formatted) < contract.capacity)
                << "string " << contract.id << " is missing, or cut when loaded or formatted";
            EXPECT_EQ(conversionsOf(text), contract.conversions) << "string " << contract.id;
        }
        HMENU menu = LoadMenuW(module, MAKEINTRESOURCEW(IDM_TRAY)), popup = GetSubMenu(menu, 0);
        ASSERT_GT(GetMenuItemCount(popup), TRAY_POS_PROGRAM);
        for (int at : {TRAY_POS_SPEED, TRAY_POS_AUDIO, TRAY_POS_SHELL}) EXPECT_NE(GetSubMenu(popup, at), nullptr) << at;
        EXPECT_TRUE(outsideTheShellsRange(popup));
        DestroyMenu(menu);
        const std::wstring dialogs = controlsOf(module);
        if (firstDialogs.empty()) firstDialogs = dialogs;
        EXPECT_EQ(dialogs, firstDialogs) << "both languages' dialogs hold the same controls";
        EXPECT_GT(dialogs.size(), 300u);
        FreeLibrary(module);
    }
}

}  // namespace
