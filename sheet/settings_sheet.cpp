// The settings sheet's opening, its two pages and the apply that makes the
// working copy live.
#include "sheet/settings_sheet.h"

#include "common/program_state.h"
#include "drives/device_commands.h"
#include "drives/drive_icon.h"
#include "drives/drive_record.h"
#include "drives/drive_table.h"
#include "resources/language.h"
#include "resources/resource_ids.h"
#include "service/service.h"
#include "autostart/startup_mode.h"
#include "settings/settings_file.h"
#include "sheet/sheet_controls.h"
#include "tray/tray_commands.h"
#include "tray/tray_menu.h"

PROPSHEETHEADERW sheetHeader;
SheetPage sheetPages[2];
UINT sheetRefCount = 0;
int32_t settingsModified = 0;
int32_t fillingDrivePage = 0;

namespace {

constexpr COLORREF kMaskColour = 0x00FFFF00;  // cyan
constexpr int kGeneralPageIndex = 0;
constexpr int kDrivePageIndex = 1;
constexpr int kLanguageNameCapacity = 25;
constexpr int kSecondsTextCapacity = 65;
// The edit holds two digits; anything larger came from outside the keyboard.
constexpr int32_t kMaxSeconds = 99;
constexpr uint32_t kMinSeconds = 5;

// One opening of the sheet (main thread only).
struct SheetState {
    HWND         sheet;
    HWND         generalPage;    // null until its WM_INITDIALOG
    HWND         drivePage;      // likewise
    HIMAGELIST   tabImages;
    ImageCombo*  languageCombo;
    ImageCombo*  defaultDiskCombo;
    HotKeyField* defEject;
    HotKeyField* defClose;
    HotKeyField* defSelect;
    ImageCombo*  driveCombo;     // null outside the drive page's life
    HotKeyField* driveEject;
    HotKeyField* driveClose;
    bool         reopen;         // Apply changed the language: open again
};
SheetState sheetState;

SettingsBlock& W = sheetSettings;
SettingsBlock& L = liveSettings;

bool isLetter(int code) { return code >= L'A' && code <= L'Z'; }

bool checked(HWND page, int id) { return SendDlgItemMessageW(page, id, BM_GETCHECK, 0, 0) == BST_CHECKED; }

void check(HWND page, int id, int32_t on) { CheckDlgButton(page, id, on != 0 ? BST_CHECKED : BST_UNCHECKED); }

void enable(HWND page, int id, bool on) { EnableWindow(GetDlgItem(page, id), on ? TRUE : FALSE); }

uint32_t packed(const HotKeySetting& setting) { return packHotKey(setting.modifiers, setting.key); }

HotKeySetting unpacked(uint32_t value) { return HotKeySetting{LOWORD(value), HIWORD(value)}; }

void markChanged(HWND page) {
    SendMessageW(GetParent(page), PSM_CHANGED, reinterpret_cast<WPARAM>(page), 0);
    settingsModified = 1;
}

// One entry per drive record, A: to Z:, with its media state's picture.
void addDriveEntries(ImageCombo* combo) {
    for (int index = 0; index < kDriveCount; ++index) {
        DriveRecord* record = DriveTable[index];
        if (record == nullptr) continue;
        wchar_t text[kTipBufferCapacity] = L"[A:] ";
        text[1] = static_cast<wchar_t>(L'A' + index);
        int image = 1;
        switch (queryMediaState(record)) {
        case MediumPresent:
            buildInfoText(record, text);
            image = record->mediaKind == AudioCd ? 2 : 3;
            break;
        case ClosedEmpty:
            image = 0;
            break;
        default:
            break;
        }
        addComboEntry(combo, text, image);
    }
}

// The letter of the selected entry ("[D:] ..."), or 0 when none is selected.
int selectedLetter(const ImageCombo* combo) {
    wchar_t text[kComboTextCapacity];
    selectedComboText(combo, text);
    return text[0] == L'[' && isLetter(text[1]) ? text[1] : 0;
}

// ---- General page -----------------------------------------------------------

void showDefaultDiskKeys(bool on) {
    for (HotKeyField* field : {sheetState.defEject, sheetState.defClose, sheetState.defSelect}) {
        enableHotKeyField(field, on);
    }
    if (!on) return;
    showHotKeyField(sheetState.defEject, packed(W.global.hkDefDiskEject));
    showHotKeyField(sheetState.defClose, packed(W.global.hkDefDiskClose));
    showHotKeyField(sheetState.defSelect, packed(W.global.hkDefDiskSelect));
}

void initGeneralPage(HWND page) {
    sheetState.generalPage = page;
    ShowWindow(GetDlgItem(page, IDC_AS_SERVICE), isVistaOrLater ? SW_HIDE : SW_SHOW);
    if (W.global.autostart != 0) {
        check(page, IDC_AUTOSTART, 1);
        enable(page, IDC_AS_SERVICE, true);
    }
    if (W.global.asService != 0) check(page, IDC_AS_SERVICE, 1);

    sheetState.languageCombo = createImageCombo(GetDlgItem(page, IDC_LANGUAGE), IDB_FLAGS, 2);
    for (UINT id : {IDS_LANG0, IDS_LANG1}) {
        wchar_t name[kLanguageNameCapacity];
        loadText(id, name, kLanguageNameCapacity);
        addComboEntry(sheetState.languageCombo, name, static_cast<int>(id - IDS_LANG0));
    }
    // A stored language other than the two listed selects nothing.
    const int32_t language = W.global.nLanguage;
    SendDlgItemMessageW(page, IDC_LANGUAGE, CB_SETCURSEL, language == 0 || language == 1 ? language : -1, 0);

    sheetState.defaultDiskCombo = createImageCombo(GetDlgItem(page, IDC_DEF_DISK), IDB_STATES, kDriveCount);
    if (driveRecordCount > 0) addDriveEntries(sheetState.defaultDiskCombo);
    else enable(page, IDC_DEF_DISK, false);

    sheetState.defEject = createHotKeyField(page, IDC_DEF_EJECT, IDC_DEF_EJECT_WIN);
    sheetState.defClose = createHotKeyField(page, IDC_DEF_CLOSE, IDC_DEF_CLOSE_WIN);
    sheetState.defSelect = createHotKeyField(page, IDC_DEF_SELECT, IDC_DEF_SELECT_WIN);

    const int32_t defaultDisk = W.global.nDefaultDisk;
    const wchar_t prefix[] = {L'[', isLetter(defaultDisk) ? static_cast<wchar_t>(defaultDisk) : L'\0', L'\0'};
    showDefaultDiskKeys(findComboPrefix(sheetState.defaultDiskCombo, prefix) >= 0);

    enable(page, IDC_AUTOSTART, serviceMode == 0);
}

void onGeneralCommand(HWND page, int id, int code) {
    switch (code) {
    case BN_CLICKED:
        if (id == IDC_AUTOSTART) enable(page, IDC_AS_SERVICE, checked(page, IDC_AUTOSTART));
        // The service cannot start itself by the Run value: in service mode
        // the one box stands for both.
        if (id == IDC_AS_SERVICE && serviceMode != 0) check(page, IDC_AUTOSTART, checked(page, IDC_AS_SERVICE));
        markChanged(page);
        break;
    case CBN_SELCHANGE:
        if (id == IDC_DEF_DISK && !IsWindowEnabled(GetDlgItem(page, IDC_DEF_EJECT))) showDefaultDiskKeys(true);
        markChanged(page);
        break;
    case EN_CHANGE:
        markChanged(page);
        break;
    default:
        break;
    }
}

void destroyGeneralPage() {
    destroyImageCombo(sheetState.languageCombo);
    destroyImageCombo(sheetState.defaultDiskCombo);
    if (sheetState.tabImages != nullptr) ImageList_Destroy(sheetState.tabImages);
    destroyHotKeyField(sheetState.defEject);
    destroyHotKeyField(sheetState.defClose);
    destroyHotKeyField(sheetState.defSelect);
    sheetState.languageCombo = sheetState.defaultDiskCombo = nullptr;
    sheetState.tabImages = nullptr;
    sheetState.defEject = sheetState.defClose = sheetState.defSelect = nullptr;
}

// ---- Drive page -------------------------------------------------------------

constexpr int kDriveControls[] = {IDC_EJECT_KEY, IDC_EJECT_KEY_WIN, IDC_CLOSE_KEY,   IDC_CLOSE_KEY_WIN,
                                  IDC_AUTO_CLOSE, IDC_SECONDS,     IDC_SECONDS_SPIN, IDC_SHOW_TIME,
                                  IDC_LOGOFF_EJECT, IDC_BEEP_INSIDE, IDC_HIDE,       IDC_LOCK};

void enableDriveControls(HWND page, bool on) {
    for (int id : kDriveControls) enable(page, id, on);
}

// The settings of the drive selected in 1014; null while none is.
DriveSettings* editedDrive() {
    const int letter = selectedLetter(sheetState.driveCombo);
    return letter != 0 ? &W.drives[letter - L'A'] : nullptr;
}

void enableAutoCloseControls(HWND page, bool on) {
    for (int id : {IDC_SECONDS, IDC_SECONDS_SPIN, IDC_SHOW_TIME}) enable(page, id, on);
}

void readSeconds(HWND page, DriveSettings& drive) {
    wchar_t text[kSecondsTextCapacity] = L"";
    SendDlgItemMessageW(page, IDC_SECONDS, WM_GETTEXT, kSecondsTextCapacity, reinterpret_cast<LPARAM>(text));
    text[kSecondsTextCapacity - 1] = L'\0';
    int32_t seconds = parseSettingsNumber(text);
    if (seconds < 0) seconds = 0;
    if (seconds > kMaxSeconds) seconds = kMaxSeconds;
    drive.uAutoCloseSeconds = static_cast<uint32_t>(seconds);
}

void initDrivePage(HWND page) {
    sheetState.drivePage = page;
    sheetState.driveCombo = createImageCombo(GetDlgItem(page, IDC_DRIVE), IDB_STATES, kDriveCount);
    addDriveEntries(sheetState.driveCombo);
    // The menu's drive, or the nearest listed drive below it, or none.
    int listedUpTo = 0;
    for (int index = 0; index < kDriveCount && index <= menuDriveLetter - L'A'; ++index) {
        if (DriveTable[index] != nullptr) ++listedUpTo;
    }
    SendDlgItemMessageW(page, IDC_DRIVE, CB_SETCURSEL, listedUpTo - 1, 0);

    sheetState.driveEject = createHotKeyField(page, IDC_EJECT_KEY, IDC_EJECT_KEY_WIN);
    sheetState.driveClose = createHotKeyField(page, IDC_CLOSE_KEY, IDC_CLOSE_KEY_WIN);
    SendDlgItemMessageW(page, IDC_SECONDS, EM_LIMITTEXT, 2, 0);
    SendDlgItemMessageW(page, IDC_SECONDS_SPIN, UDM_SETRANGE32, kMinSeconds, 60);

    // The page edits the drive whose entry is selected; a menu drive that is
    // gone (or no menu yet) must not pick a record of its own, so with no
    // entry selected there is nothing to edit until one is chosen.
    const int letter = selectedLetter(sheetState.driveCombo);
    enableDriveControls(page, letter != 0);
    fillDrivePage(letter);
}

void onDriveClick(HWND page, int id, DriveSettings& drive) {
    switch (id) {
    case IDC_LOGOFF_EJECT: drive.bLogOffEject = checked(page, id); break;
    case IDC_BEEP_INSIDE: drive.bBeepDiskInside = checked(page, id); break;
    case IDC_CLOSE_KEY_WIN: drive.hkClose = unpacked(readHotKeyField(sheetState.driveClose)); break;
    case IDC_SHOW_TIME: drive.bShowTime = checked(page, id); break;
    case IDC_HIDE: drive.bHide = checked(page, id); break;
    case IDC_LOCK: drive.bLock = checked(page, id); break;
    case IDC_AUTO_CLOSE:
        drive.bAutoCloseIn = checked(page, id);
        enableAutoCloseControls(page, drive.bAutoCloseIn != 0);
        break;
    case IDC_EJECT_KEY_WIN: drive.hkEject = unpacked(readHotKeyField(sheetState.driveEject)); break;
    case IDC_SECONDS: readSeconds(page, drive); break;
    default: break;
    }
}

void onDriveCommand(HWND page, int id, int code) {
    if (sheetState.driveCombo == nullptr) return;
    switch (code) {
    case BN_CLICKED: {
        DriveSettings* drive = editedDrive();
        if (drive == nullptr) return;
        onDriveClick(page, id, *drive);
        markChanged(page);
        break;
    }
    case CBN_SELCHANGE: {
        const int letter = selectedLetter(sheetState.driveCombo);
        enableDriveControls(page, letter != 0);
        fillDrivePage(letter);
        break;
    }
    case EN_CHANGE: {
        if (id == IDC_SECONDS && fillingDrivePage != 0) return;
        DriveSettings* drive = editedDrive();
        if (drive == nullptr) return;
        if (id == IDC_EJECT_KEY) drive->hkEject = unpacked(readHotKeyField(sheetState.driveEject));
        if (id == IDC_CLOSE_KEY) drive->hkClose = unpacked(readHotKeyField(sheetState.driveClose));
        if (id == IDC_SECONDS) readSeconds(page, *drive);
        markChanged(page);
        break;
    }
    default:
        break;
    }
}

void destroyDrivePage() {
    const int letter = selectedLetter(sheetState.driveCombo);
    if (letter != 0) menuDriveLetter = letter;
    destroyImageCombo(sheetState.driveCombo);
    destroyHotKeyField(sheetState.driveEject);
    destroyHotKeyField(sheetState.driveClose);
    sheetState.driveCombo = nullptr;
    sheetState.driveEject = sheetState.driveClose = nullptr;
}

// ---- Apply --------------------------------------------------------------------

void readGeneralPage(HWND page) {
    W.global.autostart = checked(page, IDC_AUTOSTART) ? 1 : 0;
    W.global.asService = checked(page, IDC_AS_SERVICE) ? 1 : 0;
    W.global.nLanguage = static_cast<int32_t>(SendDlgItemMessageW(page, IDC_LANGUAGE, CB_GETCURSEL, 0, 0));
    if (IsWindowEnabled(GetDlgItem(page, IDC_DEF_EJECT))) {
        W.global.nDefaultDisk = selectedLetter(sheetState.defaultDiskCombo);
        W.global.hkDefDiskEject = unpacked(readHotKeyField(sheetState.defEject));
        W.global.hkDefDiskClose = unpacked(readHotKeyField(sheetState.defClose));
        W.global.hkDefDiskSelect = unpacked(readHotKeyField(sheetState.defSelect));
    } else {
        W.global.nDefaultDisk = 0;
    }
    applyStartupMode(W.global, L.global);
}

// Unlike start-up, apply registers a global hot key whenever it has a key,
// with or without a default drive.
void reregisterGlobalHotKeys() {
    const HotKeySetting* keys[] = {&L.global.hkDefDiskEject, &L.global.hkDefDiskClose, &L.global.hkDefDiskSelect};
    const int ids[] = {kHotKeyDefEject, kHotKeyDefClose, kHotKeyDefSelect};
    for (int slot = 0; slot < 3; ++slot) {
        int32_t& registered = globalHotKeyRegistered[slot];
        if (registered != 0) registered = UnregisterHotKey(mainWindow, ids[slot]) ? 0 : 1;
        if (keys[slot]->key != 0) {
            registered = RegisterHotKey(mainWindow, ids[slot], keys[slot]->modifiers, keys[slot]->key) ? 1 : 0;
        }
    }
}

}  // namespace

