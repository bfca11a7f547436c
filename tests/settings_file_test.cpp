// The settings file: reading with the number rules, saving, the location.
#include "settings/settings_file.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>

namespace {

using Ints = std::vector<int>;
constexpr int kGlobalKeys[] = {kHotKeyDefEject, kHotKeyDefClose, kHotKeyDefSelect};

class SettingsFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        liveSettings = sheetSettings = SettingsBlock{};
        for (int32_t& flag : globalHotKeyRegistered) flag = 0;
        lstrcpynW(settingsPath, dir.file(L"sbay.ini").c_str(), MAX_PATH);
    }
    void TearDown() override {
        for (int id : kGlobalKeys) UnregisterHotKey(window, id);
        DestroyWindow(window);
        settingsPath[0] = L'\0';
    }
    void load(const std::string& text) {
        writeTextFile(settingsPath, text);
        loadSettings(window);
    }
    bool saved(const char* line) { return readTextFile(settingsPath).find(line) != std::string::npos; }
    TempDir dir;
    HWND window = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    const GlobalSettings& g = liveSettings.global;
};

TEST(SettingsFileNumbers, FollowBlanksSignDigitsAndClampTo32Bits) {
    struct Case { const wchar_t* text; int32_t value; };
    for (Case c : {Case{L"   112", 112}, {L"\t+7", 7}, {L"-12abc", -12}, {L"0x70", 0}, {L"abc", 0}, {L"", 0},
                   {L"- 5", 0}, {L"2147483647", INT32_MAX}, {L"2147483648", INT32_MAX}, {L"-2147483648", INT32_MIN},
                   {L"-99999999999999999999999", INT32_MIN}, {L"000000000000000000000042", 42}, {nullptr, 0}}) {
        EXPECT_EQ(parseSettingsNumber(c.text), c.value) << (c.text != nullptr ? c.text : L"(null)");
    }
}

// The global keys the sheet shows are read there; here the rest, and what no key or value may break.
TEST_F(SettingsFileTest, ReadsTheKeysByTheDrivesIndexAndGarbageSafely) {
    load("[g_propMain]\r\nhkDefDiskSelect.fsModifiers=5\r\nhkDefDiskSelect.vk=122\r\n"
         "[dpDiskProp3]\r\nhkEject.fsModifiers=2\r\nhkEject.vk=   112\r\nhkClose.fsModifiers=4\r\nhkClose.vk=0x70\r\n"
         "bAutoCloseIn=1\r\nuAutoCloseSeconds=0\r\nbShowTime=1\r\nbLogOffEject=1\r\nbBeepDiskInside=1\r\nbHide=1\r\n"
         "bLock=1\r\n[dpDiskPropD]\r\nbLock=1\r\n[dpDiskProp25]\r\nuAutoCloseSeconds=-1\r\n");
    const DriveSettings& d = liveSettings.drives[3];
    EXPECT_EQ((Ints{g.hkDefDiskSelect.modifiers, g.hkDefDiskSelect.key, d.hkEject.modifiers, d.hkEject.key,
                    d.hkClose.modifiers, d.hkClose.key, d.bAutoCloseIn, static_cast<int>(d.uAutoCloseSeconds),
                    d.bShowTime, d.bLogOffEject, d.bBeepDiskInside, d.bHide, d.bLock}),
              (Ints{5, 122, 2, 112, 4, 0, 1, 0, 1, 1, 1, 1, 1}));
    for (int i = 0; i < kDriveCount; ++i) EXPECT_EQ(liveSettings.drives[i].bLock, i == 3) << "drive " << i;
    EXPECT_EQ(liveSettings.drives[25].uAutoCloseSeconds, 0xFFFFFFFFu);

    load("this is not a settings file\r\n[g_propMain\r\n=5\r\n[g_propMain]\r\n"
         "nLanguage=1\r\nnLanguage=0\r\n"                       // the first of duplicate keys wins
         "nDefaultDisk=0000000000000000000000068\r\n"          // 25 characters: "...06" survives the cut
         "hkDefDiskEject.vk=-1\r\nhkDefDiskClose.vk=65536\r\n"  // 16-bit fields keep the low bits
         "hkDefDiskSelect.vk=99999999999999999999999999999999\r\n[dpDiskProp0]\r\nbHide=\r\nbLock=yes\r\n");
    EXPECT_EQ((Ints{g.nLanguage, g.nDefaultDisk, g.hkDefDiskEject.key, g.hkDefDiskClose.key, g.hkDefDiskSelect.key,
                    liveSettings.drives[0].bHide, liveSettings.drives[0].bLock}),
              (Ints{1, 0, 65535, 0, 0xFFFF, 0, 0}));
}

