#include "app/app.h"

#include "common/system_library.h"

#include "command_line/command_line.h"
#include "drives/drive_record.h"
#include "resources/resource_ids.h"
#include "service/service.h"

ATOM registerMainWindowClass(HINSTANCE instance) {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = mainWindowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = static_cast<HICON>(
        LoadImageW(instance, MAKEINTRESOURCEW(IDI_APP), IMAGE_ICON, 0, 0, LR_DEFAULTCOLOR));
    windowClass.lpszClassName = kInstanceKey;
    const ATOM atom = RegisterClassExW(&windowClass);
    appInstance = instance;
    return atom;
}

HWND createMainWindow(HINSTANCE instance) {
    // Never shown; placed well off every screen all the same.
    return CreateWindowExW(0, kInstanceKey, nullptr, 0, 2 * GetSystemMetrics(SM_CXSCREEN),
                           2 * GetSystemMetrics(SM_CYSCREEN), 0, 0, nullptr, nullptr, instance, nullptr);
}

void routeMessage(MSG& message) {
    if (driveRecordCount != 0) {
        // Countdown dialogs are modeless: give them their keyboard first.
        for (DriveRecord* record : DriveTable) {
            if (record != nullptr && record->countdownDialog != nullptr &&
                IsDialogMessageW(record->countdownDialog, &message)) {
                return;
            }
        }
    }
    TranslateMessage(&message);
    DispatchMessageW(&message);
}

int runMessageLoop() {
    MSG message{};
    for (;;) {
        const BOOL got = GetMessageW(&message, nullptr, 0, 0);
        if (got == 0) return static_cast<int>(message.wParam);
        if (got > 0) {
            routeMessage(message);
        } else if (!IsWindow(mainWindow)) {
            // An error with the window gone can only repeat: nothing is left to serve.
            return 0;
        }
    }
}

int programMain(HINSTANCE instance) {
    restrictLibrarySearch();
    // A command for a drive is done without starting the resident program.
    if (const int code = runCommandLine(GetCommandLineW()); code != kStartAsUsual) return code;
    startServiceDispatcher();
    msgSecondInstance = RegisterWindowMessageW(kInstanceKey);
    if (HWND running = FindWindowW(kInstanceKey, nullptr); running != nullptr) {
        PostMessageW(running, msgSecondInstance, 0, 0);
        return 0;
    }
    registerMainWindowClass(instance);
    createMainWindow(instance);
    return runMessageLoop();
}
