// The start-up mode against Wine's real registry and service manager: what
// detection finds and tidies, and what each change leaves behind.
#include "common/program_state.h"
#include "service/service.h"
#include "settings/autostart/startup_mode.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>
#include <string>
#include <tuple>
#include <utility>

namespace {

constexpr wchar_t kRunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr wchar_t kOurs[] = L"C:\\Program Files\\Spindle Bay\\sbay.exe";
const std::wstring kQuoted = std::wstring(L"\"") + kOurs + L"\"";

// autostart, asService
using Flags = std::pair<int, int>;

// Removes the Run value and the service before and after every case, also
// when a case fails, and puts back the globals it changes.
class StartWithWindowsTest : public ::testing::Test {
protected:
    void SetUp() override {
        lstrcpynW(savedPath, executablePath, MAX_PATH);
        lstrcpynW(executablePath, kOurs, MAX_PATH);
        manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
        ASSERT_NE(manager, nullptr);
        clean();
    }
    void TearDown() override {
        serviceMode = 0;
        lstrcpynW(executablePath, savedPath, MAX_PATH);
        if (manager == nullptr) return;
        clean();
        CloseServiceHandle(manager);
    }
    void clean() {
        deleteService(manager);
        RegDeleteKeyValueW(HKEY_CURRENT_USER, kRunKey, L"sbay");
    }
    void putRunValue(DWORD type, const void* data, DWORD bytes) {
        ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, kRunKey, L"sbay", type, data, bytes), ERROR_SUCCESS);
    }
    void putRunText(const std::wstring& text) {
        putRunValue(REG_SZ, text.c_str(), static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
    }
    // The Run value's text, or "<none>".
    std::wstring runValue() {
        wchar_t data[600] = L"";
        DWORD bytes = sizeof(data) - sizeof(wchar_t);
        if (RegGetValueW(HKEY_CURRENT_USER, kRunKey, L"sbay", RRF_RT_ANY, nullptr, data, &bytes) != ERROR_SUCCESS) {
            return L"<none>";
        }
        return data;
    }
    void createService(const std::wstring& binary, DWORD startType) {
        SC_HANDLE service = CreateServiceW(manager, L"sbay_svc", L"sbay_svc", SERVICE_ALL_ACCESS,
                                           SERVICE_WIN32_OWN_PROCESS | SERVICE_INTERACTIVE_PROCESS, startType,
                                           SERVICE_ERROR_IGNORE, binary.c_str(), nullptr, nullptr, nullptr, nullptr,
                                           nullptr);
        ASSERT_NE(service, nullptr) << GetLastError();
        CloseServiceHandle(service);
    }
    // "start type|binary path" of the service, or "<none>".
    std::wstring serviceConfig() {
        SC_HANDLE service = OpenServiceW(manager, L"sbay_svc", SERVICE_QUERY_CONFIG);
        if (service == nullptr) return L"<none>";
        alignas(8) BYTE buffer[8192];
        auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer);
        DWORD needed = 0;
        std::wstring result = L"<unreadable>";
        if (QueryServiceConfigW(service, config, sizeof(buffer), &needed)) {
            result = std::to_wstring(config->dwStartType) + L"|" + config->lpBinaryPathName;
        }
        CloseServiceHandle(service);
        return result;
    }
    Flags detect() {
        GlobalSettings settings{};
        settings.autostart = settings.asService = 7;
        detectStartupMode(settings);
        return {settings.autostart, settings.asService};
    }
    Flags apply(Flags wanted, Flags previous) {
        GlobalSettings w{}, p{};
        std::tie(w.autostart, w.asService) = wanted;
        std::tie(p.autostart, p.asService) = previous;
        applyStartupMode(w, p);
        return {w.autostart, w.asService};
    }
    wchar_t savedPath[MAX_PATH] = L"";
    SC_HANDLE manager = nullptr;
};