// Only a drive letter is a default disk, and only with one are the global hot keys registered.
TEST_F(SettingsFileTest, GlobalHotKeysAreRegisteredOnlyWithADefaultDiskLetter) {
    const std::string keys = "hkDefDiskEject.fsModifiers=3\r\nhkDefDiskEject.vk=120\r\nhkDefDiskClose.fsModifiers=3\r\n"
                             "hkDefDiskClose.vk=121\r\nhkDefDiskSelect.fsModifiers=3\r\nhkDefDiskSelect.vk=122\r\n";
    struct Case { const char* disk; int read; };
    for (Case c : {Case{"0", 0}, {"64", 0}, {"91", 0}, {"-68", 0}, {"200", 0}, {"4294967364", 0}, {"97", 0},
                   {"65", 65}, {"90", 90}}) {
        load(std::string("[g_propMain]\r\nnDefaultDisk=") + c.disk + "\r\n" + keys);
        EXPECT_EQ(g.nDefaultDisk, c.read) << c.disk;
        for (int32_t flag : globalHotKeyRegistered) EXPECT_EQ(flag != 0, c.read != 0) << c.disk;
        for (int id : kGlobalKeys) EXPECT_EQ(UnregisterHotKey(window, id) != FALSE, c.read != 0) << c.disk;
    }
    // A key of 0 is no hot key, whatever its modifiers.
    load("[g_propMain]\r\nnDefaultDisk=69\r\nhkDefDiskEject.fsModifiers=3\r\nhkDefDiskEject.vk=0\r\n");
    for (int32_t flag : globalHotKeyRegistered) EXPECT_EQ(flag, 0);
    EXPECT_FALSE(UnregisterHotKey(window, kHotKeyDefEject));
}

// Text as the reading rules take it back: 16-bit fields unsigned, 32-bit ones signed.
TEST_F(SettingsFileTest, SavedSectionsRaiseShortCountdownsAndSkipIndexesOutOfRange) {
    liveSettings.global.nLanguage = -1;
    liveSettings.global.hkDefDiskSelect = {0x000B, 0x74};
    DriveSettings& d = liveSettings.drives[4];
    d.hkEject = {0xFFFF, 0x41};
    d.uAutoCloseSeconds = 3;
    liveSettings.drives[5].uAutoCloseSeconds = 0xFFFFFFFF;  // not below 5 as unsigned
    saveGlobalSection();
    for (int drive : {4, 5, 26, -1}) saveDriveSection(drive);
    EXPECT_EQ((Ints{static_cast<int>(d.uAutoCloseSeconds),
                    static_cast<int>(sheetSettings.drives[4].uAutoCloseSeconds)}),
              (Ints{5, 5}));
    for (const char* line : {"nLanguage=-1", "hkDefDiskSelect.fsModifiers=11", "hkEject.fsModifiers=65535",
                             "uAutoCloseSeconds=5", "uAutoCloseSeconds=-1"}) {
        EXPECT_TRUE(saved(line)) << line;
    }
    EXPECT_FALSE(saved("dpDiskProp26") || saved("dpDiskProp-1"));
}

