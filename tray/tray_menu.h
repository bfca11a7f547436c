// The tray menu built from the language library, with the pictures of its
// items.
#ifndef SPINDLEBAY_TRAY_MENU_H
#define SPINDLEBAY_TRAY_MENU_H

#include <windows.h>
#include <commctrl.h>
#include <cstdint>

constexpr int kMenuImageCapacity = 24;
constexpr ULONG_PTR kNoMenuImage = 255;

struct MenuImageEntry {
    int32_t imageIndex;  // kNoMenuImage for none
    uint32_t item;       // command id or position
    HMENU popup;
    uint32_t byPosition; // 0 or MF_BYPOSITION
};

struct MenuRecord {
    HMENU popup;                         // submenu 0 of `menu`: the tray menu
    MenuImageEntry* entries[kMenuImageCapacity];
    int32_t capacity;
    int32_t count;
    HIMAGELIST menuImages;
    MENUITEMINFOW scratch;               // reused for single-item changes
    HMENU menu;                          // menu 154 as loaded
    int32_t pictureSize;                 // of menuImages: 16, 20, 24 or 32
    int32_t dpi;                         // of the display the menu shows on
};

extern MenuRecord* menuRecord;

// Loads the language library chosen by the settings, rebuilds the tray menu
// and reloads the texts and the drives' fixed tips.
void loadLanguageAndMenu();
void destroyMenuRecord(MenuRecord* record);
void setMenuItemImage(int imageIndex, UINT item, UINT byPosition);
// Replaces the whole state (MFS_*) of one item of the tray popup.
void setTrayItemState(UINT item, bool byPosition, UINT state);

// Draws the item pictures for the display holding `point`, where the menu
// is about to show.
void prepareMenuPictures(POINT point);

// The item pictures, drawn by the main window for the menu.
void onMeasureItem(MEASUREITEMSTRUCT* item);
void onDrawItem(const DRAWITEMSTRUCT* item);

#endif
