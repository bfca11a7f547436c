#include "drives/drive_table.h"

#include <cstring>

#include "common/program_state.h"
#include "drives/device_commands.h"
#include "drives/drive_icon.h"
#include "drives/drive_record.h"
#include "drives/tray_icon.h"

#include <new>

namespace {

// How long destruction waits for a monitor thread stuck in a slow request.
constexpr DWORD kMonitorStopWaitMs = 15000;

void unregisterDriveHotKeys(DriveRecord* record) {
    if (record->ejectHotKeyRegistered) {
        record->ejectHotKeyRegistered = !UnregisterHotKey(mainWindow, record->ejectHotKeyId);
    }
    if (record->closeHotKeyRegistered) {
        record->closeHotKeyRegistered = !UnregisterHotKey(mainWindow, record->closeHotKeyId);
    }
}

// Main thread only: holders of DriveRecordsInUse, records removed meanwhile,
// and the letters whose record is being created.
int recordsInUse;
DriveRecord* removedRecords;
bool creating[kDriveCount];

// Destroys the records removed while records were in use. A drive that came
// back under the same letter meanwhile shares the icon id with the old one,
// whose removal took the icon off the notification area: it is added again.
void destroyRemovedRecords() {
    while (DriveRecord* record = removedRecords) {
        removedRecords = record->nextRemoved;
        destroyDriveRecord(record);
        if (DriveRecord* successor = DriveTable[record->letter - L'A']) {
            DriveRecordsInUse use;
            EnterCriticalSection(&successor->guard);
            if (TrayIconRecord* icon = successor->trayIcon) {
                icon->data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
                addTrayIcon(icon);
            }
            LeaveCriticalSection(&successor->guard);
        }
        releaseDriveRecord(record);
    }
}

// One hot key of the drive: (re-)registered while its key is set,
// unregistered otherwise.
void updateHotKey(int32_t& registered, int id, const HotKeySetting& key) {
    if (registered) registered = !UnregisterHotKey(mainWindow, id);
    if (key.key != 0) registered = RegisterHotKey(mainWindow, id, key.modifiers, key.key);
}

}  // namespace

void registerDriveHotKeys(DriveRecord* record) {
    const DriveSettings& settings = liveSettings.drives[record->letter - L'A'];
    updateHotKey(record->ejectHotKeyRegistered, record->ejectHotKeyId, settings.hkEject);
    updateHotKey(record->closeHotKeyRegistered, record->closeHotKeyId, settings.hkClose);
}

DriveRecord* createDriveRecord(DriveRecord* record, wchar_t letter) {
    const int index = letter - L'A';
    ++driveRecordCount;
    InitializeCriticalSection(&record->guard);
    InitializeConditionVariable(&record->stopWake);
    record->references = 1;
    // The device commands that change a drive's state refuse to run while a
    // stop is asked for, also on the main thread.
    record->stopRequested = 0;
    record->trayIcon = nullptr;
    for (HICON& icon : record->icons) icon = nullptr;
    record->monitorThread = nullptr;
    record->letter = letter;
    buildFixedTips(record);
    record->speedCommand = kSpeedMax;
    record->assumedClosed = 1;
    record->closeHotKeyId = index;
    record->ejectHotKeyId = index | kHotKeyOpenFlag;
    record->locked = 0;
    record->lockHeld = 0;
    record->removed = 0;
    record->nextRemoved = nullptr;
    // Tips, menu states and track skips read these when the first reads fail.
    std::memset(&record->subQ, 0, sizeof record->subQ);
    std::memset(&record->toc, 0, sizeof record->toc);
    record->mediaKind = None;
    record->audioStatus = kAudioNoStatus;
    record->playStarted = 0;
    record->ejectHotKeyRegistered = 0;
    record->closeHotKeyRegistered = 0;
    registerDriveHotKeys(record);
    record->countdownDialog = nullptr;
    setIconVisible(record, liveSettings.drives[index].bHide == 0);
    return record;
}

void destroyDriveRecord(DriveRecord* record) {
    if (record->countdownDialog != nullptr) DestroyWindow(record->countdownDialog);
    if (record->audioStatus == kAudioPlaying && record->playStarted) stopAudio(record);

    askMonitorToStop(record);
    if (record->monitorThread != nullptr) {
        // A thread still stuck in a request keeps its reference, and with it
        // the record, until it comes back and sees the stop.
        WaitForSingleObject(record->monitorThread, kMonitorStopWaitMs);
        CloseHandle(record->monitorThread);
        record->monitorThread = nullptr;
    }

    // Only the program's own lock is released: the drive's lock count is
    // shared with every other program, and an allow would undo theirs.
    if (record->lockHeld) releaseDriveLock(record);

    EnterCriticalSection(&record->guard);
    removeTrayIconRecord(record->trayIcon);
    record->trayIcon = nullptr;
    destroyDriveIcons(record);
    LeaveCriticalSection(&record->guard);

    unregisterDriveHotKeys(record);
    if (!record->removed) --driveRecordCount;
}

DriveRecord* newDriveRecord(wchar_t letter) {
    // Showing the icon waits on the shell, which may hand this thread a
    // device broadcast that asks for the same drive while its slot is still
    // empty: that second record would be lost.
    const int index = letter - L'A';
    if (index < 0 || index >= kDriveCount || creating[index]) return nullptr;
    auto* memory = static_cast<DriveRecord*>(::operator new(sizeof(DriveRecord), std::nothrow));
    if (memory == nullptr) return nullptr;
    creating[index] = true;
    DriveRecord* record = createDriveRecord(memory, letter);
    creating[index] = false;
    return record;
}

void removeDriveRecord(int index) {
    if (index < 0 || index >= kDriveCount || DriveTable[index] == nullptr) return;
    DriveRecord* record = DriveTable[index];
    DriveTable[index] = nullptr;
    if (recordsInUse > 0) {
        // Counted off and its hot keys freed now, as the drive is gone: the
        // common icon and a drive returning under this letter see so.
        record->removed = 1;
        --driveRecordCount;
        unregisterDriveHotKeys(record);
        record->nextRemoved = removedRecords;
        removedRecords = record;
        return;
    }
    destroyDriveRecord(record);
    releaseDriveRecord(record);
}

DriveRecordsInUse::DriveRecordsInUse() {
    ++recordsInUse;
}

DriveRecordsInUse::~DriveRecordsInUse() {
    if (--recordsInUse == 0) destroyRemovedRecords();
}
