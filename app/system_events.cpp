#include "app/system_events.h"

#include "app/app.h"
#include "tray/common_icon.h"
#include "drives/device_commands.h"
#include "drives/device_seam.h"
#include "drives/drive_icon.h"
#include "drives/drive_record.h"
#include "drives/drive_table.h"
#include "drives/eject_close.h"
#include "drives/tray_icon.h"
#include "resources/language.h"
#include "resources/resource_ids.h"
#include "service/service.h"
#include "settings/settings_file.h"

#include <dbt.h>

int32_t shutdownHandled;

namespace {

bool isOpticalDrive(int index) {
    wchar_t root[] = L"A:\\";
    root[0] = static_cast<wchar_t>(L'A' + index);
    return seamGetDriveType(root) == DRIVE_CDROM;
}

void createDrive(int index) {
    DriveTable[index] = newDriveRecord(static_cast<wchar_t>(L'A' + index));
}

// Whether a broadcast is about a volume other than a medium. The structure
// comes from outside the process: it is copied with a read that fails safely
// instead of faulting on a bad pointer.
bool isVolumeBroadcast(LPARAM data) {
    DEV_BROADCAST_VOLUME volume{};
    SIZE_T read = 0;
    if (data == 0 || !ReadProcessMemory(GetCurrentProcess(), reinterpret_cast<const void*>(data), &volume,
                                        sizeof(DEV_BROADCAST_HDR), &read)) {
        return false;
    }
    if (volume.dbcv_devicetype != DBT_DEVTYP_VOLUME || volume.dbcv_size < sizeof volume) return false;
    if (!ReadProcessMemory(GetCurrentProcess(), reinterpret_cast<const void*>(data), &volume, sizeof volume, &read)) {
        return false;
    }
    return (volume.dbcv_flags & DBTF_MEDIA) == 0;
}

void playDiscInsideSound(DWORD extraFlags) {
    seamPlaySound(soundPath, nullptr, SND_FILENAME | SND_PURGE | extraFlags);
}

void formatEjectedText(wchar_t (&text)[64], wchar_t letter) {
    wchar_t format[50];
    loadText(IDS_EJECTED, format, 50);
    formatText(text, 64, format, {letter});
}

// From slot `index` on, the next drive that holds a disc and ejects it when
// the session ends or the machine sleeps; every drive with a disc met on the
// way plays the disc-inside sound when its settings ask for it. Leaves
// `index` on the drive found; null when none is left. `soundFlags` is added
// to the sound's flags.
DriveRecord* nextDriveToEject(int& index, DWORD soundFlags = 0) {
    for (; index < kDriveCount; ++index) {
        DriveRecord* record = DriveTable[index];
        if (record == nullptr || queryMediaState(record) != MediumPresent) continue;
        const DriveSettings& settings = liveSettings.drives[index];
        if (settings.bBeepDiskInside) playDiscInsideSound(soundFlags);
        if (settings.bLogOffEject) return record;
    }
    return nullptr;
}

// Opens the tray and says so in a balloon, on an icon shown for it if the
// drive's own is hidden.
void ejectForSleep(DriveRecord* record) {
    DriveRecordsInUse use;
    ejectOrClose(record, 1);
    wchar_t text[64];
    formatEjectedText(text, static_cast<wchar_t>(record->letter));
    if (record->trayIcon == nullptr) setIconVisible(record, true);
    EnterCriticalSection(&record->guard);
    showBalloon(record->trayIcon, text);
    LeaveCriticalSection(&record->guard);
}

// Index of the default drive, or -1 when the setting names none.
int defaultDriveIndex() {
    const int32_t letter = liveSettings.global.nDefaultDisk;
    return letter >= 'A' && letter <= 'Z' ? letter - 'A' : -1;
}

void selectNextDefaultDrive() {
    DriveRecordsInUse use;  // the icon updates wait on the shell
    const int previous = defaultDriveIndex();
    liveSettings.global.nDefaultDisk = 0;
    if (previous >= 0 && DriveTable[previous] != nullptr && DriveTable[previous]->trayIcon != nullptr) {
        updateDriveIcon(DriveTable[previous], true);
    }
    // Without a default drive the search starts at A:.
    for (int i = previous + 1; i < 52; ++i) {
        const int slot = i % kDriveCount;
        DriveRecord* record = DriveTable[slot];
        if (record == nullptr) continue;
        liveSettings.global.nDefaultDisk = 'A' + slot;
        if (record->trayIcon != nullptr) {
            updateDriveIcon(record, true);
            return;
        }
    }
}

}  // namespace

void showBalloon(TrayIconRecord* icon, const wchar_t* text) {
    if (icon == nullptr) return;
    NOTIFYICONDATAW& data = icon->data;
    data.uFlags = NIF_INFO;
    lstrcpynW(data.szInfo, text, 256);
    lstrcpynW(data.szInfoTitle, productString, 64);
    data.dwInfoFlags = NIIF_INFO;
    data.uTimeout = 10000;
    Shell_NotifyIconW(NIM_MODIFY, &data);
}

