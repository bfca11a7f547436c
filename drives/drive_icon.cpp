#include "drives/drive_icon.h"

#include "common/program_state.h"
#include "drives/device_commands.h"
#include "drives/device_seam.h"
#include "drives/drive_record.h"
#include "drives/tray_icon.h"
#include "resources/language.h"
#include "settings/settings_file.h"

#include <shlwapi.h>
#include <cwchar>

namespace {

constexpr int kLabelCapacity = MAX_PATH + 1;

// Icon entries: other medium, audio CD, closed and empty, tray open; the
// default drive's four follow at +4.
constexpr int kIconOtherMedium = 0;
constexpr int kIconAudio = 1;
constexpr int kIconEmpty = 2;
constexpr int kIconOpen = 3;
constexpr int kIconDefaultOffset = 4;

bool stopping(const DriveRecord* record) {
    return record->stopRequested != 0;
}

void driveRoot(const DriveRecord* record, wchar_t (&root)[4]) {
    root[0] = static_cast<wchar_t>(record->letter);
    root[1] = L':';
    root[2] = L'\\';
    root[3] = L'\0';
}

// " <size>" of the volume, or nothing when its size cannot be read: showing
// "0 bytes" for a disc would be wrong.
void appendVolumeSize(const wchar_t* root, wchar_t* buffer, int capacity) {
    ULARGE_INTEGER total{};
    if (!seamGetDiskTotalBytes(root, &total)) return;
    wchar_t size[kLabelCapacity] = L"";
    StrFormatByteSizeW(static_cast<LONGLONG>(total.QuadPart), size, kLabelCapacity);
    appendText(buffer, capacity, L" <");
    appendText(buffer, capacity, size);
    appendText(buffer, capacity, L">");
}

// The audio text for the cached position and table, in the current language.
void appendAudioText(const DriveRecord* record, wchar_t* buffer, int capacity) {
    wchar_t format[50];
    wchar_t text[kTipBufferCapacity];
    const int track = record->subQ.CurrentPosition.TrackNumber;
    const int last = record->toc.LastTrack;
    if (record->audioStatus == kAudioPlaying) {
        copyLanguageText(textAudioPlaying, format, 50);
        formatText(text, kTipBufferCapacity, format, {track, last});
    } else if (record->audioStatus == kAudioPaused) {
        copyLanguageText(textAudioPaused, format, 50);
        formatText(text, kTipBufferCapacity, format, {track, last});
    } else {
        copyLanguageText(textAudioStopped, format, 50);
        formatText(text, kTipBufferCapacity, format, {last});
    }
    appendText(buffer, capacity, text);
}

// Reads the table of contents (and the position when asked) into locals and
// stores what succeeded, so no reader ever sees a half-written copy. True
// when the table of contents was read.
bool refreshAudioData(DriveRecord* record, bool withPosition) {
    SUB_Q_CHANNEL_DATA subQ{};
    CDROM_TOC toc{};
    bool haveSubQ = false;
    bool haveToc = false;
    HANDLE handle = openDeviceRead(static_cast<wchar_t>(record->letter));
    if (handle != INVALID_HANDLE_VALUE) {
        DWORD returned = 0;
        if (withPosition) {
            CDROM_SUB_Q_DATA_FORMAT format{IOCTL_CDROM_CURRENT_POSITION, 0};
            haveSubQ = seamDeviceIoControl(handle, IOCTL_CDROM_READ_Q_CHANNEL, &format, sizeof format, &subQ,
                                           sizeof subQ, &returned) != FALSE;
        }
        haveToc = seamDeviceIoControl(handle, IOCTL_CDROM_READ_TOC, nullptr, 0, &toc, sizeof toc, &returned) != FALSE;
        seamCloseDevice(handle);
    }
    EnterCriticalSection(&record->guard);
    if (haveSubQ) record->subQ = subQ;
    if (haveToc) record->toc = toc;
    if (withPosition) record->audioStatus = record->subQ.CurrentPosition.Header.AudioStatus;
    LeaveCriticalSection(&record->guard);
    return haveToc;
}

// The icon for an entry, composed the first time the drive shows it and kept
// until the icon is hidden. Call with the guard held.
HICON driveIcon(DriveRecord* record, int entry) {
    if (record->icons[entry] == nullptr) {
        static constexpr int kStateImage[] = {3, 2, 0, 1};  // by entry within a set
        record->icons[entry] = composeDriveStateIcon(entry >= kIconDefaultOffset,
                                                     kStateImage[entry % kIconDefaultOffset], record->letter - L'A');
    }
    return record->icons[entry];
}

// Adds the icon, or modifies it when the shell has it and shows something
// else: the shell redraws and tells its tips for every change it is given,
// so an unchanged icon costs nothing. Call with the guard held.
void sendToShell(DriveRecord* record, HICON icon, const wchar_t* tip, bool modifyWhenAdded) {
    TrayIconRecord* shown = record->trayIcon;
    NOTIFYICONDATAW& data = shown->data;
    if (modifyWhenAdded && shown->added && shown->current && data.hIcon == icon &&
        wcsncmp(data.szTip, tip, 127) == 0) {
        return;
    }
    lstrcpynW(data.szTip, tip, 128);
    data.hIcon = icon;
    if (modifyWhenAdded && shown->added) {
        data.uFlags = NIF_ICON | NIF_TIP;
        shown->current = Shell_NotifyIconW(NIM_MODIFY, &data);
    } else {
        data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
        shown->current = addTrayIcon(shown);
    }
}

// The pause until the next whole second of the performance counter, which
// every drive's monitor shares: the monitors wake together, once a second,
// rather than each at its own moment (timer coalescing, as Microsoft advises
// for periodic work, lets the processor sleep in between). Never above a
// second; a wake a little early is followed by a whole second.
DWORD pauseToNextSecond() {
    constexpr LONGLONG kEarlyMs = 50;
    LARGE_INTEGER now{}, frequency{};
    if (!QueryPerformanceCounter(&now) || !QueryPerformanceFrequency(&frequency) || frequency.QuadPart <= 0) {
        return 1000;
    }
    const LONGLONG into = now.QuadPart % frequency.QuadPart;
    const LONGLONG left = ((frequency.QuadPart - into) * 1000 + frequency.QuadPart - 1) / frequency.QuadPart;
    return left >= kEarlyMs && left <= 1000 ? static_cast<DWORD>(left) : 1000;
}

}  // namespace

