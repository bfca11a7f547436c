// The command line: what it accepts, what a running copy does with it, and sbay_sim.exe run as scripts run it.
#include "command_line/command_line.h"
#include "common/program_state.h"
#include "resources/resource_ids.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>

namespace {

int run(const std::wstring& arguments) { return runCommandLine((L"sbay.exe " + arguments).c_str()); }

// "<command number><letter or *>" as the arguments are understood, "" when they are not.
std::string understood(const wchar_t* arguments) {
    int count = 0;
    LPWSTR* list = CommandLineToArgvW((std::wstring(L"sbay.exe ") + arguments).c_str(), &count);
    ParsedCommand parsed{};
    const bool ok = parseArguments(count - 1, list + 1, parsed);
    LocalFree(list);
    return ok ? std::to_string(static_cast<int>(parsed.command)) + char(parsed.letter ? parsed.letter : '*') : "";
}

TEST(CommandLine, ArgumentsOutsideTheInterfaceAreRefusedWithTwoAndTouchNoDrive) {
    simReset();
    simConfigure('D', dataDisc(L"DATA", 1000));
    EXPECT_EQ(understood(L"/eject") + understood(L"-EJECT d:") + understood(L"/Toggle e") + understood(L"-lock Z:") +
                  understood(L"/unlock D:\\") + understood(L"/close") + understood(L"/?"),
              "1*1D3E4Z5D2*6*");
    for (const wchar_t* bad : {L"/eject D: E:", L"D:", L"/eject /close", L"/eject 1:", L"/eject DD:", L"eject",
                               L"/ejectD:", L"/? D:", L"--eject", L"/eject D:x", L"/", L"\"\""}) {
        EXPECT_EQ(run(bad), kExitNotUnderstood) << bad;
    }
    EXPECT_TRUE(simJournal().empty());
    EXPECT_EQ(runCommandLine(L"\"C:\\Program Files\\Spindlebay\\sbay.exe\"   "), kStartAsUsual);
    EXPECT_EQ(runCommandLine(L"sbay.exe\t"), kStartAsUsual);
    EXPECT_EQ(runCommandLine(L""), kStartAsUsual);
    // Whatever follows the name counts, however the name is written.
    EXPECT_EQ(runCommandLine(L"\"C:\\Program Files\\sbay.exe\"/bad"), kExitNotUnderstood);
    EXPECT_EQ(runCommandLine(L"C:\\Spindlebay\\sbay.exe\t/bad"), kExitNotUnderstood);
    EXPECT_EQ(runCommandLine(L"\"C:\\Spindle bay\\sbay.exe\" \"\""), kExitNotUnderstood);
}

TEST(CommandLine, ARunningCopyCarriesTheCommandOutAsTheMenuDoes) {
    simReset();
    simConfigure('D', dataDisc(L"DATA", 1000));
    simConfigure('E', emptyDrive());
    MainWindowHost host("[g_propMain]\r\nnDefaultDisk=69\r\n"
                        "[dpDiskProp3]\r\nbAutoCloseIn=1\r\nuAutoCloseSeconds=1\r\nbShowTime=1\r\n");
    ASSERT_NE(DriveTable[3], nullptr);
    EXPECT_EQ(run(L"/eject D:"), kExitDone);
    EXPECT_TRUE(simState('D').trayOpen);
    ASSERT_NE(DriveTable[3]->countdownDialog, nullptr);
    EXPECT_TRUE(waitUntil([] { return !simState('D').trayOpen; }, 5000)) << "the countdown did not close the tray";

    EXPECT_EQ(run(L"/toggle"), kExitDone);  // the default drive, E:
    EXPECT_TRUE(simState('E').trayOpen);
    EXPECT_EQ(run(L"/lock d"), kExitDone);
    EXPECT_TRUE(DriveTable[3]->locked && simState('D').locked);
    EXPECT_EQ(run(L"/eject d"), kExitDone);  // unlocked around the opening, as from the menu
    EXPECT_TRUE(DriveTable[3]->locked && simState('D').locked && simState('D').trayOpen);
    EXPECT_EQ(run(L"/unlock d"), kExitDone);
    EXPECT_FALSE(DriveTable[3]->locked || simState('D').locked);
    EXPECT_EQ(run(L"/close Q"), kExitRefused);
    simSetFailing('D', {"IOCTL_STORAGE_LOAD_MEDIA"});  // the door command stands in
    EXPECT_EQ(run(L"/close d"), kExitDone);
    simSetFailing('D', {"IOCTL_STORAGE_EJECT_MEDIA", "MCI"});
    EXPECT_EQ(run(L"/eject d"), kExitRefused);
    EXPECT_FALSE(simState('D').trayOpen);

    // Records that are not ours, or come after the sender stopped waiting, do nothing.
    CommandRecord good{kCommandMagic, kCommandVersion, 3, 'E', 0, GetTickCount64() + 10000};
    auto send = [&](CommandRecord record, DWORD size, ULONG_PTR id = kCommandCopyDataId) {
        COPYDATASTRUCT data{id, size, &record};
        return SendMessageW(host.window(), WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data));
    };
    CommandRecord versioned = good, command = good, letter = good, late = good;
    versioned.version = 2, command.command = 9, letter.letter = 'e', late.deadline = GetTickCount64() - 1;
    for (LRESULT result : {send(good, sizeof good - 1), send(good, sizeof good, 1), send(versioned, sizeof good),
                           send(command, sizeof good), send(letter, sizeof good), send(late, sizeof good),
                           SendMessageW(host.window(), WM_COPYDATA, 0, 0)}) {
        EXPECT_EQ(result, kExitNotUnderstood);
    }
    EXPECT_TRUE(simState('E').trayOpen);
    EXPECT_EQ(send(good, sizeof good), kExitDone);
    EXPECT_FALSE(simState('E').trayOpen);
}

