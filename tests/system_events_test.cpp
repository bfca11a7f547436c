// How the program follows the system, by the real messages sent to its main
// window: drives arriving and leaving, sleep and wake-up, the end of the
// session, hot keys, a new taskbar and a second start.
#include "app/app.h"
#include "tray/common_icon.h"
#include "app/system_events.h"
#include "drives/device_commands.h"
#include "drives/drive_icon.h"
#include "drives/tray_icon.h"
#include "resources/language.h"
#include "resources/resource_ids.h"
#include "service/service.h"
#include "tests/drive_test_support.h"
#include "tests/test_support.h"

#include <dbt.h>
#include <gtest/gtest.h>

namespace {

class SystemEventsTest : public ::testing::Test {
protected:
    void SetUp() override {
        simReset();
        serviceMode = 0;
        shutdownHandled = 0;
    }
    void TearDown() override {
        host.reset();
        serviceMode = 0;
    }
    void start(const std::string& settings = std::string()) { host = std::make_unique<MainWindowHost>(settings); }
    static LRESULT volumeBroadcast(WPARAM event, DWORD flags) {
        DEV_BROADCAST_VOLUME volume{};
        volume.dbcv_size = sizeof volume;
        volume.dbcv_devicetype = DBT_DEVTYP_VOLUME;
        volume.dbcv_unitmask = 0x30;  // E: and F:, which the program does not consult
        volume.dbcv_flags = static_cast<WORD>(flags);
        return SendMessageW(mainWindow, WM_DEVICECHANGE, event, reinterpret_cast<LPARAM>(&volume));
    }
    static std::wstring ejectedText(wchar_t letter) {
        wchar_t text[64];
        formatText(text, 64, englishString(IDS_EJECTED).c_str(), {letter});
        return text;
    }
    std::unique_ptr<MainWindowHost> host;
};

TEST_F(SystemEventsTest, ArrivalsAddOneDriveAndRemovalsTakeOneAway) {
    start();
    ASSERT_NE(commonIconRecord, nullptr);
    simConfigure(L'E', emptyDrive());
    simConfigure(L'F', emptyDrive());
    EXPECT_EQ(volumeBroadcast(DBT_DEVICEARRIVAL, DBTF_MEDIA), TRUE);
    EXPECT_EQ(driveRecordCount, 0) << "a medium arriving is the monitor's business";

    EXPECT_EQ(volumeBroadcast(DBT_DEVICEARRIVAL, 0), TRUE);
    EXPECT_NE(DriveTable[5], nullptr) << "the higher letter comes first";
    EXPECT_EQ(DriveTable[4], nullptr) << "one drive per message";
    EXPECT_EQ(commonIconRecord, nullptr) << "the first drive replaces the common icon";
    volumeBroadcast(DBT_DEVICEARRIVAL, 0);
    EXPECT_NE(DriveTable[4], nullptr);

    simSetPresent(L'E', false);
    simSetPresent(L'F', false);
    volumeBroadcast(DBT_DEVICEREMOVECOMPLETE, DBTF_MEDIA);
    EXPECT_EQ(driveRecordCount, 2);
    volumeBroadcast(DBT_DEVICEREMOVECOMPLETE, 0);
    EXPECT_EQ(DriveTable[5], nullptr);
    EXPECT_NE(DriveTable[4], nullptr);
    EXPECT_EQ(commonIconRecord, nullptr);
    volumeBroadcast(DBT_DEVICEREMOVECOMPLETE, 0);
    EXPECT_EQ(driveRecordCount, 0);
    EXPECT_NE(commonIconRecord, nullptr) << "the last drive gone brings the common icon back";
}

TEST_F(SystemEventsTest, NodeChangesResynchroniseEveryLetter) {
    simConfigure(L'D', emptyDrive());
    simConfigure(L'G', emptyDrive());
    start();
    simSetPresent(L'D', false);
    simConfigure(L'H', emptyDrive());
    simConfigure(L'K', emptyDrive());
    EXPECT_EQ(SendMessageW(mainWindow, WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0), TRUE);
    EXPECT_EQ(DriveTable[3], nullptr);
    EXPECT_NE(DriveTable[6], nullptr);
    EXPECT_NE(DriveTable[7], nullptr);
    EXPECT_NE(DriveTable[10], nullptr);
    EXPECT_EQ(driveRecordCount, 3);
    EXPECT_EQ(commonIconRecord, nullptr);
}

TEST_F(SystemEventsTest, MalformedBroadcastsChangeNothing) {
    start();
    simConfigure(L'E', emptyDrive());
    DEV_BROADCAST_HDR port{sizeof port, DBT_DEVTYP_PORT, 0};
    DEV_BROADCAST_HDR shortVolume{sizeof shortVolume, DBT_DEVTYP_VOLUME, 0};  // too small for a volume
    for (LPARAM data : {LPARAM{0}, LPARAM{0x10}, reinterpret_cast<LPARAM>(&port),
                        reinterpret_cast<LPARAM>(&shortVolume)}) {
        EXPECT_EQ(SendMessageW(mainWindow, WM_DEVICECHANGE, DBT_DEVICEARRIVAL, data), TRUE);
        EXPECT_EQ(SendMessageW(mainWindow, WM_DEVICECHANGE, DBT_DEVICEREMOVECOMPLETE, data), TRUE);
    }
    EXPECT_EQ(SendMessageW(mainWindow, WM_DEVICECHANGE, 0x1234, 0x10), TRUE);
    EXPECT_EQ(driveRecordCount, 0);
}

TEST_F(SystemEventsTest, SuspendEjectsTheFirstDiscAndRefusesToSleep) {
    simConfigure(L'D', dataDisc(L"ONE", 1000));
    simConfigure(L'E', dataDisc(L"TWO", 1000));
    start("[dpDiskProp3]\r\nbLogOffEject=1\r\nbHide=1\r\n[dpDiskProp4]\r\nbLogOffEject=1\r\nbBeepDiskInside=1\r\n");
    EXPECT_EQ(DriveTable[3]->trayIcon, nullptr);
    EXPECT_EQ(SendMessageW(mainWindow, WM_POWERBROADCAST, PBT_APMQUERYSUSPEND, 0), BROADCAST_QUERY_DENY);
    EXPECT_TRUE(simState(L'D').trayOpen);
    EXPECT_FALSE(simState(L'E').trayOpen) << "drives after the ejected one are not looked at";
    EXPECT_FALSE(journalHas("sound \"" + std::string(soundPath, soundPath + lstrlenW(soundPath)) + "\""));
    ASSERT_NE(DriveTable[3]->trayIcon, nullptr) << "the hidden drive shows its icon for the balloon";
    EXPECT_EQ(std::wstring(DriveTable[3]->trayIcon->data.szInfo), ejectedText(L'D'));
    EXPECT_EQ(std::wstring(DriveTable[3]->trayIcon->data.szInfoTitle), productString);
    EXPECT_EQ(DriveTable[3]->trayIcon->data.dwInfoFlags, static_cast<DWORD>(NIIF_INFO));
}

TEST_F(SystemEventsTest, SinceVistaTheSuspendItselfEjectsEveryDiscWithoutRefusing) {
    simConfigure(L'D', dataDisc(L"ONE", 1000));
    simConfigure(L'E', dataDisc(L"TWO", 1000));
    simConfigure(L'F', dataDisc(L"KEEP", 1000));
    start("[dpDiskProp3]\r\nbLogOffEject=1\r\n[dpDiskProp4]\r\nbLogOffEject=1\r\nbHide=1\r\n");
    isVistaOrLater = 0;  // before Vista the suspend follows a query, which did the work
    EXPECT_EQ(SendMessageW(mainWindow, WM_POWERBROADCAST, PBT_APMSUSPEND, 0), TRUE);
    EXPECT_FALSE(simState(L'D').trayOpen);
    isVistaOrLater = 1;
    EXPECT_EQ(SendMessageW(mainWindow, WM_POWERBROADCAST, PBT_APMSUSPEND, 0), TRUE);
    EXPECT_TRUE(simState(L'D').trayOpen);
    EXPECT_TRUE(simState(L'E').trayOpen);
    EXPECT_FALSE(simState(L'F').trayOpen);
    for (wchar_t letter : {L'D', L'E'}) {
        ASSERT_NE(DriveTable[letter - L'A']->trayIcon, nullptr);
        EXPECT_EQ(std::wstring(DriveTable[letter - L'A']->trayIcon->data.szInfo), ejectedText(letter));
    }
}

TEST_F(SystemEventsTest, SuspendWithoutEjectingDrivesBeepsAndAllowsSleep) {
    simConfigure(L'D', dataDisc(L"ONE", 1000));
    simConfigure(L'E', emptyDrive());
    start("[dpDiskProp3]\r\nbBeepDiskInside=1\r\n[dpDiskProp4]\r\nbBeepDiskInside=1\r\nbLogOffEject=1\r\n");
    simClearJournal();
    EXPECT_EQ(SendMessageW(mainWindow, WM_POWERBROADCAST, PBT_APMQUERYSUSPEND, 0), TRUE);
    const std::string sound = "sound \"" + std::string(soundPath, soundPath + lstrlenW(soundPath)) + "\"";
    int beeps = 0;
    for (const std::string& line : simJournal()) beeps += line == sound;
    EXPECT_EQ(beeps, 1) << "only D: holds a disc";
    EXPECT_FALSE(simState(L'D').trayOpen);
}

TEST_F(SystemEventsTest, WakingUpAppliesTheWantedLocksAgain) {
    simConfigure(L'D', emptyDrive());
    start("[dpDiskProp3]\r\nbHide=1\r\nbLock=1\r\n");
    simClearJournal();
    EXPECT_EQ(SendMessageW(mainWindow, WM_POWERBROADCAST, PBT_APMRESUMEAUTOMATIC, 0), TRUE);
    EXPECT_TRUE(simState(L'D').locked);
    EXPECT_EQ(SendMessageW(mainWindow, WM_POWERBROADCAST, PBT_APMPOWERSTATUSCHANGE, 0), TRUE);
}

// Answers the message box of the session's end, noting what it said.
// With `askAgainAtFirstBox`, a second end-session query arrives while the
// first box shows, as it does when the system asks twice.
std::vector<std::wstring> boxesSeen;
bool askAgainAtFirstBox = false;
LRESULT secondAnswer = -1;
void CALLBACK answerBoxTimer(HWND, UINT, UINT_PTR, DWORD) {
    HWND box = FindWindowW(L"#32770", nullptr);
    if (box == nullptr || !IsWindowVisible(box)) return;
    if (askAgainAtFirstBox) {
        askAgainAtFirstBox = false;
        secondAnswer = SendMessageW(mainWindow, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF);
    }
    wchar_t caption[64] = L"";
    GetWindowTextW(box, caption, 64);
    wchar_t text[128] = L"";
    GetDlgItemTextW(box, 0xFFFF, text, 128);  // the static text of a message box
    boxesSeen.push_back(std::wstring(caption) + L"|" + text + L"|" + (simState(L'D').trayOpen ? L"D open" : L"") +
                        (simState(L'E').trayOpen ? L"E open" : L""));
    PostMessageW(box, WM_COMMAND, IDOK, 0);
}

TEST_F(SystemEventsTest, LogOffEjectsEachDiscBehindAMessageAndClosesAgain) {
    simConfigure(L'D', dataDisc(L"ONE", 1000));
    simConfigure(L'E', audioDisc(3));
    simConfigure(L'F', dataDisc(L"KEEP", 1000));
    start("[dpDiskProp3]\r\nbLogOffEject=1\r\nbHide=1\r\n[dpDiskProp4]\r\nbLogOffEject=1\r\nbHide=1\r\n"
          "[dpDiskProp5]\r\nbHide=1\r\n");
    boxesSeen.clear();
    askAgainAtFirstBox = true;
    const UINT_PTR timer = SetTimer(nullptr, 0, 200, answerBoxTimer);
    EXPECT_EQ(SendMessageW(mainWindow, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF), TRUE);
    KillTimer(nullptr, timer);
    EXPECT_EQ(secondAnswer, TRUE) << "the query asked during the handling is allowed at once";
    int ejects = 0;
    for (const std::string& line : simJournal()) ejects += line == "E: IOCTL_STORAGE_EJECT_MEDIA -> ok";
    EXPECT_EQ(ejects, 1) << "the second query must not run the handling again";
    const std::wstring caption = englishString(IDS_EJECTED_CAP);
    ASSERT_EQ(boxesSeen.size(), 2u);
    EXPECT_EQ(boxesSeen[0], caption + L"|" + ejectedText(L'D') + L"|D open");
    EXPECT_EQ(boxesSeen[1], caption + L"|" + ejectedText(L'E') + L"|E open");
    EXPECT_FALSE(simState(L'D').trayOpen) << "closed again after the box";
    EXPECT_FALSE(simState(L'E').trayOpen);
    EXPECT_FALSE(journalHas("F: IOCTL_STORAGE_EJECT_MEDIA -> ok"));
}

TEST_F(SystemEventsTest, AsAServiceOnlyTheFirstShutdownCounts) {
    simConfigure(L'D', dataDisc(L"ONE", 1000));
    start("[dpDiskProp3]\r\nbLogOffEject=1\r\nbHide=1\r\n");
    serviceMode = 1;
    boxesSeen.clear();
    const UINT_PTR timer = SetTimer(nullptr, 0, 200, answerBoxTimer);
    EXPECT_EQ(SendMessageW(mainWindow, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF), TRUE);
    EXPECT_TRUE(boxesSeen.empty()) << "a log-off changes nothing for the service";
    EXPECT_EQ(SendMessageW(mainWindow, WM_QUERYENDSESSION, 0, 0), TRUE);
    EXPECT_EQ(boxesSeen.size(), 1u);
    EXPECT_EQ(SendMessageW(mainWindow, WM_QUERYENDSESSION, 0, 0), TRUE);
    EXPECT_EQ(boxesSeen.size(), 1u) << "the disc handling runs once per process";
    KillTimer(nullptr, timer);
}

TEST_F(SystemEventsTest, DriveHotKeysOpenAndCloseTheirTrays) {
    simConfigure(L'A', emptyDrive());
    simConfigure(L'D', emptyDrive());
    start("[g_propMain]\r\nnDefaultDisk=68\r\n[dpDiskProp0]\r\nbHide=1\r\n[dpDiskProp3]\r\nbHide=1\r\n");
    SendMessageW(mainWindow, WM_HOTKEY, 0x100, 0);  // open A:
    EXPECT_TRUE(simState(L'A').trayOpen);
    SendMessageW(mainWindow, WM_HOTKEY, 0, 0);  // close A:, whose id is 0
    EXPECT_FALSE(simState(L'A').trayOpen);
    SendMessageW(mainWindow, WM_HOTKEY, 0x201, 0);  // open the default drive
    EXPECT_TRUE(simState(L'D').trayOpen);
    SendMessageW(mainWindow, WM_HOTKEY, 0x300, 0);
    EXPECT_FALSE(simState(L'D').trayOpen);

    // Ids that name no drive with a record do nothing.
    simClearJournal();
    for (WPARAM id : {WPARAM{0x1A}, WPARAM{0x1FF}, WPARAM{0x119}, WPARAM{0x105}, WPARAM{0x500}, WPARAM{0xFFFF}}) {
        SendMessageW(mainWindow, WM_HOTKEY, id, 0);
    }
    liveSettings.global.nDefaultDisk = 'Z';
    SendMessageW(mainWindow, WM_HOTKEY, 0x201, 0);
    liveSettings.global.nDefaultDisk = 0;
    SendMessageW(mainWindow, WM_HOTKEY, 0x300, 0);
    for (const std::string& line : simJournal()) EXPECT_EQ(line.find("EJECT"), std::string::npos) << line;
}

TEST_F(SystemEventsTest, SelectingTheNextDefaultDrivePassesOverHiddenOnes) {
    simConfigure(L'D', emptyDrive());
    simConfigure(L'E', emptyDrive());
    simConfigure(L'F', emptyDrive());
    start("[g_propMain]\r\nnDefaultDisk=68\r\n[dpDiskProp4]\r\nbHide=1\r\n");
    auto select = [] { SendMessageW(mainWindow, WM_HOTKEY, 0x400, 0); };
    select();
    EXPECT_EQ(liveSettings.global.nDefaultDisk, 'F');
    select();
    EXPECT_EQ(liveSettings.global.nDefaultDisk, 'D') << "wraps from Z: to A:";

    setIconVisible(DriveTable[5], false);  // only D: shows an icon now
    select();
    EXPECT_EQ(liveSettings.global.nDefaultDisk, 'D');

    // No default drive (or one outside the letters): the search starts at A:.
    for (int32_t value : {0, 7, 200}) {
        liveSettings.global.nDefaultDisk = value;
        select();
        EXPECT_EQ(liveSettings.global.nDefaultDisk, 'D') << value;
    }
    // With no icon at all the value ends on the last drive met.
    setIconVisible(DriveTable[3], false);
    select();
    EXPECT_EQ(liveSettings.global.nDefaultDisk, 'F');
}

TEST_F(SystemEventsTest, ANewTaskbarGetsEveryIconAgain) {
    simConfigure(L'D', emptyDrive());
    simConfigure(L'E', emptyDrive());
    start("[dpDiskProp4]\r\nbHide=1\r\n");
    DriveRecord* d = DriveTable[3];
    Shell_NotifyIconW(NIM_DELETE, &d->trayIcon->data);  // the shell lost it
    d->trayIcon->added = 0;
    SendMessageW(mainWindow, msgTaskbarCreated, 0, 0);
    EXPECT_NE(d->trayIcon->added, 0);
    EXPECT_EQ(DriveTable[4]->trayIcon, nullptr) << "a hidden drive stays hidden";
    EXPECT_EQ(trayIconCount, 1);
}

TEST_F(SystemEventsTest, ATaskbarCreatedWhileTheIconsExistKeepsThemWorkingAtOnce) {
    simConfigure(L'D', emptyDrive());
    simConfigure(L'E', emptyDrive());
    simConfigure(L'F', emptyDrive());
    start();
    const ULONGLONG before = GetTickCount64();
    for (int i = 0; i < 3; ++i) SendMessageW(mainWindow, msgTaskbarCreated, 0, 0);
    EXPECT_LT(GetTickCount64() - before, 1500u) << "the window was deaf while icons were re-added";
    for (int index : {3, 4, 5}) {
        ASSERT_NE(DriveTable[index]->trayIcon, nullptr);
        EXPECT_NE(DriveTable[index]->trayIcon->added, 0) << index;
    }
    // Still the shell's: removing the drive takes its icon away.
    NOTIFYICONDATAW data = DriveTable[5]->trayIcon->data;
    simSetPresent(L'F', false);
    SendMessageW(mainWindow, WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0);
    ASSERT_EQ(DriveTable[5], nullptr);
    data.uFlags = NIF_TIP;
    EXPECT_FALSE(Shell_NotifyIconW(NIM_MODIFY, &data)) << "the removed drive left its icon behind";
}

TEST_F(SystemEventsTest, ANewTaskbarGetsTheCommonIconAgain) {
    start();
    ASSERT_NE(commonIconRecord, nullptr);
    Shell_NotifyIconW(NIM_DELETE, &commonIconRecord->data);
    commonIconRecord->added = 0;
    SendMessageW(mainWindow, msgTaskbarCreated, 0, 0);
    EXPECT_NE(commonIconRecord->added, 0);
    EXPECT_EQ(trayIconCount, 1);
}

TEST_F(SystemEventsTest, ASecondStartGreetsOnTheRightIcon) {
    const std::wstring greeting = englishString(IDS_SECOND_START);
    {
        start();
        commonIconRecord->data.szInfo[0] = L'\0';
        SendMessageW(mainWindow, msgSecondInstance, 0, 0);
        EXPECT_EQ(std::wstring(commonIconRecord->data.szInfo), greeting);
        host.reset();
    }
    simConfigure(L'D', emptyDrive());
    simConfigure(L'E', emptyDrive());
    start("[dpDiskProp3]\r\nbHide=1\r\n[dpDiskProp4]\r\nbHide=1\r\n");
    EXPECT_EQ(trayIconCount, 0);
    SendMessageW(mainWindow, msgSecondInstance, 0, 0);
    ASSERT_NE(DriveTable[4]->trayIcon, nullptr) << "the Z-most drive shows its icon for the balloon";
    EXPECT_EQ(std::wstring(DriveTable[4]->trayIcon->data.szInfo), greeting);
    EXPECT_EQ(DriveTable[3]->trayIcon, nullptr);

    // D: hidden while E: shows: the balloon goes on E:, D: stays hidden.
    SendMessageW(mainWindow, msgSecondInstance, 0, 0);
    EXPECT_EQ(DriveTable[3]->trayIcon, nullptr);
}

}  // namespace
