// Start-up and shut-down of the hidden main window.
#include "app/app.h"

#include "common/paths.h"

#include "tray/common_icon.h"
#include "drives/device_commands.h"
#include "drives/device_seam.h"
#include "drives/drive_record.h"
#include "drives/drive_table.h"
#include "drives/tray_icon.h"
#include "resources/image_strips.h"
#include "resources/language.h"
#include "resources/resource_ids.h"
#include "tray/tray_menu.h"
#include "service/service.h"
#include "settings/settings_file.h"
#include "sheet/settings_sheet.h"

#include <objbase.h>
#include <cwchar>
#include <new>

namespace {

bool isMajorVersionAtLeast6() {
    OSVERSIONINFOEXW version{};
    version.dwOSVersionInfoSize = sizeof version;
    version.dwMajorVersion = 6;
    const DWORDLONG condition = VerSetConditionMask(0, VER_MAJORVERSION, VER_GREATER_EQUAL);
    return VerifyVersionInfoW(&version, VER_MAJORVERSION, condition) != FALSE;
}

void findProgramDir() {
    wchar_t path[MAX_PATH] = L"";
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) path[0] = L'\0';
    wchar_t* lastSlash = std::wcsrchr(path, L'\\');
    if (lastSlash != nullptr) lastSlash[1] = L'\0';
    else path[0] = L'\0';
    lstrcpynW(programDir, path, MAX_PATH);
}

HICON loadIcon(UINT id) {
    return static_cast<HICON>(LoadImageW(appInstance, MAKEINTRESOURCEW(id), IMAGE_ICON, 0, 0, LR_DEFAULTCOLOR));
}

void destroyImageList(HIMAGELIST& images) {
    if (images != nullptr) ImageList_Destroy(images);
    images = nullptr;
}

void destroyIcon(HICON& icon) {
    if (icon != nullptr) DestroyIcon(icon);
    icon = nullptr;
}

}  // namespace

void readProductVersion(const wchar_t* path, uint32_t (&version)[4]) {
    version[0] = version[1] = version[2] = version[3] = 0;
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path, &ignored);
    if (size == 0) return;
    void* block = ::operator new(size, std::nothrow);
    if (block == nullptr) return;
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT fixedSize = 0;
    if (GetFileVersionInfoW(path, 0, size, block) &&
        VerQueryValueW(block, L"\\", reinterpret_cast<void**>(&fixed), &fixedSize) && fixed != nullptr &&
        fixedSize >= sizeof(VS_FIXEDFILEINFO)) {
        version[0] = HIWORD(fixed->dwProductVersionMS);
        version[1] = LOWORD(fixed->dwProductVersionMS);
        version[2] = HIWORD(fixed->dwProductVersionLS);
        version[3] = LOWORD(fixed->dwProductVersionLS);
    }
    ::operator delete(block);
}

void onMainWindowCreate(HWND window) {
    mainWindow = window;
    msgTaskbarCreated = RegisterWindowMessageW(L"TaskbarCreated");
    InitCommonControls();
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_USEREX_CLASSES};
    InitCommonControlsEx(&controls);
    isVistaOrLater = isMajorVersionAtLeast6();

    findProgramDir();
    joinPath(soundPath, programDir, L"diskinside.wav");

    wchar_t executable[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, executable, MAX_PATH);
    if (length > 0 && length < MAX_PATH) {
        readProductVersion(executable, productVersion);
        lstrcpynW(executablePath, executable, MAX_PATH);
    }
    swprintf(productString, 52, L"Spindlebay v.%u.%u.%u.%u", productVersion[0], productVersion[1],
             productVersion[2], productVersion[3]);

    // The settings file sits beside the executable when running as the
    // service, so that must be known for certain before its path is chosen.
    settleServiceMode();
    chooseSettingsPath(serviceMode != 0, programDir, settingsPath, settingsFolder);
    loadSettings(mainWindow);

    loadLanguageAndMenu();

    stateImages = createImageListFromBitmap(IDB_STATES, 4);
    highlightImages = createImageListFromBitmap(IDB_STATES_DEFAULT, 4);
    letterImages = createImageListFromBitmap(IDB_LETTERS, 26);
    templateIcon = loadIcon(IDI_TEMPLATE);
    busyIcon = loadIcon(IDI_BUSY);

    // One record per optical drive, from Z: down to A:. A lock left on a
    // drive is released; the monitor applies the wanted one on its next pass.
    for (int index = kDriveCount - 1; index >= 0; --index) {
        wchar_t root[] = L"A:\\";
        root[0] = static_cast<wchar_t>(L'A' + index);
        if (seamGetDriveType(root) != DRIVE_CDROM) continue;
        DriveRecord* record = newDriveRecord(root[0]);
        DriveTable[index] = record;
        if (record == nullptr) continue;
        releaseDriveLock(record);
        record->locked = liveSettings.drives[index].bLock != 0 ? 1 : 0;
    }

    commonIcon = composeDriveIcon(stateImages, 0, 0, false);
    showCommonIcon();
    fillSheetDescription();
}

void onMainWindowDestroy() {
    if (driveRecordCount != 0) {
        saveDefaultDisk();
        for (int index = 0; index < kDriveCount; ++index) removeDriveRecord(index);
    }
    if (menuRecord != nullptr) {
        destroyMenuRecord(menuRecord);
        menuRecord = nullptr;
    }
    CoUninitialize();
    destroyImageList(letterImages);
    destroyImageList(highlightImages);
    destroyImageList(stateImages);
    destroyIcon(busyIcon);
    destroyIcon(templateIcon);
    releaseCommonIcon();
    destroyIcon(commonIcon);
    if (languageModule != nullptr) {
        FreeLibrary(languageModule);
        languageModule = nullptr;
    }
    PostQuitMessage(0);
}
