// simdrives.ini, the drives of sbay_sim.exe, a section per letter:
//   [D]
//   tray=closed        ; closed | open
//   medium=data        ; none | data | audio | blank
//   label=HOLIDAY_2026
//   size=4700000000
//   tracks=12          ; taken as 1..99
//   passthrough=1      ; 0: SCSI pass-through is rejected
//   opens=1            ; 0: the device cannot be opened
//   delay_ms=0         ; at most 60000
//   locked=0           ; N: prevent requests held by another program (at most 1000)
//   event_status=media ; media | check (CHECK CONDITION) | header (no media event class)
//   block_descriptor=0 ; 1: MODE SENSE(10) returns a block descriptor before the page
//   fail=IOCTL_CDROM_READ_TOC,MCI
//   root=C:\discs\holiday   ; relative folders are taken from the file's folder
// Everything after the first ";" of a line is a comment. Unknown keys and
// sections, and values that cannot be read, leave the defaults in place.
#ifndef SPINDLEBAY_SIM_INI_H
#define SPINDLEBAY_SIM_INI_H

#include "drives/sim/sim_drives.h"

#include <array>
#include <string>

struct SimIniDrive {
    bool           present = false;  // the file has a section for the letter
    SimDriveConfig config;
};

using SimIniDrives = std::array<SimIniDrive, 26>;

// Files larger than this are read up to it.
constexpr size_t kSimIniMaxBytes = 1 << 20;

// The file's bytes: UTF-16 or UTF-8 with a byte-order mark, UTF-8, or else
// text in the ANSI code page.
SimIniDrives parseSimDrivesIni(const std::string& bytes, const std::wstring& folder);

#endif
