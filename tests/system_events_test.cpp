// The main window hosted in the test: start-up and shut-down, and how it follows the system's messages.
#include "app/app.h"
#include "tray/common_icon.h"
#include "app/system_events.h"
#include "drives/device_commands.h"
#include "drives/drive_icon.h"
#include "drives/tray_icon.h"
#include "resources/resource_ids.h"
#include "service/service.h"
#include "tests/test_support.h"

#include <dbt.h>
#include <gtest/gtest.h>

namespace {

LRESULT deviceChange(WPARAM event, LPARAM data) { return SendMessageW(mainWindow, WM_DEVICECHANGE, event, data); }
LRESULT power(WPARAM event) { return SendMessageW(mainWindow, WM_POWERBROADCAST, event, 0); }
LRESULT taskbarCreated() { return SendMessageW(mainWindow, msgTaskbarCreated, 0, 0); }

std::wstring balloonOf(int slot) { return DriveTable[slot]->trayIcon->data.szInfo; }

// The letters that have a drive record, and "+" while the common icon stands in.
std::string drivesSeen() {
    std::string seen;
    for (int i = 0; i < kDriveCount; ++i) seen += DriveTable[i] ? std::string(1, char('A' + i)) : "";
    return commonIconRecord ? seen + "+" : seen;
}

std::string openTrays() {
    std::string open;
    for (char letter : {'D', 'E', 'F', 'G'}) open += simState(letter).trayOpen ? std::string(1, letter) : "";
    return open;
}

class SystemEventsTest : public ::testing::Test {
protected:
    void SetUp() override { simReset(); serviceMode = 0; shutdownHandled = 0; }
    void TearDown() override { host.reset(); serviceMode = 0; }
    void start(const std::string& settings = "") { host = std::make_unique<MainWindowHost>(settings); }
    std::unique_ptr<MainWindowHost> host;
};

// sbay_sim.exe's drives live in simdrives.ini: taking a drive out of the file
// or putting one in is announced as Windows announces a volume.
TEST_F(SystemEventsTest, DrivesTakenOutOfOrPutIntoTheSimulatorsFileAreBroadcast) {
    TempDir folder;
    writeTextFile(folder.file(L"simdrives.ini"), "[D]\r\n[E]\r\nmedium=audio\r\n");
    simUseFolder(folder.path().c_str());
    start();
    ASSERT_EQ(drivesSeen(), "DE");
    writeTextFile(folder.file(L"simdrives.ini"), "[E]\r\nmedium=audio\r\n");
    EXPECT_TRUE(waitUntil([] { return drivesSeen() == "E"; }, 3000)) << drivesSeen();
    writeTextFile(folder.file(L"simdrives.ini"), "[F]\r\n");
    EXPECT_TRUE(waitUntil([] { return drivesSeen() == "F"; }, 3000)) << drivesSeen();
    writeTextFile(folder.file(L"simdrives.ini"), "");
    EXPECT_TRUE(waitUntil([] { return drivesSeen() == "+"; }, 3000)) << drivesSeen();
    host.reset();
    simReset();
}

TEST_F(SystemEventsTest, ANewTaskbarGetsEveryIconAgainAndDrivesComeAndGoOneVolumeMessageOrNodeChangeAtATime) {
    for (wchar_t letter : {L'D', L'E', L'F'}) simConfigure(letter, emptyDrive());
    start("[dpDiskProp5]\r\nbHide=1\r\n");
    DriveRecord* d = DriveTable[3];
    Shell_NotifyIconW(NIM_DELETE, &d->trayIcon->data);  // the shell lost D:'s icon but kept E:'s
    d->trayIcon->added = 0;
    const ULONGLONG before = GetTickCount64();
    for (int i = 0; i < 3; ++i) taskbarCreated();
    EXPECT_LT(GetTickCount64() - before, 1500u) << "the window was deaf while icons were re-added";
    EXPECT_TRUE(d->trayIcon->added && DriveTable[4]->trayIcon->added);
    EXPECT_EQ(DriveTable[5]->trayIcon, nullptr) << "a hidden drive stays hidden";
    EXPECT_EQ(trayIconCount, 2);
    // Still the shell's: removing the drive takes its icon away.
    NOTIFYICONDATAW kept = DriveTable[4]->trayIcon->data;
    kept.uFlags = NIF_TIP;
    for (wchar_t letter : {L'D', L'E', L'F'}) simSetPresent(letter, false);
    EXPECT_EQ(deviceChange(DBT_DEVNODES_CHANGED, 0), TRUE);
    ASSERT_EQ(driveRecordCount, 0);
    EXPECT_FALSE(Shell_NotifyIconW(NIM_MODIFY, &kept)) << "the removed drive left its icon behind";
    ASSERT_NE(commonIconRecord, nullptr) << "the last drive gone brings the common icon back";
    Shell_NotifyIconW(NIM_DELETE, &commonIconRecord->data);
    commonIconRecord->added = 0;
    taskbarCreated();
    EXPECT_TRUE(commonIconRecord->added && trayIconCount == 1);

    DEV_BROADCAST_HDR port{sizeof port, DBT_DEVTYP_PORT, 0}, shortVolume{sizeof shortVolume, DBT_DEVTYP_VOLUME, 0};
    DEV_BROADCAST_VOLUME volume{sizeof volume, DBT_DEVTYP_VOLUME, 0, 0x30, 0}, medium = volume;
    medium.dbcv_flags = DBTF_MEDIA;  // a medium coming or going is the monitor's business
    const LPARAM data = reinterpret_cast<LPARAM>(&volume), mediumData = reinterpret_cast<LPARAM>(&medium);
    for (wchar_t letter : {L'E', L'F'}) simSetPresent(letter, true);
    for (LPARAM odd : {LPARAM{0}, LPARAM{0x10}, reinterpret_cast<LPARAM>(&port), reinterpret_cast<LPARAM>(&shortVolume),
                       mediumData}) {
        for (WPARAM event : {DBT_DEVICEARRIVAL, DBT_DEVICEREMOVECOMPLETE, 0x1234})
            EXPECT_EQ(deviceChange(event, odd), TRUE);
    }
    EXPECT_EQ(drivesSeen(), "+") << "a malformed or medium broadcast changed the drives";
    // One drive per volume message, the higher letter first; a node change looks at every letter.
    const struct { const wchar_t* present; WPARAM event; LPARAM data; const char* drives; } steps[] = {
        {L"EF", DBT_DEVICEARRIVAL, data, "F"},        {L"EF", DBT_DEVICEARRIVAL, data, "EF"},
        {L"", DBT_DEVICEREMOVECOMPLETE, mediumData, "EF"}, {L"", DBT_DEVICEREMOVECOMPLETE, data, "E"},
        {L"", DBT_DEVICEREMOVECOMPLETE, data, "+"},   {L"HK", DBT_DEVNODES_CHANGED, 0, "HK"},
        {L"K", DBT_DEVNODES_CHANGED, 0, "K"},
    };
    for (const auto& step : steps) {
        for (wchar_t letter : {L'E', L'F', L'H', L'K'}) simSetPresent(letter, wcschr(step.present, letter) != nullptr);
        EXPECT_EQ(deviceChange(step.event, step.data), TRUE);
        EXPECT_EQ(drivesSeen(), step.drives) << step.event << " with " << step.present;
    }
}

// Answers the session's end's message box, noting its words and the open trays; the first sees a second query.
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
    wchar_t caption[64] = L"", text[128] = L"";
    GetWindowTextW(box, caption, 64);
    GetDlgItemTextW(box, 0xFFFF, text, 128);  // the static text of a message box
    const std::string open = openTrays();
    boxesSeen.push_back(std::wstring(caption) + L"|" + text + L"|" + std::wstring(open.begin(), open.end()));
    PostMessageW(box, WM_COMMAND, IDOK, 0);
}

