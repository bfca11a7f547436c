#include "app/tray_commands.h"

#include "app/app.h"
#include "drives/device_commands.h"
#include "drives/device_seam.h"
#include "drives/drive_record.h"
#include "drives/eject_close.h"
#include "resources/language.h"
#include "resources/resource_ids.h"
#include "resources/tray_menu.h"

#include <commctrl.h>
#include <shlobj.h>
#include <shellapi.h>

int32_t menuDriveLetter;

namespace {

// The drive's shell context menu while the tray menu is up.
IContextMenu* contextMenu;
bool contextMenuReady;
HMENU shellPopup;
IContextMenu2* contextMenu2;
IContextMenu3* contextMenu3;
// The submenu the library gave position 3, put back when the shell's closes.
HMENU shellPlaceholder;

wchar_t autorunPath[15] = L"A:\\AUTORUN.INF";

constexpr UINT kFirstShellCommand = 1;
constexpr UINT kLastShellCommand = 0x7FFF;
constexpr UINT kEnabled = 0;
constexpr UINT kDisabled = MFS_DISABLED | MFS_GRAYED;
constexpr UINT kChecked = MFS_CHECKED;

bool keyDown(int key) {
    return (GetKeyState(key) & 0x8000) != 0;
}


void setHeaderText(const wchar_t* text) {
    MENUITEMINFOW& info = menuRecord->scratch;
    info = MENUITEMINFOW{};
    info.cbSize = sizeof info;
    info.fMask = MIIM_STRING;
    info.dwTypeData = const_cast<wchar_t*>(text);
    SetMenuItemInfoW(menuRecord->popup, IDM_HEADER, FALSE, &info);
    setTrayItemState(IDM_HEADER, false, MFS_DEFAULT);
    setTrayItemState(IDM_HEADER, false, kDisabled);
}

void prepareDriveMenu(DriveRecord* record) {
    HMENU popup = menuRecord->popup;
    for (UINT id : {IDM_OPEN, IDM_CLOSE}) setTrayItemState(id, false, kEnabled);
    setTrayItemState(TRAY_POS_SPEED, true, kEnabled);
    setTrayItemState(TRAY_POS_AUDIO, true, kEnabled);
    setTrayItemState(IDM_LOCK, false, kEnabled);
    setTrayItemState(TRAY_POS_SHELL, true, kEnabled);

    autorunPath[0] = static_cast<wchar_t>(menuDriveLetter);
    setTrayItemState(IDM_AUTORUN, false, isAutorunAvailable() ? kEnabled : kDisabled);

    SetMenuDefaultItem(popup, queryMediaState(record) != TrayOpen ? IDM_OPEN : IDM_CLOSE, FALSE);

    wchar_t header[] = L"Spindlebay [A:]";
    header[12] = static_cast<wchar_t>(menuDriveLetter);
    setHeaderText(header);

    setTrayItemState(IDM_LOCK, false, record->locked ? kChecked : kEnabled);

    if (record->mediaKind == AudioCd) {
        setTrayItemState(TRAY_POS_AUDIO, true, kEnabled);
        const uint8_t status = record->audioStatus;
        setTrayItemState(IDM_PLAY, false, status == kAudioPlaying ? kChecked : kEnabled);
        setTrayItemState(IDM_PAUSE, false, status == kAudioPaused ? kChecked : kEnabled);
        const bool stopped = status != kAudioPlaying && status != kAudioPaused;
        setTrayItemState(IDM_STOP, false, stopped ? kChecked : kEnabled);
    } else {
        setTrayItemState(TRAY_POS_AUDIO, true, kDisabled);
    }
    for (UINT id = IDM_SPEED_1X; id <= IDM_SPEED_MAX; ++id) {
        setTrayItemState(id, false, id == record->speedCommand ? kChecked : kEnabled);
    }
}

void prepareMenuWithoutDrives() {
    for (UINT id : {IDM_OPEN, IDM_CLOSE}) setTrayItemState(id, false, kDisabled);
    setTrayItemState(TRAY_POS_SPEED, true, kDisabled);
    setTrayItemState(TRAY_POS_AUDIO, true, kDisabled);
    setTrayItemState(IDM_LOCK, false, kEnabled);
    setTrayItemState(IDM_LOCK, false, kDisabled);
    setHeaderText(L"Spindlebay");
    setTrayItemState(IDM_AUTORUN, false, kDisabled);
    setTrayItemState(TRAY_POS_SHELL, true, kDisabled);
}

void releaseShellSubmenu() {
    if (contextMenu2 != nullptr) {
        contextMenu2->Release();
        contextMenu2 = nullptr;
    }
    if (contextMenu3 != nullptr) {
        contextMenu3->Release();
        contextMenu3 = nullptr;
    }
    if (shellPopup == nullptr) return;
    // Give position 3 its own submenu back before the shell's goes away, so
    // the tray menu never holds a destroyed menu.
    if (menuRecord != nullptr && shellPlaceholder != nullptr) {
        MENUITEMINFOW info{};
        info.cbSize = sizeof info;
        info.fMask = MIIM_SUBMENU;
        info.hSubMenu = shellPlaceholder;
        SetMenuItemInfoW(menuRecord->popup, TRAY_POS_SHELL, TRUE, &info);
    }
    DestroyMenu(shellPopup);
    shellPopup = nullptr;
}

void buildShellSubmenu() {
    contextMenu = nullptr;
    wchar_t root[] = L"A:\\";
    root[0] = static_cast<wchar_t>(menuDriveLetter);
    PIDLIST_ABSOLUTE list = nullptr;
    HRESULT result = SHParseDisplayName(root, nullptr, &list, 0, nullptr);
    if (SUCCEEDED(result)) {
        IShellFolder* folder = nullptr;
        PCUITEMID_CHILD child = nullptr;
        result = SHBindToParent(list, IID_IShellFolder, reinterpret_cast<void**>(&folder), &child);
        if (SUCCEEDED(result)) {
            result = folder->GetUIObjectOf(mainWindow, 1, &child, IID_IContextMenu, nullptr,
                                           reinterpret_cast<void**>(&contextMenu));
            folder->Release();
        }
        CoTaskMemFree(list);
    }
    contextMenuReady = SUCCEEDED(result) && contextMenu != nullptr;
    if (!contextMenuReady) return;

    releaseShellSubmenu();
    shellPopup = CreatePopupMenu();
    if (shellPopup == nullptr) return;
    const UINT flags = keyDown(VK_SHIFT) ? CMF_EXTENDEDVERBS : CMF_NORMAL;
    if (FAILED(contextMenu->QueryContextMenu(shellPopup, 0, kFirstShellCommand, kLastShellCommand, flags))) {
        DestroyMenu(shellPopup);
        shellPopup = nullptr;
        return;
    }
    contextMenu->QueryInterface(IID_IContextMenu2, reinterpret_cast<void**>(&contextMenu2));
    contextMenu->QueryInterface(IID_IContextMenu3, reinterpret_cast<void**>(&contextMenu3));
    shellPlaceholder = GetSubMenu(menuRecord->popup, TRAY_POS_SHELL);
    MENUITEMINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = MIIM_SUBMENU;
    info.hSubMenu = shellPopup;
    SetMenuItemInfoW(menuRecord->popup, TRAY_POS_SHELL, TRUE, &info);
}

void invokeShellCommand(UINT id, POINT cursor) {
    if (contextMenu == nullptr) return;
    CMINVOKECOMMANDINFOEX invoke{};
    invoke.cbSize = sizeof invoke;
    invoke.fMask = CMIC_MASK_UNICODE | CMIC_MASK_PTINVOKE;
    if (keyDown(VK_CONTROL)) invoke.fMask |= CMIC_MASK_CONTROL_DOWN;
    if (keyDown(VK_SHIFT)) invoke.fMask |= CMIC_MASK_SHIFT_DOWN;
    invoke.hwnd = mainWindow;
    invoke.lpVerb = MAKEINTRESOURCEA(id - kFirstShellCommand);
    invoke.lpVerbW = MAKEINTRESOURCEW(id - kFirstShellCommand);
    invoke.nShow = SW_SHOWNORMAL;
    invoke.ptInvoke = cursor;
    contextMenu->InvokeCommand(reinterpret_cast<CMINVOKECOMMANDINFO*>(&invoke));
}

void showTrayMenu(WPARAM iconId) {
    POINT cursor{};
    GetCursorPos(&cursor);
    SetForegroundWindow(mainWindow);
    if (menuRecord == nullptr || menuRecord->popup == nullptr) return;
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
    if (id > kLastShellCommand) {
        PostMessageW(mainWindow, WM_COMMAND, id, 0);
    } else if (id >= kFirstShellCommand) {
        GetCursorPos(&cursor);
        invokeShellCommand(id, cursor);
    }
    if (contextMenuReady) {
        if (contextMenu != nullptr) contextMenu->Release();
        contextMenu = nullptr;
        contextMenuReady = false;
    }
}

// The record a drive command of the menu acts on, or null when that drive
// is gone.
DriveRecord* menuDrive() {
    return driveRecordForLetter(menuDriveLetter);
}

void readAutorunValue(wchar_t (&value)[MAX_PATH]) {
    value[0] = L'\0';
    seamReadDiscProfileString(L"AutoRun", L"open", value, MAX_PATH, autorunPath);
    if (value[0] == L'\0') seamReadDiscProfileString(L"AutoRun", L"shellexecute", value, MAX_PATH, autorunPath);
    value[MAX_PATH - 1] = L'\0';
}

}  // namespace

