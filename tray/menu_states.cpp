#include "tray/menu_states.h"

#include "drives/device_commands.h"
#include "drives/drive_record.h"
#include "resources/resource_ids.h"
#include "tray/autorun.h"
#include "tray/shell_menu.h"
#include "tray/tray_commands.h"
#include "tray/tray_menu.h"

#include <initializer_list>

namespace {

constexpr UINT kEnabled = 0;
constexpr UINT kDisabled = MFS_DISABLED | MFS_GRAYED;
constexpr UINT kChecked = MFS_CHECKED;

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

}  // namespace

void onInitMenuPopup(HMENU menu, LPARAM lParam) {
    if (menuRecord == nullptr || menuRecord->popup == nullptr) return;
    if (menu == menuRecord->popup) {
        DriveRecord* record = driveRecordCount != 0 ? driveRecordForLetter(menuDriveLetter) : nullptr;
        if (record != nullptr) prepareDriveMenu(record);
        else prepareMenuWithoutDrives();
    } else if (lParam == TRAY_POS_SHELL && menu == GetSubMenu(menuRecord->popup, TRAY_POS_SHELL) &&
               menuDriveLetter >= 'A' && menuDriveLetter <= 'Z') {
        // Only the tray menu's own position 3: a submenu of the shell's menu
        // at its third place must not tear down the shell's menu on screen.
        buildShellSubmenu();
    }
}

void onUninitMenuPopup(HMENU menu) {
    closeShellSubmenu(menu);
}
