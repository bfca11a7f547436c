// The tray menu built from the language library, the texts other modules keep,
// and the loading of the executable's bitmap strips into image lists.
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
};

extern MenuRecord* menuRecord;

// Texts of the language library kept for other modules.
extern wchar_t textCountdownTitle[50];  // 176
extern wchar_t textAbout[260];          // 177
extern wchar_t textNoMedium[50];        // 179
extern wchar_t textTrayOpen[50];        // 180
extern wchar_t textAudioPlaying[50];    // 181
extern wchar_t textAudioPaused[50];     // 182
extern wchar_t textAudioStopped[50];    // 183
extern wchar_t textBusy[25];            // 184

// Copies one of the texts above; a language switch never lets a reader (the
// monitor threads among them) see a half-written text.
void copyLanguageText(const wchar_t* text, wchar_t* buffer, int capacity);

// Loads the language library chosen by the settings, rebuilds the tray menu
// and reloads the texts and the drives' fixed tips.
void loadLanguageAndMenu();
void destroyMenuRecord(MenuRecord* record);
void setMenuItemImage(int imageIndex, UINT item, UINT byPosition);
// Replaces the whole state (MFS_*) of one item of the tray popup.
void setTrayItemState(UINT item, bool byPosition, UINT state);

// Adds a bitmap strip of the executable to `images`, cyan being transparent.
void addImagesFromBitmap(HIMAGELIST images, UINT bitmapId);

// A 16x16 image list (ILC_COLOR32 | ILC_MASK, no growth) filled from a strip.
HIMAGELIST createImageListFromBitmap(UINT bitmapId, int imageCount);

#endif
