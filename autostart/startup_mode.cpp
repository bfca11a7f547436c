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

// Only the access reading and writing values needs: a policy that guards
// the key may grant that and refuse the rest.
HKEY openRunKey(REGSAM access = KEY_QUERY_VALUE | KEY_SET_VALUE) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kRunKey, 0, access, &key) != ERROR_SUCCESS) return nullptr;
    return key;
}

// Whether the last call failed for lack of rights, not for another reason.
bool deniedAccess() {
    return GetLastError() == ERROR_ACCESS_DENIED;
}

// Deletes the Run value; false only when it exists and could not be deleted
// (the last error says why).
bool removeRunValue() {
    HKEY key = nullptr;
    LSTATUS result = RegOpenKeyExW(HKEY_CURRENT_USER, kRunKey, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &key);
    if (result == ERROR_SUCCESS) {
        result = RegDeleteValueW(key, kRunValue);
        RegFlushKey(key);
        RegCloseKey(key);
    } else if (RegGetValueW(HKEY_CURRENT_USER, kRunKey, kRunValue, RRF_RT_ANY, nullptr, nullptr, nullptr) !=
               ERROR_SUCCESS) {
        result = ERROR_FILE_NOT_FOUND;  // nothing to delete
    }
    SetLastError(static_cast<DWORD>(result));
    return result == ERROR_SUCCESS || result == ERROR_FILE_NOT_FOUND;
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
    HKEY key = nullptr;
    LSTATUS result = RegOpenKeyExW(HKEY_CURRENT_USER, kRunKey, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &key);
    if (result != ERROR_SUCCESS) {
        SetLastError(static_cast<DWORD>(result));
        return false;
    }
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
    SetLastError(static_cast<DWORD>(result));
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
    // Connecting is all a standard user may do, and all that reading the
    // service's configuration (or deleting a foreign one, which the service's
    // own rights decide) needs.
    if (SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT)) {
        bool foreign = false;
        if (SC_HANDLE service = OpenServiceW(manager, kServiceName, SERVICE_QUERY_CONFIG)) {
            foreign = checkService(service, settings);
            CloseServiceHandle(service);
        }
        if (foreign && deleteService(manager)) settings.autostart = settings.asService = 0;
        CloseServiceHandle(manager);
    }
    HKEY key = openRunKey();
    if (key == nullptr) key = openRunKey(KEY_QUERY_VALUE);  // tidying is then left undone
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
// could not be opened, so the service stays (the last error says why).
static bool removeInstalledService() {
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (manager == nullptr) return false;
    const bool deleted = deleteService(manager);
    const DWORD error = GetLastError();
    CloseServiceHandle(manager);
    SetLastError(error);
    return deleted;
}

// Creates the service; false when that failed (the last error says why).
static bool createService() {
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT | SC_MANAGER_CREATE_SERVICE);
    if (manager == nullptr) return false;
    wchar_t binary[kCommandLength];
    quotedExecutable(binary);
    SC_HANDLE service = CreateServiceW(manager, kServiceName, kServiceName, SERVICE_QUERY_STATUS,
                                       SERVICE_WIN32_OWN_PROCESS | SERVICE_INTERACTIVE_PROCESS, SERVICE_AUTO_START,
                                       SERVICE_ERROR_IGNORE, binary, nullptr, nullptr, nullptr, nullptr, nullptr);
    const DWORD error = GetLastError();
    if (service != nullptr) CloseServiceHandle(service);
    CloseServiceHandle(manager);
    SetLastError(error);
    return service != nullptr;
}

bool applyStartupMode(GlobalSettings& wanted, const GlobalSettings& previous) {
    const bool installed = previous.autostart != 0 && previous.asService != 0;
    if (wanted.autostart == 0) {
        const bool runValueGone = removeRunValue();
        const bool runValueRefused = !runValueGone && deniedAccess();
        if (installed && !removeInstalledService()) {
            wanted.autostart = wanted.asService = 1;
            return !deniedAccess() && !runValueRefused;
        }
        // Our Run value, still there, still starts the program at log-on.
        if (!runValueGone && previous.autostart != 0 && previous.asService == 0) wanted.autostart = 1;
        return !runValueRefused;
    }
    if (wanted.asService == 0) {
        if (installed && !removeInstalledService()) {
            wanted.autostart = wanted.asService = 1;
            return !deniedAccess();
        }
        // A process running as the service never writes the Run value.
        if (serviceMode != 0) {
            wanted.autostart = 0;
            return true;
        }
        wanted.autostart = setRunValue(true) ? 1 : 0;
        return wanted.autostart != 0 || !deniedAccess();
    }
    if (installed) return true;
    if (!createService()) {
        wanted.autostart = previous.autostart;
        wanted.asService = previous.asService;
        return !deniedAccess();
    }
    wanted.autostart = wanted.asService = 1;
    removeRunValue();
    return true;
}
