#include "drives/drive_record.h"

#include <cstring>

#include "common/program_state.h"
#include "drives/device_commands.h"
#include "drives/device_seam.h"
#include "drives/drive_icon.h"
#include "drives/tray_icon.h"
#include "resources/language.h"

#include <new>

DriveRecord* DriveTable[kDriveCount];
int32_t driveRecordCount;

namespace {

// How long destruction waits for a monitor thread stuck in a slow request.
constexpr DWORD kMonitorStopWaitMs = 15000;

void buildTip(wchar_t (&tip)[128], wchar_t letter, const wchar_t* line) {
    wchar_t drive[] = L"[A:] ";
    drive[1] = letter;
    lstrcpynW(tip, kTipHead, 128);
    appendText(tip, 128, drive);
    appendText(tip, 128, line);
}

// One hot key of the drive: (re-)registered while its key is set,
// unregistered otherwise.
void updateHotKey(int32_t& registered, int id, const HotKeySetting& key) {
    if (registered) registered = !UnregisterHotKey(mainWindow, id);
    if (key.key != 0) registered = RegisterHotKey(mainWindow, id, key.modifiers, key.key);
}

}  // namespace

void buildFixedTips(DriveRecord* record) {
    wchar_t noMedium[50];
    wchar_t trayOpen[50];
    copyLanguageText(textNoMedium, noMedium, 50);
    copyLanguageText(textTrayOpen, trayOpen, 50);
    EnterCriticalSection(&record->guard);
    buildTip(record->tipNoMedium, static_cast<wchar_t>(record->letter), noMedium);
    buildTip(record->tipTrayOpen, static_cast<wchar_t>(record->letter), trayOpen);
    LeaveCriticalSection(&record->guard);
}

void registerDriveHotKeys(DriveRecord* record) {
    const DriveSettings& settings = liveSettings.drives[record->letter - L'A'];
    updateHotKey(record->ejectHotKeyRegistered, record->ejectHotKeyId, settings.hkEject);
    updateHotKey(record->closeHotKeyRegistered, record->closeHotKeyId, settings.hkClose);
}

DriveRecord* createDriveRecord(DriveRecord* record, wchar_t letter) {
    const int index = letter - L'A';
    ++driveRecordCount;
    InitializeCriticalSection(&record->guard);
    record->references = 1;
    // The device commands that change a drive's state refuse to run while a
    // stop is asked for, also on the main thread.
    record->stopRequested = 0;
    record->trayIcon = nullptr;
    record->icons[0] = nullptr;
    record->monitorThread = nullptr;
    record->letter = letter;
    buildFixedTips(record);
    record->speedCommand = kSpeedMax;
    record->assumedClosed = 1;
    record->closeHotKeyId = index;
    record->ejectHotKeyId = index | kHotKeyOpenFlag;
    record->locked = 0;
    record->lockHeld = 0;
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
    record->stopEvent = nullptr;
    setIconVisible(record, liveSettings.drives[index].bHide == 0);
    return record;
}

void destroyDriveRecord(DriveRecord* record) {
    if (record->countdownDialog != nullptr) DestroyWindow(record->countdownDialog);
    if (record->audioStatus == kAudioPlaying && record->playStarted) stopAudio(record);

    InterlockedExchange(&record->stopRequested, 1);
    if (record->stopEvent != nullptr) SetEvent(record->stopEvent);
    if (record->monitorThread != nullptr) {
        const bool ended = WaitForSingleObject(record->monitorThread, kMonitorStopWaitMs) == WAIT_OBJECT_0;
        CloseHandle(record->monitorThread);
        record->monitorThread = nullptr;
        // A thread still stuck in a request keeps its reference, and with it
        // the record and the event, until it comes back and sees the stop.
        if (ended && record->stopEvent != nullptr) {
            CloseHandle(record->stopEvent);
            record->stopEvent = nullptr;
        }
    } else if (record->stopEvent != nullptr) {
        CloseHandle(record->stopEvent);
        record->stopEvent = nullptr;
    }

    // Only the program's own lock is released: the drive's lock count is
    // shared with every other program, and an allow would undo theirs.
    if (record->lockHeld) releaseDriveLock(record);

    EnterCriticalSection(&record->guard);
    removeTrayIconRecord(record->trayIcon);
    record->trayIcon = nullptr;
    destroyDriveIcons(record);
    LeaveCriticalSection(&record->guard);

    if (record->ejectHotKeyRegistered) {
        record->ejectHotKeyRegistered = !UnregisterHotKey(mainWindow, record->ejectHotKeyId);
    }
    if (record->closeHotKeyRegistered) {
        record->closeHotKeyRegistered = !UnregisterHotKey(mainWindow, record->closeHotKeyId);
    }
    --driveRecordCount;
}

DriveRecord* newDriveRecord(wchar_t letter) {
    auto* memory = static_cast<DriveRecord*>(::operator new(sizeof(DriveRecord), std::nothrow));
    if (memory == nullptr) return nullptr;
    return createDriveRecord(memory, letter);
}

void releaseDriveRecord(DriveRecord* record) {
    if (record == nullptr || InterlockedDecrement(&record->references) != 0) return;
    if (record->stopEvent != nullptr) CloseHandle(record->stopEvent);
    DeleteCriticalSection(&record->guard);
    ::operator delete(record);
}

void removeDriveRecord(int index) {
    if (index < 0 || index >= kDriveCount || DriveTable[index] == nullptr) return;
    DriveRecord* record = DriveTable[index];
    DriveTable[index] = nullptr;
    destroyDriveRecord(record);
    releaseDriveRecord(record);
}

DriveRecord* driveRecordForLetter(int letterCode) {
    if (letterCode < 'A' || letterCode > 'Z') return nullptr;
    return DriveTable[letterCode - 'A'];
}
