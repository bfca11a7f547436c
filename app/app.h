// Process-wide state of the application core: the entry, the hidden main
// window and what its start-up prepares for everyone else.
#ifndef SPINDLEBAY_APP_H
#define SPINDLEBAY_APP_H

#include <windows.h>
#include <commctrl.h>
#include <cstdint>

// Class name of the main window and name of the single-instance message.
constexpr wchar_t kInstanceKey[] = L"76FD48D7-7A5A-444D-8741-8C116CB079A2";
// Callback message of every tray icon of the program.
constexpr UINT kTrayCallbackMessage = 1165;
// Tray icon id of the common icon shown while no optical drive exists.
constexpr UINT kCommonIconId = 26;

extern HINSTANCE appInstance;
extern UINT msgSecondInstance;

// Set by the start-up (WM_CREATE of the main window).
extern HWND mainWindow;
extern UINT msgTaskbarCreated;
extern int32_t isVistaOrLater;
extern wchar_t programDir[MAX_PATH];  // ends with a backslash
extern wchar_t soundPath[MAX_PATH];
extern uint32_t productVersion[4];    // major, minor, release, build
extern wchar_t productString[52];
extern HIMAGELIST stateImages;
extern HIMAGELIST highlightImages;
extern HIMAGELIST letterImages;
extern HICON templateIcon;
extern HICON busyIcon;
extern HICON commonIcon;

// The entry: single instance, main window, message loop. Returns the exit code.
int programMain(HINSTANCE instance);

// Pieces of the entry, also used by tests that host the main window.
ATOM registerMainWindowClass(HINSTANCE instance);
HWND createMainWindow(HINSTANCE instance);
int runMessageLoop();
// One message of the loop: offered to the countdown dialogs first.
void routeMessage(MSG& message);

LRESULT CALLBACK mainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Start-up and shut-down of the main window (WM_CREATE, WM_DESTROY).
void onMainWindowCreate(HWND window);
void onMainWindowDestroy();

// Reads the product version from the version resource of the file at `path`;
// 0.0.0.0 when it has none.
void readProductVersion(const wchar_t* path, uint32_t (&version)[4]);

#endif
