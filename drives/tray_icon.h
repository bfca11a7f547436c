// Tray icon records and icon composition, shared by the drive icons and the
// common icon.
#ifndef SPINDLEBAY_TRAY_ICON_H
#define SPINDLEBAY_TRAY_ICON_H

#include <windows.h>
#include <shellapi.h>
#include <commctrl.h>
#include <cstdint>

// The size the program announces to the shell: the notify-icon structure up
// to and including dwInfoFlags.
constexpr DWORD kNotifyIconSize = 952;
static_assert(NOTIFYICONDATAW_V2_SIZE == kNotifyIconSize);

// Tray icon records that exist: drive icons and the common icon.
extern int32_t trayIconCount;

struct TrayIconRecord {
    NOTIFYICONDATAW data;
    int32_t         added;  // the shell holds the icon, by the last add
};

// Allocates a record for icon `id` of the main window and counts it in
// trayIconCount; null when out of memory.
TrayIconRecord* createTrayIconRecord(UINT id);

// Adds the icon with the flags set in its data. An add that fails because
// the shell still holds the icon (a "TaskbarCreated" sent while the icons
// were kept) is answered by a modify, so the icon keeps working. Sets and
// returns `added`.
bool addTrayIcon(TrayIconRecord* record);

// Deletes the icon from the notification area when the shell has it, counts
// the record off trayIconCount and frees it. Accepts null.
void removeTrayIconRecord(TrayIconRecord* record);

// Composes a 16x16 icon from a state image of `images` with, when wanted, the
// letter image `letterIndex` drawn over it. The caller owns the icon.
HICON composeDriveIcon(HIMAGELIST images, int stateImage, int letterIndex, bool withLetter);

#endif
