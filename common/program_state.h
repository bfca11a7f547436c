// Program-wide state: what the entry and the main window's start-up settle
// once for every other module, and the constants they all share.
#ifndef SPINDLEBAY_PROGRAM_STATE_H
#define SPINDLEBAY_PROGRAM_STATE_H

#include <windows.h>
#include <commctrl.h>
#include <cstdint>

// Class name of the main window and name of the single-instance message.
constexpr wchar_t kInstanceKey[] = L"76FD48D7-7A5A-444D-8741-8C116CB079A2";
// Callback message of every tray icon of the program.
constexpr UINT kTrayCallbackMessage = 1165;
// Tray icon id of the common icon shown while no optical drive exists.
constexpr UINT kCommonIconId = 26;

// Set by the entry.
extern HINSTANCE appInstance;
extern UINT msgSecondInstance;

// Set by the start-up (WM_CREATE of the main window).
extern HWND mainWindow;
extern UINT msgTaskbarCreated;
extern int32_t isVistaOrLater;
extern wchar_t programDir[MAX_PATH];  // ends with a backslash
extern wchar_t executablePath[MAX_PATH];  // the program's own executable, no quotes
extern wchar_t soundPath[MAX_PATH];
extern uint32_t productVersion[4];    // major, minor, release, build
extern wchar_t productString[52];
// Size of the tray icons and of the three image lists they are composed
// from: the small-icon size of the display holding the notification area.
extern int32_t trayIconSize;
extern HIMAGELIST stateImages;
extern HIMAGELIST highlightImages;
extern HIMAGELIST letterImages;
extern HICON templateIcon;
extern HICON busyIcon;
extern HICON commonIcon;

#endif