TEST_F(StartWithWindowsTest, DetectsTheRunValueOfThisExecutableAndDeletesAnyOther) {
    EXPECT_EQ(detect(), Flags(0, 0));
    putRunText(L"c:\\program files\\SPINDLE BAY\\SBAY.EXE");
    EXPECT_EQ(detect(), Flags(1, 0));
    putRunText(kQuoted);
    EXPECT_EQ(detect(), Flags(1, 0));
    EXPECT_EQ(runValue(), kQuoted);

    putRunText(L"C:\\Other\\sbay.exe");
    EXPECT_EQ(detect(), Flags(0, 0));
    EXPECT_EQ(runValue(), L"<none>");

    // Longer than any path, then our path with neither null nor string type.
    putRunText(std::wstring(kOurs) + std::wstring(300, L'x'));
    EXPECT_EQ(detect(), Flags(0, 0));
    EXPECT_EQ(runValue(), L"<none>");
    putRunValue(REG_BINARY, kOurs, static_cast<DWORD>(wcslen(kOurs) * sizeof(wchar_t)));
    EXPECT_EQ(detect(), Flags(0, 0));
    EXPECT_EQ(runValue(), L"<none>");
    // Our path without its terminating null still reads as our path.
    putRunValue(REG_SZ, kOurs, static_cast<DWORD>(wcslen(kOurs) * sizeof(wchar_t)));
    EXPECT_EQ(detect(), Flags(1, 0));
}

TEST_F(StartWithWindowsTest, DetectsTheServiceAndDeletesAForeignOne) {
    createService(kOurs, SERVICE_AUTO_START);  // as an earlier version made it
    putRunText(kOurs);
    EXPECT_EQ(detect(), Flags(1, 1));
    EXPECT_EQ(runValue(), L"<none>") << "the service takes precedence over the Run value";
    clean();

    createService(kQuoted, SERVICE_AUTO_START);
    EXPECT_EQ(detect(), Flags(1, 1));
    clean();

    createService(kOurs, SERVICE_DEMAND_START);
    EXPECT_EQ(detect(), Flags(0, 0));
    EXPECT_NE(serviceConfig(), L"<none>") << "a service not started automatically is left alone";
    clean();

    createService(L"C:\\Other\\sbay.exe", SERVICE_AUTO_START);
    EXPECT_EQ(detect(), Flags(0, 0));
    EXPECT_EQ(serviceConfig(), L"<none>");
}

TEST_F(StartWithWindowsTest, SwitchesBetweenTheModesInOrder) {
    EXPECT_EQ(apply({1, 0}, {0, 0}), Flags(1, 0));
    EXPECT_EQ(runValue(), kQuoted);
    EXPECT_EQ(detect(), Flags(1, 0));

    EXPECT_EQ(apply({1, 1}, {1, 0}), Flags(1, 1));
    EXPECT_EQ(serviceConfig(), L"2|" + kQuoted) << "automatic start, binary path in quotes";
    EXPECT_EQ(runValue(), L"<none>");
    EXPECT_EQ(detect(), Flags(1, 1));

    EXPECT_EQ(apply({1, 0}, {1, 1}), Flags(1, 0));
    EXPECT_EQ(serviceConfig(), L"<none>");
    EXPECT_EQ(runValue(), kQuoted);

    EXPECT_EQ(apply({0, 0}, {1, 0}), Flags(0, 0));
    EXPECT_EQ(runValue(), L"<none>");
    EXPECT_EQ(detect(), Flags(0, 0));
}

TEST_F(StartWithWindowsTest, KeepsTheFlagsTrueWhenAChangeFails) {
    // The name is taken by a service that does not start automatically: the
    // creation fails and the Run value, still the mode, is kept.
    putRunText(kQuoted);
    createService(kOurs, SERVICE_DEMAND_START);
    EXPECT_EQ(apply({1, 1}, {1, 0}), Flags(1, 0));
    EXPECT_EQ(runValue(), kQuoted);
    clean();

    // The service believed installed cannot be opened for deletion: both
    // flags stay set, the Run value is not written, yet unchecking removes it.
    EXPECT_EQ(apply({1, 0}, {1, 1}), Flags(1, 1));
    EXPECT_EQ(runValue(), L"<none>");
    putRunText(kQuoted);
    EXPECT_EQ(apply({0, 0}, {1, 1}), Flags(1, 1));
    EXPECT_EQ(runValue(), L"<none>");
}

