// The drive table and the drive record: one record per optical drive letter.
#ifndef SPINDLEBAY_DRIVE_RECORD_H
#define SPINDLEBAY_DRIVE_RECORD_H

#include <windows.h>
#include <ntddcdrm.h>
#include <cstdint>

#include "settings/settings_file.h"

struct TrayIconRecord;

enum MediaState : uint8_t { TrayOpen = 0, ClosedEmpty = 1, MediumPresent = 2 };
enum MediaKind : uint8_t { None = 0, AudioCd = 1, DataDisc = 2, UnreadableMedium = 3 };

constexpr uint8_t kAudioPlaying = 0x11;   // AUDIO_STATUS_IN_PROGRESS
constexpr uint8_t kAudioPaused = 0x12;    // AUDIO_STATUS_PAUSED
constexpr uint8_t kAudioNoStatus = 0x15;  // AUDIO_STATUS_NO_STATUS

struct DriveRecord {
    volatile LONG   stopRequested;      // asks the monitor thread to end
    uint16_t        speedCommand;       // 40059..40065, the chosen read speed
    uint16_t        letter;             // 'A'..'Z', fixed
    HWND            countdownDialog;    // null while no countdown runs
    int32_t         locked;             // wanted lock state
    int32_t         lockHeld;           // the drive holds a prevent request this program sent
    int32_t         playStarted;        // the last play request succeeded
    int32_t         ejectHotKeyRegistered;
    int32_t         closeHotKeyRegistered;
    TrayIconRecord* trayIcon;           // null while the icon is hidden
    HANDLE          monitorThread;
    CONDITION_VARIABLE stopWake;        // ends the monitor's pause early; waited on with guard held
    HICON           icons[8];           // each composed when first shown, null until then
    wchar_t         tipNoMedium[128];
    wchar_t         tipTrayOpen[128];
    uint8_t         assumedClosed;      // tray position the program last set
    uint8_t         mediaKind;          // MediaKind
    uint8_t         audioStatus;
    SUB_Q_CHANNEL_DATA subQ;
    CDROM_TOC       toc;
    int32_t         ejectHotKeyId;      // index | 0x100
    int32_t         closeHotKeyId;      // index
    int32_t         countdownRemaining;
    HWND            countdownProgress;

    // Guards what the main thread and the monitor thread both write: the
    // tray icon record and the shell calls on it, the icons, the fixed tips,
    // subQ and toc. Never held across a device request.
    CRITICAL_SECTION guard;
    // The owner's reference plus one held by a running monitor thread, so a
    // thread that outlives the destruction's wait never touches freed memory.
    volatile LONG   references;
    // Set when the record left the table while the main thread was using it;
    // it then waits in a list (through nextRemoved) for its destruction.
    int32_t         removed;
    DriveRecord*    nextRemoved;
};

static_assert(sizeof(SUB_Q_CHANNEL_DATA) == 24);
static_assert(sizeof(CDROM_TOC) == 804);

extern DriveRecord* DriveTable[kDriveCount];
extern int32_t driveRecordCount;

// The tray-tip head that every drive tip starts with.
constexpr wchar_t kTipHead[] = L"Spindlebay v.6\n";

// Creation and destruction of records: drive_table.h.

// Hot-key ids: the close key is the drive index, the open key index | 0x100.
constexpr int kHotKeyOpenFlag = 0x100;
constexpr uint16_t kSpeedMax = 40065;

// Drops one reference; the last one frees the record.
void releaseDriveRecord(DriveRecord* record);

// Fills tipNoMedium and tipTrayOpen from the current language's texts.
void buildFixedTips(DriveRecord* record);

// The record for a tray icon id or a letter code, or null when that is no
// letter or its slot is empty.
DriveRecord* driveRecordForLetter(int letterCode);

#endif
