#include "app/app.h"

#include "app/tray_commands.h"

LRESULT CALLBACK mainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    // While the drive's shell menu is open, it sees every message first.
    if (LRESULT result = 0; offerToShellMenu(message, wParam, lParam, &result)) return result;

    switch (message) {
    case WM_CREATE:
        onMainWindowCreate(window);
        return 0;
    case WM_DESTROY:
        onMainWindowDestroy();
        return 0;
    case kTrayCallbackMessage:
        onTrayCallback(wParam, lParam);
        return 0;
    case WM_INITMENUPOPUP:
        onInitMenuPopup(reinterpret_cast<HMENU>(wParam), lParam);
        return 0;
    case WM_UNINITMENUPOPUP:
        onUninitMenuPopup(reinterpret_cast<HMENU>(wParam));
        return 0;
    case WM_MEASUREITEM:
        onMeasureItem(reinterpret_cast<MEASUREITEMSTRUCT*>(lParam));
        return TRUE;
    case WM_DRAWITEM:
        onDrawItem(reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
        return TRUE;
    case WM_COMMAND:
        onCommand(wParam);
        return 0;
    default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
}
