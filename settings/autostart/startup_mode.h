// How the program starts with Windows: by the current user's Run value
// "sbay", or as the automatically started service "sbay_svc". The mode lives
// only in the registry and the service database, never in the settings file.
#ifndef SPINDLEBAY_STARTUP_MODE_H
#define SPINDLEBAY_STARTUP_MODE_H

#include "settings/settings_file.h"

// Sets `settings.autostart` and `settings.asService` to the mode in effect
// on this machine.
void detectStartupMode(GlobalSettings& settings);

// Changes the mode from the one `previous` holds (the last detection or
// apply) to the one `wanted` asks for, and corrects the two flags of
// `wanted` to the mode actually reached.
void applyStartupMode(GlobalSettings& wanted, const GlobalSettings& previous);

#endif