// Locks the Run key with an empty access list for its lifetime, through a
// handle opened beforehand that can put the old one back.
struct LockedRunKey {
    HKEY key = nullptr;
    alignas(8) BYTE saved[4096];
    bool locked = false;
    LockedRunKey() {
        if (RegOpenKeyExW(HKEY_CURRENT_USER, kRunKey, 0, READ_CONTROL | WRITE_DAC, &key) != ERROR_SUCCESS) return;
        DWORD size = sizeof(saved);
        if (RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, saved, &size) != ERROR_SUCCESS) return;
        SECURITY_DESCRIPTOR empty;
        ACL acl;
        InitializeSecurityDescriptor(&empty, SECURITY_DESCRIPTOR_REVISION);
        InitializeAcl(&acl, sizeof(acl), ACL_REVISION);
        SetSecurityDescriptorDacl(&empty, TRUE, &acl, FALSE);
        locked = RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, &empty) == ERROR_SUCCESS;
    }
    ~LockedRunKey() {
        if (locked) RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, saved);
        if (key != nullptr) RegCloseKey(key);
    }
};

TEST_F(StartWithWindowsTest, ARunKeyThatCannotBeOpenedIsReportedAsNoRunValue) {
    putRunText(kQuoted);
    {
        LockedRunKey lock;
        ASSERT_TRUE(lock.locked);
        HKEY probe = nullptr;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, kRunKey, 0, KEY_ALL_ACCESS, &probe) == ERROR_SUCCESS) {
            RegCloseKey(probe);
            GTEST_SKIP() << "this Wine does not enforce the access list of a registry key";
        }
        EXPECT_EQ(detect(), Flags(0, 0));
        EXPECT_FALSE(setRunValue(false));
        EXPECT_EQ(apply({1, 0}, {0, 0}), Flags(0, 0));
    }
    EXPECT_EQ(runValue(), kQuoted) << "nothing was written or deleted while locked";
}

TEST_F(StartWithWindowsTest, ServiceModeNeverWritesTheRunValue) {
    serviceMode = 1;
    createService(kQuoted, SERVICE_AUTO_START);
    EXPECT_EQ(apply({1, 0}, {1, 1}), Flags(0, 0));
    EXPECT_EQ(serviceConfig(), L"<none>");
    EXPECT_EQ(runValue(), L"<none>");
    EXPECT_EQ(apply({1, 1}, {0, 0}), Flags(1, 1));
    EXPECT_EQ(runValue(), L"<none>");
}

// The service as applied starts the program from a folder with a blank in
// its name, which the quoted binary path keeps whole.
TEST_F(StartWithWindowsTest, TheAppliedServiceRunsTheProgram) {
    TempDir root;
    const std::wstring folder = root.file(L"Spindle Bay");
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    copyDistFiles(folder, {L"sbay.exe", L"sbay_6_eng.dll", L"sbay_6_rus.dll", L"diskinside.wav"});
    writeTextFile(folder + L"\\sbay.ini", "[g_propMain]\r\nnDefaultDisk=68\r\n");
    lstrcpynW(executablePath, (folder + L"\\sbay.exe").c_str(), MAX_PATH);
    EXPECT_EQ(apply({1, 1}, {0, 0}), Flags(1, 1));

    SC_HANDLE service = OpenServiceW(manager, L"sbay_svc", SERVICE_START | SERVICE_QUERY_STATUS);
    ASSERT_NE(service, nullptr);
    EXPECT_TRUE(StartServiceW(service, 0, nullptr)) << GetLastError();
    SERVICE_STATUS status{};
    for (int i = 0; i < 100 && QueryServiceStatus(service, &status) && status.dwCurrentState != SERVICE_RUNNING; ++i) {
        Sleep(100);
    }
    CloseServiceHandle(service);
    EXPECT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));
    HWND window = waitForProgramWindow(0, 15000);
    ASSERT_NE(window, nullptr) << "the service shows no main window";
    closeProgramWindow(window);
    // Running as the service, the program wrote no Run value.
    EXPECT_EQ(runValue(), L"<none>");
}

}  // namespace
