#include "drives/eject_close.h"

#include "common/program_state.h"
#include "drives/device_commands.h"
#include "drives/device_seam.h"
#include "drives/drive_record.h"
#include "drives/drive_table.h"
#include "drives/tray_icon.h"
#include "resources/language.h"
#include "resources/resource_ids.h"

#include <commctrl.h>

namespace {

constexpr UINT kCountdownPeriodMs = 1000;

// Sends one request without buffers on a read-mode handle; false when the
// device does not open or the request fails.
bool sendTrayRequest(wchar_t letter, DWORD code) {
    HANDLE device = openDeviceRead(letter);
    if (device == INVALID_HANDLE_VALUE) return false;
    DWORD returned = 0;
    const bool done = seamDeviceIoControl(device, code, nullptr, 0, nullptr, 0, &returned) != FALSE;
    seamCloseDevice(device);
    return done;
}

// Moves the tray through the multimedia CD audio device instead; true when
// the door command was taken.
bool moveTrayThroughMci(wchar_t letter, int open) {
    wchar_t element[] = L"A:";
    element[0] = letter;
    MCI_OPEN_PARMSW parameters{};
    parameters.lpstrDeviceType = reinterpret_cast<LPCWSTR>(static_cast<ULONG_PTR>(MCI_DEVTYPE_CD_AUDIO));
    parameters.lpstrElementName = element;
    const DWORD flags = MCI_OPEN_TYPE | MCI_OPEN_TYPE_ID | MCI_OPEN_ELEMENT | MCI_OPEN_SHAREABLE;
    if (seamMciSendCommand(0, MCI_OPEN, flags, reinterpret_cast<DWORD_PTR>(&parameters)) != 0) return false;
    const bool moved =
        seamMciSendCommand(parameters.wDeviceID, MCI_SET, open ? MCI_SET_DOOR_OPEN : MCI_SET_DOOR_CLOSED, 0) == 0;
    MCI_GENERIC_PARMS closing{};
    seamMciSendCommand(parameters.wDeviceID, MCI_CLOSE, MCI_WAIT, reinterpret_cast<DWORD_PTR>(&closing));
    return moved;
}

void showBusyIcon(DriveRecord* record) {
    wchar_t busy[25];
    copyLanguageText(textBusy, busy, 25);
    EnterCriticalSection(&record->guard);
    if (TrayIconRecord* icon = record->trayIcon) {
        lstrcpynW(icon->data.szTip, busy, 128);
        icon->data.hIcon = busyIcon;
        if (icon->added) {
            icon->data.uFlags = NIF_ICON | NIF_TIP;
            Shell_NotifyIconW(NIM_MODIFY, &icon->data);
        } else {
            icon->data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
            addTrayIcon(icon);
        }
    }
    LeaveCriticalSection(&record->guard);
}

void setCountdownTitle(DriveRecord* record) {
    wchar_t format[50];
    wchar_t title[50];
    copyLanguageText(textCountdownTitle, format, 50);
    formatText(title, 50, format, {record->countdownRemaining, record->letter});
    SetWindowTextW(record->countdownDialog, title);
}

void startCountdown(DriveRecord* record) {
    const int index = record->letter - L'A';
    const DriveSettings& settings = liveSettings.drives[index];
    if (languageModule == nullptr) return;
    record->countdownDialog = CreateDialogParamW(languageModule, MAKEINTRESOURCEW(IDD_COUNTDOWN), mainWindow,
                                                 countdownDialogProc, 0);
    if (record->countdownDialog == nullptr) return;
    record->countdownProgress = GetDlgItem(record->countdownDialog, IDC_PROGRESS);
    SendMessageW(record->countdownProgress, PBM_SETRANGE, 0,
                 MAKELPARAM(0, static_cast<WORD>(settings.uAutoCloseSeconds)));
    if (settings.bShowTime) ShowWindow(record->countdownDialog, SW_SHOWNORMAL);
    record->countdownRemaining = static_cast<int32_t>(settings.uAutoCloseSeconds);
    setCountdownTitle(record);
    SetTimer(record->countdownDialog, static_cast<UINT_PTR>(index), kCountdownPeriodMs, countdownTimerProc);
}

// The record whose countdown is `dialog`, or null.
DriveRecord* recordOfCountdown(HWND dialog) {
    for (DriveRecord* record : DriveTable) {
        if (record != nullptr && record->countdownDialog == dialog) return record;
    }
    return nullptr;
}

void endCountdown(DriveRecord* record) {
    HWND dialog = record->countdownDialog;
    record->countdownDialog = nullptr;
    if (dialog != nullptr) DestroyWindow(dialog);
}

}  // namespace

bool ejectOrClose(DriveRecord* record, int open) {
    // The busy icon waits on the shell and the door command on MCI: the drive
    // may be removed meanwhile, and its record must outlive this call.
    DriveRecordsInUse use;
    const wchar_t letter = static_cast<wchar_t>(record->letter);
    bool relock = false;
    if (open && record->locked) {
        // Cleared first, so no monitor pass locks the drive again meanwhile.
        // Only the program's own lock is lifted: another program's stays.
        record->locked = 0;
        if (record->lockHeld) releaseDriveLock(record);
        relock = true;
    }
    if (!open && record->countdownDialog != nullptr) endCountdown(record);
    if (open && record->audioStatus == kAudioPlaying) stopAudio(record);

    showBusyIcon(record);
    const bool moved = sendTrayRequest(letter, open ? IOCTL_STORAGE_EJECT_MEDIA : IOCTL_STORAGE_LOAD_MEDIA) ||
                       moveTrayThroughMci(letter, open);

    if (open) {
        record->assumedClosed = 0;
        if (record->countdownDialog == nullptr && !record->removed && liveSettings.drives[letter - L'A'].bAutoCloseIn) {
            startCountdown(record);
        }
    } else {
        record->assumedClosed = 1;
    }
    if (relock) {
        setLock(record, 1);
        record->locked = 1;
    }
    return moved;
}

void CALLBACK countdownTimerProc(HWND dialog, UINT, UINT_PTR driveIndex, DWORD) {
    DriveRecord* record = driveIndex < static_cast<UINT_PTR>(kDriveCount) ? DriveTable[driveIndex] : nullptr;
    if (record == nullptr || record->countdownDialog != dialog) {
        // Not this drive's countdown (any more): never act on another record.
        KillTimer(dialog, driveIndex);
        DestroyWindow(dialog);
        return;
    }
    const uint8_t state = queryMediaState(record);
    if (state == ClosedEmpty || state == MediumPresent) {
        endCountdown(record);  // closed meanwhile: nothing else to do
        return;
    }
    if (record->countdownRemaining > 0) {
        --record->countdownRemaining;
        SendMessageW(record->countdownProgress, PBM_DELTAPOS, 1, 0);
        setCountdownTitle(record);
        return;
    }
    endCountdown(record);
    ejectOrClose(record, 0);
}

INT_PTR CALLBACK countdownDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_DESTROY:
        if (DriveRecord* record = recordOfCountdown(dialog)) record->countdownDialog = nullptr;
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK) {
            if (DriveRecord* record = recordOfCountdown(dialog)) {
                KillTimer(dialog, static_cast<UINT_PTR>(record->letter - L'A'));
                ejectOrClose(record, 0);
            }
            if (IsWindow(dialog)) DestroyWindow(dialog);
            return TRUE;
        }
        if (LOWORD(wParam) == IDCANCEL) {
            DestroyWindow(dialog);
            return TRUE;
        }
        return FALSE;
    default:
        return FALSE;
    }
}