bool offerToShellMenu(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
    if (contextMenu3 != nullptr) {
        LRESULT handled = 0;
        if (SUCCEEDED(contextMenu3->HandleMenuMsg2(message, wParam, lParam, &handled))) {
            *result = handled;
            return true;
        }
        return false;
    }
    if (contextMenu2 != nullptr && SUCCEEDED(contextMenu2->HandleMenuMsg(message, wParam, lParam))) {
        *result = 0;
        return true;
    }
    return false;
}

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

void onInitMenuPopup(HMENU menu, LPARAM lParam) {
    if (menuRecord == nullptr || menuRecord->popup == nullptr) return;
    if (menu == menuRecord->popup) {
        DriveRecord* record = driveRecordCount != 0 ? menuDrive() : nullptr;
        if (record != nullptr) prepareDriveMenu(record);
        else prepareMenuWithoutDrives();
    } else if (lParam == TRAY_POS_SHELL && menuDriveLetter >= 'A' && menuDriveLetter <= 'Z') {
        buildShellSubmenu();
    }
}

void onUninitMenuPopup(HMENU menu) {
    if (menu == shellPopup && shellPopup != nullptr) releaseShellSubmenu();
}

void onMeasureItem(MEASUREITEMSTRUCT* item) {
    item->itemHeight = 18;
    item->itemWidth = 18 - GetSystemMetrics(SM_CXMENUCHECK) + 2;
}

