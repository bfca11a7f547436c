#include "tests/drive_test_support.h"

#include <algorithm>
#include <cstring>
#include <iterator>

BareRecord::BareRecord(wchar_t letter) {
    // The program's own creation over memory as a reused heap block may hold
    // it (a plausible track number, 5, everywhere), so a forgotten field shows.
    void* memory = ::operator new(sizeof(DriveRecord));
    std::memset(memory, 0x05, sizeof(DriveRecord));
    DriveSettings& settings = liveSettings.drives[letter - L'A'];
    const DriveSettings saved = settings;
    settings = DriveSettings{};
    settings.bHide = 1;  // no icon, no thread
    record_ = createDriveRecord(static_cast<DriveRecord*>(memory), letter);
    settings = saved;
}

BareRecord::~BareRecord() {
    DeleteCriticalSection(&record_->guard);
    --driveRecordCount;
    ::operator delete(record_);
}

std::vector<std::string> journalOf(char letter) {
    const std::string prefix = std::string(1, letter) + ": ";
    std::vector<std::string> lines;
    std::ranges::copy_if(simJournal(), std::back_inserter(lines), [&](auto& line) { return line.starts_with(prefix); });
    return lines;
}

bool journalHas(const std::string& line) {
    return std::ranges::count(simJournal(), line) > 0;
}
