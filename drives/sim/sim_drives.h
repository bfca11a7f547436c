// Simulated optical drives behind the device seam (drives/device_seam.h).
// sbay_sim.exe and the tests link them instead of device_seam_win32.cpp.
//
// Two ways of setting the drives up:
//  - in-process tests call simReset() and then the functions below; nothing
//    touches the disk;
//  - a program that never calls simReset() switches to file mode at its first
//    seam call: the drives come from "simdrives.ini" in the executable's
//    folder, re-read whenever that file changes, and every journal line is
//    appended to "simjournal.log" beside it. In file mode the environment
//    variable SBAY_SIM_UPDATE_SITE, when set, replaces the update check's
//    site, so that an end-to-end test can serve the version file itself.
//
// Fake device handles are the values 0x53420000 + 4*n (n < 0x10000). Windows
// and Wine hand out kernel handles as small multiples of four (a process holds
// at most 2^24 of them, so they stay below 0x04000000) and pseudo handles as
// negative values, so these can never be mistaken for a real handle, and a
// fake handle that leaks into CloseHandle fails there instead of closing
// something else. A closed value is reused only after all the others.
#ifndef SPINDLEBAY_SIM_DRIVES_H
#define SPINDLEBAY_SIM_DRIVES_H

#include <windows.h>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

enum class SimMedium : uint8_t { None, Data, Audio, Blank };
// How the drive answers GET EVENT STATUS NOTIFICATION: with the media event;
// with CHECK CONDITION, as older drives without the command do; or with the
// event header alone, as a drive without the media event class does.
enum class SimEventStatus : uint8_t { Media, CheckCondition, HeaderOnly };

struct SimDriveConfig {
    bool present = true;
    bool trayOpen = false;
    SimMedium medium = SimMedium::None;
    std::wstring label;                // data discs; an audio disc is always "Audio CD"
    uint64_t size = 0;                 // data discs, in bytes
    int tracks = 0;                    // audio discs, taken as 1..99
    bool passthrough = true;           // false: IOCTL_SCSI_PASS_THROUGH_DIRECT is rejected
    bool opens = true;                 // false: the device cannot be opened
    DWORD delayMs = 0;                 // every DeviceIoControl takes this long (at most 60 s)
    std::vector<std::string> failing;  // request names that fail: "IOCTL_CDROM_READ_TOC", "MCI"
    std::wstring root;                 // host folder holding the data disc's files
    uint32_t locked = 0;               // prevent requests held by another program (at most 1000)
    SimEventStatus eventStatus = SimEventStatus::Media;
    bool blockDescriptor = false;      // MODE SENSE(10) puts a block descriptor before the page
};

// Audio tracks: track n starts at 00:02:00 + (n-1) * L, the lead-out at
// 00:02:00 + tracks * L, where L is 4 minutes, or less when the tracks would
// not fit in 74 minutes. A data disc has one data track at 00:02:00. Play
// runs in real time from track to track and ends with "play completed"
// (0x13), read once, then "no status" (0x15); a pause holds the position.

struct SimDriveState {
    bool    present;
    bool    trayOpen;
    bool    locked;        // media removal prevented (the drive counts prevent requests)
    uint32_t lockCount;    // prevent requests not allowed again, whoever sent them
    uint8_t audioStatus;   // AUDIO_STATUS_IN_PROGRESS, _PAUSED, _NO_STATUS
    int     currentTrack;  // 0 without an audio disc
    int     readSpeed;     // the last IOCTL_CDROM_SET_SPEED values, 0 before any
    int     writeSpeed;
    int     mciOpenIds;    // MCI device ids open on the drive
};

// Every drive absent, no handles or MCI ids, journal cleared and enabled,
// in-memory mode.
void simReset();
// A present drive exactly as configured (config.present is honoured),
// keeping nothing of before.
void simConfigure(wchar_t letter, const SimDriveConfig& config);
// A drive appears or disappears, keeping its configuration. A drive that
// disappears loses its lock, speed and audio play.
void simSetPresent(wchar_t letter, bool present);
// Moves the tray regardless of the lock, as a hand would.
void simSetTray(wchar_t letter, bool open);
// Swaps the medium; the drive reports the change as a real one does.
void simSetMedium(wchar_t letter, SimMedium medium, const std::wstring& label, uint64_t size, int tracks);
void simSetDelay(wchar_t letter, DWORD milliseconds);
// Holds the drive's next request whose journal text starts with `request`
// (for example "IOCTL_STORAGE_MEDIA_REMOVAL in=00") for `milliseconds`,
// journalling "X: hold <request>" when the hold begins; later requests run
// at the drive's own pace.
void simHoldNext(wchar_t letter, const std::string& request, DWORD milliseconds);
void simSetFailing(wchar_t letter, const std::vector<std::string>& requests);

SimDriveState simState(wchar_t letter);

// Journal lines without their line ends, oldest first (the latest 100000).
std::vector<std::string> simJournal();
void simClearJournal();
void simSetJournalEnabled(bool enabled);

size_t simOpenHandleCount();
// Moves the drives' clock on, as if that much time had passed: audio plays on.
void simAdvanceClock(DWORD milliseconds);

// File mode with simdrives.ini and simjournal.log in `folder` (the
// executable's folder for null or ""): drives, handles and MCI ids start
// afresh, the file is read at once and the journal cleared.
void simUseFolder(const wchar_t* folder);

#endif
