// Measures what the drives cost the program itself, on simulated drives with
// no delay: one monitor pass, the start-up with 26 drives, and the GDI, icon
// and handle counts across 10,000 passes. Not a test: it prints figures.
// Absolute times depend on the machine, so each time is also measured
// against a floor taken in the same run: the least that Wine and the shell
// charge for the same work (a pass that only modifies its notify icon, a bare
// hidden window adding 26 notify icons). A ratio near 1 means the program
// adds little to what the system itself costs.
#include "app/app.h"
#include "drives/drive_icon.h"
#include "drives/drive_record.h"
#include "drives/sim/sim_drives.h"
#include "drives/tray_icon.h"
#include "tests/test_support.h"

#include <cstdio>

namespace {

double nowMs() {
    static LARGE_INTEGER frequency{};
    if (frequency.QuadPart == 0) QueryPerformanceFrequency(&frequency);
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return 1000.0 * static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

double threadCpuMs() {
    FILETIME created, exited, kernel, user;
    GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user);
    auto toMs = [](FILETIME t) { return (static_cast<double>(t.dwHighDateTime) * 4294967296.0 + t.dwLowDateTime) / 1e4; };
    return toMs(kernel) + toMs(user);
}

SimDriveConfig dataDrive() {
    SimDriveConfig config;
    config.medium = SimMedium::Data;
    config.label = L"BENCHMARK";
    config.size = 4700000000ull;
    return config;
}

void onePass() {
    simReset();
    simConfigure(L'D', dataDrive());
    MainWindowHost host;
    DriveRecord* d = DriveTable[3];
    // Count what one pass sends across the seam.
    simClearJournal();
    updateDriveIcon(d, true);
    const size_t calls = simJournal().size();
    simSetJournalEnabled(false);

    constexpr int kPasses = 2000;
    const double wallStart = nowMs();
    const double cpuStart = threadCpuMs();
    for (int i = 0; i < kPasses; ++i) updateDriveIcon(d, true);
    const double wall = (nowMs() - wallStart) / kPasses;
    const double cpu = (threadCpuMs() - cpuStart) / kPasses;

    // The floor: the one notify-icon change a pass cannot avoid.
    NOTIFYICONDATAW data = d->trayIcon->data;
    data.uFlags = NIF_ICON | NIF_TIP;
    const double floorStart = nowMs();
    for (int i = 0; i < kPasses; ++i) Shell_NotifyIconW(NIM_MODIFY, &data);
    const double floor = (nowMs() - floorStart) / kPasses;
    std::printf("one monitor pass (data disc, no delay): %.3f ms wall, %.3f ms CPU, %zu seam calls; "
                "floor %.3f ms, ratio %.1f\n",
                wall, cpu, calls, floor, wall / floor);
}

// A bare Win32 program's start-up: a hidden window and 26 notify icons.
double bareStartUpMs() {
    const double start = nowMs();
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = DefWindowProcW;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"sbay_bench_bare";
    RegisterClassW(&windowClass);
    HWND window = CreateWindowW(windowClass.lpszClassName, L"", 0, 0, 0, 0, 0, nullptr, nullptr,
                                windowClass.hInstance, nullptr);
    HICON icon = LoadIconW(nullptr, IDI_APPLICATION);
    NOTIFYICONDATAW data{};
    data.cbSize = kNotifyIconSize;
    data.hWnd = window;
    data.uFlags = NIF_ICON | NIF_TIP;
    data.hIcon = icon;
    for (UINT id = 0; id < 26; ++id) {
        data.uID = id;
        Shell_NotifyIconW(NIM_ADD, &data);
    }
    const double elapsed = nowMs() - start;
    for (UINT id = 0; id < 26; ++id) {
        data.uID = id;
        Shell_NotifyIconW(NIM_DELETE, &data);
    }
    DestroyWindow(window);
    UnregisterClassW(windowClass.lpszClassName, windowClass.hInstance);
    return elapsed;
}

void startUpWith26Drives() {
    simReset();
    simSetJournalEnabled(false);
    for (wchar_t letter = L'A'; letter <= L'Z'; ++letter) simConfigure(letter, dataDrive());
    const double start = nowMs();
    MainWindowHost* host = new MainWindowHost();
    const double created = nowMs() - start;
    const double stopStart = nowMs();
    delete host;
    const double destroyed = nowMs() - stopStart;
    const double floor = bareStartUpMs();
    std::printf("start-up with 26 drives: %.1f ms; shut-down: %.1f ms; bare window with 26 icons %.1f ms, "
                "ratio %.1f\n",
                created, destroyed, floor, created / floor);
}

void countsOver10000Passes() {
    simReset();
    simSetJournalEnabled(false);
    simConfigure(L'D', dataDrive());
    SimDriveConfig audio;
    audio.medium = SimMedium::Audio;
    audio.tracks = 12;
    simConfigure(L'E', audio);
    MainWindowHost host;
    DriveRecord* d = DriveTable[3];
    DriveRecord* e = DriveTable[4];
    updateDriveIcon(d, true);
    const int gdi = freeGdiSlots();
    const int icons = freeIconSlots();
    const int handles = liveKernelHandles();
    const double start = nowMs();
    for (int i = 0; i < 5000; ++i) {
        updateDriveIcon(d, true);
        updateDriveIcon(e, true);
    }
    const double elapsed = nowMs() - start;
    std::printf("10,000 passes: %.0f ms; GDI objects %+d, icons %+d, kernel handles %+d, device handles open %zu\n",
                elapsed, gdi - freeGdiSlots(), icons - freeIconSlots(), liveKernelHandles() - handles,
                simOpenHandleCount());
}

}  // namespace

int main() {
    onePass();
    startUpWith26Drives();
    countsOver10000Passes();
    return 0;
}
