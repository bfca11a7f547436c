// The least a Windows program can be: the benchmark's floor for a process
// that starts and exits.
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    return 0;
}
