// Helpers for the tests of drive records and device commands on the
// simulated drives.
#ifndef SPINDLEBAY_DRIVE_TEST_SUPPORT_H
#define SPINDLEBAY_DRIVE_TEST_SUPPORT_H

#include "drives/drive_record.h"
#include "drives/sim/sim_drives.h"

#include <string>
#include <vector>

// A drive record that exists only for the device commands: no window, no
// icon, no thread.
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

// Journal lines about one drive ("D: ..."), in order.
std::vector<std::string> journalOf(char letter);
// Whether the journal holds `line` exactly.
bool journalHas(const std::string& line);

// A drive with a data disc, an audio disc, and so on.
SimDriveConfig dataDisc(const std::wstring& label, uint64_t size);
SimDriveConfig audioDisc(int tracks);
SimDriveConfig emptyDrive();

// Waits (pumping messages) until `condition` holds or `milliseconds` pass.
template <typename Condition>
bool waitUntil(Condition condition, unsigned milliseconds);

#include "tests/drive_test_support.inl"

#endif
