// Helpers for the tests of drive records and device commands on the
// simulated drives.
#ifndef SPINDLEBAY_DRIVE_TEST_SUPPORT_H
#define SPINDLEBAY_DRIVE_TEST_SUPPORT_H

#include "drives/drive_record.h"
#include "drives/sim/sim_drives.h"
#include "tests/test_support.h"

#include <string>
#include <vector>

// A drive record for the device commands alone: no window, icon or thread.
class BareRecord {
public:
    explicit BareRecord(wchar_t letter);
    ~BareRecord();
    BareRecord(const BareRecord&) = delete;
    BareRecord& operator=(const BareRecord&) = delete;
    DriveRecord* operator->() { return record_; }
    DriveRecord* get() { return record_; }
private:
    DriveRecord* record_;
};

std::vector<std::string> journalOf(char letter);  // the lines "X: ..." in order
bool journalHas(const std::string& line);         // exactly this line

inline SimDriveConfig dataDisc(const std::wstring& label, uint64_t size) {
    SimDriveConfig disc;
    disc.medium = SimMedium::Data;
    disc.label = label;
    disc.size = size;
    return disc;
}
inline SimDriveConfig audioDisc(int tracks) {
    SimDriveConfig disc;
    disc.medium = SimMedium::Audio;
    disc.tracks = tracks;
    return disc;
}
inline SimDriveConfig emptyDrive() { return SimDriveConfig{}; }

// Waits, pumping messages, until `condition` holds or `milliseconds` pass.
template <typename Condition>
bool waitUntil(Condition condition, unsigned milliseconds) {
    for (const DWORD start = GetTickCount(); !condition(); pumpMessages(20)) {
        if (GetTickCount() - start > milliseconds) return false;
    }
    return true;
}

#endif
