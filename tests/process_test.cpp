// The program as real processes under Wine: settings, single instance, exit codes, language libraries, the service.
#include "app/app.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>

namespace {

// Hot keys no one else uses, each held by whichever process registered it first.
constexpr UINT kProbeModifiers = MOD_CONTROL | MOD_ALT | MOD_SHIFT, kProbeKeyUser = VK_F9, kProbeKeyService = VK_F10;

void writeSettingsWithDefaultEject(const std::wstring& file, UINT key) {
    writeTextFile(file, "[g_propMain]\r\nnDefaultDisk=68\r\nhkDefDiskEject.fsModifiers=" + std::to_string(kProbeModifiers) +
                            "\r\nhkDefDiskEject.vk=" + std::to_string(key) + "\r\n");
}

bool hotKeyTaken(UINT key) {
    if (!RegisterHotKey(nullptr, 0x7001, kProbeModifiers, key)) return true;
    UnregisterHotKey(nullptr, 0x7001);
    return false;
}

TEST(Process, ReadsTheUsersSettingsOutlivesASecondStartAndExitsWithZeroWhenClosed) {
    TempDir appData;
    CreateDirectoryW(appData.file(L"sbay").c_str(), nullptr);
    writeSettingsWithDefaultEject(appData.file(L"sbay\\sbay.ini"), kProbeKeyUser);
    ASSERT_FALSE(hotKeyTaken(kProbeKeyUser));
    StartedProcess first, second;
    const DWORD start = GetTickCount();
    ASSERT_TRUE(startProcess(distDir() + L"sbay.exe", {L"APPDATA=" + appData.path()}, first));
    HWND window = waitForProgramWindow(first.id, 10000);
    ASSERT_NE(window, nullptr);
    // Outside service mode nothing waits for the dispatcher's failure, which takes seconds under Wine.
    EXPECT_LT(GetTickCount() - start, 3000u);
    EXPECT_TRUE(hotKeyTaken(kProbeKeyUser)) << "the global hot key from the settings was not registered";

    ASSERT_TRUE(startProcess(distDir() + L"sbay.exe", {L"APPDATA=" + appData.path()}, second));
    EXPECT_EQ(second.waitExit(5000), 0u);
    EXPECT_EQ(first.waitExit(500), static_cast<DWORD>(STILL_ACTIVE)) << "the first instance must keep running";
    PostMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(first.waitExit(10000), 0u);
    EXPECT_FALSE(hotKeyTaken(kProbeKeyUser));
}

TEST(Process, KeepsRunningWithoutOrWithABrokenLanguageLibrary) {
    for (bool broken : {false, true}) {
        TempDir folder, appData;
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

// A copy of dist installed as the service; TearDown removes it even when a check fails.
class ServiceManagerTest : public ::testing::Test {
protected:
    void SetUp() override {
        copyDistFiles(folder.path(), {L"sbay.exe", L"sbay_6_eng.dll", L"sbay_6_rus.dll", L"diskinside.wav"});
        manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
        ASSERT_NE(manager, nullptr);
        if (SC_HANDLE old = OpenServiceW(manager, L"sbay_svc", DELETE)) {
            DeleteService(old);
            CloseServiceHandle(old);
        }
        service = CreateServiceW(manager, L"sbay_svc", L"sbay_svc", SERVICE_ALL_ACCESS,
                                 SERVICE_WIN32_OWN_PROCESS | SERVICE_INTERACTIVE_PROCESS, SERVICE_DEMAND_START,
                                 SERVICE_ERROR_IGNORE, folder.file(L"sbay.exe").c_str(), nullptr, nullptr, nullptr,
                                 nullptr, nullptr);
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
    TempDir folder;
    SC_HANDLE manager = nullptr, service = nullptr;
};

TEST_F(ServiceManagerTest, RunsWithTheSettingsBesideTheExecutableAndAnswersOnlyAnInterrogation) {
    writeSettingsWithDefaultEject(folder.file(L"sbay.ini"), kProbeKeyService);
    TempDir appData;
    CreateDirectoryW(appData.file(L"sbay").c_str(), nullptr);
    writeSettingsWithDefaultEject(appData.file(L"sbay\\sbay.ini"), kProbeKeyUser);
    ScopedEnvironment environment(L"APPDATA", appData.path().c_str());
    ASSERT_FALSE(hotKeyTaken(kProbeKeyService));

    ASSERT_TRUE(StartServiceW(service, 0, nullptr)) << GetLastError();
    SERVICE_STATUS status{};
    for (int i = 0; i < 100 && QueryServiceStatus(service, &status) && status.dwCurrentState != SERVICE_RUNNING; ++i) {
        Sleep(100);
    }
    EXPECT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));
    EXPECT_EQ(status.dwControlsAccepted, 0u);
    ASSERT_NE(waitForProgramWindow(0, 15000), nullptr) << "the service shows no main window";
    EXPECT_TRUE(hotKeyTaken(kProbeKeyService)) << "the service did not read sbay.ini beside its executable";
    EXPECT_FALSE(hotKeyTaken(kProbeKeyUser));

    // The handler itself answers an interrogation with "running"; a stop is refused.
    status = SERVICE_STATUS{};
    ASSERT_TRUE(ControlService(service, SERVICE_CONTROL_INTERROGATE, &status)) << GetLastError();
    EXPECT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));
    EXPECT_FALSE(ControlService(service, SERVICE_CONTROL_STOP, &status));
    ASSERT_TRUE(QueryServiceStatus(service, &status));
    EXPECT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));
}

}  // namespace
