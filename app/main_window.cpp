#include "app/app.h"

#include "app/system_events.h"
#include "command_line/command_line.h"
#include "tray/menu_states.h"
#include "tray/shell_menu.h"
#include "tray/tray_commands.h"
#include "tray/tray_menu.h"
#include "resources/resource_ids.h"
#include "sheet/settings_sheet.h"
#include "update/update_check.h"

LRESULT CALLBACK mainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    // While the drive's shell menu is open, it sees every message first.
    if (LRESULT result = 0; offerToShellMenu(message, wParam, lParam, &result)) return result;

    switch (message) {
    case WM_CREATE:
        onMainWindowCreate(window);
        acceptCommandsFromAnyLevel(window);
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
        // The whole wParam: an accelerator's or a control's notification
        // carrying one of these ids in its low word is no menu choice.
        if (wParam == IDM_UPDATE) startUpdateCheck();
        else if (wParam == IDM_SETTINGS) openSettingsSheet();
        else onCommand(wParam);
        return 0;
    case WM_DEVICECHANGE:
        return onDeviceChange(wParam, lParam);
    case WM_POWERBROADCAST:
        return onPowerBroadcast(wParam);
    case WM_QUERYENDSESSION:
        return onQueryEndSession(lParam);
    case WM_ENDSESSION:
        onEndSession(wParam, lParam);
        return 0;
    case WM_HOTKEY:
        onHotKey(wParam);
        return 0;
    // A hidden window hears of a new display scale only through these (the
    // DPI message goes to visible windows); the taskbar is created anew then
    // too, and wants its icons at the new size.
    case WM_DISPLAYCHANGE:
    case WM_SETTINGCHANGE:
    case WM_DPICHANGED:
        followDisplayScale();
        break;
    case WM_COPYDATA:
        return onCommandCopyData(reinterpret_cast<const COPYDATASTRUCT*>(lParam));
    default:
        break;
    }
    if (message == msgTaskbarCreated && msgTaskbarCreated != 0) {
        followDisplayScale();
        onTaskbarCreated();
        return 0;
    }
    if (message == msgSecondInstance && msgSecondInstance != 0) {
        onSecondInstance();
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}