void recomposeDriveIcons(DriveRecord* record, HICON replacedBusyIcon) {
    EnterCriticalSection(&record->guard);
    TrayIconRecord* shown = record->trayIcon;
    for (int entry = 0; entry < 8; ++entry) {
        HICON old = record->icons[entry];
        if (old == nullptr) continue;  // composed at the new size when first needed
        record->icons[entry] = nullptr;
        HICON fresh = driveIcon(record, entry);
        if (shown != nullptr && shown->data.hIcon == old) shown->data.hIcon = fresh;
        DestroyIcon(old);
    }
    if (shown != nullptr) {
        if (replacedBusyIcon != nullptr && shown->data.hIcon == replacedBusyIcon) shown->data.hIcon = busyIcon;
        if (shown->added) {
            shown->data.uFlags = NIF_ICON | NIF_TIP;  // both, so `current` can say the shell shows both
            shown->current = Shell_NotifyIconW(NIM_MODIFY, &shown->data);
        }
    }
    LeaveCriticalSection(&record->guard);
}

void destroyDriveIcons(DriveRecord* record) {
    for (HICON& icon : record->icons) {
        if (icon != nullptr) DestroyIcon(icon);
        icon = nullptr;
    }
}

void buildTrayTip(DriveRecord* record, wchar_t (&buffer)[kTipBufferCapacity]) {
    wchar_t root[4];
    driveRoot(record, root);
    wchar_t drive[] = L"[A:] ";
    drive[1] = static_cast<wchar_t>(record->letter);
    lstrcpynW(buffer, kTipHead, kTipBufferCapacity);
    appendText(buffer, kTipBufferCapacity, drive);

    wchar_t label[kLabelCapacity] = L"";
    if (!seamGetVolumeLabel(root, label, kLabelCapacity)) return;
    label[kLabelCapacity - 1] = L'\0';
    if (lstrcmpiW(label, L"Audio CD") == 0) {
        record->mediaKind = AudioCd;
        appendText(buffer, kTipBufferCapacity, L"Audio CD");
        refreshAudioData(record, true);
        EnterCriticalSection(&record->guard);
        appendAudioText(record, buffer, kTipBufferCapacity);
        LeaveCriticalSection(&record->guard);
        return;
    }
    record->audioStatus = kAudioNoStatus;
    record->mediaKind = DataDisc;
    record->playStarted = 0;
    appendText(buffer, kTipBufferCapacity, label);
    appendVolumeSize(root, buffer, kTipBufferCapacity);
}

