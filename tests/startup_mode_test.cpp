// The start-up mode against Wine's real registry and service manager: what
// detection finds and tidies, and what each change leaves behind.
#include "common/program_state.h"
#include "service/service.h"
#include "autostart/startup_mode.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>
#include <string>
#include <utility>

namespace {

constexpr wchar_t kRunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const std::wstring kNone = L"<none>", kOurs = L"C:\\Program Files\\Spindle Bay\\sbay.exe";
const std::wstring kQuoted = L"\"" + kOurs + L"\"";
const std::wstring kAuto = L"2|", kDemand = L"3|";  // start types as the service's configuration shows them
using Flags = std::pair<int, int>;                  // autostart, asService
using Held = std::pair<std::wstring, std::wstring>; // the Run value, the service's "start type|binary"

// Removes the Run value and the service before and after every case, also
// when a case fails, and puts back the globals it changes.
class StartWithWindowsTest : public ::testing::Test {
protected:
    void SetUp() override {
        lstrcpynW(savedPath, executablePath, MAX_PATH);
        lstrcpynW(executablePath, kOurs.c_str(), MAX_PATH);
        ASSERT_NE(manager, nullptr);
        clean();
    }
    void TearDown() override {
        serviceMode = 0;
        lstrcpynW(executablePath, savedPath, MAX_PATH);
        clean();
        CloseServiceHandle(manager);
    }
    void clean() {
        deleteService(manager);
        RegDeleteKeyValueW(HKEY_CURRENT_USER, kRunKey, L"sbay");
    }
    // Plants the Run value; `bytes` 0 means the text with its terminating null.
    void putRun(const std::wstring& text, DWORD type = REG_SZ, DWORD bytes = 0) {
        if (bytes == 0) bytes = static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t));
        ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, kRunKey, L"sbay", type, text.c_str(), bytes), ERROR_SUCCESS);
    }
    void putService(const std::wstring& config) {
        SC_HANDLE service = CreateServiceW(manager, L"sbay_svc", L"sbay_svc", SERVICE_ALL_ACCESS,
                                           SERVICE_WIN32_OWN_PROCESS | SERVICE_INTERACTIVE_PROCESS,
                                           config[0] - L'0', SERVICE_ERROR_IGNORE, config.c_str() + 2, nullptr,
                                           nullptr, nullptr, nullptr, nullptr);
        ASSERT_NE(service, nullptr) << GetLastError();
        CloseServiceHandle(service);
    }
    Held held() {
        wchar_t data[600] = L"";
        DWORD bytes = sizeof(data) - sizeof(wchar_t);
        Held now{kNone, kNone};
        if (RegGetValueW(HKEY_CURRENT_USER, kRunKey, L"sbay", RRF_RT_ANY, nullptr, data, &bytes) == 0) now.first = data;
        alignas(8) BYTE buffer[8192];
        auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer);
        if (SC_HANDLE service = OpenServiceW(manager, L"sbay_svc", SERVICE_QUERY_CONFIG)) {
            now.second = QueryServiceConfigW(service, config, sizeof(buffer), &bytes)
                             ? std::to_wstring(config->dwStartType) + L"|" + config->lpBinaryPathName
                             : L"<unreadable>";
            CloseServiceHandle(service);
        }
        return now;
    }
    Flags detect() {
        GlobalSettings settings{};
        settings.autostart = settings.asService = 7;
        detectStartupMode(settings);
        return {settings.autostart, settings.asService};
    }
    // One change of mode: the flags it reports, then what is held; `allowed` false when it must say that
    // rights were lacking.
    void apply(Flags wanted, Flags previous, Flags reached, const Held& after, bool allowed = true) {
        GlobalSettings w{}, p{};
        w.autostart = wanted.first, w.asService = wanted.second;
        p.autostart = previous.first, p.asService = previous.second;
        EXPECT_EQ(applyStartupMode(w, p), allowed);
        EXPECT_EQ(Flags(w.autostart, w.asService), reached);
        EXPECT_EQ(held(), after);
    }
    wchar_t savedPath[MAX_PATH] = L"";
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
};

