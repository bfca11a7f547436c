// The language library is read, never run: a replaced one with code in it still gives texts, menu and dialogs.
#include "common/program_state.h"
#include "resources/language.h"
#include "resources/resource_ids.h"
#include "settings/settings_file.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>
#include <prsht.h>

namespace {

INT_PTR CALLBACK quietDialog(HWND, UINT, WPARAM, LPARAM) { return FALSE; }

TEST(LanguageModule, ALibrarysCodeNeverRunsAndItsTextsMenuDialogsAndPagesServe) {
    TempDir folder;
    ASSERT_TRUE(CopyFileW((testProgramDir() + L"marked_language.dll").c_str(), folder.file(L"sbay_6_eng.dll").c_str(),
                          FALSE));
    ScopedEnvironment mark(L"SBAY_LIBRARY_CODE_RAN", nullptr);
    const std::wstring savedDir = programDir;
    lstrcpynW(programDir, (folder.path() + L"\\").c_str(), MAX_PATH);
    liveSettings.global.nLanguage = 0;
    loadLanguageLibrary();
    lstrcpynW(programDir, savedDir.c_str(), MAX_PATH);
    ASSERT_NE(languageModule, nullptr);
    EXPECT_EQ(GetEnvironmentVariableW(L"SBAY_LIBRARY_CODE_RAN", nullptr, 0), 0u) << "the library's DllMain ran";

    wchar_t about[260];
    loadText(IDS_ABOUT, about, 260);
    EXPECT_EQ(about, englishString(IDS_ABOUT));
    HMENU menu = LoadMenuW(languageModule, MAKEINTRESOURCEW(IDM_TRAY));
    EXPECT_GT(GetMenuItemCount(GetSubMenu(menu, 0)), TRAY_POS_PROGRAM);
    DestroyMenu(menu);
    HWND countdown = CreateDialogParamW(languageModule, MAKEINTRESOURCEW(IDD_COUNTDOWN), nullptr, quietDialog, 0);
    EXPECT_NE(GetDlgItem(countdown, IDC_PROGRESS), nullptr);
    DestroyWindow(countdown);

    PROPSHEETPAGEW pages[2]{};
    for (int i = 0; i < 2; ++i) {
        pages[i].dwSize = sizeof pages[i];
        pages[i].hInstance = languageModule;
        pages[i].pszTemplate = MAKEINTRESOURCEW(i == 0 ? IDD_GENERAL : IDD_DRIVE);
        pages[i].pfnDlgProc = quietDialog;
    }
    PROPSHEETHEADERW header{};
    header.dwSize = sizeof header;
    header.dwFlags = PSH_PROPSHEETPAGE | PSH_MODELESS;
    header.pszCaption = L"";
    header.nPages = 2;
    header.ppsp = pages;
    HWND sheet = reinterpret_cast<HWND>(PropertySheetW(&header));
    ASSERT_NE(sheet, nullptr);
    SendMessageW(sheet, PSM_SETCURSEL, 1, 0);
    EXPECT_NE(GetDlgItem(reinterpret_cast<HWND>(SendMessageW(sheet, PSM_INDEXTOHWND, 0, 0)), IDC_LANGUAGE), nullptr);
    EXPECT_NE(GetDlgItem(reinterpret_cast<HWND>(SendMessageW(sheet, PSM_INDEXTOHWND, 1, 0)), IDC_DRIVE), nullptr);
    DestroyWindow(sheet);
    FreeLibrary(languageModule);
    languageModule = nullptr;
}

}  // namespace
