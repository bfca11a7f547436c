// Every command the program sends to an optical drive, apart from moving the
// tray. Each operation opens its own handle and closes it before returning.
#ifndef SPINDLEBAY_DEVICE_COMMANDS_H
#define SPINDLEBAY_DEVICE_COMMANDS_H

#include <windows.h>
#include <cstdint>

struct DriveRecord;

// Opens the drive's device: read mode for every request but the two SCSI
// pass-through commands, which need the pass-through mode.
HANDLE openDeviceRead(wchar_t letter);
HANDLE openDevicePassThrough(wchar_t letter);

// Tray open, closed and empty, or closed with a medium (MediaState); updates
// mediaKind and audioStatus as the drive reports.
uint8_t queryMediaState(DriveRecord* record);
// 1 when the drive reports itself locked.
int queryLockState(DriveRecord* record);
// Locking re-asserts the program's own lock when the drive has lost it;
// unlocking allows only a lock the program itself set (lockHeld), as the
// drive keeps one lock count that every program's allow lowers. setLock and
// applySpeed send nothing more once the record's stop is asked for.
void setLock(DriveRecord* record, int lock);
// One allow request, whoever set the lock: start-up's release of a lock left
// on the drive, and the release of the program's own lock. Clears lockHeld.
void releaseDriveLock(DriveRecord* record);

void playAudio(DriveRecord* record);
void stopAudio(DriveRecord* record);
void pauseResumeAudio(DriveRecord* record);
void nextTrack(DriveRecord* record);
void previousTrack(DriveRecord* record);
void applySpeed(DriveRecord* record);

// Read speed in kB/s for a speed command 40059..40065 (0xFFFF: the maximum).
uint16_t speedForCommand(uint16_t speedCommand);

#endif
