// One simulated drive and how it answers device requests. Everything here
// acts on a drive record alone; sim_drives.cpp owns the lock, the handles,
// the MCI ids and the journal.
#ifndef SPINDLEBAY_SIM_MODEL_H
#define SPINDLEBAY_SIM_MODEL_H

#include "drives/sim/sim_drives.h"

#include <windows.h>
#include <cstdint>
#include <string>

// GET EVENT STATUS NOTIFICATION media event codes.
constexpr uint8_t kMediaEventNone = 0;
constexpr uint8_t kMediaEventNewMedia = 2;
constexpr uint8_t kMediaEventRemoval = 3;

constexpr DWORD kSimMaxDelayMs = 60000;
constexpr int kSimMaxTracks = 99;
constexpr uint32_t kSimMaxLocks = 1000;

struct SimDrive {
    bool           known = false;        // configured since the last reset: its letter's paths are simulated
    SimDriveConfig config;               // present and trayOpen are live
    uint32_t       lockCount = 0;        // prevent requests not yet allowed again
    uint32_t       fileLocked = 0;       // the "locked" value simdrives.ini had at the last reading
    uint8_t        audioStatus = 0x15;   // AUDIO_STATUS_NO_STATUS
    int            currentTrack = 0;
    uint32_t       positionFrames = 0;   // absolute play position, as of playClock while playing
    uint32_t       playEnd = 0;          // where the current play stops, in frames
    uint64_t       playClock = 0;        // simClockMs() when positionFrames was last brought up to date
    int            readSpeed = 0;
    int            writeSpeed = 0;
    uint8_t        pendingEvent = kMediaEventNone;
    ULONG          changeCount = 0;      // media changes, as IOCTL_STORAGE_CHECK_VERIFY reports them
    bool           verifyPending = false;  // a media change IOCTL_STORAGE_CHECK_VERIFY has not reported yet
};

// What the handle was opened for.
struct SimAccess {
    bool read;
    bool write;
};

struct SimAnswer {
    bool  ok;
    DWORD error;     // for GetLastError when !ok
    DWORD returned;  // bytes written to the output buffer
};

// The simulated drives' clock in milliseconds: the tick count, moved on by
// simSkipClock so tests need not wait out a track.
uint64_t simClockMs();
void simSkipClock(uint64_t milliseconds);
// Brings an audio play up to the clock: the position runs in real time
// through the tracks and the play ends with "play completed".
void simAdvanceAudio(SimDrive& drive);

// Answers one DeviceIoControl as the drive would. Reads at most inSize bytes
// of `in`, writes at most outSize bytes of `out` (and, for SCSI pass-through,
// at most DataTransferLength bytes of the data buffer).
SimAnswer simAnswerIoctl(SimDrive& drive, SimAccess access, DWORD code, const void* in, DWORD inSize, void* out,
                         DWORD outSize);

// "IOCTL_CDROM_READ_TOC", or "IOCTL_0x%08X" for codes without a name.
std::string simIoctlName(DWORD code);
// The journal's view of the request's input: " cdb=4A01...", " in=01",
// " read=708 write=708", or "" when there is none.
std::string simDescribeIoctlInput(DWORD code, const void* in, DWORD inSize);

// Power-on state of the drive's mechanism for its current configuration.
void simResetMechanism(SimDrive& drive);
void simMoveTray(SimDrive& drive, bool open);
void simChangeMedium(SimDrive& drive, SimMedium medium, const std::wstring& label, uint64_t size, int tracks);
bool simSameMedium(const SimDriveConfig& a, const SimDriveConfig& b);
// Whether `name` (a request name or "MCI") is in the drive's failing list.
bool simIsFailing(const SimDrive& drive, const std::string& name);
// Case-folded, trimmed, bounded failing list.
std::vector<std::string> simNormalizeFailing(const std::vector<std::string>& names);
int simTrackCount(const SimDrive& drive);

#endif
