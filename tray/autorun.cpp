#include "tray/autorun.h"

#include "drives/device_seam.h"
#include "tray/tray_commands.h"

#include <shellapi.h>
#include <cwchar>

namespace {

wchar_t autorunPath[15] = L"A:\\AUTORUN.INF";

void readAutorunValue(wchar_t (&value)[MAX_PATH]) {
    value[0] = L'\0';
    seamReadDiscProfileString(L"AutoRun", L"open", value, MAX_PATH, autorunPath);
    if (value[0] == L'\0') seamReadDiscProfileString(L"AutoRun", L"shellexecute", value, MAX_PATH, autorunPath);
    value[MAX_PATH - 1] = L'\0';
}

}  // namespace

bool isAutorunAvailable() {
    if (menuDriveLetter < 'A' || menuDriveLetter > 'Z') return false;
    autorunPath[0] = static_cast<wchar_t>(menuDriveLetter);
    wchar_t value[MAX_PATH];
    readAutorunValue(value);
    return value[0] != L'\0';
}

void splitAutorunCommand(const wchar_t* value, wchar_t (&program)[MAX_PATH], wchar_t (&parameters)[MAX_PATH]) {
    lstrcpynW(program, value, MAX_PATH);
    parameters[0] = L'\0';
    if (program[0] == L'"') {
        wchar_t* closing = wcschr(program + 1, L'"');
        if (closing == nullptr || closing[1] == L'\0') return;
        lstrcpynW(parameters, closing + 2, MAX_PATH);
        closing[1] = L'\0';
        return;
    }
    if (wchar_t* blank = wcschr(program, L' ')) {
        lstrcpynW(parameters, blank + 1, MAX_PATH);
        *blank = L'\0';
    }
}

void runAutorun() {
    if (menuDriveLetter < 'A' || menuDriveLetter > 'Z') return;
    wchar_t root[] = L"A:\\";
    root[0] = static_cast<wchar_t>(menuDriveLetter);
    autorunPath[0] = root[0];
    wchar_t value[MAX_PATH];
    readAutorunValue(value);
    if (value[0] != L'\0') {
        wchar_t program[MAX_PATH];
        wchar_t parameters[MAX_PATH];
        splitAutorunCommand(value, program, parameters);
        const auto result = reinterpret_cast<INT_PTR>(
            seamShellExecute(nullptr, L"open", program, parameters, root, SW_SHOWNORMAL));
        if (result > 32) return;
    }
    seamShellExecute(nullptr, L"explore", root, nullptr, nullptr, SW_SHOWNORMAL);
}