TEST_F(SystemEventsTest, SleepAndTheSessionsEndEjectTheChosenDiscsOthersBeepAndWakingUpLocks) {
    simConfigure(L'D', dataDisc(L"ONE", 1000));
    simConfigure(L'E', audioDisc(3));
    simConfigure(L'F', dataDisc(L"KEEP", 1000));
    simConfigure(L'G', emptyDrive());
    start("[dpDiskProp3]\r\nbLogOffEject=1\r\nbHide=1\r\n[dpDiskProp4]\r\nbLogOffEject=1\r\nbBeepDiskInside=1\r\n"
          "[dpDiskProp5]\r\nbBeepDiskInside=1\r\n[dpDiskProp6]\r\nbBeepDiskInside=1\r\nbHide=1\r\nbLock=1\r\n");
    const std::string sound = "sound \"" + std::string(soundPath, soundPath + lstrlenW(soundPath)) + "\"";
    const struct { const char *closing, *open; int vista; WPARAM event; LRESULT answer; int sounds, async; } steps[] = {
        {"", "D", 1, PBT_APMQUERYSUSPEND, BROADCAST_QUERY_DENY, 0, 0},  // the drives after the ejected one wait
        {"D", "", 0, PBT_APMSUSPEND, TRUE, 0, 0},  // before Vista the suspend follows a query, which did the work
        {"", "DE", 1, PBT_APMSUSPEND, TRUE, 0, 2},  // since Vista every disc comes out, the sounds do not hold it up
        {"", "DE", 1, PBT_APMQUERYSUSPEND, TRUE, 1, 0},  // nothing left to eject: the sleep is allowed, F: beeps
    };
    for (const auto& step : steps) {
        for (const char* letter = step.closing; *letter; ++letter) simSetTray(*letter, false);
        isVistaOrLater = step.vista;
        simClearJournal();
        EXPECT_EQ(power(step.event), step.answer) << step.event;
        EXPECT_EQ(openTrays(), step.open) << step.event;
        EXPECT_EQ(journalCount(sound), step.sounds) << step.event;
        EXPECT_EQ(journalCount(sound + " async"), step.async) << step.event;
    }
    ASSERT_TRUE(DriveTable[3]->trayIcon && DriveTable[4]->trayIcon) << "the hidden drive shows an icon for the balloon";
    const std::wstring ejectedD = english(IDS_EJECTED, {L'D'}), ejectedE = english(IDS_EJECTED, {L'E'});
    EXPECT_EQ(balloonOf(3) + L"|" + balloonOf(4), ejectedD + L"|" + ejectedE);
    EXPECT_EQ(std::wstring(DriveTable[3]->trayIcon->data.szInfoTitle), productString);
    setLock(DriveTable[6], 0);  // the sleep lost the lock; the hidden drive has no monitor to renew it
    ASSERT_FALSE(simState(L'G').locked);
    EXPECT_EQ(power(PBT_APMRESUMEAUTOMATIC), TRUE);
    EXPECT_TRUE(simState(L'G').locked);

    // The session's end: each disc comes out behind a message box and goes in again after it.
    for (char letter : {'D', 'E'}) simSetTray(letter, false);
    simClearJournal();
    boxesSeen.clear();
    askAgainAtFirstBox = true;
    const UINT_PTR timer = SetTimer(nullptr, 0, 200, answerBoxTimer);
    EXPECT_EQ(SendMessageW(mainWindow, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF), TRUE);
    EXPECT_EQ(secondAnswer, TRUE) << "the query asked during the handling is allowed at once";
    EXPECT_EQ(journalCount("E: IOCTL_STORAGE_EJECT_MEDIA -> ok"), 1) << "the second query ran the handling again";
    const std::wstring caption = englishString(IDS_EJECTED_CAP);
    EXPECT_EQ(boxesSeen, (std::vector<std::wstring>{caption + L"|" + ejectedD + L"|D",
                                                    caption + L"|" + ejectedE + L"|E"}));
    EXPECT_EQ(openTrays(), "");
    EXPECT_EQ(journalCount("F: IOCTL_STORAGE_EJECT_MEDIA -> ok"), 0);
    serviceMode = 1;  // a log-off is not the service's end; the machine's end is handled once
    const struct { LPARAM reason; size_t boxesAfter; } queries[] = {{ENDSESSION_LOGOFF, 2}, {0, 4}, {0, 4}};
    for (const auto& query : queries) {
        EXPECT_EQ(SendMessageW(mainWindow, WM_QUERYENDSESSION, 0, query.reason), TRUE);
        EXPECT_EQ(boxesSeen.size(), query.boxesAfter) << query.reason;
    }
    KillTimer(nullptr, timer);
}

