#include "tray/tray_menu.h"

#include "common/display_scale.h"
#include "common/program_state.h"
#include "drives/drive_record.h"
#include "resources/image_strips.h"
#include "resources/language.h"
#include "resources/resource_ids.h"

#include <new>

MenuRecord* menuRecord;

namespace {

// One change to one item of the tray popup, through the record's scratch block.
void changeItem(UINT item, bool byPosition, UINT mask, UINT value) {
    MENUITEMINFOW& info = menuRecord->scratch;
    info = MENUITEMINFOW{};
    info.cbSize = sizeof info;
    info.fMask = mask;
    if (mask == MIIM_FTYPE) info.fType = value;
    else info.fState = value;
    SetMenuItemInfoW(menuRecord->popup, item, byPosition, &info);
}

void setItemType(UINT item, UINT type) {
    changeItem(item, false, MIIM_FTYPE, type);
}

void rebuildFixedTips() {
    for (int i = kDriveCount - 1; i >= 0; --i) {
        if (DriveTable[i] != nullptr) buildFixedTips(DriveTable[i]);
    }
}

}  // namespace

void setTrayItemState(UINT item, bool byPosition, UINT state) {
    if (menuRecord != nullptr) changeItem(item, byPosition, MIIM_STATE, state);
}

void setMenuItemImage(int imageIndex, UINT item, UINT byPosition) {
    MenuRecord* record = menuRecord;
    if (record == nullptr || record->count >= record->capacity) return;
    auto* entry = new (std::nothrow) MenuImageEntry{imageIndex, item, record->popup, byPosition};
    if (entry == nullptr) return;

    MENUITEMINFOW& info = record->scratch;
    info = MENUITEMINFOW{};
    info.cbSize = sizeof info;
    info.fMask = MIIM_BITMAP | MIIM_DATA;
    info.hbmpItem = HBMMENU_CALLBACK;
    info.dwItemData = static_cast<ULONG_PTR>(imageIndex);
    SetMenuItemInfoW(record->popup, item, byPosition != 0, &info);

    record->entries[record->count++] = entry;
}

void destroyMenuRecord(MenuRecord* record) {
    if (record == nullptr) return;
    for (int i = 0; i < record->count; ++i) delete record->entries[i];
    if (record->menuImages != nullptr) ImageList_Destroy(record->menuImages);
    if (record->menu != nullptr) DestroyMenu(record->menu);
    delete record;
}

void loadLanguageAndMenu() {
    loadLanguageLibrary();

    if (menuRecord != nullptr) {
        destroyMenuRecord(menuRecord);
        menuRecord = nullptr;
    }
    menuRecord = new (std::nothrow) MenuRecord{};
    if (menuRecord != nullptr) {
        menuRecord->menu = languageModule != nullptr ? LoadMenuW(languageModule, MAKEINTRESOURCEW(IDM_TRAY)) : nullptr;
        menuRecord->popup = menuRecord->menu != nullptr ? GetSubMenu(menuRecord->menu, 0) : nullptr;
        menuRecord->capacity = kMenuImageCapacity;
        menuRecord->count = 0;
        menuRecord->dpi = trayDpi();
        menuRecord->pictureSize = pictureSizeForDpi(menuRecord->dpi);
        menuRecord->menuImages = createImageListFromBitmap(IDB_MENU, kMenuImageCapacity, menuRecord->pictureSize);

        setMenuItemImage(3, IDM_EXIT, 0);
        setMenuItemImage(2, IDM_ABOUT, 0);
        setMenuItemImage(5, IDM_README, 0);
        setMenuItemImage(4, IDM_SETTINGS, 0);
        setMenuItemImage(6, TRAY_POS_AUDIO, MF_BYPOSITION);
        setMenuItemImage(7, TRAY_POS_SPEED, MF_BYPOSITION);
        setMenuItemImage(1, IDM_OPEN, 0);
        setMenuItemImage(0, IDM_CLOSE, 0);
        setMenuItemImage(14, TRAY_POS_SHELL, MF_BYPOSITION);
        setMenuItemImage(13, IDM_AUTORUN, 0);
        setMenuItemImage(15, IDM_UPDATE, 0);
        setMenuItemImage(16, TRAY_POS_PROGRAM, MF_BYPOSITION);
        setMenuItemImage(12, IDM_PLAY, 0);

        if (isVistaOrLater) {
            // Newer systems hand audio CDs to their own player: only Play stays.
            DeleteMenu(menuRecord->popup, IDM_STOP, MF_BYCOMMAND);
            DeleteMenu(menuRecord->popup, IDM_PREVIOUS, MF_BYCOMMAND);
            DeleteMenu(menuRecord->popup, IDM_NEXT, MF_BYCOMMAND);
            DeleteMenu(menuRecord->popup, IDM_PAUSE, MF_BYCOMMAND);
            setItemType(IDM_PLAY, MFT_RADIOCHECK);
        } else {
            setMenuItemImage(8, IDM_STOP, 0);
            setMenuItemImage(9, IDM_PREVIOUS, 0);
            setMenuItemImage(10, IDM_NEXT, 0);
            setMenuItemImage(11, IDM_PAUSE, 0);
            setItemType(IDM_PLAY, MFT_RADIOCHECK);
            setItemType(IDM_STOP, MFT_RADIOCHECK);
            setItemType(IDM_PAUSE, MFT_RADIOCHECK);
        }
        for (UINT id = IDM_SPEED_1X; id <= IDM_SPEED_MAX; ++id) {
            setMenuItemImage(static_cast<int>(kNoMenuImage), id, 0);
            setItemType(id, MFT_RADIOCHECK);
        }
    }

    loadKeptTexts();

    rebuildFixedTips();
}

void prepareMenuPictures(POINT point) {
    if (menuRecord == nullptr) return;
    menuRecord->dpi = monitorDpiAt(point);
    const int size = pictureSizeForDpi(menuRecord->dpi);
    if (size == menuRecord->pictureSize && menuRecord->menuImages != nullptr) return;
    HIMAGELIST images = createImageListFromBitmap(IDB_MENU, kMenuImageCapacity, size);
    if (images == nullptr) return;
    if (menuRecord->menuImages != nullptr) ImageList_Destroy(menuRecord->menuImages);
    menuRecord->menuImages = images;
    menuRecord->pictureSize = size;
}

void onMeasureItem(MEASUREITEMSTRUCT* item) {
    // The picture with a pixel's margin all round; the menu already gives
    // the check mark's width, so only what goes beyond it is asked for.
    const int size = menuRecord != nullptr ? menuRecord->pictureSize : 16;
    const int dpi = menuRecord != nullptr ? menuRecord->dpi : kBaseDpi;
    const int width = size + 2 - systemMetricForDpi(SM_CXMENUCHECK, dpi) + 2;
    item->itemHeight = static_cast<UINT>(size + 2);
    item->itemWidth = static_cast<UINT>(width > 0 ? width : 0);
}

void onDrawItem(const DRAWITEMSTRUCT* item) {
    if ((item->itemState & ODS_CHECKED) != 0 || item->itemData == kNoMenuImage || menuRecord == nullptr) return;
    // The menu hands over the device context with its origin already at the
    // picture's slot (rcItem is the whole item): one pixel inside that slot.
    ImageList_Draw(menuRecord->menuImages, static_cast<int>(item->itemData), item->hDC, 1, 1,
                   (item->itemState & ODS_DISABLED) != 0 ? ILD_MASK : ILD_TRANSPARENT);
}