void applySettings(HWND page, const PSHNOTIFY* notify) {
    bool languageChanged = false;
    if (settingsModified != 0) {
        createSettingsFolder();
        HWND general = sheetState.generalPage;
        if (general != nullptr) readGeneralPage(general);
        languageChanged = W.global.nLanguage != L.global.nLanguage;
        L = W;
        // A drive that left while the sheet was open gets no section saved,
        // so raise short countdowns here for every drive, not only on save.
        for (int index = 0; index < kDriveCount; ++index) {
            if (L.drives[index].uAutoCloseSeconds < kMinSeconds) {
                L.drives[index].uAutoCloseSeconds = W.drives[index].uAutoCloseSeconds = kMinSeconds;
            }
        }
        if (languageChanged) loadLanguageAndMenu();
        if (general != nullptr) {
            check(general, IDC_AUTOSTART, L.global.autostart);
            enable(general, IDC_AS_SERVICE, L.global.autostart != 0);
            check(general, IDC_AS_SERVICE, L.global.asService);
            saveGlobalSection();
            reregisterGlobalHotKeys();
        }
        if (sheetState.drivePage != nullptr) {
            for (int index = 0; index < kDriveCount; ++index) {
                DriveRecord* record = DriveTable[index];
                if (record == nullptr) continue;
                DriveRecordsInUse use;  // showing and hiding wait on the shell
                registerDriveHotKeys(record);
                setIconVisible(record, L.drives[index].bHide == 0);
                saveDriveSection(index);
            }
        }
        settingsModified = 0;
    }
    SetWindowLongPtrW(page, DWLP_MSGRESULT, PSNRET_NOERROR);
    // The templates come from the language library: only a new sheet shows
    // the new language. Ending this modal sheet from inside its own apply is
    // left to comctl32 (a posted Cancel, with nothing left to discard), and
    // openSettingsSheet opens the next one.
    if (languageChanged && notify != nullptr && notify->lParam == FALSE && sheetState.sheet != nullptr) {
        sheetState.reopen = true;
        PostMessageW(sheetState.sheet, PSM_PRESSBUTTON, PSBTN_CANCEL, 0);
    }
}

