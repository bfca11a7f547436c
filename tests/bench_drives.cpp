// What the drives cost, on simulated drives with no delay: a monitor pass
// that finds nothing changed, the start-up with 26 drives, a second start,
// and GDI, icon and handle counts across 10,000 passes. Each figure is the
// median of several runs taken in turn with its floor, the least Wine and the
// shell charge for the same work, so a slower moment of the machine weighs on
// both; the ratio to the floor is what to compare across machines.
//
// `sbay_bench.exe idle-floor` instead shows the idle figure's floor, a bare
// hidden window holding 26 composed icons, until it is ended
// (scripts/bench_idle.sh measures it against the program).
#include "app/app.h"
#include "drives/device_seam.h"
#include "drives/drive_icon.h"
#include "drives/tray_icon.h"
#include "resources/image_strips.h"
#include "resources/resource_ids.h"
#include "tests/test_support.h"

#include <algorithm>
#include <chrono>
#include <ntddscsi.h>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>

namespace {

constexpr int kRuns = 7;  // of the program and of its floor, taken in turn

double nowMs() {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

double threadCpuMs() {
    FILETIME created, exited, kernel, user;
    GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user);
    const auto ms = [](FILETIME t) {
        return static_cast<double>((static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 1e4;
    };
    return ms(kernel) + ms(user);
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// Runs program and floor in turn, `runs` times each; each returns its measure.
std::pair<double, double> alternate(int runs, const std::function<double()>& program,
                                    const std::function<double()>& floor) {
    std::vector<double> programRuns, floorRuns;
    for (int run = 0; run < runs; ++run) {
        programRuns.push_back(program());
        floorRuns.push_back(floor());
    }
    return {median(programRuns), median(floorRuns)};
}

// Fresh simulated drives, journal off: data discs on `letters`, an audio disc on `audio`.
void drives(const wchar_t* letters, wchar_t audio = 0) {
    simReset();
    for (const wchar_t* letter = letters; *letter; ++letter) simConfigure(*letter, dataDisc(L"BENCHMARK", 4700000000));
    if (audio != 0) simConfigure(audio, audioDisc(12));
    simSetJournalEnabled(false);
}

// Settings that hide the given drives: they get no monitor thread, so nothing
// polls but the benchmark. Their icons are then shown by hand.
std::string hidden(const char* indexes) {
    std::string settings;
    for (const char* index = indexes; *index; ++index) {
        settings += std::string("[dpDiskProp") + std::to_string(*index - 'A') + "]\r\nbHide=1\r\n";
    }
    return settings;
}

// ---- The start-up floor, also the idle figure's floor -------------------------

LRESULT CALLBACK floorWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_CLOSE) PostQuitMessage(0);
    return DefWindowProcW(window, message, wParam, lParam);
}

struct TrayFloor {
    HWND  window = nullptr;
    HICON icons[kDriveCount] = {};
};

// A hidden window adding 26 icons composed as the program composes a drive's:
// the least any program showing 26 drive icons does.
void showTrayFloor(TrayFloor& floor) {
    static const ATOM registered = [] {
        WNDCLASSEXW windowClass{};
        windowClass.cbSize = sizeof windowClass;
        windowClass.lpfnWndProc = floorWindowProc;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = L"SpindlebayBenchFloor";
        return RegisterClassExW(&windowClass);
    }();
    floor.window = CreateWindowExW(0, MAKEINTATOM(registered), nullptr, 0, 0, 0, 0, 0, nullptr, nullptr,
                                   GetModuleHandleW(nullptr), nullptr);
    stateImages = createImageListFromBitmap(IDB_STATES, 4);
    letterImages = createImageListFromBitmap(IDB_LETTERS, 26);
    templateIcon = static_cast<HICON>(
        LoadImageW(appInstance, MAKEINTRESOURCEW(IDI_TEMPLATE), IMAGE_ICON, 0, 0, LR_DEFAULTCOLOR));
    NOTIFYICONDATAW data{};
    data.cbSize = kNotifyIconSize;
    data.hWnd = floor.window;
    data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    data.uCallbackMessage = kTrayCallbackMessage;
    for (int i = 0; i < kDriveCount; ++i) {
        floor.icons[i] = composeDriveIcon(stateImages, 3, i, true);
        data.uID = 'A' + i;
        data.hIcon = floor.icons[i];
        lstrcpynW(data.szTip, L"Spindlebay v.6\n[A:] BENCHMARK", 128);
        data.szTip[16] = static_cast<wchar_t>('A' + i);
        Shell_NotifyIconW(NIM_ADD, &data);
    }
}

void removeTrayFloor(TrayFloor& floor) {
    NOTIFYICONDATAW data{};
    data.cbSize = kNotifyIconSize;
    data.hWnd = floor.window;
    for (int i = 0; i < kDriveCount; ++i) {
        data.uID = 'A' + i;
        Shell_NotifyIconW(NIM_DELETE, &data);
        DestroyIcon(floor.icons[i]);
    }
    DestroyWindow(floor.window);
    ImageList_Destroy(stateImages);
    ImageList_Destroy(letterImages);
    DestroyIcon(templateIcon);
    stateImages = letterImages = nullptr;
    templateIcon = nullptr;
}

// ---- The figures ----------------------------------------------------------------

// The device requests a pass must make for an unlocked data disc at the
// highest speed, straight to the same seam: the media state asked by
// pass-through and the volume's label and size.
void floorPass(wchar_t letter) {
    wchar_t root[] = L"D:\\";
    root[0] = letter;
    DWORD returned = 0;
    HANDLE device = seamOpenDevice(letter, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                   FILE_ATTRIBUTE_NORMAL);
    UCHAR status[8] = {};
    SCSI_PASS_THROUGH_DIRECT scsi{};
    scsi.Length = sizeof scsi;
    scsi.CdbLength = 10;
    scsi.DataIn = SCSI_IOCTL_DATA_IN;
    scsi.DataTransferLength = sizeof status;
    scsi.TimeOutValue = 5;
    scsi.DataBuffer = status;
    const UCHAR cdb[] = {0x4A, 0x01, 0, 0, 0x10, 0, 0, 0, sizeof status};  // GET EVENT STATUS NOTIFICATION
    std::memcpy(scsi.Cdb, cdb, sizeof cdb);
    seamDeviceIoControl(device, IOCTL_SCSI_PASS_THROUGH_DIRECT, &scsi, sizeof scsi, &scsi, sizeof scsi, &returned);
    seamCloseDevice(device);
    wchar_t label[MAX_PATH + 1];
    seamGetVolumeLabel(root, label, MAX_PATH + 1);
    ULARGE_INTEGER total{};
    seamGetDiskTotalBytes(root, &total);
}

std::vector<std::string> journalOfCall(const std::function<void()>& call) {
    simSetJournalEnabled(true);
    simClearJournal();
    call();
    std::vector<std::string> lines = simJournal();
    simSetJournalEnabled(false);
    return lines;
}

void monitorPass() {
    drives(L"D");
    MainWindowHost host(hidden("D"));
    DriveRecord* d = DriveTable[3];
    updateDriveIcon(d, false);  // shown, without a thread
    updateDriveIcon(d, true);
    const std::vector<std::string> pass = journalOfCall([d] { updateDriveIcon(d, true); });
    const std::vector<std::string> floor = journalOfCall([] { floorPass(L'D'); });
    const auto requests = [](const std::vector<std::string>& lines) {
        return std::count_if(lines.begin(), lines.end(), [](const std::string& line) {
            return line.find(" open ") == std::string::npos && line.find(": close") == std::string::npos;
        });
    };
    std::printf("a monitor pass with nothing changed (data disc): %zu device requests and %zu opens and closes; "
                "floor %zu and %zu\n",
                static_cast<size_t>(requests(pass)), pass.size() - requests(pass),
                static_cast<size_t>(requests(floor)), floor.size() - requests(floor));
    if (pass != floor) {
        std::printf("  the pass's requests differ from the floor's:\n");
        for (const std::string& line : pass) std::printf("    pass  %s\n", line.c_str());
        for (const std::string& line : floor) std::printf("    floor %s\n", line.c_str());
    }
    // Each run lasts long enough for the coarse clock of thread times.
    constexpr double kRunMs = 300;
    std::vector<double> walls[2], cpus[2];
    const auto run = [&](int which, const std::function<void()>& work) {
        const double wallStart = nowMs(), cpuStart = threadCpuMs();
        int passes = 0;
        for (; nowMs() - wallStart < kRunMs; ++passes) work();
        walls[which].push_back((nowMs() - wallStart) / passes);
        cpus[which].push_back((threadCpuMs() - cpuStart) / passes);
    };
    for (int i = 0; i < kRuns; ++i) {
        run(0, [d] { updateDriveIcon(d, true); });
        run(1, [] { floorPass(L'D'); });
    }
    const double wall = median(walls[0]), cpu = median(cpus[0]), floorWall = median(walls[1]);
    const double floorCpu = median(cpus[1]);
    std::printf("  %.4f ms wall, %.4f ms CPU; floor %.4f ms wall, %.4f ms CPU; ratio %.2f wall, %.2f CPU "
                "(medians of %d runs of %.0f ms each)\n",
                wall, cpu, floorWall, floorCpu, wall / floorWall, cpu / floorCpu, kRuns, kRunMs);
}

void startUpWith26Drives() {
    const auto [program, floor] = alternate(
        kRuns,
        [] {
            drives(L"ABCDEFGHIJKLMNOPQRSTUVWXYZ");
            const double start = nowMs();
            auto host = std::make_unique<MainWindowHost>();
            const double took = nowMs() - start;
            host.reset();
            pumpMessages(200);
            return took;
        },
        [] {
            TrayFloor tray;
            const double start = nowMs();
            showTrayFloor(tray);
            const double took = nowMs() - start;
            removeTrayFloor(tray);
            pumpMessages(200);
            return took;
        });
    std::printf("start-up with 26 drives: %.1f ms; floor (hidden window adding 26 composed icons) %.1f ms; "
                "ratio %.2f (medians of %d runs each)\n", program, floor, program / floor, kRuns);
}

// The program started while one runs (hosted here) finds the window, posts
// its message and exits; against a program that does only that.
void secondStart() {
    drives(L"");
    MainWindowHost host;
    TempDir appData;
    const auto run = [](const std::wstring& program, const std::vector<std::wstring>& environment) {
        StartedProcess started;
        const double start = nowMs();
        if (!startProcess(program, environment, started) || started.waitExit(20000) == STILL_ACTIVE) return -1.0;
        const double took = nowMs() - start;
        pumpMessages(50);
        return took;
    };
    const std::wstring program = distDir() + L"sbay.exe", bare = testProgramDir() + L"sbay_bench_bare.exe";
    const auto [second, floor] = alternate(
        kRuns, [&] { return run(program, {L"APPDATA=" + appData.path()}); }, [&] { return run(bare, {}); });
    std::printf("second start: %.1f ms; floor (a program importing USER32 that finds the window and posts to it) "
                "%.1f ms; ratio %.2f (medians of %d runs each)\n", second, floor, second / floor, kRuns);
}

void countsOver10000Passes() {
    drives(L"D", L'E');
    MainWindowHost host(hidden("DE"));
    DriveRecord *d = DriveTable[3], *e = DriveTable[4];
    updateDriveIcon(d, false);
    updateDriveIcon(e, false);
    // D's tray moves every tenth pass of its own, so its icon and tip change;
    // E's audio disc stays as it is.
    const auto pass = [d, e](int i) {
        if (i % 20 == 0) simSetTray(L'D', (i / 20) % 2 == 0);
        updateDriveIcon(i % 2 ? e : d, true);
    };
    for (int i = 0; i < 41; ++i) pass(i);  // every state met once: its icon composed and kept
    const int gdi = freeGdiSlots(), icons = freeIconSlots(), handles = liveKernelHandles();
    const double start = nowMs();
    for (int i = 0; i < 10000; ++i) pass(i);
    const double elapsed = nowMs() - start;
    std::printf("10,000 passes: %.0f ms; leaked GDI objects %d, icons %d, kernel handles %d; device handles open %zu\n",
                elapsed, gdi - freeGdiSlots(), icons - freeIconSlots(), liveKernelHandles() - handles,
                simOpenHandleCount());
}

void idleFloor() {
    TrayFloor tray;
    showTrayFloor(tray);
    std::printf("idle floor: a hidden window with 26 icons; end it with WM_CLOSE or by ending the process\n");
    std::fflush(stdout);
    for (MSG message; GetMessageW(&message, nullptr, 0, 0) > 0;) DispatchMessageW(&message);
    removeTrayFloor(tray);
}

}  // namespace

int main(int argc, char** argv) {
    appInstance = GetModuleHandleW(nullptr);
    if (argc > 1 && std::strcmp(argv[1], "idle-floor") == 0) {
        idleFloor();
        return 0;
    }
    std::printf("Absolute times depend on the machine and its load; compare the ratios.\n");
    monitorPass();
    startUpWith26Drives();
    secondStart();
    countsOver10000Passes();
    return 0;
}
