// The settings pages' image combos and hot-key fields.
#include "sheet/sheet_controls.h"

#include "common/display_scale.h"
#include "resources/image_strips.h"

#include <cwchar>
#include <new>

namespace {


// The control's HOTKEYF flags against RegisterHotKey's MOD flags. HOTKEYF_EXT
// has no counterpart: an extended key and its twin are one hot key.
struct ModifierPair {
    uint8_t  controlFlag;
    uint16_t setting;
};
constexpr ModifierPair kModifierPairs[] = {
    {HOTKEYF_SHIFT, MOD_SHIFT},
    {HOTKEYF_CONTROL, MOD_CONTROL},
    {HOTKEYF_ALT, MOD_ALT},
};

bool fetchEntryText(const ImageCombo* combo, INT_PTR index, wchar_t (&buffer)[kComboTextCapacity]) {
    buffer[0] = L'\0';
    COMBOBOXEXITEMW item{};
    item.mask = CBEIF_TEXT;
    item.iItem = index;
    item.pszText = buffer;
    item.cchTextMax = kComboTextCapacity;
    const bool ok = SendMessageW(combo->combo, CBEM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item)) != 0;
    buffer[kComboTextCapacity - 1] = L'\0';
    if (!ok) buffer[0] = L'\0';
    return ok;
}

}  // namespace

ImageCombo* createImageCombo(HWND window, UINT bitmapId, int imageCount) {
    ImageCombo* combo = new (std::nothrow) ImageCombo{};
    if (combo == nullptr) return nullptr;
    combo->items = new (std::nothrow) COMBOBOXEXITEMW[imageCount]();
    if (combo->items == nullptr) {
        delete combo;
        return nullptr;
    }
    combo->combo = window;
    combo->capacity = imageCount;
    combo->count = 0;
    combo->images = createImageListFromBitmap(bitmapId, imageCount, pictureSizeForDpi(windowDpi(window)));
    SendMessageW(window, CBEM_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(combo->images));
    return combo;
}

void addComboEntry(ImageCombo* combo, const wchar_t* text, int imageIndex) {
    if (combo == nullptr || combo->count >= combo->capacity) return;
    COMBOBOXEXITEMW& item = combo->items[combo->count];
    item.mask = CBEIF_TEXT | CBEIF_IMAGE | CBEIF_SELECTEDIMAGE | CBEIF_LPARAM;
    item.iItem = -1;
    item.pszText = const_cast<wchar_t*>(text);
    item.cchTextMax = kComboTextCapacity;
    item.iImage = imageIndex;
    item.iSelectedImage = imageIndex;
    item.lParam = combo->count;
    SendMessageW(combo->combo, CBEM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
    // The caller may reuse its buffer at once: keep no pointer to it.
    item.pszText = nullptr;
    ++combo->count;
}

void selectedComboText(const ImageCombo* combo, wchar_t (&buffer)[kComboTextCapacity]) {
    buffer[0] = L'\0';
    if (combo == nullptr) return;
    const LRESULT index = SendMessageW(combo->combo, CB_GETCURSEL, 0, 0);
    if (index < 0) return;
    fetchEntryText(combo, index, buffer);
}

int findComboPrefix(ImageCombo* combo, const wchar_t* text) {
    if (combo == nullptr || text == nullptr || text[0] == L'\0' || text[1] == L'\0') return -1;
    wchar_t entry[kComboTextCapacity];
    for (int index = 0; index < combo->count; ++index) {
        if (!fetchEntryText(combo, index, entry)) continue;
        if (entry[0] == L'\0' || entry[1] == L'\0') continue;
        if (entry[0] == text[0] && entry[1] == text[1]) {
            SendMessageW(combo->combo, CB_SETCURSEL, index, 0);
            return index;
        }
    }
    return -1;
}

void destroyImageCombo(ImageCombo* combo) {
    if (combo == nullptr) return;
    delete[] combo->items;
    if (combo->images != nullptr) ImageList_Destroy(combo->images);
    delete combo;
}

HotKeyField* createHotKeyField(HWND dialog, int controlId, int winCheckBoxId) {
    HotKeyField* field = new (std::nothrow) HotKeyField{};
    if (field == nullptr) return nullptr;
    field->dialog = dialog;
    field->control = GetDlgItem(dialog, controlId);
    field->winCheckBox = winCheckBoxId;
    SendMessageW(field->control, HKM_SETRULES, HKCOMB_NONE | HKCOMB_S, MAKELPARAM(HOTKEYF_ALT, 0));
    return field;
}

uint32_t readHotKeyField(const HotKeyField* field) {
    if (field == nullptr) return 0;
    const LRESULT value = SendMessageW(field->control, HKM_GETHOTKEY, 0, 0);
    const uint8_t flags = HIBYTE(LOWORD(value));
    uint16_t modifiers = 0;
    for (const ModifierPair& pair : kModifierPairs) {
        if ((flags & pair.controlFlag) != 0) modifiers |= pair.setting;
    }
    if (IsDlgButtonChecked(field->dialog, field->winCheckBox) != 0) modifiers |= MOD_WIN;
    return packHotKey(modifiers, LOBYTE(LOWORD(value)));
}

void showHotKeyField(const HotKeyField* field, uint32_t packed) {
    if (field == nullptr) return;
    const uint16_t modifiers = LOWORD(packed);
    const uint16_t key = HIWORD(packed);
    const bool windowsKey = key != 0 && (modifiers & MOD_WIN) != 0;
    CheckDlgButton(field->dialog, field->winCheckBox, windowsKey ? BST_CHECKED : BST_UNCHECKED);
    uint8_t flags = 0;
    for (const ModifierPair& pair : kModifierPairs) {
        if ((modifiers & pair.setting) != 0) flags |= pair.controlFlag;
    }
    SendMessageW(field->control, HKM_SETHOTKEY, MAKEWORD(LOBYTE(key), flags), 0);
}

void enableHotKeyField(const HotKeyField* field, bool on) {
    if (field == nullptr) return;
    EnableWindow(GetDlgItem(field->dialog, field->winCheckBox), on ? TRUE : FALSE);
    EnableWindow(field->control, on ? TRUE : FALSE);
}

void destroyHotKeyField(HotKeyField* field) { delete field; }
