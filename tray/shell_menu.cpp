#include "tray/shell_menu.h"

#include "common/program_state.h"
#include "resources/resource_ids.h"
#include "tray/tray_commands.h"
#include "tray/tray_menu.h"

#include <shlobj.h>

namespace {

// The drive's shell context menu while the tray menu is up.
IContextMenu* contextMenu;
bool contextMenuReady;
HMENU shellPopup;
IContextMenu2* contextMenu2;
IContextMenu3* contextMenu3;
// The submenu the library gave position 3, put back when the shell's closes.
HMENU shellPlaceholder;

bool keyDown(int key) {
    return (GetKeyState(key) & 0x8000) != 0;
}

void releaseShellSubmenu() {
    if (contextMenu2 != nullptr) {
        contextMenu2->Release();
        contextMenu2 = nullptr;
    }
    if (contextMenu3 != nullptr) {
        contextMenu3->Release();
        contextMenu3 = nullptr;
    }
    if (shellPopup == nullptr) return;
    // Give position 3 its own submenu back before the shell's goes away, so
    // the tray menu never holds a destroyed menu.
    if (menuRecord != nullptr && shellPlaceholder != nullptr) {
        MENUITEMINFOW info{};
        info.cbSize = sizeof info;
        info.fMask = MIIM_SUBMENU;
        info.hSubMenu = shellPlaceholder;
        SetMenuItemInfoW(menuRecord->popup, TRAY_POS_SHELL, TRUE, &info);
    }
    DestroyMenu(shellPopup);
    shellPopup = nullptr;
}

}  // namespace

void buildShellSubmenu() {
    // Position 3 opens as often as the user hovers it within one tray menu:
    // what the last opening built goes before anything new is asked for.
    releaseShellSubmenu();
    releaseShellContextMenu();
    wchar_t root[] = L"A:\\";
    root[0] = static_cast<wchar_t>(menuDriveLetter);
    PIDLIST_ABSOLUTE list = nullptr;
    HRESULT result = SHParseDisplayName(root, nullptr, &list, 0, nullptr);
    if (SUCCEEDED(result)) {
        IShellFolder* folder = nullptr;
        PCUITEMID_CHILD child = nullptr;
        result = SHBindToParent(list, IID_IShellFolder, reinterpret_cast<void**>(&folder), &child);
        if (SUCCEEDED(result)) {
            result = folder->GetUIObjectOf(mainWindow, 1, &child, IID_IContextMenu, nullptr,
                                           reinterpret_cast<void**>(&contextMenu));
            folder->Release();
        }
        CoTaskMemFree(list);
    }
    contextMenuReady = SUCCEEDED(result) && contextMenu != nullptr;
    if (!contextMenuReady) {
        contextMenu = nullptr;  // never release what a failed call left behind
        return;
    }

    shellPopup = CreatePopupMenu();
    if (shellPopup == nullptr) return;
    const UINT flags = keyDown(VK_SHIFT) ? CMF_EXTENDEDVERBS : CMF_NORMAL;
    if (FAILED(contextMenu->QueryContextMenu(shellPopup, 0, kFirstShellCommand, kLastShellCommand, flags))) {
        DestroyMenu(shellPopup);
        shellPopup = nullptr;
        return;
    }
    contextMenu->QueryInterface(IID_IContextMenu2, reinterpret_cast<void**>(&contextMenu2));
    contextMenu->QueryInterface(IID_IContextMenu3, reinterpret_cast<void**>(&contextMenu3));
    shellPlaceholder = GetSubMenu(menuRecord->popup, TRAY_POS_SHELL);
    MENUITEMINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = MIIM_SUBMENU;
    info.hSubMenu = shellPopup;
    SetMenuItemInfoW(menuRecord->popup, TRAY_POS_SHELL, TRUE, &info);
}

void invokeShellCommand(UINT id, POINT cursor) {
    if (contextMenu == nullptr) return;
    CMINVOKECOMMANDINFOEX invoke{};
    invoke.cbSize = sizeof invoke;
    invoke.fMask = CMIC_MASK_UNICODE | CMIC_MASK_PTINVOKE;
    if (keyDown(VK_CONTROL)) invoke.fMask |= CMIC_MASK_CONTROL_DOWN;
    if (keyDown(VK_SHIFT)) invoke.fMask |= CMIC_MASK_SHIFT_DOWN;
    invoke.hwnd = mainWindow;
    invoke.lpVerb = MAKEINTRESOURCEA(id - kFirstShellCommand);
    invoke.lpVerbW = MAKEINTRESOURCEW(id - kFirstShellCommand);
    invoke.nShow = SW_SHOWNORMAL;
    invoke.ptInvoke = cursor;
    contextMenu->InvokeCommand(reinterpret_cast<CMINVOKECOMMANDINFO*>(&invoke));
}

void closeShellSubmenu(HMENU menu) {
    if (menu == shellPopup && shellPopup != nullptr) releaseShellSubmenu();
}

void releaseShellContextMenu() {
    // Nothing of the shell's menu outlives the tray menu, also when the shell
    // submenu was built but never shown.
    releaseShellSubmenu();
    if (contextMenuReady) {
        if (contextMenu != nullptr) contextMenu->Release();
        contextMenu = nullptr;
        contextMenuReady = false;
    }
}

bool offerToShellMenu(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
    if (contextMenu3 != nullptr) {
        LRESULT handled = 0;
        if (SUCCEEDED(contextMenu3->HandleMenuMsg2(message, wParam, lParam, &handled))) {
            *result = handled;
            return true;
        }
        return false;
    }
    if (contextMenu2 != nullptr && SUCCEEDED(contextMenu2->HandleMenuMsg(message, wParam, lParam))) {
        *result = 0;
        return true;
    }
    return false;
}
