// The user's side of the main window: tray icon clicks, the tray menu with
// its states, item pictures and the drive's shell menu, and every command.
#ifndef SPINDLEBAY_TRAY_COMMANDS_H
#define SPINDLEBAY_TRAY_COMMANDS_H

#include <windows.h>
#include <cstdint>

// Letter code of the drive whose icon opened the tray menu last.
extern int32_t menuDriveLetter;

// Offers a message to the shell's context menu while it is open; true with
// `result` set when the shell handled it.
bool offerToShellMenu(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result);

void onTrayCallback(WPARAM iconId, LPARAM mouseMessage);
void onInitMenuPopup(HMENU menu, LPARAM lParam);
void onUninitMenuPopup(HMENU menu);
void onMeasureItem(MEASUREITEMSTRUCT* item);
void onDrawItem(const DRAWITEMSTRUCT* item);
void onCommand(WPARAM wParam);

// AUTORUN.INF of the menu's drive names something to run.
bool isAutorunAvailable();
// Splits an autorun value into program and parameters as the shell expects:
// a quoted program keeps its quotes; otherwise the first blank separates.
void splitAutorunCommand(const wchar_t* value, wchar_t (&program)[MAX_PATH], wchar_t (&parameters)[MAX_PATH]);
void runAutorun();

#endif
