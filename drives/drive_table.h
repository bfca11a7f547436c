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
// Allocates and creates a record; null when out of memory.
DriveRecord* newDriveRecord(wchar_t letter);
// Destroys and releases the record in slot `index` and empties the slot.
void removeDriveRecord(int index);

// Registers, re-registers or unregisters the drive's two hot keys from its
// current settings.
void registerDriveHotKeys(DriveRecord* record);

#endif
