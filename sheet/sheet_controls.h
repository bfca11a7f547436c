// The two small controls the settings pages are built from: an extended
// combo box whose entries carry pictures, and a hot-key control paired with
// the check box that stands for the Windows key.
#ifndef SPINDLEBAY_SHEET_CONTROLS_H
#define SPINDLEBAY_SHEET_CONTROLS_H

#include <windows.h>
#include <commctrl.h>
#include <cstdint>

// Characters of an entry's text buffer, terminator included.
constexpr int kComboTextCapacity = 266;

struct ImageCombo {
    HWND              combo;     // the ComboBoxEx window
    COMBOBOXEXITEMW*  items;     // capacity entry descriptions, owned
    int32_t           capacity;  // images, and at most as many entries
    int32_t           count;     // entries so far; index of the next one
    HIMAGELIST        images;    // owned
};

struct HotKeyField {
    HWND control;      // the hot-key control
    HWND dialog;       // the page
    int  winCheckBox;  // id of the Windows-key box: the control cannot take that key
};

// Null when out of memory. The images come from bitmap `bitmapId` of the
// program's own module; one that does not load leaves the combo without.
ImageCombo* createImageCombo(HWND combo, UINT bitmapId, int imageCount);
// Appends an entry; callers add at most `capacity` of them. The control
// copies `text`.
void addComboEntry(ImageCombo* combo, const wchar_t* text, int imageIndex);
// Text of the selected entry; empty when nothing is selected.
void selectedComboText(const ImageCombo* combo, wchar_t (&buffer)[kComboTextCapacity]);
// Selects the first entry whose first two characters are those of `text`;
// its index, or -1 with the selection left alone.
int findComboPrefix(ImageCombo* combo, const wchar_t* text);
void destroyImageCombo(ImageCombo* combo);

// A hot key packed as the settings travel here: modifiers (MOD_*) in the low
// 16 bits, the key in the high 16 bits.
constexpr uint32_t packHotKey(uint16_t modifiers, uint16_t key) {
    return static_cast<uint32_t>(modifiers) | (static_cast<uint32_t>(key) << 16);
}

// Null when out of memory. A key with no modifier, or with Shift alone, gets
// Alt added by the control.
HotKeyField* createHotKeyField(HWND dialog, int controlId, int winCheckBoxId);
uint32_t readHotKeyField(const HotKeyField* field);
void showHotKeyField(const HotKeyField* field, uint32_t packed);
void enableHotKeyField(const HotKeyField* field, bool on);
void destroyHotKeyField(HotKeyField* field);

#endif
