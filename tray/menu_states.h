// The tray menu's item states, set each time it opens for the drive whose
// icon was clicked.
#ifndef SPINDLEBAY_MENU_STATES_H
#define SPINDLEBAY_MENU_STATES_H

#include <windows.h>

void onInitMenuPopup(HMENU menu, LPARAM lParam);
void onUninitMenuPopup(HMENU menu);

#endif
