// The common tray icon, shown while the computer has no optical drive.
#ifndef SPINDLEBAY_COMMON_ICON_H
#define SPINDLEBAY_COMMON_ICON_H

struct TrayIconRecord;

extern TrayIconRecord* commonIconRecord;

// Adds the common icon while no drive record exists and removes it once one
// does. Adding tries the shell up to ten times, a second apart.
void showCommonIcon();

// After the taskbar was created again: adds the common icon once more, with a
// single retry-free attempt.
void readdCommonIcon();

// Shows commonIcon anew in place of the one shown (after it was composed
// again for another display scale).
void refreshCommonIcon();

// Removes and releases the common icon record (shut-down).
void releaseCommonIcon();

#endif
