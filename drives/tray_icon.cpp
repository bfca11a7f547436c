#include "drives/tray_icon.h"

#include "common/program_state.h"

#include <new>

int32_t trayIconCount;

TrayIconRecord* createTrayIconRecord(UINT id) {
    auto* record = new (std::nothrow) TrayIconRecord{};
    if (record == nullptr) return nullptr;
    record->data.cbSize = kNotifyIconSize;
    record->data.hWnd = mainWindow;
    record->data.uID = id;
    record->data.uCallbackMessage = kTrayCallbackMessage;
    record->added = 0;
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

HICON composeDriveIcon(HIMAGELIST images, int stateImage, int letterIndex, bool withLetter) {
    HDC dc = CreateCompatibleDC(nullptr);
    ICONINFO info{};
    GetIconInfo(templateIcon, &info);

    HGDIOBJ previous = SelectObject(dc, info.hbmMask);
    ImageList_Draw(images, stateImage, dc, 0, 0, ILD_MASK);
    if (withLetter) ImageList_Draw(letterImages, letterIndex, dc, 0, 0, ILD_MASK);

    SelectObject(dc, info.hbmColor);
    ImageList_Draw(images, stateImage, dc, 0, 0, ILD_TRANSPARENT);
    if (withLetter) ImageList_Draw(letterImages, letterIndex, dc, 0, 0, ILD_TRANSPARENT);

    SelectObject(dc, previous);
    HICON icon = CreateIconIndirect(&info);
    if (info.hbmMask != nullptr) DeleteObject(info.hbmMask);
    if (info.hbmColor != nullptr) DeleteObject(info.hbmColor);
    DeleteDC(dc);
    return icon;
}
