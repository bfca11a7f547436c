// The settings file "sbay.ini" and the settings records it fills.
#ifndef SPINDLEBAY_SETTINGS_FILE_H
#define SPINDLEBAY_SETTINGS_FILE_H

#include <windows.h>
#include <cstdint>

constexpr int kDriveCount = 26;

// One hot key as RegisterHotKey takes it; key 0 means "no hot key".
struct HotKeySetting {
    uint16_t modifiers;  // MOD_ALT, MOD_CONTROL, MOD_SHIFT, MOD_WIN
    uint16_t key;        // virtual-key code
};

struct GlobalSettings {
    int32_t       autostart;     // from the registry and the service database, never the file
    int32_t       asService;     // likewise
    int32_t       nDefaultDisk;  // 'A'..'Z' of the default drive, 0 = none
    int32_t       nLanguage;     // 0 English, anything else Russian
    HotKeySetting hkDefDiskEject;
    HotKeySetting hkDefDiskClose;
    HotKeySetting hkDefDiskSelect;
};

struct DriveSettings {
    HotKeySetting hkEject;
    HotKeySetting hkClose;
    int32_t       bAutoCloseIn;
    int32_t       bShowTime;
    uint32_t      uAutoCloseSeconds;
    int32_t       bLogOffEject;
    int32_t       bBeepDiskInside;
    int32_t       bHide;
    int32_t       bLock;
};

struct SettingsBlock {
    GlobalSettings global;
    DriveSettings  drives[kDriveCount];
};

extern SettingsBlock liveSettings;   // what the whole program reads
extern SettingsBlock sheetSettings;  // the settings sheet's working copy

// Registered flags of the three global hot keys, in the order
// default-drive eject (0x201), close (0x300), select next (0x400).
extern int32_t globalHotKeyRegistered[3];

constexpr int kHotKeyDefEject  = 0x201;
constexpr int kHotKeyDefClose  = 0x300;
constexpr int kHotKeyDefSelect = 0x400;

// Leading blanks, optional sign, decimal digits; clamped to 32 bits; 0 when
// there are no digits. Also used for the dialog edits and downloaded files.
int32_t parseSettingsNumber(const wchar_t* text);

// Full path of the settings file, settled once at start-up; empty when no
// absolute location could be found, in which case nothing is read or written.
extern wchar_t settingsPath[MAX_PATH];
// The folder that saving creates when missing; empty in service mode.
extern wchar_t settingsFolder[MAX_PATH];

// Fills `path` (MAX_PATH characters) with the settings file's full path for the
// given mode, and `folder` (may be null) with the folder that saving must
// create. Returns false and leaves both empty when no absolute location exists
// (the settings are then neither read nor written).
bool chooseSettingsPath(bool asService, const wchar_t* programFolder, wchar_t* path, wchar_t* folder);

// Reads the whole file into liveSettings and registers the global hot keys on
// `window` when a default drive is set.
void loadSettings(HWND window);
void saveGlobalSection();
void saveDriveSection(int driveIndex);
// Writes "nDefaultDisk" alone; does nothing when the file existed at the last
// loadSettings but could not be read, so no value the program never read is
// overwritten.
void saveDefaultDisk();
extern bool settingsUnreadable;
// Creates the settings folder when it is missing (before an apply saves).
void createSettingsFolder();

#endif
