// A drive's tray icon and the monitor thread that keeps it current.
#ifndef SPINDLEBAY_DRIVE_ICON_H
#define SPINDLEBAY_DRIVE_ICON_H

#include <windows.h>

struct DriveRecord;

// Capacity of the tip and description buffers.
constexpr int kTipBufferCapacity = 266;

// Shows the icon and starts the monitor thread, or stops the thread and
// removes the icon. Showing leaves `trayIcon` set whether or not the shell
// took the icon.
void setIconVisible(DriveRecord* record, bool show);

// One poll: speed, media state, icon and tip, lock. With poll set the icon is
// modified (added when the shell does not have it yet); without, it is added,
// allocating the tray icon record when there is none.
void updateDriveIcon(DriveRecord* record, bool poll);

DWORD WINAPI monitorThreadProc(void* record);
// Asks the drive's monitor thread to end and wakes it from its pause.
void askMonitorToStop(DriveRecord* record);

// The tip for a drive holding a medium: label and size, or the audio track.
void buildTrayTip(DriveRecord* record, wchar_t (&buffer)[kTipBufferCapacity]);
// The one-line description of a drive holding a medium, for the settings.
void buildInfoText(DriveRecord* record, wchar_t (&buffer)[kTipBufferCapacity]);

// After the image lists changed size: composes again those of the drive's
// icons composed so far, shows the new one in place of the old and destroys
// the old. An icon showing `replacedBusyIcon` shows busyIcon instead.
void recomposeDriveIcons(DriveRecord* record, HICON replacedBusyIcon);
// Destroys the icons composed so far. Call with the record's guard held.
void destroyDriveIcons(DriveRecord* record);

#endif
