#include "drives/drive_record.h"

#include "common/program_state.h"
#include "resources/language.h"

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
    wchar_t noMedium[50];
    wchar_t trayOpen[50];
    copyLanguageText(textNoMedium, noMedium, 50);
    copyLanguageText(textTrayOpen, trayOpen, 50);
    EnterCriticalSection(&record->guard);
    buildTip(record->tipNoMedium, static_cast<wchar_t>(record->letter), noMedium);
    buildTip(record->tipTrayOpen, static_cast<wchar_t>(record->letter), trayOpen);
    LeaveCriticalSection(&record->guard);
}

void releaseDriveRecord(DriveRecord* record) {
    if (record == nullptr || InterlockedDecrement(&record->references) != 0) return;
    DeleteCriticalSection(&record->guard);
    ::operator delete(record);
}

DriveRecord* driveRecordForLetter(int letterCode) {
    if (letterCode < 'A' || letterCode > 'Z') return nullptr;
    return DriveTable[letterCode - 'A'];
}
