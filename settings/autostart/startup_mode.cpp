#include "settings/autostart/startup_mode.h"

// Not yet able to change anything: nothing is detected, and an apply leaves
// the machine as it is and says so through the flags.
void detectStartupMode(GlobalSettings& settings) {
    settings.autostart = 0;
    settings.asService = 0;
}

void applyStartupMode(GlobalSettings& wanted, const GlobalSettings& previous) {
    wanted.autostart = previous.autostart;
    wanted.asService = previous.asService;
}