void fillDrivePage(int letter) {
    HWND page = sheetState.drivePage;
    if (page == nullptr || !isLetter(letter)) return;
    const DriveSettings& drive = W.drives[letter - L'A'];
    fillingDrivePage = 1;
    showHotKeyField(sheetState.driveEject, packed(drive.hkEject));
    showHotKeyField(sheetState.driveClose, packed(drive.hkClose));
    check(page, IDC_AUTO_CLOSE, drive.bAutoCloseIn);
    SetDlgItemInt(page, IDC_SECONDS, drive.uAutoCloseSeconds, FALSE);
    check(page, IDC_SHOW_TIME, drive.bShowTime);
    enableAutoCloseControls(page, drive.bAutoCloseIn != 0);
    check(page, IDC_LOGOFF_EJECT, drive.bLogOffEject);
    check(page, IDC_BEEP_INSIDE, drive.bBeepDiskInside);
    check(page, IDC_HIDE, drive.bHide);
    check(page, IDC_LOCK, drive.bLock);
    fillingDrivePage = 0;
}

int CALLBACK initSettingsSheet(HWND sheet, UINT message, LPARAM) {
    if (message != PSCB_INITIALIZED) return 0;
    sheetState.sheet = sheet;
    detectStartupMode(L.global);
    W = L;

    sheetState.tabImages = ImageList_Create(16, 16, ILC_COLOR32 | ILC_MASK, 2, 0);
    HWND tabs = reinterpret_cast<HWND>(SendMessageW(sheet, PSM_GETTABCONTROL, 0, 0));
    SendMessageW(tabs, TCM_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(sheetState.tabImages));
    HBITMAP strip = static_cast<HBITMAP>(
        LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDB_TABS), IMAGE_BITMAP, 0, 0, LR_DEFAULTCOLOR));
    if (strip != nullptr) {
        if (sheetState.tabImages != nullptr) ImageList_AddMasked(sheetState.tabImages, strip, kMaskColour);
        DeleteObject(strip);
    }
    for (int tab = 0; tab < 2; ++tab) {
        TCITEMW item{};
        item.mask = TCIF_IMAGE;
        item.iImage = tab;
        SendMessageW(tabs, TCM_SETITEMW, tab, reinterpret_cast<LPARAM>(&item));
    }
    if (driveRecordCount == 0) SendMessageW(tabs, TCM_DELETEITEM, kDrivePageIndex, 0);

    sheetState.generalPage = nullptr;
    sheetState.drivePage = nullptr;
    settingsModified = 0;
    return 0;
}

