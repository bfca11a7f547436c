// The seam as sbay.exe uses it: straight Win32 calls, nothing else.
#include "drives/device_seam.h"

#include <shellapi.h>

#include "common/system_library.h"

HANDLE seamOpenDevice(wchar_t letter, DWORD access, DWORD share, DWORD flagsAndAttributes) {
    wchar_t path[] = L"\\\\.\\A:";
    path[4] = letter;
    return CreateFileW(path, access, share, nullptr, OPEN_EXISTING, flagsAndAttributes, nullptr);
}

BOOL seamDeviceIoControl(HANDLE device, DWORD code, void* in, DWORD inSize, void* out, DWORD outSize,
                         DWORD* returned) {
    return DeviceIoControl(device, code, in, inSize, out, outSize, returned, nullptr);
}

void seamCloseDevice(HANDLE device) {
    CloseHandle(device);
}

UINT seamGetDriveType(const wchar_t* root) {
    return GetDriveTypeW(root);
}

BOOL seamGetVolumeLabel(const wchar_t* root, wchar_t* label, DWORD labelCapacity) {
    return GetVolumeInformationW(root, label, labelCapacity, nullptr, nullptr, nullptr, nullptr, 0);
}

BOOL seamGetDiskTotalBytes(const wchar_t* root, ULARGE_INTEGER* total) {
    return GetDiskFreeSpaceExW(root, nullptr, total, nullptr);
}

MCIERROR seamMciSendCommand(MCIDEVICEID device, UINT message, DWORD_PTR flags, DWORD_PTR parameters) {
    static const auto send = systemFunction<decltype(&mciSendCommandW)>(L"winmm.dll", "mciSendCommandW");
    return send != nullptr ? send(device, message, flags, parameters) : MCIERR_CANNOT_LOAD_DRIVER;
}

HINSTANCE seamShellExecute(HWND owner, const wchar_t* verb, const wchar_t* file, const wchar_t* parameters,
                           const wchar_t* directory, int show) {
    return ShellExecuteW(owner, verb, file, parameters, directory, show);
}

BOOL seamPlaySound(const wchar_t* sound, HMODULE module, DWORD flags) {
    static const auto play = systemFunction<decltype(&PlaySoundW)>(L"winmm.dll", "PlaySoundW");
    return play != nullptr && play(sound, module, flags);
}

const wchar_t* seamUpdateSite(const wchar_t* builtIn) {
    return builtIn;
}

DWORD seamReadDiscProfileString(const wchar_t* section, const wchar_t* key, wchar_t* value, DWORD capacity,
                                const wchar_t* path) {
    return GetPrivateProfileStringW(section, key, L"", value, capacity, path);
}
