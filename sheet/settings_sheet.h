// The settings sheet: a modal property sheet with the general page and the
// drive page, editing a working copy of the settings that Apply makes live.
#ifndef SPINDLEBAY_SETTINGS_SHEET_H
#define SPINDLEBAY_SETTINGS_SHEET_H

#include <windows.h>
#include <commctrl.h>
#include <prsht.h>
#include <cstdint>

// A page description as comctl32 6 reads it (version 4); MinGW's headers
// stop at version 3, which lacks the header bitmap.
struct SheetPage {
    PROPSHEETPAGEW page;
    union {
        HBITMAP hbmHeader;
        LPCWSTR pszbmHeader;
    };
};

// Filled once by the main window's start-up, reused for every opening.
extern PROPSHEETHEADERW sheetHeader;
extern SheetPage sheetPages[2];
// Non-zero while the general page exists; comctl32 keeps it.
extern UINT sheetRefCount;
extern int32_t settingsModified;   // an edit since opening or the last apply
extern int32_t fillingDrivePage;   // the seconds edit is being set, not typed in

void fillSheetDescription();

// The tray menu's Settings command. Does nothing while a sheet is open;
// returns when the sheet closes.
void openSettingsSheet();

int CALLBACK initSettingsSheet(HWND sheet, UINT message, LPARAM lParam);
INT_PTR CALLBACK generalPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK drivePageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
// Shows the working copy's settings of drive `letter` ('A'..'Z'; anything
// else shows nothing) in the drive page.
void fillDrivePage(int letter);
// PSN_APPLY of either page.
void applySettings(HWND page, const PSHNOTIFY* notify);

#endif
