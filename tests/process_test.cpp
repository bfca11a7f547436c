// The program as real processes under Wine: single instance, exit codes,
// start-up time, a missing language library, and the service mode.
#include "app/app.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>

namespace {

const std::vector<std::wstring> kDistFiles = {L"sbay.exe", L"sbay_6_eng.dll", L"sbay_6_rus.dll", L"diskinside.wav"};

// A hot key no one else uses; held by whichever process registered it first.
constexpr UINT kProbeModifiers = MOD_CONTROL | MOD_ALT | MOD_SHIFT;
constexpr UINT kProbeKeyUser = VK_F9;
constexpr UINT kProbeKeyService = VK_F10;

std::string settingsWithDefaultEject(UINT key) {
    return "[g_propMain]\r\nnDefaultDisk=68\r\nhkDefDiskEject.fsModifiers=" + std::to_string(kProbeModifiers) +
           "\r\nhkDefDiskEject.vk=" + std::to_string(key) + "\r\n";
}

// Whether another process holds the probe hot key.
bool hotKeyTaken(UINT key) {
    if (!RegisterHotKey(nullptr, 0x7001, kProbeModifiers, key)) return true;
    UnregisterHotKey(nullptr, 0x7001);
    return false;
}

// Stands in for a running first instance and records what it is sent.
struct FakeFirstInstance {
    static inline int secondInstanceMessages = 0;
    static inline WPARAM lastWParam = 1;
    static inline LPARAM lastLParam = 1;
    static LRESULT CALLBACK proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == RegisterWindowMessageW(kInstanceKey)) {
            ++secondInstanceMessages;
            lastWParam = wParam;
            lastLParam = lParam;
            return 0;
        }
        return DefWindowProcW(window, message, wParam, lParam);
    }
};

TEST(Process, SecondStartPostsOneMessageAndExitsAtOnce) {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = FakeFirstInstance::proc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = kInstanceKey;
    // The class may be registered already by in-process tests: use a window of
    // our own procedure either way.
    UnregisterClassW(kInstanceKey, windowClass.hInstance);
    ASSERT_NE(RegisterClassW(&windowClass), 0);
    HWND fake = CreateWindowExW(0, kInstanceKey, nullptr, 0, 0, 0, 0, 0, nullptr, nullptr, windowClass.hInstance, nullptr);
    ASSERT_NE(fake, nullptr);

    TempDir appData;
    StartedProcess second;
    const DWORD start = GetTickCount();
    ASSERT_TRUE(startProcess(distDir() + L"sbay.exe", {L"APPDATA=" + appData.path()}, second));
    const DWORD code = second.waitExit(10000);
    const DWORD elapsed = GetTickCount() - start;
    pumpMessages(200);
    DestroyWindow(fake);
    UnregisterClassW(kInstanceKey, windowClass.hInstance);

    EXPECT_EQ(code, 0u);
    EXPECT_LT(elapsed, 3000u) << "a second start must not wait for anything";
    EXPECT_EQ(FakeFirstInstance::secondInstanceMessages, 1);
    EXPECT_EQ(FakeFirstInstance::lastWParam, 0u);
    EXPECT_EQ(FakeFirstInstance::lastLParam, 0);
    EXPECT_FALSE(fileExists(appData.file(L"sbay")));
    std::printf("second start took %lu ms\n", elapsed);
}

TEST(Process, FirstInstanceRunsUntilClosedFromOutsideThenExitsWithZero) {
    TempDir appData;
    StartedProcess first;
    const DWORD start = GetTickCount();
    ASSERT_TRUE(startProcess(distDir() + L"sbay.exe", {L"APPDATA=" + appData.path()}, first));
    HWND window = waitForProgramWindow(first.id, 10000);
    const DWORD upAfter = GetTickCount() - start;
    ASSERT_NE(window, nullptr);
    // Outside service mode nothing waits for the service dispatcher, whose
    // failure takes seconds to arrive under Wine.
    EXPECT_LT(upAfter, 3000u);
    std::printf("main window up after %lu ms\n", upAfter);

    StartedProcess second;
    ASSERT_TRUE(startProcess(distDir() + L"sbay.exe", {L"APPDATA=" + appData.path()}, second));
    EXPECT_EQ(second.waitExit(5000), 0u);
    EXPECT_EQ(first.waitExit(500), static_cast<DWORD>(STILL_ACTIVE)) << "the first instance must keep running";

    PostMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(first.waitExit(10000), 0u);
}

