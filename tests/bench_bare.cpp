// The second start's floor: what a second instance cannot avoid, finding the
// running program's window and posting it the message, and nothing more.
#include <windows.h>

#include "common/program_state.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    const UINT message = RegisterWindowMessageW(kInstanceKey);
    if (HWND running = FindWindowW(kInstanceKey, nullptr)) PostMessageW(running, message, 0, 0);
    return 0;
}
