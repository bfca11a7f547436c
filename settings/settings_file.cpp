#include "settings/settings_file.h"

#include "common/paths.h"

#include <shlobj.h>
#include <shlwapi.h>
#include <cwchar>

SettingsBlock liveSettings;
SettingsBlock sheetSettings;
int32_t globalHotKeyRegistered[3];
wchar_t settingsPath[MAX_PATH];
wchar_t settingsFolder[MAX_PATH];

namespace {

constexpr wchar_t kGlobalSection[] = L"g_propMain";
constexpr int kValueCapacity = 25;  // so at most 24 characters arrive

// Reads one value; a missing file, section or key reads as 0.
int32_t readNumber(const wchar_t* section, const wchar_t* key) {
    if (settingsPath[0] == L'\0') return 0;
    wchar_t text[kValueCapacity] = L"";
    GetPrivateProfileStringW(section, key, L"", text, kValueCapacity, settingsPath);
    return parseSettingsNumber(text);
}

uint16_t readWord(const wchar_t* section, const wchar_t* key) {
    return static_cast<uint16_t>(readNumber(section, key));  // keeps the low 16 bits
}

void writeSigned(const wchar_t* section, const wchar_t* key, int32_t value) {
    if (settingsPath[0] == L'\0') return;
    wchar_t text[16];
    swprintf(text, 16, L"%d", value);
    WritePrivateProfileStringW(section, key, text, settingsPath);
}

void writeWord(const wchar_t* section, const wchar_t* key, uint16_t value) {
    writeSigned(section, key, value);
}

void driveSectionName(int driveIndex, wchar_t (&name)[16]) {
    swprintf(name, 16, L"dpDiskProp%d", driveIndex);
}

bool isAbsolutePath(const wchar_t* path) {
    const bool drivePath = path[0] != L'\0' && path[1] == L':' && path[2] == L'\\';
    const bool uncPath = path[0] == L'\\' && path[1] == L'\\';
    return drivePath || uncPath;
}

// The user's roaming application-data folder followed by "\sbay".
bool userSettingsFolder(wchar_t (&folder)[MAX_PATH]) {
    DWORD length = ExpandEnvironmentStringsW(L"%APPDATA%\\sbay", folder, MAX_PATH);
    if (length != 0 && length <= MAX_PATH && std::wcschr(folder, L'%') == nullptr &&
        isAbsolutePath(folder)) {
        return true;
    }
    // %APPDATA% is missing or odd: ask the shell instead of ever writing
    // beside whatever the current folder happens to be.
    wchar_t shellFolder[MAX_PATH] = L"";
    if (FAILED(SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, shellFolder)) ||
        !isAbsolutePath(shellFolder)) {
        return false;
    }
    return joinPath(folder, shellFolder, L"\\sbay");
}

}  // namespace