LRESULT onDeviceChange(WPARAM event, LPARAM data) {
    switch (event) {
    case DBT_DEVNODES_CHANGED:
        for (int index = kDriveCount - 1; index >= 0; --index) {
            if (DriveTable[index] == nullptr && isOpticalDrive(index)) {
                createDrive(index);
            } else if (DriveTable[index] != nullptr && !isOpticalDrive(index)) {
                removeDriveRecord(index);
            }
            showCommonIcon();
        }
        break;
    case DBT_DEVICEARRIVAL:
        if (!isVolumeBroadcast(data)) break;
        for (int index = kDriveCount - 1; index >= 0; --index) {
            if (DriveTable[index] == nullptr && isOpticalDrive(index)) {
                createDrive(index);
                showCommonIcon();
                break;
            }
        }
        break;
    case DBT_DEVICEREMOVECOMPLETE:
        if (!isVolumeBroadcast(data)) break;
        for (int index = kDriveCount - 1; index >= 0; --index) {
            if (DriveTable[index] != nullptr && !isOpticalDrive(index)) {
                removeDriveRecord(index);
                showCommonIcon();
                break;
            }
        }
        break;
    default:
        break;
    }
    return TRUE;
}

LRESULT onPowerBroadcast(WPARAM event) {
    if (event == PBT_APMQUERYSUSPEND) {
        int index = 0;
        DriveRecord* record = nextDriveToEject(index);
        if (record == nullptr) return TRUE;
        // This drive ends the scan: its disc comes out and sleep waits.
        ejectForSleep(record);
        return BROADCAST_QUERY_DENY;
    }
    if (event == PBT_APMSUSPEND && isVistaOrLater) {
        // Since Vista no query comes and sleep cannot be refused: every disc
        // to eject comes out now, there is no second try.
        // The system gives this notification about two seconds, so the sound
        // does not hold up the ejects.
        for (int index = 0; DriveRecord* record = nextDriveToEject(index, SND_ASYNC); ++index) {
            ejectForSleep(record);
        }
    }
    if (event == PBT_APMRESUMEAUTOMATIC) {
        for (DriveRecord* record : DriveTable) {
            if (record != nullptr) setLock(record, record->locked);
        }
    }
    return TRUE;
}

LRESULT onQueryEndSession(LPARAM reason) {
    if (serviceMode) {
        // The service stays through log-offs; only the machine's end counts, once.
        if (reason != 0 || shutdownHandled) return TRUE;
        shutdownHandled = 1;
    }
    // The boxes below run message loops, in which the system may ask again:
    // that query is answered at once, or a drive would be ejected twice.
    static bool handling = false;
    if (handling) return TRUE;
    handling = true;
    wchar_t caption[25];
    loadText(IDS_EJECTED_CAP, caption, 25);
    for (int index = 0; DriveRecord* record = nextDriveToEject(index); ++index) {
        DriveRecordsInUse use;
        ejectOrClose(record, 1);
        wchar_t text[64];
        formatEjectedText(text, static_cast<wchar_t>(record->letter));
        if (isVistaOrLater) ShutdownBlockReasonCreate(mainWindow, text);
        MessageBoxW(mainWindow, text, caption, MB_TOPMOST | MB_ICONINFORMATION);
        // The box runs a message loop: the drive may have gone meanwhile.
        if (DriveTable[index] == record) ejectOrClose(record, 0);
    }
    handling = false;
    return TRUE;
}

void onHotKey(WPARAM id) {
    const int action = static_cast<int>((id >> 8) & 0xFF);
    const int operand = static_cast<int>(id & 0xFF);
    switch (action) {
    case 0:
    case 1:
        if (operand < kDriveCount && DriveTable[operand] != nullptr) ejectOrClose(DriveTable[operand], action);
        break;
    case 2:
    case 3: {
        const int index = defaultDriveIndex();
        if (index >= 0 && DriveTable[index] != nullptr) ejectOrClose(DriveTable[index], operand);
        break;
    }
    case 4:
        if (driveRecordCount != 0) selectNextDefaultDrive();
        break;
    default:
        break;
    }
}

void onTaskbarCreated() {
    if (driveRecordCount != 0) {
        DriveRecordsInUse use;
        for (int index = kDriveCount - 1; index >= 0; --index) {
            DriveRecord* record = DriveTable[index];
            if (record != nullptr && record->trayIcon != nullptr) updateDriveIcon(record, false);
        }
        return;
    }
    readdCommonIcon();
}

void onSecondInstance() {
    wchar_t text[260];
    loadText(IDS_SECOND_START, text, 260);
    if (driveRecordCount == 0) {
        showCommonIcon();
        showBalloon(commonIconRecord, text);
        return;
    }
    DriveRecordsInUse use;
    for (int index = kDriveCount - 1; index >= 0; --index) {
        DriveRecord* record = DriveTable[index];
        if (record == nullptr) continue;
        if (record->trayIcon == nullptr) {
            if (trayIconCount != 0) return;  // another drive's icon is showing
            setIconVisible(record, true);
        }
        EnterCriticalSection(&record->guard);
        showBalloon(record->trayIcon, text);
        LeaveCriticalSection(&record->guard);
        return;
    }
}
