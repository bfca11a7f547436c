// The one operation that moves a drive's tray, and the auto-close countdown.
#ifndef SPINDLEBAY_EJECT_CLOSE_H
#define SPINDLEBAY_EJECT_CLOSE_H

#include <windows.h>

struct DriveRecord;

// Opens (open = 1) or closes (open = 0) the tray: unlocks a locked drive
// around an opening, stops a playing audio CD first, shows the busy icon,
// falls back to the multimedia door command, and after an opening starts the
// countdown when the drive's settings ask for it. True when the drive took
// the request (its own or the multimedia door command); the tray menu and
// the hot keys ignore it, the command line reports it.
bool ejectOrClose(DriveRecord* record, int open);

// The countdown's one-second tick; the timer id is the drive index.
void CALLBACK countdownTimerProc(HWND dialog, UINT message, UINT_PTR driveIndex, DWORD time);
INT_PTR CALLBACK countdownDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

#endif
