// How the program starts with Windows: by the current user's Run value
// "sbay", or as the automatically started service "sbay_svc". The mode lives
// only in the registry and the service database, never in the settings file.
#ifndef SPINDLEBAY_STARTUP_MODE_H
#define SPINDLEBAY_STARTUP_MODE_H

#include "settings/settings_file.h"

#include <windows.h>

// Sets `settings.autostart` and `settings.asService` to the mode in effect
// on this machine. Tidies on the way: a Run value naming another program, a
// Run value beside the installed service, and an automatically started
// "sbay_svc" of another executable are deleted.
void detectStartupMode(GlobalSettings& settings);

// Changes the mode from the one `previous` holds (the last detection or
// apply) to the one `wanted` asks for, and corrects the two flags of
// `wanted` to the mode actually reached. False when the change was refused
// for lack of rights (a standard user, or an administrator without
// elevation, asking for or removing the service), for the caller to say so.
bool applyStartupMode(GlobalSettings& wanted, const GlobalSettings& previous);

// Writes (on) or deletes (off) the Run value; true when that succeeded.
bool setRunValue(bool on);

// Deletes "sbay_svc" through an open service manager; true when the service
// could be opened for it.
bool deleteService(SC_HANDLE manager);

#endif
