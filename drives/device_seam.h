// The seam between the program and what these machines lack or what cannot be
// observed from a test: optical drives, the volumes on them, the multimedia
// door command, and the shell launches and sounds. sbay.exe links the thin
// Win32 implementation (device_seam_win32.cpp); sbay_sim.exe and the tests
// link the simulated drives (drives/sim/). Everything else calls Win32 itself.
#ifndef SPINDLEBAY_DEVICE_SEAM_H
#define SPINDLEBAY_DEVICE_SEAM_H

#include <windows.h>
#include <mmsystem.h>

// CreateFileW on "\\.\X:" for `letter`; INVALID_HANDLE_VALUE when it fails.
HANDLE seamOpenDevice(wchar_t letter, DWORD access, DWORD share, DWORD flagsAndAttributes);
BOOL seamDeviceIoControl(HANDLE device, DWORD code, void* in, DWORD inSize, void* out, DWORD outSize,
                         DWORD* returned);
void seamCloseDevice(HANDLE device);

UINT seamGetDriveType(const wchar_t* root);
// GetVolumeInformationW asking for the volume label only.
BOOL seamGetVolumeLabel(const wchar_t* root, wchar_t* label, DWORD labelCapacity);
// GetDiskFreeSpaceExW asking for the total number of bytes only.
BOOL seamGetDiskTotalBytes(const wchar_t* root, ULARGE_INTEGER* total);

MCIERROR seamMciSendCommand(MCIDEVICEID device, UINT message, DWORD_PTR flags, DWORD_PTR parameters);

HINSTANCE seamShellExecute(HWND owner, const wchar_t* verb, const wchar_t* file, const wchar_t* parameters,
                           const wchar_t* directory, int show);
BOOL seamPlaySound(const wchar_t* sound, HMODULE module, DWORD flags);

// The maker's site the update check asks: `builtIn` in sbay.exe; the simulated
// program may be pointed at a loopback server instead (see sim_drives.h).
const wchar_t* seamUpdateSite(const wchar_t* builtIn);

// GetPrivateProfileStringW for a file on a disc (AUTORUN.INF).
DWORD seamReadDiscProfileString(const wchar_t* section, const wchar_t* key, wchar_t* value, DWORD capacity,
                                const wchar_t* path);

#endif