TEST(Process, ReadsItsSettingsFromTheUsersApplicationData) {
    TempDir appData;
    CreateDirectoryW(appData.file(L"sbay").c_str(), nullptr);
    writeTextFile(appData.file(L"sbay\\sbay.ini"), settingsWithDefaultEject(kProbeKeyUser));
    ASSERT_FALSE(hotKeyTaken(kProbeKeyUser));

    StartedProcess program;
    ASSERT_TRUE(startProcess(distDir() + L"sbay.exe", {L"APPDATA=" + appData.path()}, program));
    HWND window = waitForProgramWindow(program.id, 10000);
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(hotKeyTaken(kProbeKeyUser)) << "the global hot key from the settings was not registered";
    PostMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(program.waitExit(10000), 0u);
    EXPECT_FALSE(hotKeyTaken(kProbeKeyUser));
}

TEST(Process, KeepsRunningWithoutOrWithABrokenLanguageLibrary) {
    for (bool broken : {false, true}) {
        TempDir folder;
        TempDir appData;
        copyDistFiles(folder.path(), {L"sbay.exe"});
        if (broken) writeTextFile(folder.file(L"sbay_6_eng.dll"), "MZ this is not a library");
        StartedProcess program;
        ASSERT_TRUE(startProcess(folder.file(L"sbay.exe"), {L"APPDATA=" + appData.path()}, program));
        HWND window = waitForProgramWindow(program.id, 10000);
        ASSERT_NE(window, nullptr) << (broken ? "broken library" : "missing library");
        EXPECT_EQ(program.waitExit(1000), static_cast<DWORD>(STILL_ACTIVE));
        PostMessageW(window, WM_CLOSE, 0, 0);
        EXPECT_EQ(program.waitExit(10000), 0u);
    }
}

// Installs a copy of dist as the service, runs it through the service
// control manager and removes it again.
class ServiceManagerTest : public ::testing::Test {
protected:
    void SetUp() override {
        copyDistFiles(folder.path(), kDistFiles);
        manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
        ASSERT_NE(manager, nullptr);
        removeService();
        const std::wstring binary = folder.file(L"sbay.exe");
        service = CreateServiceW(manager, L"sbay_svc", L"sbay_svc", SERVICE_ALL_ACCESS,
                                 SERVICE_WIN32_OWN_PROCESS | SERVICE_INTERACTIVE_PROCESS, SERVICE_DEMAND_START,
                                 SERVICE_ERROR_IGNORE, binary.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr);
        ASSERT_NE(service, nullptr) << GetLastError();
    }
    void TearDown() override {
        if (HWND window = waitForProgramWindow(0, 0)) closeProgramWindow(window);
        if (service != nullptr) {
            DeleteService(service);
            CloseServiceHandle(service);
        }
        if (manager != nullptr) CloseServiceHandle(manager);
    }
    void removeService() {
        if (SC_HANDLE old = OpenServiceW(manager, L"sbay_svc", DELETE)) {
            DeleteService(old);
            CloseServiceHandle(old);
        }
    }
    TempDir folder;
    SC_HANDLE manager = nullptr;
    SC_HANDLE service = nullptr;
};

TEST_F(ServiceManagerTest, RunsWithTheSettingsBesideTheExecutable) {
    // Beside the executable: one hot key. In the user's folder: another.
    writeTextFile(folder.file(L"sbay.ini"), settingsWithDefaultEject(kProbeKeyService));
    TempDir appData;
    CreateDirectoryW(appData.file(L"sbay").c_str(), nullptr);
    writeTextFile(appData.file(L"sbay\\sbay.ini"), settingsWithDefaultEject(kProbeKeyUser));
    ScopedEnvironment environment(L"APPDATA", appData.path().c_str());
    ASSERT_FALSE(hotKeyTaken(kProbeKeyService));

    ASSERT_TRUE(StartServiceW(service, 0, nullptr)) << GetLastError();
    SERVICE_STATUS status{};
    for (int i = 0; i < 100 && QueryServiceStatus(service, &status) && status.dwCurrentState != SERVICE_RUNNING; ++i) {
        Sleep(100);
    }
    EXPECT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));
    EXPECT_EQ(status.dwServiceType, static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS | SERVICE_INTERACTIVE_PROCESS));
    EXPECT_EQ(status.dwControlsAccepted, 0u);

    HWND window = waitForProgramWindow(0, 15000);
    ASSERT_NE(window, nullptr) << "the service shows no main window";
    EXPECT_TRUE(hotKeyTaken(kProbeKeyService)) << "the service did not read sbay.ini beside its executable";
    EXPECT_FALSE(hotKeyTaken(kProbeKeyUser));

    // It accepts no control but an interrogation, which its handler answers
    // with "running"; a stop is refused.
    status = SERVICE_STATUS{};
    ASSERT_TRUE(ControlService(service, SERVICE_CONTROL_INTERROGATE, &status)) << GetLastError();
    EXPECT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));
    EXPECT_FALSE(ControlService(service, SERVICE_CONTROL_STOP, &status));
    ASSERT_TRUE(QueryServiceStatus(service, &status));
    EXPECT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));
}

}  // namespace
