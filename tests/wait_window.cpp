// wait_window CLASS SECONDS: exits 0 once a top-level window of CLASS exists,
// 1 when none appeared within SECONDS. Lets shell tests see a program's
// hidden main window.
#include <windows.h>

#include <cwchar>

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) return 2;
    const ULONGLONG limit = wcstoul(argv[2], nullptr, 10) * 1000ULL;
    for (const ULONGLONG start = GetTickCount64(); FindWindowW(argv[1], nullptr) == nullptr; Sleep(100)) {
        if (GetTickCount64() - start >= limit) return 1;
    }
    return 0;
}
