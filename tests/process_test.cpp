// The program as real processes under Wine: settings, single instance, exit codes, language libraries, the service.
#include "app/app.h"
#include "autostart/startup_mode.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>

namespace {

// Hot keys no one else uses, each held by whichever process registered it first.
constexpr UINT kModifiers = MOD_CONTROL | MOD_ALT | MOD_SHIFT, kUserKey = VK_F9, kServiceKey = VK_F10;

// sbay.ini in `folder`, made if missing, giving the default drive's eject `key`.
void writeSettings(const std::wstring& folder, UINT key) {
    CreateDirectoryW(folder.c_str(), nullptr);
    const std::string eject = "hkDefDiskEject.fsModifiers=" + std::to_string(kModifiers) + "\r\nhkDefDiskEject.vk=";
    writeTextFile(folder + L"\\sbay.ini", "[g_propMain]\r\nnDefaultDisk=68\r\n" + eject + std::to_string(key) + "\r\n");
}

bool hotKeyTaken(UINT key) {
    if (!RegisterHotKey(nullptr, 0x7001, kModifiers, key)) return true;
    UnregisterHotKey(nullptr, 0x7001);
    return false;
}

TEST(Process, RunsWithOrWithoutItsLanguageLibraryHoldsTheUsersHotKeyAndExitsWithZeroWhenClosed) {
    for (const std::string library : {"present", "missing", "broken"}) {
        TempDir folder, appData;
        std::wstring program = distDir() + L"sbay.exe";
        if (library != "present") {
            copyDistFiles(folder.path(), {L"sbay.exe"});
            if (library == "broken") writeTextFile(folder.file(L"sbay_6_eng.dll"), "MZ this is not a library");
            program = folder.file(L"sbay.exe");
        }
        writeSettings(appData.file(L"sbay"), kUserKey);
        ASSERT_FALSE(hotKeyTaken(kUserKey));
        StartedProcess first;
        const DWORD start = GetTickCount();
        ASSERT_TRUE(startProcess(program, {L"APPDATA=" + appData.path()}, first));
        HWND window = waitForProgramWindow(first.id, 10000);
        ASSERT_NE(window, nullptr) << library;
        // Outside service mode nothing waits for the dispatcher's failure, which takes seconds under Wine.
        EXPECT_LT(GetTickCount() - start, 3000u) << library;
        EXPECT_TRUE(hotKeyTaken(kUserKey)) << library << ": the hot key of the user's settings is not held";
        PostMessageW(window, WM_CLOSE, 0, 0);
        EXPECT_EQ(first.waitExit(10000), 0u) << library;
    }
}

// Stops the service's program and removes the service, even when a check fails.
struct InstalledService {
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS), service = nullptr;
    ~InstalledService() {
        if (HWND window = waitForProgramWindow(0, 0)) closeProgramWindow(window);
        if (service != nullptr) CloseServiceHandle(service);
        deleteService(manager);
        CloseServiceHandle(manager);
    }
};

TEST(ServiceManager, RunsWithTheSettingsBesideTheExecutableAndStopsAsExitDoes) {
    TempDir folder;
    // The program over simulated drives: with a drive its shut-down writes the default drive.
    CopyFileW((testProgramDir() + L"..\\sim\\sbay_sim.exe").c_str(), folder.file(L"sbay.exe").c_str(), FALSE);
    copyDistFiles(folder.path(), {L"sbay_6_eng.dll", L"sbay_6_rus.dll", L"diskinside.wav"});
    writeTextFile(folder.file(L"simdrives.ini"), "[D]\r\n[E]\r\n");
    writeSettings(folder.path(), kServiceKey);
    ASSERT_FALSE(hotKeyTaken(kServiceKey));
    InstalledService sc;
    ASSERT_NE(sc.manager, nullptr);
    deleteService(sc.manager);  // one a failed run left behind
    const SC_HANDLE service = sc.service = CreateServiceW(sc.manager, L"sbay_svc", L"sbay_svc", SERVICE_ALL_ACCESS,
        SERVICE_WIN32_OWN_PROCESS | SERVICE_INTERACTIVE_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_IGNORE,
        folder.file(L"sbay.exe").c_str(), nullptr, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(service, nullptr) << GetLastError();

    ASSERT_TRUE(StartServiceW(service, 0, nullptr)) << GetLastError();
    SERVICE_STATUS status{};
    auto state = [&] { return QueryServiceStatus(service, &status) ? status.dwCurrentState : 0; };
    for (int i = 0; i < 100 && state() != SERVICE_RUNNING; ++i) Sleep(100);
    EXPECT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));
    EXPECT_EQ(status.dwControlsAccepted, static_cast<DWORD>(SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN));
    const HWND window = waitForProgramWindow(0, 15000);
    ASSERT_NE(window, nullptr) << "the service shows no main window";
    EXPECT_TRUE(hotKeyTaken(kServiceKey)) << "the service did not read sbay.ini beside its executable";
    PostMessageW(window, WM_HOTKEY, 0x400, 0);  // E: becomes the default drive, in memory only
    status = SERVICE_STATUS{};
    ASSERT_TRUE(ControlService(service, SERVICE_CONTROL_INTERROGATE, &status)) << GetLastError();
    EXPECT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));

    // An administrator's stop ends the program as Exit does: settings written, hot keys given back.
    ASSERT_TRUE(ControlService(service, SERVICE_CONTROL_STOP, &status)) << GetLastError();
    for (int i = 0; i < 150 && state() != SERVICE_STOPPED; ++i) Sleep(100);
    EXPECT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_EQ(waitForProgramWindow(0, 0), nullptr);
    EXPECT_FALSE(hotKeyTaken(kServiceKey));
    EXPECT_NE(readTextFile(folder.file(L"sbay.ini")).find("nDefaultDisk=69\r\n"), std::string::npos)
        << readTextFile(folder.file(L"sbay.ini"));
}

}  // namespace