// The exit write keeps the default disk alone, and never replaces a file that could not be read.
TEST_F(SettingsFileTest, TheExitWriteTouchesOnlyTheDefaultDiskOfAFileItRead) {
    load("[g_propMain]\r\nnLanguage=1\r\nnDefaultDisk=68\r\n[dpDiskProp3]\r\nbLock=1\r\n");
    liveSettings.global.nLanguage = 0;
    liveSettings.global.nDefaultDisk = 'F';
    saveDefaultDisk();
    EXPECT_TRUE(saved("nDefaultDisk=70") && saved("nLanguage=1") && saved("bLock=1"));

    writeTextFile(settingsPath, "[g_propMain]\r\nnDefaultDisk=69\r\n");
    HANDLE held = CreateFileW(settingsPath, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    loadSettings(window);
    CloseHandle(held);
    EXPECT_EQ(g.nDefaultDisk, 0);
    saveDefaultDisk();
    EXPECT_TRUE(saved("nDefaultDisk=69")) << "the unread value was lost";

    DeleteFileW(settingsPath);
    liveSettings.global.nLanguage = 9;
    loadSettings(window);
    EXPECT_EQ(g.nLanguage, 0) << "a missing file reads as zeroes";
    saveDefaultDisk();
    EXPECT_TRUE(fileExists(settingsPath)) << "a missing file is still written at exit";
}

// Beside the usual folders, proven by the real process: %APPDATA% missing, relative or unexpanded falls
// back to the profile's folder, and a path where "sbay.ini" no longer fits is no location.
TEST(SettingsFileLocation, NeverACutOrRelativePathAndWithoutOneNothingIsReadOrWritten) {
    wchar_t path[MAX_PATH], folder[MAX_PATH];
    const std::wstring longAppData = L"C:\\" + std::wstring(247, L'a');  // %APPDATA%\sbay still fits
    const std::wstring longFolder = L"C:\\" + std::wstring(MAX_PATH - 11, L'p') + L"\\";
    const std::wstring fitting = L"C:\\" + std::wstring(MAX_PATH - 13, L'p') + L"\\";
    struct Case { const wchar_t* appData; bool asService; const wchar_t* programFolder; bool found; };
    for (Case c : {Case{nullptr, false, L"C:\\sbay\\", true}, {L"relative\\folder", false, L"C:\\sbay\\", true},
                   {L"%OTHER%", false, L"C:\\sbay\\", true}, {longAppData.c_str(), false, L"C:\\sbay\\", false},
                   {nullptr, true, longFolder.c_str(), false}, {nullptr, true, L"", false}}) {
        ScopedEnvironment environment(L"APPDATA", c.appData);
        lstrcpyW(path, L"unchanged");
        EXPECT_EQ(chooseSettingsPath(c.asService, c.programFolder, path, folder), c.found)
            << (c.appData != nullptr ? c.appData : L"(unset)") << " " << c.programFolder;
        const std::wstring text(path);
        const bool absolute = text.size() > 14 && text.find(L'%') == std::wstring::npos &&
                              text.substr(1, 2) == L":\\" && text.substr(text.size() - 14) == L"\\sbay\\sbay.ini";
        EXPECT_TRUE(c.found ? absolute : text.empty()) << text.c_str();
    }
    ASSERT_TRUE(chooseSettingsPath(true, fitting.c_str(), path, folder));
    EXPECT_EQ(std::wstring(path), fitting + L"sbay.ini");

    // No location: a relative write would land in the current folder.
    TempDir dir;
    wchar_t previous[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, previous);
    SetCurrentDirectoryW(dir.path().c_str());
    settingsPath[0] = L'\0';
    liveSettings.global.nDefaultDisk = 'D';
    saveGlobalSection();
    saveDriveSection(3);
    saveDefaultDisk();
    loadSettings(nullptr);
    EXPECT_EQ(liveSettings.global.nDefaultDisk, 0);
    EXPECT_FALSE(fileExists(dir.file(L"sbay.ini")));
    SetCurrentDirectoryW(previous);
}

}  // namespace