int32_t parseSettingsNumber(const wchar_t* text) {
    if (text == nullptr) return 0;
    const wchar_t* p = text;
    while (*p == L' ' || *p == L'\t' || *p == L'\r' || *p == L'\n' || *p == L'\v' || *p == L'\f') ++p;
    bool negative = false;
    if (*p == L'+' || *p == L'-') {
        negative = *p == L'-';
        ++p;
    }
    int64_t value = 0;
    constexpr int64_t kLimit = int64_t{INT32_MAX} + 1;
    for (; *p >= L'0' && *p <= L'9'; ++p) {
        if (value < kLimit) value = value * 10 + (*p - L'0');
    }
    if (negative) value = -value;
    if (value > INT32_MAX) return INT32_MAX;
    if (value < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(value);
}

bool chooseSettingsPath(bool asService, const wchar_t* programFolder, wchar_t* path, wchar_t* folder) {
    path[0] = L'\0';
    if (folder != nullptr) folder[0] = L'\0';
    if (asService) {
        if (programFolder == nullptr || !isAbsolutePath(programFolder)) return false;
        return joinPath(path, programFolder, L"sbay.ini");
    }
    wchar_t userFolder[MAX_PATH];
    if (!userSettingsFolder(userFolder)) return false;
    if (!joinPath(path, userFolder, L"\\sbay.ini")) return false;
    if (folder != nullptr) lstrcpynW(folder, userFolder, MAX_PATH);
    return true;
}

bool settingsUnreadable = false;

void loadSettings(HWND window) {
    // A file that exists but cannot be opened (another program holds it
    // without sharing) reads as all zeros; remember that, so the write at exit
    // does not replace the user's values with them.
    settingsUnreadable = false;
    if (settingsPath[0] != L'\0' && GetFileAttributesW(settingsPath) != INVALID_FILE_ATTRIBUTES) {
        HANDLE file = CreateFileW(settingsPath, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            settingsUnreadable = true;
        } else {
            CloseHandle(file);
        }
    }
    GlobalSettings& g = liveSettings.global;
    g.nLanguage = readNumber(kGlobalSection, L"nLanguage");
    g.nDefaultDisk = readNumber(kGlobalSection, L"nDefaultDisk");
    // Only 'A'..'Z' name a drive; anything else means "no default drive", so
    // no later step can index outside the drive table with it.
    if (g.nDefaultDisk < 'A' || g.nDefaultDisk > 'Z') g.nDefaultDisk = 0;
    g.hkDefDiskEject.modifiers = readWord(kGlobalSection, L"hkDefDiskEject.fsModifiers");
    g.hkDefDiskEject.key = readWord(kGlobalSection, L"hkDefDiskEject.vk");
    g.hkDefDiskClose.modifiers = readWord(kGlobalSection, L"hkDefDiskClose.fsModifiers");
    g.hkDefDiskClose.key = readWord(kGlobalSection, L"hkDefDiskClose.vk");
    g.hkDefDiskSelect.modifiers = readWord(kGlobalSection, L"hkDefDiskSelect.fsModifiers");
    g.hkDefDiskSelect.key = readWord(kGlobalSection, L"hkDefDiskSelect.vk");

    if (g.nDefaultDisk != 0) {
        // A key of 0 means "no hot key": it is never registered.
        const HotKeySetting* keys[] = {&g.hkDefDiskEject, &g.hkDefDiskClose, &g.hkDefDiskSelect};
        const int ids[] = {kHotKeyDefEject, kHotKeyDefClose, kHotKeyDefSelect};
        for (int i = 0; i < 3; ++i) {
            globalHotKeyRegistered[i] =
                keys[i]->key != 0 && RegisterHotKey(window, ids[i], keys[i]->modifiers, keys[i]->key);
        }
    }

    for (int i = 0; i < kDriveCount; ++i) {
        wchar_t section[16];
        driveSectionName(i, section);
        DriveSettings& d = liveSettings.drives[i];
        d.hkEject.modifiers = readWord(section, L"hkEject.fsModifiers");
        d.hkEject.key = readWord(section, L"hkEject.vk");
        d.hkClose.modifiers = readWord(section, L"hkClose.fsModifiers");
        d.hkClose.key = readWord(section, L"hkClose.vk");
        d.bAutoCloseIn = readNumber(section, L"bAutoCloseIn");
        d.uAutoCloseSeconds = static_cast<uint32_t>(readNumber(section, L"uAutoCloseSeconds"));
        d.bShowTime = readNumber(section, L"bShowTime");
        d.bLogOffEject = readNumber(section, L"bLogOffEject");
        d.bBeepDiskInside = readNumber(section, L"bBeepDiskInside");
        d.bHide = readNumber(section, L"bHide");
        d.bLock = readNumber(section, L"bLock");
    }
}

void saveGlobalSection() {
    const GlobalSettings& g = liveSettings.global;
    writeSigned(kGlobalSection, L"nLanguage", g.nLanguage);
    writeSigned(kGlobalSection, L"nDefaultDisk", g.nDefaultDisk);
    writeWord(kGlobalSection, L"hkDefDiskEject.fsModifiers", g.hkDefDiskEject.modifiers);
    writeWord(kGlobalSection, L"hkDefDiskEject.vk", g.hkDefDiskEject.key);
    writeWord(kGlobalSection, L"hkDefDiskClose.fsModifiers", g.hkDefDiskClose.modifiers);
    writeWord(kGlobalSection, L"hkDefDiskClose.vk", g.hkDefDiskClose.key);
    writeWord(kGlobalSection, L"hkDefDiskSelect.fsModifiers", g.hkDefDiskSelect.modifiers);
    writeWord(kGlobalSection, L"hkDefDiskSelect.vk", g.hkDefDiskSelect.key);
}

void saveDriveSection(int driveIndex) {
    if (driveIndex < 0 || driveIndex >= kDriveCount) return;
    wchar_t section[16];
    driveSectionName(driveIndex, section);
    DriveSettings& d = liveSettings.drives[driveIndex];
    if (d.uAutoCloseSeconds < 5) {
        d.uAutoCloseSeconds = 5;
        sheetSettings.drives[driveIndex].uAutoCloseSeconds = 5;
    }
    writeWord(section, L"hkEject.fsModifiers", d.hkEject.modifiers);
    writeWord(section, L"hkEject.vk", d.hkEject.key);
    writeWord(section, L"hkClose.fsModifiers", d.hkClose.modifiers);
    writeWord(section, L"hkClose.vk", d.hkClose.key);
    writeSigned(section, L"bAutoCloseIn", d.bAutoCloseIn);
    writeSigned(section, L"uAutoCloseSeconds", static_cast<int32_t>(d.uAutoCloseSeconds));
    writeSigned(section, L"bShowTime", d.bShowTime);
    writeSigned(section, L"bLogOffEject", d.bLogOffEject);
    writeSigned(section, L"bBeepDiskInside", d.bBeepDiskInside);
    writeSigned(section, L"bHide", d.bHide);
    writeSigned(section, L"bLock", d.bLock);
}

void saveDefaultDisk() {
    if (settingsUnreadable) return;
    writeSigned(kGlobalSection, L"nDefaultDisk", liveSettings.global.nDefaultDisk);
}

void createSettingsFolder() {
    if (settingsFolder[0] != L'\0' && !PathIsDirectoryW(settingsFolder)) {
        CreateDirectoryW(settingsFolder, nullptr);
    }
}
