// What a click on a tray icon does, and every command of the tray menu.
#ifndef SPINDLEBAY_TRAY_COMMANDS_H
#define SPINDLEBAY_TRAY_COMMANDS_H

#include <windows.h>
#include <cstdint>

// Letter code of the drive whose icon opened the tray menu last.
extern int32_t menuDriveLetter;

void onTrayCallback(WPARAM iconId, LPARAM mouseMessage);
void onCommand(WPARAM wParam);

#endif