INT_PTR CALLBACK generalPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        initGeneralPage(page);
        return TRUE;
    case WM_COMMAND:
        onGeneralCommand(page, LOWORD(wParam), HIWORD(wParam));
        return TRUE;
    case WM_NOTIFY: {
        const NMHDR* header = reinterpret_cast<const NMHDR*>(lParam);
        if (header != nullptr && header->code == PSN_APPLY) {
            applySettings(page, reinterpret_cast<const PSHNOTIFY*>(lParam));
        }
        return TRUE;
    }
    case WM_ACTIVATE:
        sheetHeader.nStartPage = kGeneralPageIndex;
        return TRUE;
    case WM_DESTROY:
        destroyGeneralPage();
        return TRUE;
    default:
        return FALSE;
    }
}

INT_PTR CALLBACK drivePageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        initDrivePage(page);
        return TRUE;
    case WM_COMMAND:
        onDriveCommand(page, LOWORD(wParam), HIWORD(wParam));
        return TRUE;
    case WM_NOTIFY: {
        const NMHDR* header = reinterpret_cast<const NMHDR*>(lParam);
        if (header != nullptr && header->code == PSN_APPLY) {
            // The general page's own apply does everything when it exists.
            if (sheetState.generalPage == nullptr) applySettings(page, reinterpret_cast<const PSHNOTIFY*>(lParam));
            else SetWindowLongPtrW(page, DWLP_MSGRESULT, PSNRET_NOERROR);
        }
        return TRUE;
    }
    case WM_ACTIVATE:
        sheetHeader.nStartPage = kDrivePageIndex;
        return TRUE;
    case WM_DESTROY:
        destroyDrivePage();
        return TRUE;
    default:
        return FALSE;
    }
}

