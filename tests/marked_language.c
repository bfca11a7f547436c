/* A language library with code in it, as a replaced one might come: its
   DllMain leaves a mark in the process that loads it. */
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    (void)instance;
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH) SetEnvironmentVariableW(L"SBAY_LIBRARY_CODE_RAN", L"1");
    return TRUE;
}
