// Creating and removing drive records, and their hot keys.
#ifndef SPINDLEBAY_DRIVE_TABLE_H
#define SPINDLEBAY_DRIVE_TABLE_H

#include <windows.h>

struct DriveRecord;

// Initialises freshly allocated record memory for `letter`, registers the
// drive's hot keys and shows its icon unless the drive is hidden.
DriveRecord* createDriveRecord(DriveRecord* memory, wchar_t letter);
// Releases everything the record holds; the caller then releases the record.
void destroyDriveRecord(DriveRecord* record);
// Allocates and creates a record; null when out of memory, or when called
// again for the same letter from a message handled during the creation.
DriveRecord* newDriveRecord(wchar_t letter);
// Empties slot `index` and destroys and releases its record; while records
// are in use on the main thread (below) the destruction waits for the last
// user to finish.
void removeDriveRecord(int index);

// Held on the main thread by code that keeps a record across a call which
// can dispatch messages sent from other threads or processes (the shell,
// message boxes, MCI): a device removal handled inside such a call must not
// free the record under it. A removal that arrives meanwhile empties the slot
// at once and destroys the record when the last holder lets go.
class DriveRecordsInUse {
public:
    DriveRecordsInUse();
    ~DriveRecordsInUse();
    DriveRecordsInUse(const DriveRecordsInUse&) = delete;
    DriveRecordsInUse& operator=(const DriveRecordsInUse&) = delete;
};

// Registers, re-registers or unregisters the drive's two hot keys from its
// current settings.
void registerDriveHotKeys(DriveRecord* record);

#endif