TEST_F(SystemEventsTest, HotKeysNamingNoDriveDoNothingTheNextDefaultDrivePassesOverHiddenOnesAndASecondStartGreets) {
    for (wchar_t letter : {L'A', L'D', L'E', L'F'}) simConfigure(letter, emptyDrive());
    start("[g_propMain]\r\nnDefaultDisk=68\r\n[dpDiskProp0]\r\nbHide=1\r\n[dpDiskProp4]\r\nbHide=1\r\n");
    auto hotKey = [](WPARAM id) { SendMessageW(mainWindow, WM_HOTKEY, id, 0); };
    simClearJournal();
    for (WPARAM id : {WPARAM{0x1A}, WPARAM{0x1FF}, WPARAM{0x107}, WPARAM{0x500}, WPARAM{0xFFFF}}) hotKey(id);
    for (int32_t defaultDrive : {int32_t{'Z'}, 0}) {
        liveSettings.global.nDefaultDisk = defaultDrive;
        hotKey(0x201);
        hotKey(0x300);
    }
    for (const std::string& line : simJournal()) {
        EXPECT_TRUE(line.find("EJECT") == std::string::npos && line.find("LOAD_MEDIA") == std::string::npos) << line;
    }

    auto select = [&](int32_t from) {
        liveSettings.global.nDefaultDisk = from;
        hotKey(0x400);
        return liveSettings.global.nDefaultDisk;
    };
    EXPECT_EQ(select('D'), 'F');
    setIconVisible(DriveTable[5], false);  // only D: shows an icon now
    for (int32_t from : {int32_t{'D'}, 0, 200}) EXPECT_EQ(select(from), 'D') << from;  // outside the letters: from A:
    setIconVisible(DriveTable[3], false);
    EXPECT_EQ(select('D'), 'F') << "with no icon at all the last drive met";
    SendMessageW(mainWindow, msgSecondInstance, 0, 0);  // a second start greets on the last drive's icon
    ASSERT_NE(DriveTable[5]->trayIcon, nullptr);
    EXPECT_EQ(balloonOf(5), englishString(IDS_SECOND_START));
    EXPECT_EQ(trayIconCount, 1) << "the others stay hidden";
}