void buildInfoText(DriveRecord* record, wchar_t (&buffer)[kTipBufferCapacity]) {
    wchar_t root[4];
    driveRoot(record, root);
    lstrcpynW(buffer, L"[A:] ", kTipBufferCapacity);
    buffer[1] = static_cast<wchar_t>(record->letter);

    wchar_t label[kLabelCapacity] = L"";
    if (!seamGetVolumeLabel(root, label, kLabelCapacity)) return;
    label[kLabelCapacity - 1] = L'\0';
    if (lstrcmpiW(label, L"Audio CD") != 0) {
        appendText(buffer, kTipBufferCapacity, label);
        appendVolumeSize(root, buffer, kTipBufferCapacity);
        return;
    }
    // The track count only from a table read now: a drive that cannot be
    // opened or read is shown by its letter alone, never with the count of
    // an earlier disc.
    if (!refreshAudioData(record, false)) {
        buffer[5] = L'\0';
        return;
    }
    wchar_t format[50];
    wchar_t tracks[kTipBufferCapacity];
    copyLanguageText(textAudioStopped, format, 50);
    EnterCriticalSection(&record->guard);
    formatText(tracks, kTipBufferCapacity, format, {record->toc.LastTrack});
    LeaveCriticalSection(&record->guard);
    appendText(label, kLabelCapacity, tracks);
    appendText(buffer, kTipBufferCapacity, label);
}

void updateDriveIcon(DriveRecord* record, bool poll) {
    const bool isDefault = liveSettings.global.nDefaultDisk == record->letter && trayIconCount > 1;
    if (record->speedCommand != kSpeedMax) applySpeed(record);
    const uint8_t state = queryMediaState(record);
    if (stopping(record) && poll) return;

    wchar_t tip[kTipBufferCapacity] = L"";
    int entry = kIconEmpty;
    if (state == MediumPresent) {
        buildTrayTip(record, tip);
        entry = record->mediaKind == AudioCd ? kIconAudio : kIconOtherMedium;
    } else {
        record->playStarted = 0;
        entry = state == ClosedEmpty ? kIconEmpty : kIconOpen;
    }
    if (isDefault) entry += kIconDefaultOffset;

    EnterCriticalSection(&record->guard);
    bool addFailed = false;
    // The first show (and a new taskbar) adds the icon, allocating its record
    // when there is none; a poll modifies it. A thread that outlived its
    // record's destruction touches nothing.
    if (!poll && record->trayIcon == nullptr) record->trayIcon = createTrayIconRecord(record->letter);
    if (record->trayIcon != nullptr && !(poll && stopping(record))) {
        const wchar_t* shown = state == MediumPresent ? tip
                               : state == ClosedEmpty ? record->tipNoMedium
                                                      : record->tipTrayOpen;
        sendToShell(record, driveIcon(record, entry), shown, poll);
        addFailed = !poll && !record->trayIcon->added;
    }
    LeaveCriticalSection(&record->guard);
    if (addFailed) Sleep(1000);

    if (stopping(record) && poll) return;
    setLock(record, record->locked);
}

DWORD WINAPI monitorThreadProc(void* parameter) {
    auto* record = static_cast<DriveRecord*>(parameter);
    while (!stopping(record)) {
        updateDriveIcon(record, true);
        // The pause between polls. A condition variable rather than an event:
        // it costs the system nothing while the drive has no news, where a
        // timed wait on a kernel object is a call into the kernel (under Wine,
        // a round trip to its server) for every drive every second.
        EnterCriticalSection(&record->guard);
        if (!stopping(record)) SleepConditionVariableCS(&record->stopWake, &record->guard, pauseToNextSecond());
        LeaveCriticalSection(&record->guard);
    }
    releaseDriveRecord(record);
    return 0;
}

void askMonitorToStop(DriveRecord* record) {
    InterlockedExchange(&record->stopRequested, 1);
    // The guard is free only while the monitor polls or pauses, never between
    // its look at the flag and the start of its pause: the wake cannot fall
    // into that gap.
    EnterCriticalSection(&record->guard);
    WakeAllConditionVariable(&record->stopWake);
    LeaveCriticalSection(&record->guard);
}

void setIconVisible(DriveRecord* record, bool show) {
    if (show) {
        if (record->trayIcon != nullptr) return;
        updateDriveIcon(record, false);
        InterlockedExchange(&record->stopRequested, 0);
        InterlockedIncrement(&record->references);
        record->monitorThread = CreateThread(nullptr, 0, monitorThreadProc, record, 0, nullptr);
        if (record->monitorThread == nullptr) InterlockedDecrement(&record->references);
        return;
    }
    if (record->trayIcon == nullptr) return;
    askMonitorToStop(record);
    if (record->monitorThread != nullptr) {
        WaitForSingleObject(record->monitorThread, INFINITE);
        CloseHandle(record->monitorThread);
        record->monitorThread = nullptr;
    }
    // The thread has ended: a hidden drive still takes the menu's and the
    // wake-up's lock and speed requests.
    InterlockedExchange(&record->stopRequested, 0);
    EnterCriticalSection(&record->guard);
    removeTrayIconRecord(record->trayIcon);
    record->trayIcon = nullptr;
    destroyDriveIcons(record);
    LeaveCriticalSection(&record->guard);
}
