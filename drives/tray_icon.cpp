#include "drives/tray_icon.h"

#include "common/program_state.h"

#include <new>
#include <utility>

int32_t trayIconCount;

TrayIconRecord* createTrayIconRecord(UINT id) {
    auto* record = new (std::nothrow) TrayIconRecord{};
    if (record == nullptr) return nullptr;
    record->data.cbSize = kNotifyIconSize;
    record->data.hWnd = mainWindow;
    record->data.uID = id;
    record->data.uCallbackMessage = kTrayCallbackMessage;
    record->added = 0;
    record->current = 0;
    ++trayIconCount;
    return record;
}

bool addTrayIcon(TrayIconRecord* record) {
    record->added = Shell_NotifyIconW(NIM_ADD, &record->data) || Shell_NotifyIconW(NIM_MODIFY, &record->data);
    return record->added != 0;
}

void removeTrayIconRecord(TrayIconRecord* record) {
    if (record == nullptr) return;
    if (record->added) Shell_NotifyIconW(NIM_DELETE, &record->data);
    --trayIconCount;
    delete record;
}

namespace {

// Monitor threads compose a drive's icons when they first show them, and the
// main thread replaces the image lists when the display's scale changes: one
// at a time through the shared image lists.
SRWLOCK composing = SRWLOCK_INIT;

HICON composeLocked(HIMAGELIST images, int stateImage, int letterIndex, bool withLetter) {
    int size = 16;
    int height = 16;
    if (images != nullptr) ImageList_GetIconSize(images, &size, &height);
    HDC dc = CreateCompatibleDC(nullptr);
    ICONINFO info{};
    // The template is 16 pixels; larger icons start from the same blank: a
    // mask all transparent over black.
    const bool blank = size != 16;
    if (blank) {
        HDC screen = GetDC(nullptr);
        info.fIcon = TRUE;
        info.hbmMask = CreateBitmap(size, size, 1, 1, nullptr);
        info.hbmColor = CreateCompatibleBitmap(screen, size, size);
        ReleaseDC(nullptr, screen);
    } else {
        GetIconInfo(templateIcon, &info);
    }

    HGDIOBJ previous = SelectObject(dc, info.hbmMask);
    if (blank) PatBlt(dc, 0, 0, size, size, WHITENESS);
    ImageList_Draw(images, stateImage, dc, 0, 0, ILD_MASK);
    if (withLetter) ImageList_Draw(letterImages, letterIndex, dc, 0, 0, ILD_MASK);

    SelectObject(dc, info.hbmColor);
    if (blank) PatBlt(dc, 0, 0, size, size, BLACKNESS);
    ImageList_Draw(images, stateImage, dc, 0, 0, ILD_TRANSPARENT);
    if (withLetter) ImageList_Draw(letterImages, letterIndex, dc, 0, 0, ILD_TRANSPARENT);

    SelectObject(dc, previous);
    HICON icon = CreateIconIndirect(&info);
    if (info.hbmMask != nullptr) DeleteObject(info.hbmMask);
    if (info.hbmColor != nullptr) DeleteObject(info.hbmColor);
    DeleteDC(dc);
    return icon;
}

}  // namespace

HICON composeDriveIcon(HIMAGELIST images, int stateImage, int letterIndex, bool withLetter) {
    AcquireSRWLockExclusive(&composing);
    HICON icon = composeLocked(images, stateImage, letterIndex, withLetter);
    ReleaseSRWLockExclusive(&composing);
    return icon;
}

HICON composeDriveStateIcon(bool highlighted, int stateImage, int letterIndex) {
    AcquireSRWLockExclusive(&composing);
    HICON icon = composeLocked(highlighted ? highlightImages : stateImages, stateImage, letterIndex, true);
    ReleaseSRWLockExclusive(&composing);
    return icon;
}

void replaceTrayPictures(HIMAGELIST& states, HIMAGELIST& highlights, HIMAGELIST& letters) {
    AcquireSRWLockExclusive(&composing);
    std::swap(stateImages, states);
    std::swap(highlightImages, highlights);
    std::swap(letterImages, letters);
    ReleaseSRWLockExclusive(&composing);
}
