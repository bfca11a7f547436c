// The drive's own shell context menu, offered as submenu 3 of the tray menu.
#ifndef SPINDLEBAY_SHELL_MENU_H
#define SPINDLEBAY_SHELL_MENU_H

#include <windows.h>

// Command ids the shell's items get inside the tray menu.
constexpr UINT kFirstShellCommand = 1;
constexpr UINT kLastShellCommand = 0x7FFF;

// Asks the shell for the menu drive's context menu and puts it at position 3.
void buildShellSubmenu();
// When `menu` is the shell's submenu: position 3 gets its own back and the
// shell's is released.
void closeShellSubmenu(HMENU menu);
// Runs the shell's command `id` as chosen at `cursor`, with Shift and Ctrl
// passed on.
void invokeShellCommand(UINT id, POINT cursor);
// Releases the drive's context menu and its submenu once the tray menu has
// closed.
void releaseShellContextMenu();

// Offers a message to the shell's context menu while it is open; true with
// `result` set when the shell handled it.
bool offerToShellMenu(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result);

#endif
