#include "autostart/startup_mode.h"

#include "common/program_state.h"
#include "service/service.h"

#include <cwchar>

namespace {

constexpr wchar_t kRunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr wchar_t kRunValue[] = L"sbay";
constexpr wchar_t kServiceName[] = L"sbay_svc";
// The executable path in double quotes with its null.
constexpr size_t kCommandLength = MAX_PATH + 3;

// The executable path in double quotes, so that a path with blanks names one
// program and not the part before the first blank.
void quotedExecutable(wchar_t (&command)[kCommandLength]) {
    swprintf(command, kCommandLength, L"\"%ls\"", executablePath);
}

// Whether a Run value or a service binary path names this executable: the
// quoted form written now, or the bare path an earlier version wrote.
bool namesThisExecutable(const wchar_t* command) {
    if (command == nullptr || executablePath[0] == L'\0') return false;
    if (lstrcmpiW(command, executablePath) == 0) return true;
    wchar_t quoted[kCommandLength];
    quotedExecutable(quoted);
    return lstrcmpiW(command, quoted) == 0;
}

HKEY openRunKey() {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kRunKey, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) return nullptr;
    return key;
}

void removeRunValue() {
    if (HKEY key = openRunKey()) {
        RegDeleteValueW(key, kRunValue);
        RegFlushKey(key);
        RegCloseKey(key);
    }
}

// Whether the Run value, of `size` bytes, is a string naming this executable.
// A value too long to be the path, of another type, or without its null is
// read no further than its data and never counts as ours.
bool runValueIsOurs(HKEY key, DWORD type, DWORD size) {
    if (type != REG_SZ && type != REG_EXPAND_SZ) return false;
    wchar_t data[kCommandLength + 1] = L"";
    if (size > sizeof(data) - sizeof(wchar_t)) return false;
    DWORD read = size;
    if (RegQueryValueExW(key, kRunValue, nullptr, &type, reinterpret_cast<BYTE*>(data), &read) != ERROR_SUCCESS) {
        return false;
    }
    data[read / sizeof(wchar_t)] = L'\0';
    return namesThisExecutable(data);
}

// Reads the service's configuration; sets the flags when it starts
// automatically and returns whether it is then another executable's.
bool checkService(SC_HANDLE service, GlobalSettings& settings) {
    DWORD needed = 0;
    if (QueryServiceConfigW(service, nullptr, 0, &needed) || GetLastError() != ERROR_INSUFFICIENT_BUFFER) return false;
    auto* config = static_cast<QUERY_SERVICE_CONFIGW*>(LocalAlloc(LMEM_FIXED, needed));
    if (config == nullptr) return false;
    bool foreign = false;
    if (QueryServiceConfigW(service, config, needed, &needed) && config->dwStartType == SERVICE_AUTO_START) {
        settings.autostart = settings.asService = 1;
        foreign = !namesThisExecutable(config->lpBinaryPathName);
    }
    LocalFree(config);
    return foreign;
}

}  // namespace

bool setRunValue(bool on) {
    HKEY key = openRunKey();
    if (key == nullptr) return false;
    LSTATUS result;
    if (on) {
        wchar_t command[kCommandLength];
        quotedExecutable(command);
        const DWORD bytes = static_cast<DWORD>((wcslen(command) + 1) * sizeof(wchar_t));
        result = RegSetValueExW(key, kRunValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(command), bytes);
    } else {
        result = RegDeleteValueW(key, kRunValue);
    }
    RegFlushKey(key);
    RegCloseKey(key);
    return result == ERROR_SUCCESS;
}

bool deleteService(SC_HANDLE manager) {
    SC_HANDLE service = OpenServiceW(manager, kServiceName, DELETE);
    if (service == nullptr) return false;
    DeleteService(service);
    CloseServiceHandle(service);
    return true;
}

void detectStartupMode(GlobalSettings& settings) {
    settings.autostart = settings.asService = 0;
    if (SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS)) {
        bool foreign = false;
        if (SC_HANDLE service = OpenServiceW(manager, kServiceName, SERVICE_QUERY_CONFIG)) {
            foreign = checkService(service, settings);
            CloseServiceHandle(service);
        }
        if (foreign && deleteService(manager)) settings.autostart = settings.asService = 0;
        CloseServiceHandle(manager);
    }
    HKEY key = openRunKey();
    if (key == nullptr) return;
    DWORD type = REG_NONE;
    DWORD size = 0;
    if (RegQueryValueExW(key, kRunValue, nullptr, &type, nullptr, &size) == ERROR_SUCCESS) {
        if (settings.asService == 0 && runValueIsOurs(key, type, size)) {
            settings.autostart = 1;
        } else {
            if (settings.asService == 0) settings.autostart = 0;
            RegDeleteValueW(key, kRunValue);
            RegFlushKey(key);
        }
    }
    RegCloseKey(key);
}

// Deletes the installed service; false when the manager or the service
// could not be opened, so the service stays.
static bool removeInstalledService() {
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (manager == nullptr) return false;
    const bool deleted = deleteService(manager);
    CloseServiceHandle(manager);
    return deleted;
}

void applyStartupMode(GlobalSettings& wanted, const GlobalSettings& previous) {
    const bool installed = previous.autostart != 0 && previous.asService != 0;
    if (wanted.autostart == 0) {
        removeRunValue();
        if (installed && !removeInstalledService()) wanted.autostart = wanted.asService = 1;
        return;
    }
    if (wanted.asService == 0) {
        if (installed && !removeInstalledService()) {
            wanted.autostart = wanted.asService = 1;
            return;
        }
        // A process running as the service never writes the Run value.
        wanted.autostart = serviceMode != 0 ? 0 : setRunValue(true);
        return;
    }
    if (installed) return;
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (manager == nullptr) {
        wanted.autostart = previous.autostart;
        wanted.asService = previous.asService;
        return;
    }
    wchar_t binary[kCommandLength];
    quotedExecutable(binary);
    SC_HANDLE service = CreateServiceW(manager, kServiceName, kServiceName, SERVICE_ALL_ACCESS,
                                       SERVICE_WIN32_OWN_PROCESS | SERVICE_INTERACTIVE_PROCESS, SERVICE_AUTO_START,
                                       SERVICE_ERROR_IGNORE, binary, nullptr, nullptr, nullptr, nullptr, nullptr);
    if (service == nullptr) {
        wanted.autostart = previous.autostart;
        wanted.asService = previous.asService;
        CloseServiceHandle(manager);
        return;
    }
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
    wanted.autostart = wanted.asService = 1;
    removeRunValue();
}
