// Both built language libraries hold what the program loads from them: every text, the tray menu with its
// submenus where it looks for them, and dialogs with the same controls (check_texts.py sizes the texts).
#include "resources/resource_ids.h"
#include "tests/test_support.h"

#include <commctrl.h>
#include <gtest/gtest.h>

namespace {

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

TEST(LanguageLibrary, EveryTextTheMenuAndTheSameDialogsLoadFromBoth) {
    INITCOMMONCONTROLSEX classes{sizeof classes, ICC_USEREX_CLASSES | ICC_WIN95_CLASSES};
    InitCommonControlsEx(&classes);
    std::wstring firstDialogs;
    for (const wchar_t* name : {L"sbay_6_eng.dll", L"sbay_6_rus.dll"}) {
        SCOPED_TRACE(testing::Message() << name);
        HMODULE module = LoadLibraryW((testProgramDir() + name).c_str());
        ASSERT_NE(module, nullptr);
        for (UINT id = IDS_LANG0; id <= IDS_UPDATE_FAILED; ++id) {
            wchar_t text[260] = L"";
            EXPECT_GT(LoadStringW(module, id, text, 260), 0) << "string " << id;
        }
        HMENU menu = LoadMenuW(module, MAKEINTRESOURCEW(IDM_TRAY)), popup = GetSubMenu(menu, 0);
        ASSERT_GT(GetMenuItemCount(popup), TRAY_POS_PROGRAM);
        for (int at : {TRAY_POS_SHELL, TRAY_POS_SPEED, TRAY_POS_AUDIO, TRAY_POS_PROGRAM}) {
            EXPECT_NE(GetSubMenu(popup, at), nullptr) << "submenu " << at;
        }
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
