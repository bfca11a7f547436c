#include "service/service.h"

#include <tlhelp32.h>

volatile LONG serviceMode = 0;

namespace {

constexpr wchar_t kServiceName[] = L"sbay_svc";
// The service control manager gives a starting service 30 s to connect.
constexpr DWORD kSettleTimeoutMs = 30000;

SERVICE_STATUS serviceStatus;
SERVICE_STATUS_HANDLE serviceStatusHandle;
// Signalled when the service entry has run or the dispatcher call has failed.
HANDLE serviceSettled;

void WINAPI serviceControlHandler(DWORD control) {
    serviceStatus.dwCurrentState = SERVICE_RUNNING;
    serviceStatus.dwWin32ExitCode = 0;
    serviceStatus.dwWaitHint = 0;
    serviceStatus.dwCheckPoint = 0;
    if (control == SERVICE_CONTROL_STOP) serviceStatus.dwCurrentState = SERVICE_STOPPED;
    SetServiceStatus(serviceStatusHandle, &serviceStatus);
}

void WINAPI serviceEntry(DWORD, LPWSTR*) {
    InterlockedExchange(&serviceMode, 1);
    serviceStatusHandle = RegisterServiceCtrlHandlerW(kServiceName, serviceControlHandler);
    serviceStatus.dwServiceType = SERVICE_WIN32_OWN_PROCESS | SERVICE_INTERACTIVE_PROCESS;
    serviceStatus.dwCurrentState = SERVICE_RUNNING;
    serviceStatus.dwWin32ExitCode = 0;
    serviceStatus.dwCheckPoint = 0;
    serviceStatus.dwWaitHint = 0;
    SetServiceStatus(serviceStatusHandle, &serviceStatus);
    SetEvent(serviceSettled);
}

DWORD WINAPI serviceDispatcherThread(void*) {
    SERVICE_TABLE_ENTRYW table[] = {
        {const_cast<LPWSTR>(kServiceName), serviceEntry},
        {nullptr, nullptr},
    };
    if (!StartServiceCtrlDispatcherW(table)) SetEvent(serviceSettled);
    return 0;
}

// True when the parent of this process is the service control manager.
bool startedByServiceManager() {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return false;
    const DWORD self = GetCurrentProcessId();
    DWORD parent = 0;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
        if (entry.th32ProcessID == self) {
            parent = entry.th32ParentProcessID;
            break;
        }
    }
    bool isServiceManager = false;
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); parent != 0 && more;
         more = Process32NextW(snapshot, &entry)) {
        if (entry.th32ProcessID == parent) {
            isServiceManager = lstrcmpiW(entry.szExeFile, L"services.exe") == 0;
            break;
        }
    }
    CloseHandle(snapshot);
    return isServiceManager;
}

}  // namespace

void startServiceDispatcher() {
    serviceSettled = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE thread = CreateThread(nullptr, 0, serviceDispatcherThread, nullptr, 0, nullptr);
    if (thread != nullptr) CloseHandle(thread);
}

void settleServiceMode() {
    if (serviceSettled == nullptr || !startedByServiceManager()) return;
    WaitForSingleObject(serviceSettled, kSettleTimeoutMs);
}
