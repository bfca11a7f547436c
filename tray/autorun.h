// The disc's AUTORUN.INF: what it names to run, and running it.
#ifndef SPINDLEBAY_AUTORUN_H
#define SPINDLEBAY_AUTORUN_H

#include <windows.h>

// AUTORUN.INF of the menu's drive names something to run.
bool isAutorunAvailable();
// Splits an autorun value into program and parameters as the shell expects:
// a quoted program keeps its quotes; otherwise the first blank separates.
void splitAutorunCommand(const wchar_t* value, wchar_t (&program)[MAX_PATH], wchar_t (&parameters)[MAX_PATH]);
// Runs the menu drive's autorun command, or explores the disc when there is
// none or it cannot be started.
void runAutorun();

#endif
