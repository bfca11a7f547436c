#include "tray/tray_commands.h"

#include "common/program_state.h"
#include "drives/device_commands.h"
#include "drives/drive_record.h"
#include "drives/eject_close.h"
#include "drives/device_seam.h"
#include "resources/language.h"
#include "resources/resource_ids.h"
#include "tray/autorun.h"
#include "tray/shell_menu.h"
#include "tray/tray_menu.h"

#include <shellapi.h>

int32_t menuDriveLetter;

namespace {

void showTrayMenu(WPARAM iconId) {
    POINT cursor{};
    GetCursorPos(&cursor);
    SetForegroundWindow(mainWindow);
    if (menuRecord == nullptr || menuRecord->popup == nullptr) return;
    prepareMenuPictures(cursor);
    if (driveRecordCount == 0) {
        TrackPopupMenu(menuRecord->popup, TPM_RIGHTALIGN | TPM_BOTTOMALIGN, cursor.x, cursor.y, 0, mainWindow,
                       nullptr);
        PostMessageW(mainWindow, WM_NULL, 0, 0);
        return;
    }
    // An icon id that names no drive with a record (a stale callback) opens nothing.
    if (iconId > 'Z' || driveRecordForLetter(static_cast<int>(iconId)) == nullptr) return;
    menuDriveLetter = static_cast<int32_t>(iconId);
    const UINT id = static_cast<UINT>(TrackPopupMenuEx(menuRecord->popup, TPM_RETURNCMD | TPM_RIGHTALIGN |
                                                       TPM_BOTTOMALIGN, cursor.x, cursor.y, mainWindow, nullptr));
    PostMessageW(mainWindow, WM_NULL, 0, 0);
    // The menu's own commands, from IDM_EXIT up, lie above the shell's range: the two never meet.
    static_assert(IDM_EXIT > kLastShellCommand);
    if (id > kLastShellCommand) {
        PostMessageW(mainWindow, WM_COMMAND, id, 0);
    } else if (id >= kFirstShellCommand) {
        GetCursorPos(&cursor);
        invokeShellCommand(id, cursor);
    }
    releaseShellContextMenu();
}

// The record a drive command of the menu acts on, or null when that drive
// is gone.
DriveRecord* menuDrive() {
    return driveRecordForLetter(menuDriveLetter);
}

}  // namespace

void onTrayCallback(WPARAM iconId, LPARAM mouseMessage) {
    switch (mouseMessage) {
    case WM_LBUTTONDOWN:
        SetForegroundWindow(mainWindow);
        break;
    case WM_LBUTTONDBLCLK:
        if (driveRecordCount != 0 && iconId <= 'Z') {
            if (DriveRecord* record = driveRecordForLetter(static_cast<int>(iconId))) {
                ejectOrClose(record, queryMediaState(record) == TrayOpen ? 0 : 1);
            }
        }
        break;
    case WM_RBUTTONUP:
        showTrayMenu(iconId);
        break;
    default:
        break;
    }
}

void onCommand(WPARAM wParam) {
    switch (wParam) {
    case IDM_EXIT:
        PostMessageW(mainWindow, WM_DESTROY, 0, 0);
        return;
    case IDM_README: {
        wchar_t readme[MAX_PATH];
        lstrcpynW(readme, programDir, MAX_PATH);
        appendText(readme, MAX_PATH, L"readme.txt");
        seamShellExecute(mainWindow, nullptr, readme, nullptr, nullptr, SW_SHOWNORMAL);
        return;
    }
    case IDM_ABOUT: {
        auto icon = static_cast<HICON>(
            LoadImageW(appInstance, MAKEINTRESOURCEW(IDI_APP), IMAGE_ICON, 0, 0, LR_DEFAULTCOLOR));
        wchar_t about[260];
        copyLanguageText(textAbout, about, 260);
        ShellAboutW(mainWindow, productString, about, icon);
        if (icon != nullptr) DestroyIcon(icon);
        return;
    }
    case IDM_AUTORUN:
        runAutorun();
        return;
    default:
        break;
    }

    DriveRecord* record = menuDrive();
    if (record == nullptr) return;
    switch (wParam) {
    case IDM_OPEN: ejectOrClose(record, 1); break;
    case IDM_CLOSE: ejectOrClose(record, 0); break;
    case IDM_LOCK:
        setLock(record, record->locked);
        record->locked = !record->locked;
        break;
    case IDM_PLAY: playAudio(record); break;
    case IDM_STOP: stopAudio(record); break;
    case IDM_PAUSE: pauseResumeAudio(record); break;
    case IDM_NEXT: nextTrack(record); break;
    case IDM_PREVIOUS: previousTrack(record); break;
    case IDM_SPEED_1X:
    case IDM_SPEED_2X:
    case IDM_SPEED_4X:
    case IDM_SPEED_8X:
    case IDM_SPEED_16X:
    case IDM_SPEED_32X:
        record->speedCommand = static_cast<uint16_t>(wParam);
        break;
    case IDM_SPEED_MAX:
        record->speedCommand = IDM_SPEED_MAX;
        applySpeed(record);
        break;
    default:
        break;
    }
}