void onDrawItem(const DRAWITEMSTRUCT* item) {
    if ((item->itemState & ODS_CHECKED) != 0 || item->itemData == kNoMenuImage || menuRecord == nullptr) return;
    // The picture goes one pixel inside the item's picture area.
    ImageList_Draw(menuRecord->menuImages, static_cast<int>(item->itemData), item->hDC, item->rcItem.left + 1,
                   item->rcItem.top + 1, (item->itemState & ODS_DISABLED) != 0 ? ILD_MASK : ILD_TRANSPARENT);
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

bool isAutorunAvailable() {
    wchar_t value[MAX_PATH];
    readAutorunValue(value);
    return value[0] != L'\0';
}

void splitAutorunCommand(const wchar_t* value, wchar_t (&program)[MAX_PATH], wchar_t (&parameters)[MAX_PATH]) {
    lstrcpynW(program, value, MAX_PATH);
    parameters[0] = L'\0';
    if (program[0] == L'"') {
        wchar_t* closing = wcschr(program + 1, L'"');
        if (closing == nullptr || closing[1] == L'\0') return;
        lstrcpynW(parameters, closing + 2, MAX_PATH);
        closing[1] = L'\0';
        return;
    }
    if (wchar_t* blank = wcschr(program, L' ')) {
        lstrcpynW(parameters, blank + 1, MAX_PATH);
        *blank = L'\0';
    }
}

void runAutorun() {
    if (menuDriveLetter < 'A' || menuDriveLetter > 'Z') return;
    wchar_t root[] = L"A:\\";
    root[0] = static_cast<wchar_t>(menuDriveLetter);
    autorunPath[0] = root[0];
    wchar_t value[MAX_PATH];
    readAutorunValue(value);
    if (value[0] != L'\0') {
        wchar_t program[MAX_PATH];
        wchar_t parameters[MAX_PATH];
        splitAutorunCommand(value, program, parameters);
        const auto result = reinterpret_cast<INT_PTR>(
            seamShellExecute(nullptr, L"open", program, parameters, root, SW_SHOWNORMAL));
        if (result > 32) return;
    }
    seamShellExecute(nullptr, L"explore", root, nullptr, nullptr, SW_SHOWNORMAL);
}