TEST(Startup, WithoutDrivesTheCommonIconStandsInSettingsStayUntouchedAndShutDownQuitsWithZeroAndLeaksNothing) {
    simReset();
    const std::string settings = "[g_propMain]\r\nnLanguage=7\r\nnDefaultDisk=68\r\n";
    {
        MainWindowHost host(settings);
        EXPECT_FALSE(IsWindowVisible(host.window()));
        ASSERT_NE(commonIconRecord, nullptr);
        EXPECT_TRUE(trayIconCount == 1 && commonIconRecord->added) << "the notification area refused the icon";
        EXPECT_NE(commonIconRecord->data.szTip, englishString(IDS_COMMON_TIP)) << "any language but 0 is Russian";
        host.destroy();
        EXPECT_EQ(readTextFile(host.settingsFile()), settings) << "no drive record, so not even the default drive";
    }
    { MainWindowHost warmUp; }  // first use loads libraries and caches for good
    const int gdi = freeGdiSlots(), handles = liveKernelHandles();
    for (int i = 0; i < 10; ++i) {
        MainWindowHost host;
        const HICON made[] = {templateIcon, busyIcon, commonIcon};
        host.destroy();
        ASSERT_TRUE(host.sawQuit());
        EXPECT_EQ(host.quitCode(), 0);
        EXPECT_FALSE(fileExists(host.appData().file(L"sbay"))) << "no drive, so nothing to write";
        ICONINFO info{};
        for (HICON icon : made) EXPECT_FALSE(GetIconInfo(icon, &info)) << "an icon outlived the shut-down";
    }
    EXPECT_EQ(trayIconCount, 0);
    EXPECT_EQ(GetModuleHandleW(L"sbay_6_eng.dll"), nullptr) << "the language library stayed loaded";
    EXPECT_EQ(std::pair(freeGdiSlots(), liveKernelHandles()), std::pair(gdi, handles)) << "GDI objects, kernel handles";
}

}  // namespace