void fillSheetDescription() {
    const DLGPROC procedures[] = {generalPageProc, drivePageProc};
    const UINT templates[] = {IDD_GENERAL, IDD_DRIVE};
    for (int index = 0; index < 2; ++index) {
        SheetPage& description = sheetPages[index];
        description = SheetPage{};
        description.page.dwSize = sizeof(SheetPage);
        description.page.dwFlags = index == kGeneralPageIndex ? PSP_USEREFPARENT : 0;
        description.page.hInstance = languageModule;
        description.page.pszTemplate = MAKEINTRESOURCEW(templates[index]);
        description.page.pfnDlgProc = procedures[index];
        if (index == kGeneralPageIndex) description.page.pcRefParent = &sheetRefCount;
    }
    sheetHeader = PROPSHEETHEADERW{};
    sheetHeader.dwSize = sizeof(PROPSHEETHEADERW);
    sheetHeader.dwFlags = PSH_NOCONTEXTHELP | PSH_USECALLBACK | PSH_PROPSHEETPAGE | PSH_USEICONID | PSH_PROPTITLE;
    sheetHeader.hwndParent = mainWindow;
    sheetHeader.hInstance = GetModuleHandleW(nullptr);
    sheetHeader.pszIcon = MAKEINTRESOURCEW(IDI_APP);
    sheetHeader.pszCaption = productString;
    sheetHeader.nPages = 2;
    sheetHeader.nStartPage = 0;
    sheetHeader.ppsp = &sheetPages[0].page;
    sheetHeader.pfnCallback = initSettingsSheet;
}

void openSettingsSheet() {
    // Wine's comctl32 does not keep the reference-parent counter, so the
    // sheet also knows for itself that it is showing.
    static bool showing = false;
    if (sheetRefCount != 0 || showing) return;
    showing = true;
    do {
        sheetState.reopen = false;
        // The language may have changed since the last opening.
        for (SheetPage& description : sheetPages) description.page.hInstance = languageModule;
        // Without drives the drive page has no tab to start on.
        if (driveRecordCount == 0) sheetHeader.nStartPage = kGeneralPageIndex;
        PropertySheetW(&sheetHeader);
        sheetState.sheet = nullptr;
    } while (sheetState.reopen);
    showing = false;
}
