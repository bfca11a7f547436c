// Where the program takes libraries from. The language library is only read: a replaced one with code in it never
// runs it, and its texts still serve (its menu, dialogs and settings pages, loaded the same way, serve the TrayMenu,
// EjectClose and SettingsSheet tests).
#include "common/program_state.h"
#include "common/system_library.h"
#include "resources/language.h"
#include "resources/resource_ids.h"
#include "settings/settings_file.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>

namespace {

TEST(Libraries, ALanguageLibrarysCodeNeverRunsAndItsTextsAndMenuServe) {
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
    FreeLibrary(languageModule);
    languageModule = nullptr;
}

// Once the entry has restricted the search, a library beside the program is no longer found by its name alone.
TEST(Libraries, TheEntryStopsLookingInTheProgramsFolder) {
    const auto findBesideTheProgram = [] {
        HMODULE found = LoadLibraryExW(L"marked_language.dll", nullptr, DONT_RESOLVE_DLL_REFERENCES);
        if (found != nullptr) FreeLibrary(found);
        return found != nullptr;
    };
    ASSERT_TRUE(findBesideTheProgram());
    restrictLibrarySearch();
    EXPECT_FALSE(findBesideTheProgram());
    EXPECT_NE(loadSystemLibrary(L"winmm.dll"), nullptr);
    SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);  // as the other tests expect
}

}  // namespace
