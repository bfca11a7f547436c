// What the drives cost, on simulated drives with no delay: a monitor pass, the
// start-up with 26 drives, a second start, and GDI, icon and handle counts
// across 10,000 passes. It prints figures, each time beside its ratio to a
// floor taken in the same run: the least Wine and the shell charge for the
// same work. A ratio near 1 means the program adds little.
#include "app/app.h"
#include "drives/device_seam.h"
#include "drives/drive_icon.h"
#include "drives/tray_icon.h"
#include "tests/test_support.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>

namespace {

double nowMs() {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

double threadCpuMs() {
    FILETIME created, exited, kernel, user;
    GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user);
    return (static_cast<double>(kernel.dwHighDateTime + user.dwHighDateTime) * 4294967296.0 + kernel.dwLowDateTime +
            user.dwLowDateTime) / 1e4;
}

// Fresh simulated drives, journal off: data discs on `letters`, an audio disc on `audio`.
void drives(const wchar_t* letters, wchar_t audio = 0) {
    simReset();
    for (const wchar_t* letter = letters; *letter; ++letter) simConfigure(*letter, dataDisc(L"BENCHMARK", 4700000000));
    if (audio != 0) simConfigure(audio, audioDisc(12));
    simSetJournalEnabled(false);
}

void onePass() {
    drives(L"D");
    MainWindowHost host;
    DriveRecord* d = DriveTable[3];
    simSetJournalEnabled(true);
    simClearJournal();
    updateDriveIcon(d, true);
    const size_t calls = simJournal().size();
    simSetJournalEnabled(false);
    // The floor: the drive asked once whether it holds a disc, through the same
    // seam answering at once, and the one notify-icon change.
    NOTIFYICONDATAW data = d->trayIcon->data;
    data.uFlags = NIF_ICON | NIF_TIP;
    const auto floorPass = [&data] {
        HANDLE device = seamOpenDevice(L'D', GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, 0);
        DWORD returned = 0;
        seamDeviceIoControl(device, IOCTL_STORAGE_CHECK_VERIFY, nullptr, 0, nullptr, 0, &returned);
        seamCloseDevice(device);
        Shell_NotifyIconW(NIM_MODIFY, &data);
    };
    // Alternating blocks, so that a slower moment of the shell's weighs on both.
    constexpr int kBlocks = 8, kPerBlock = 250, kPasses = kBlocks * kPerBlock;
    double wall[2] = {}, cpu[2] = {};
    for (int block = 0; block < 2 * kBlocks; ++block) {
        const double wallStart = nowMs(), cpuStart = threadCpuMs();
        for (int i = 0; i < kPerBlock; ++i) block % 2 ? floorPass() : updateDriveIcon(d, true);
        wall[block % 2] += nowMs() - wallStart;
        cpu[block % 2] += threadCpuMs() - cpuStart;
    }
    std::printf("one monitor pass (data disc, no delay): %.3f ms wall, %.3f ms CPU, %zu seam calls; "
                "floor (3 seam calls, 1 modify) %.3f ms wall, %.3f ms CPU; ratio %.1f wall, %.1f CPU\n",
                wall[0] / kPasses, cpu[0] / kPasses, calls, wall[1] / kPasses, cpu[1] / kPasses, wall[0] / wall[1],
                cpu[0] / cpu[1]);
}

void startUpWith26Drives() {
    drives(L"ABCDEFGHIJKLMNOPQRSTUVWXYZ");
    double start = nowMs();
    auto host = std::make_unique<MainWindowHost>();
    const double created = nowMs() - start;
    host.reset();
    // The floor: a bare hidden window adding 26 notify icons.
    start = nowMs();
    NOTIFYICONDATAW data{};
    data.cbSize = kNotifyIconSize;
    data.hWnd = CreateWindowW(L"STATIC", L"", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    data.uFlags = NIF_ICON | NIF_TIP;
    data.hIcon = LoadIconW(nullptr, IDI_APPLICATION);
    for (data.uID = 0; data.uID < 26; ++data.uID) Shell_NotifyIconW(NIM_ADD, &data);
    const double floor = nowMs() - start;
    for (data.uID = 0; data.uID < 26; ++data.uID) Shell_NotifyIconW(NIM_DELETE, &data);
    DestroyWindow(data.hWnd);
    std::printf("start-up with 26 drives: %.1f ms; bare window with 26 icons %.1f ms, ratio %.1f\n", created, floor,
                created / floor);
}

// The program started while one runs (hosted here) finds the window, posts
// its message and exits; against a bare program that starts and exits.
void secondStart() {
    drives(L"");
    MainWindowHost host;
    TempDir appData;
    const auto medianRunMs = [](const std::wstring& program, const std::vector<std::wstring>& environment) {
        double runs[5];
        for (double& run : runs) {
            StartedProcess started;
            const double start = nowMs();
            if (!startProcess(program, environment, started) || started.waitExit(20000) == STILL_ACTIVE) return -1.0;
            run = nowMs() - start;
            pumpMessages(50);
        }
        std::sort(runs, runs + 5);
        return runs[2];
    };
    const double second = medianRunMs(distDir() + L"sbay.exe", {L"APPDATA=" + appData.path()});
    const double bare = medianRunMs(testProgramDir() + L"sbay_bench_bare.exe", {});
    std::printf("second start: %.1f ms; bare program's start and exit %.1f ms, ratio %.1f\n", second, bare,
                second / bare);
}

void countsOver10000Passes() {
    drives(L"D", L'E');
    MainWindowHost host;
    DriveRecord *d = DriveTable[3], *e = DriveTable[4];
    updateDriveIcon(d, true);
    const int gdi = freeGdiSlots(), icons = freeIconSlots(), handles = liveKernelHandles();
    const double start = nowMs();
    for (int i = 0; i < 10000; ++i) updateDriveIcon(i % 2 ? e : d, true);
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
