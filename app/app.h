// The application: the entry, the hidden main window and its start-up and
// shut-down. What start-up settles for everyone else is in program_state.h.
#ifndef SPINDLEBAY_APP_H
#define SPINDLEBAY_APP_H

#include <windows.h>
#include <cstdint>

#include "common/program_state.h"

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

// Composes the tray icons again at `size` pixels (16, 20, 24 or 32) when
// they have another size, and shows the new ones.
void applyTrayIconSize(int size);
// The display's scale may have changed (a display, setting or taskbar
// message): the tray icons follow the small-icon size of the taskbar's
// display.
void followDisplayScale();

// Reads the product version from the version resource of the file at `path`;
// 0.0.0.0 when it has none.
void readProductVersion(const wchar_t* path, uint32_t (&version)[4]);

#endif