TEST_F(StartWithWindowsTest, DetectsOurRunValueOrServiceAndDeletesAnyOther) {
    const std::wstring tooLong = kOurs + std::wstring(300, L'x'), other = L"C:\\Other\\sbay.exe";
    const DWORD noNull = static_cast<DWORD>(kOurs.size() * sizeof(wchar_t));
    const std::wstring otherCase = L"c:\\program files\\SPINDLE BAY\\SBAY.EXE";
    // Planted (empty for none), then found and held.
    struct Row { std::wstring runValue, serviceConfig; Flags found; Held after; DWORD type = REG_SZ, bytes = 0; };
    const Row rows[] = {
        {otherCase, L"", {1, 0}, {otherCase, kNone}},
        {kQuoted, L"", {1, 0}, {kQuoted, kNone}},
        {other, L"", {0, 0}, {kNone, kNone}},
        {tooLong, L"", {0, 0}, {kNone, kNone}},
        {kOurs, L"", {0, 0}, {kNone, kNone}, REG_BINARY, noNull},
        {kOurs, L"", {1, 0}, {kOurs, kNone}, REG_SZ, noNull},  // our path without its null still reads as ours
        // The service takes precedence over the Run value; an earlier version gave no quotes.
        {kOurs, kAuto + kOurs, {1, 1}, {kNone, kAuto + kOurs}},
        {L"", kAuto + kQuoted, {1, 1}, {kNone, kAuto + kQuoted}},
        {L"", kDemand + kOurs, {0, 0}, {kNone, kDemand + kOurs}},  // not started automatically: left alone
        {L"", kAuto + other, {0, 0}, {kNone, kNone}},
    };
    for (const Row& row : rows) {
        clean();
        if (!row.runValue.empty()) putRun(row.runValue, row.type, row.bytes);
        if (!row.serviceConfig.empty()) putService(row.serviceConfig);
        SCOPED_TRACE(testing::Message() << "Run " << row.runValue.c_str() << ", service " << row.serviceConfig.c_str());
        EXPECT_EQ(detect(), row.found);
        EXPECT_EQ(held(), row.after);
    }
}

TEST_F(StartWithWindowsTest, SwitchesBetweenTheModesInOrderAndKeepsTheFlagsWhenAChangeFails) {
    apply({1, 0}, {0, 0}, {1, 0}, {kQuoted, kNone});
    apply({1, 1}, {1, 0}, {1, 1}, {kNone, kAuto + kQuoted});
    apply({1, 0}, {1, 1}, {1, 0}, {kQuoted, kNone});
    // The name is taken by a service that does not start automatically: the
    // creation fails and the Run value, still the mode, is kept.
    putService(kDemand + kOurs);
    apply({1, 1}, {1, 0}, {1, 0}, {kQuoted, kDemand + kOurs});
    clean();
    // The service believed installed cannot be opened for deletion: both
    // flags stay set, the Run value is not written, yet unchecking removes it.
    apply({1, 0}, {1, 1}, {1, 1}, {kNone, kNone});
    putRun(kQuoted);
    apply({0, 0}, {1, 1}, {1, 1}, {kNone, kNone});
    // As the service, the program never writes the Run value.
    serviceMode = 1;
    putService(kAuto + kQuoted);
    apply({1, 0}, {1, 1}, {0, 0}, {kNone, kNone});
    apply({1, 1}, {0, 0}, {1, 1}, {kNone, kAuto + kQuoted});
}

TEST_F(StartWithWindowsTest, SaysWhenAChangeNeedsRightsTheUserLacksAndReportsTheModeInEffect) {
    putRun(kQuoted);
    {
        // Our Run value that cannot be removed still starts the program: the box stays checked.
        RunKeyRefusingWrites refusing;
        apply({0, 0}, {1, 0}, {1, 0}, {kQuoted, kNone}, false);
        EXPECT_EQ(detect(), Flags(1, 0)) << "a Run value that cannot be written is still read";
    }
    clean();
    {
        RunKeyRefusingWrites refusing;
        apply({1, 0}, {0, 0}, {0, 0}, {kNone, kNone}, false);
        apply({0, 0}, {0, 0}, {0, 0}, {kNone, kNone});  // nothing to remove, nothing refused
    }
    apply({1, 0}, {0, 0}, {1, 0}, {kQuoted, kNone});
}

}  // namespace