// sbay_sim.exe in a folder of its own, its drives and journal beside it, its settings in a %APPDATA% of its own.
struct SimProgram {
    TempDir folder, appData;
    std::wstring program = folder.file(L"sbay_sim.exe"), settings = appData.file(L"sbay\\sbay.ini");
    SimProgram() {
        for (const wchar_t* name : {L"sbay_sim.exe", L"sbay_6_eng.dll", L"sbay_6_rus.dll"}) {
            CopyFileW((testProgramDir() + L"..\\sim\\" + name).c_str(), folder.file(name).c_str(), FALSE);
        }
        writeTextFile(folder.file(L"simdrives.ini"), "[D]\r\nmedium=data\r\n[E]\r\n");
        CreateDirectoryW(appData.file(L"sbay").c_str(), nullptr);
    }
    DWORD run(const std::wstring& arguments) {
        StartedProcess started;
        if (!startProcess(program, {L"APPDATA=" + appData.path()}, started, arguments)) return ~0u;
        return started.waitExit(20000);
    }
    int journal(const std::string& line) {
        std::string text = readTextFile(folder.file(L"simjournal.log")), wanted = line + "\r";
        text.insert(text.begin(), '\n'), wanted.insert(wanted.begin(), '\n');
        int count = 0;
        for (size_t at = text.find(wanted); at != std::string::npos; at = text.find(wanted, at + 1)) ++count;
        return count;
    }
};

