// Both language libraries hold the texts and the menu the program loads, within the sizes it loads them into
// (the sheet tests compare their dialogs).
#include "resources/language.h"
#include "resources/resource_ids.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>

#include <set>

namespace {

struct StringContract {
    UINT id;
    int capacity;
    const char* conversions;  // in order: d = number, c = letter
    std::initializer_list<int64_t> largest;
};

const StringContract kStrings[] = {
    {IDS_LANG0, 25, "", {}}, {IDS_LANG1, 25, "", {}}, {IDS_COMMON_TIP, 50, "", {}},
    {IDS_EJECTED, 50, "c", {L'W'}}, {IDS_EJECTED_CAP, 25, "", {}}, {IDS_COUNTDOWN, 50, "dc", {99, L'W'}},
    {IDS_ABOUT, 260, "", {}}, {IDS_SECOND_START, 260, "", {}}, {IDS_TIP_EMPTY, 50, "", {}},
    {IDS_TIP_OPEN, 50, "", {}}, {IDS_AUDIO_PLAYING, 50, "dd", {99, 99}}, {IDS_AUDIO_PAUSED, 50, "dd", {99, 99}},
    {IDS_AUDIO_STOPPED, 50, "d", {99}}, {IDS_BUSY_TIP, 25, "", {}},
    {IDS_UPDATE_NEWER, 260, "dddddddd", {65535, 65535, 65535, 65535, 65535, 65535, 65535, 65535}},
    {IDS_UPDATE_NONE, 260, "", {}}, {IDS_UPDATE_CAPTION, 50, "", {}}, {IDS_UPDATE_FAILED, 100, "", {}},
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

void collectMenuIds(HMENU menu, std::multiset<UINT>& ids) {
    for (int i = 0; i < GetMenuItemCount(menu); ++i) {
        if (HMENU sub = GetSubMenu(menu, i)) collectMenuIds(sub, ids);
        else ids.insert(GetMenuItemID(menu, i));
    }
}

TEST(LanguageLibrary, StringsFitTheirCapacityWithTheirArgumentsAndTheMenuHoldsEveryCommand) {
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
        // Each language is named in its own language, whatever the library's.
        wchar_t english[25], russian[25];
        LoadStringW(module, IDS_LANG0, english, 25);
        LoadStringW(module, IDS_LANG1, russian, 25);
        EXPECT_STREQ(english, L"English");
        EXPECT_STREQ(russian, L"\x0420\x0443\x0441\x0441\x043A\x0438\x0439");

        HMENU menu = LoadMenuW(module, MAKEINTRESOURCEW(IDM_TRAY)), popup = GetSubMenu(menu, 0);
        ASSERT_GT(GetMenuItemCount(popup), TRAY_POS_PROGRAM);
        std::multiset<UINT> ids, speeds, audio;
        collectMenuIds(popup, ids);
        collectMenuIds(GetSubMenu(popup, TRAY_POS_SPEED), speeds);
        collectMenuIds(GetSubMenu(popup, TRAY_POS_AUDIO), audio);
        for (UINT id : {IDM_EXIT, IDM_README, IDM_ABOUT, IDM_OPEN, IDM_CLOSE, IDM_LOCK, IDM_HEADER, IDM_SETTINGS,
                        IDM_AUTORUN, IDM_UPDATE}) {
            EXPECT_EQ(ids.count(id), 1u) << "command " << id;
        }
        for (UINT id = IDM_SPEED_1X; id <= IDM_SPEED_MAX; ++id) EXPECT_EQ(speeds.count(id), 1u) << "speed " << id;
        for (UINT id = IDM_PLAY; id <= IDM_PREVIOUS; ++id) EXPECT_EQ(audio.count(id), 1u) << "audio " << id;
        // The shell's own commands take 1..0x7FFF: the menu must not use them.
        for (UINT id : ids) EXPECT_TRUE(id == 0 || id > 0x7FFF) << "command " << id;
        EXPECT_NE(GetSubMenu(popup, TRAY_POS_SHELL), nullptr);
        DestroyMenu(menu);
        FreeLibrary(module);
    }
}

}  // namespace
