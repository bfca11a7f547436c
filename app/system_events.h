// How the main window follows the system: drives that come and go, sleep and
// wake-up, the end of the session, hot keys, a restarted taskbar, and a
// second start of the program.
#ifndef SPINDLEBAY_SYSTEM_EVENTS_H
#define SPINDLEBAY_SYSTEM_EVENTS_H

#include <windows.h>
#include <cstdint>

struct TrayIconRecord;

// Set by the first machine shutdown handled in service mode.
extern int32_t shutdownHandled;

LRESULT onDeviceChange(WPARAM event, LPARAM data);
LRESULT onPowerBroadcast(WPARAM event);
LRESULT onQueryEndSession(LPARAM reason);
void onEndSession(WPARAM ending, LPARAM reason);
void onHotKey(WPARAM id);
void onTaskbarCreated();
void onSecondInstance();

// Shows `text` as a balloon on a tray icon, with the product as its title.
void showBalloon(TrayIconRecord* icon, const wchar_t* text);

#endif
