// Measures what the drives cost the program itself, on simulated drives with
// no delay: one monitor pass, the start-up with 26 drives, a second start
// while the program runs, and the GDI, icon
// and handle counts across 10,000 passes. Not a test: it prints figures.
// Absolute times depend on the machine, so each time is also measured
// against a floor taken in the same run: the least that Wine and the shell
// charge for the same work (a pass that asks the seam one question and
// modifies its notify icon, a bare hidden window adding 26 notify icons, a
// bare program that starts and exits). A ratio near 1 means the program
// adds little to what the system itself costs.
#include "app/app.h"
#include "drives/drive_icon.h"
#include "drives/drive_record.h"
#include "drives/sim/sim_drives.h"
#include "drives/tray_icon.h"
#include "tests/test_support.h"

#include "drives/device_seam.h"

#include <winioctl.h>
#include <algorithm>
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

    // The floor: what no pass can do without - the drive asked once whether
    // its tray holds a disc, through the same seam answering at once, and
    // the one notify-icon change.
    NOTIFYICONDATAW data = d->trayIcon->data;
    data.uFlags = NIF_ICON | NIF_TIP;
    auto floorPass = [&data] {
        HANDLE device = seamOpenDevice(L'D', GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, 0);
        DWORD returned = 0;
        seamDeviceIoControl(device, IOCTL_STORAGE_CHECK_VERIFY, nullptr, 0, nullptr, 0, &returned);
        seamCloseDevice(device);
        Shell_NotifyIconW(NIM_MODIFY, &data);
    };
    // Alternating blocks, so that a slower moment of the shell's weighs on both.
    constexpr int kBlocks = 8, kPerBlock = 250, kPasses = kBlocks * kPerBlock;
    double wall = 0, cpu = 0, floorWall = 0, floorCpu = 0;
    for (int block = 0; block < kBlocks; ++block) {
        double wallStart = nowMs(), cpuStart = threadCpuMs();
        for (int i = 0; i < kPerBlock; ++i) updateDriveIcon(d, true);
        wall += nowMs() - wallStart;
        cpu += threadCpuMs() - cpuStart;
        wallStart = nowMs();
        cpuStart = threadCpuMs();
        for (int i = 0; i < kPerBlock; ++i) floorPass();
        floorWall += nowMs() - wallStart;
        floorCpu += threadCpuMs() - cpuStart;
    }
    std::printf("one monitor pass (data disc, no delay): %.3f ms wall, %.3f ms CPU, %zu seam calls; "
                "floor (3 seam calls, 1 modify) %.3f ms wall, %.3f ms CPU; ratio %.1f wall, %.1f CPU\n",
                wall / kPasses, cpu / kPasses, calls, floorWall / kPasses, floorCpu / kPasses, wall / floorWall,
                cpu / floorCpu);
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

// Median of five runs of `program` to its exit, in milliseconds.
double medianRunMs(const std::wstring& program, const std::vector<std::wstring>& environment) {
    double runs[5];
    for (double& run : runs) {
        StartedProcess started;
        const double start = nowMs();
        if (!startProcess(program, environment, started) || started.waitExit(20000) == STILL_ACTIVE) return -1;
        run = nowMs() - start;
        pumpMessages(50);
    }
    std::sort(runs, runs + 5);
    return runs[2];
}

// The program started while one runs (hosted here): it finds the window,
// posts its message and exits; against a bare program that starts and exits.
void secondStart() {
    simReset();
    simSetJournalEnabled(false);
    MainWindowHost host;
    TempDir appData;
    const double second = medianRunMs(distDir() + L"sbay.exe", {L"APPDATA=" + appData.path()});
    const double bare = medianRunMs(testProgramDir() + L"sbay_bench_bare.exe", {});
    std::printf("second start: %.1f ms; bare program's start and exit %.1f ms, ratio %.1f\n", second, bare,
                second / bare);
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
    secondStart();
    countsOver10000Passes();
    return 0;
}
