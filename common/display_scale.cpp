#include "common/display_scale.h"

#include "common/system_library.h"

namespace {

using GetDpiForMonitorFn = HRESULT(WINAPI*)(HMONITOR, int, UINT*, UINT*);
using GetSystemMetricsForDpiFn = int(WINAPI*)(int, UINT);
constexpr int kEffectiveDpi = 0;  // MDT_EFFECTIVE_DPI

template <typename Fn>
Fn procedure(const wchar_t* module, const char* name) {
    // user32 is loaded already; shcore comes from the system folder only.
    HMODULE handle = GetModuleHandleW(module);
    if (handle == nullptr) return systemFunction<Fn>(module, name);
    return reinterpret_cast<Fn>(GetProcAddress(handle, name));
}

int systemDpi() {
    HDC screen = GetDC(nullptr);
    const int dpi = screen != nullptr ? GetDeviceCaps(screen, LOGPIXELSX) : kBaseDpi;
    if (screen != nullptr) ReleaseDC(nullptr, screen);
    return dpi > 0 ? dpi : kBaseDpi;
}

int monitorDpi(HMONITOR monitor) {
    static const auto getDpiForMonitor = procedure<GetDpiForMonitorFn>(L"shcore.dll", "GetDpiForMonitor");
    UINT x = 0;
    UINT y = 0;
    if (monitor != nullptr && getDpiForMonitor != nullptr && SUCCEEDED(getDpiForMonitor(monitor, kEffectiveDpi, &x, &y)) &&
        x > 0) {
        return static_cast<int>(x);
    }
    return systemDpi();
}

}  // namespace

int monitorDpiAt(POINT point) {
    return monitorDpi(MonitorFromPoint(point, MONITOR_DEFAULTTOPRIMARY));
}

int windowDpi(HWND window) {
    return monitorDpi(MonitorFromWindow(window, MONITOR_DEFAULTTOPRIMARY));
}

int trayDpi() {
    HWND taskbar = FindWindowW(L"Shell_TrayWnd", nullptr);
    if (taskbar != nullptr) return monitorDpi(MonitorFromWindow(taskbar, MONITOR_DEFAULTTOPRIMARY));
    return monitorDpiAt(POINT{0, 0});
}

int systemMetricForDpi(int index, int dpi) {
    static const auto forDpi = procedure<GetSystemMetricsForDpiFn>(L"user32.dll", "GetSystemMetricsForDpi");
    return forDpi != nullptr ? forDpi(index, static_cast<UINT>(dpi)) : GetSystemMetrics(index);
}

int pictureSizeForDpi(int dpi) {
    const int wanted = systemMetricForDpi(SM_CXSMICON, dpi);
    static constexpr int kLargerSizes[] = {32, 24, 20};
    for (int size : kLargerSizes) {
        if (wanted >= size) return size;
    }
    return 16;
}

int scaleForDpi(int value, int dpi) {
    return MulDiv(value, dpi, kBaseDpi);
}