TEST(CommandLine, SbaySimObeysWithAndWithoutARunningCopyAndFallsBackWhenItHangs) {
    SimProgram sim;
    // Alone, one process after the other: the drive itself keeps its tray and its lock.
    EXPECT_EQ(sim.run(L"/toggle"), 0u);  // no settings: the first optical drive
    EXPECT_EQ(sim.run(L"/toggle d"), 0u);
    EXPECT_EQ(sim.journal("D: IOCTL_STORAGE_EJECT_MEDIA -> ok") + sim.journal("D: IOCTL_STORAGE_LOAD_MEDIA -> ok"), 2);
    writeTextFile(sim.settings, "[g_propMain]\r\nnDefaultDisk=69\r\n");
    EXPECT_EQ(sim.run(L"-LOCK"), 0u);
    EXPECT_EQ(sim.run(L"/eject"), 1u);
    EXPECT_EQ(sim.journal("E: IOCTL_STORAGE_MEDIA_REMOVAL in=01 -> ok"), 1);
    EXPECT_EQ(sim.journal("E: IOCTL_STORAGE_EJECT_MEDIA -> fail"), 1);
    EXPECT_EQ(sim.run(L"/unlock e:"), 0u);
    EXPECT_EQ(sim.run(L"/close"), 0u);
    EXPECT_EQ(sim.journal("E: IOCTL_STORAGE_MEDIA_REMOVAL in=00 -> ok"), 1);
    EXPECT_EQ(sim.journal("E: IOCTL_STORAGE_LOAD_MEDIA -> ok"), 1);
    EXPECT_EQ(sim.run(L"/eject F:"), 1u);
    EXPECT_EQ(sim.run(L"/eject D: E:"), 2u);
    EXPECT_EQ(readTextFile(sim.settings), "[g_propMain]\r\nnDefaultDisk=69\r\n");
    {
        StartedProcess copy;
        ASSERT_TRUE(startProcess(sim.program, {L"APPDATA=" + sim.appData.path()}, copy));
        HWND window = waitForProgramWindow(copy.id, 10000);
        ASSERT_NE(window, nullptr);
        EXPECT_EQ(sim.run(L"/toggle d:"), 0u);
        EXPECT_EQ(sim.run(L"/toggle d:"), 0u);
        EXPECT_EQ(sim.journal("D: IOCTL_STORAGE_EJECT_MEDIA -> ok"), 2);
        EXPECT_EQ(sim.journal("D: IOCTL_STORAGE_LOAD_MEDIA -> ok"), 2);
        closeProgramWindow(window);
        EXPECT_EQ(copy.waitExit(10000), 0u);
    }
    // A window of the program's class whose thread never answers: after ten seconds the command is done all the same.
    HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE thread = CreateThread(nullptr, 0, [](void* event) -> DWORD {
        WNDCLASSW windowClass{0, DefWindowProcW, 0, 0, nullptr, nullptr, nullptr, nullptr, nullptr, kInstanceKey};
        RegisterClassW(&windowClass);
        HWND window = CreateWindowW(kInstanceKey, nullptr, 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
        WaitForSingleObject(event, INFINITE);
        DestroyWindow(window);
        UnregisterClassW(kInstanceKey, nullptr);
        return 0;
    }, release, 0, nullptr);
    ASSERT_TRUE(waitUntil([] { return FindWindowW(kInstanceKey, nullptr) != nullptr; }, 5000));
    const DWORD start = GetTickCount();
    EXPECT_EQ(sim.run(L"/eject d"), 0u);
    EXPECT_GE(GetTickCount() - start, 9000u);
    EXPECT_EQ(sim.journal("D: IOCTL_STORAGE_EJECT_MEDIA -> ok"), 3);
    SetEvent(release);
    WaitForSingleObject(thread, 5000);
    CloseHandle(thread), CloseHandle(release);
}

TEST(CommandLine, UsageIsShownInTheSettingsLanguage) {
    SimProgram sim;
    writeTextFile(sim.settings, "[g_propMain]\r\nnLanguage=1\r\n");
    wchar_t caption[50] = L"", russian[1024] = L"", shown[1024] = L"";
    HMODULE library = LoadLibraryExW(sim.folder.file(L"sbay_6_rus.dll").c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    LoadStringW(library, IDS_CMD_USAGE_CAP, caption, 50);
    LoadStringW(library, IDS_CMD_USAGE, russian, 1024);
    FreeLibrary(library);
    StartedProcess usage;
    ASSERT_TRUE(startProcess(sim.program, {L"APPDATA=" + sim.appData.path()}, usage, L"/?"));
    HWND box = nullptr;
    // The box exists a moment before its text is set.
    EXPECT_TRUE(waitUntil([&] {
        return (box = FindWindowW(L"#32770", caption)) != nullptr && GetDlgItemTextW(box, 0xFFFF, shown, 1024) > 0;
    }, 10000));
    EXPECT_NE(std::wstring(russian).find(L"/toggle"), std::wstring::npos);
    EXPECT_EQ(std::wstring(shown), russian);
    PostMessageW(box, WM_COMMAND, IDOK, 0);
    EXPECT_EQ(usage.waitExit(10000), 0u);
}

}  // namespace
