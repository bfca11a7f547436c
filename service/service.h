// The service shell: lets the same executable run as the service "sbay_svc".
#ifndef SPINDLEBAY_SERVICE_H
#define SPINDLEBAY_SERVICE_H

#include <windows.h>
#include <cstdint>

// 1 once the service entry has run; never cleared.
extern volatile LONG serviceMode;

// Starts the thread that offers the process to the service control manager.
// Called first thing by the entry; does not wait.
void startServiceDispatcher();

// Makes sure serviceMode is final. A process that the service control manager
// started waits (bounded) until the service entry has run or the dispatcher
// has failed; any other process returns at once, since outside service mode
// the dispatcher's failure may take seconds to arrive.
void settleServiceMode();

// A stop (or the machine's shutdown) asked of the service closes the main
// window as Exit does. One that came before the window existed is passed on
// by this call, made once the main window is there.
void passPendingServiceStop();

// Tells the service control manager that the service has stopped; the last
// step of the shut-down. Does nothing outside service mode.
void reportServiceStopped();

#endif
