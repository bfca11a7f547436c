#include "tests/drive_test_support.h"

#include <cstdlib>
#include <cstring>

BareRecord::BareRecord(wchar_t letter) {
    record_ = static_cast<DriveRecord*>(std::calloc(1, sizeof(DriveRecord)));
    InitializeCriticalSection(&record_->guard);
    record_->references = 1;
    record_->letter = letter;
    record_->assumedClosed = 1;
    record_->audioStatus = kAudioNoStatus;
    record_->speedCommand = kSpeedMax;
}

BareRecord::~BareRecord() {
    DeleteCriticalSection(&record_->guard);
    std::free(record_);
}

std::vector<std::string> journalOf(char letter) {
    const std::string prefix = std::string(1, letter) + ": ";
    std::vector<std::string> lines;
    for (const std::string& line : simJournal()) {
        if (line.compare(0, prefix.size(), prefix) == 0) lines.push_back(line);
    }
    return lines;
}

bool journalHas(const std::string& line) {
    for (const std::string& entry : simJournal()) {
        if (entry == line) return true;
    }
    return false;
}

SimDriveConfig dataDisc(const std::wstring& label, uint64_t size) {
    SimDriveConfig config;
    config.medium = SimMedium::Data;
    config.label = label;
    config.size = size;
    return config;
}

SimDriveConfig audioDisc(int tracks) {
    SimDriveConfig config;
    config.medium = SimMedium::Audio;
    config.tracks = tracks;
    return config;
}

SimDriveConfig emptyDrive() {
    return SimDriveConfig{};
}
