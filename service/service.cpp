#include "service/service.h"

#include "common/program_state.h"

#include <tlhelp32.h>

volatile LONG serviceMode = 0;

namespace {

constexpr wchar_t kServiceName[] = L"sbay_svc";
// The service control manager gives a starting service 30 s to connect.
constexpr DWORD kSettleTimeoutMs = 30000;

// How long the shut-down of the main window may take: every drive's monitor
// thread is given up to 15 s to end.
constexpr DWORD kStopWaitHintMs = 30000;

SERVICE_STATUS serviceStatus;
SERVICE_STATUS_HANDLE serviceStatusHandle;
// Signalled when the service entry has run or the dispatcher call has failed.
HANDLE serviceSettled;
// 1 once a stop or shutdown control has arrived.
volatile LONG stopAsked;

void reportStatus(DWORD state, DWORD waitHint) {
    serviceStatus.dwCurrentState = state;
    serviceStatus.dwWin32ExitCode = 0;
    serviceStatus.dwWaitHint = waitHint;
    serviceStatus.dwCheckPoint = state == SERVICE_STOP_PENDING ? serviceStatus.dwCheckPoint + 1 : 0;
    SetServiceStatus(serviceStatusHandle, &serviceStatus);
}

void closeMainWindow() {
    if (HWND window = mainWindow) PostMessageW(window, WM_CLOSE, 0, 0);
}

// Runs on a thread of the service control manager's dispatcher: the main
// window is only asked to close, its own thread does the shut-down.
void WINAPI serviceControlHandler(DWORD control) {
    if (control == SERVICE_CONTROL_STOP || control == SERVICE_CONTROL_SHUTDOWN) {
        reportStatus(SERVICE_STOP_PENDING, kStopWaitHintMs);
        if (InterlockedExchange(&stopAsked, 1) == 0) closeMainWindow();
        return;
    }
    // An interrogation: tell the state as it stands.
    SetServiceStatus(serviceStatusHandle, &serviceStatus);
}

void WINAPI serviceEntry(DWORD, LPWSTR*) {
    InterlockedExchange(&serviceMode, 1);
    serviceStatusHandle = RegisterServiceCtrlHandlerW(kServiceName, serviceControlHandler);
    serviceStatus.dwServiceType = SERVICE_WIN32_OWN_PROCESS | SERVICE_INTERACTIVE_PROCESS;
    // An administrator must be able to stop the service, and the machine's
    // shutdown should find the settings written.
    serviceStatus.dwControlsAccepted = SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN;
    reportStatus(SERVICE_RUNNING, 0);
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

void passPendingServiceStop() {
    if (stopAsked != 0) closeMainWindow();
}

void reportServiceStopped() {
    if (serviceMode == 0 || serviceStatusHandle == nullptr) return;
    reportStatus(SERVICE_STOPPED, 0);
}
