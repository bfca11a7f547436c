#include "tray/common_icon.h"

#include "common/program_state.h"
#include "drives/drive_record.h"
#include "drives/tray_icon.h"
#include "resources/language.h"
#include "resources/resource_ids.h"

TrayIconRecord* commonIconRecord;

namespace {

constexpr int kAddAttempts = 10;

// Creates the record when missing and fills flags, icon and tip.
bool prepareCommonIcon() {
    wchar_t tip[50];
    loadText(IDS_COMMON_TIP, tip, 50);
    if (commonIconRecord == nullptr) commonIconRecord = createTrayIconRecord(kCommonIconId);
    if (commonIconRecord == nullptr) return false;
    NOTIFYICONDATAW& data = commonIconRecord->data;
    data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    data.hIcon = commonIcon;
    lstrcpynW(data.szTip, tip, 128);
    return true;
}

}  // namespace

void releaseCommonIcon() {
    removeTrayIconRecord(commonIconRecord);
    commonIconRecord = nullptr;
}

void showCommonIcon() {
    if (driveRecordCount != 0) {
        releaseCommonIcon();
        return;
    }
    if (commonIconRecord != nullptr || !prepareCommonIcon()) return;
    for (int attempt = 0; attempt < kAddAttempts; ++attempt) {
        if (addTrayIcon(commonIconRecord)) break;
        Sleep(1000);
    }
}

void refreshCommonIcon() {
    if (commonIconRecord == nullptr) return;
    commonIconRecord->data.hIcon = commonIcon;
    if (!commonIconRecord->added) return;
    commonIconRecord->data.uFlags = NIF_ICON;
    Shell_NotifyIconW(NIM_MODIFY, &commonIconRecord->data);
}

void readdCommonIcon() {
    if (!prepareCommonIcon()) return;
    if (!addTrayIcon(commonIconRecord)) Sleep(1000);
}
