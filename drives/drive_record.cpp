#include "drives/drive_record.h"

#include "resources/language.h"
#include "resources/tray_menu.h"

DriveRecord* DriveTable[kDriveCount];
int32_t driveRecordCount;

namespace {

void buildTip(wchar_t (&tip)[128], wchar_t letter, const wchar_t* line) {
    wchar_t drive[] = L"[A:] ";
    drive[1] = letter;
    lstrcpynW(tip, kTipHead, 128);
    appendText(tip, 128, drive);
    appendText(tip, 128, line);
}

}  // namespace

void buildFixedTips(DriveRecord* record) {
    buildTip(record->tipNoMedium, static_cast<wchar_t>(record->letter), textNoMedium);
    buildTip(record->tipTrayOpen, static_cast<wchar_t>(record->letter), textTrayOpen);
}
