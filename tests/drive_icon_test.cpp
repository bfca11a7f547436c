// Drive tray icons, their monitor threads, and opening and closing trays with the auto-close countdown.
#include "app/app.h"
#include "drives/device_commands.h"
#include "drives/device_seam.h"
#include "drives/drive_icon.h"
#include "drives/eject_close.h"
#include "drives/tray_icon.h"
#include "resources/resource_ids.h"
#include "resources/language.h"
#include "tray/common_icon.h"
#include "tray/tray_menu.h"
#include "tests/test_support.h"

#include <commctrl.h>
#include <dbt.h>
#include <gtest/gtest.h>
#include <shlwapi.h>

#include <algorithm>
#include <atomic>
#include <thread>

namespace {

const std::wstring kHead = L"Spindlebay v.6\n";

std::wstring tipOf(DriveRecord* record) {
    EnterCriticalSection(&record->guard);
    std::wstring tip = record->trayIcon != nullptr ? record->trayIcon->data.szTip : L"";
    LeaveCriticalSection(&record->guard);
    return tip;
}

int iconEntryOf(DriveRecord* record) {  // which of the record's icons the tray shows, or -1
    EnterCriticalSection(&record->guard);
    const HICON *first = record->icons, *end = first + 8;
    const HICON* shown = record->trayIcon ? std::find(first, end, record->trayIcon->data.hIcon) : end;
    LeaveCriticalSection(&record->guard);
    return shown == end ? -1 : static_cast<int>(shown - first);
}

std::wstring sizeText(uint64_t bytes) {
    wchar_t text[64];
    StrFormatByteSizeW(static_cast<LONGLONG>(bytes), text, 64);
    return text;
}

std::wstring infoText(DriveRecord* record) {
    wchar_t text[kTipBufferCapacity];
    buildInfoText(record, text);
    return text;
}

class DriveIconTest : public ::testing::Test {
public:
    void SetUp() override { simReset(); }
    void TearDown() override { host.reset(); }
    void start(const std::string& settings = "") { host = std::make_unique<MainWindowHost>(settings); }
    void startHidden(const std::string& countdown) {  // no monitor thread and no icon: only the test moves D:
        simConfigure(L'D', dataDisc(L"DATA", 1000));
        start("[dpDiskProp3]\r\nbHide=1\r\n" + countdown);
        ASSERT_NE(d = DriveTable[3], nullptr);
        ASSERT_FALSE(d->trayIcon || d->monitorThread || d->icons[0] || trayIconCount);
        ASSERT_EQ(commonIconRecord, nullptr) << "a hidden drive is still a drive: no common icon";
        simClearJournal();
    }
    void tick() { countdownTimerProc(d->countdownDialog, WM_TIMER, 3, 0); }
    std::unique_ptr<MainWindowHost> host;
    DriveRecord* d = nullptr;
};
using EjectCloseTest = DriveIconTest;

TEST_F(DriveIconTest, IconAndTipFollowEveryDriveStateAndShowLabelsLiterally) {
    const std::wstring percent = L"100%_%s%d%n", longLabel(200, L'W');
    SimDriveConfig open = emptyDrive(), blank;
    open.trayOpen = true;
    blank.medium = SimMedium::Blank;  // a medium whose volume cannot be read: the head alone, the other-medium icon
    const struct { wchar_t letter; SimDriveConfig config; std::wstring tip; int icon; } drives[] = {
        {L'E', audioDisc(12), L"Audio CD" + english(IDS_AUDIO_STOPPED, {12}), 1},
        {L'F', open, englishString(IDS_TIP_OPEN), 3},
        {L'G', emptyDrive(), englishString(IDS_TIP_EMPTY), 2},
        {L'H', blank, L"", 0},
        {L'I', dataDisc(percent, 1000), percent + L" <" + sizeText(1000) + L">", 0},
        {L'J', dataDisc(L"", 4700000000ull), L" <" + sizeText(4700000000ull) + L">", 0},
        {L'K', dataDisc(longLabel, 1000), longLabel, 0},
    };
    for (const auto& drive : drives) simConfigure(drive.letter, drive.config);
    start();
    for (const auto& drive : drives) {
        DriveRecord* record = DriveTable[drive.letter - L'A'];
        ASSERT_NE(record, nullptr);
        const std::wstring tip = (kHead + L"[" + drive.letter + L":] " + drive.tip).substr(0, 127);
        EXPECT_EQ(std::pair(tipOf(record), iconEntryOf(record)), std::pair(tip, drive.icon)) << char(drive.letter);
        EXPECT_EQ(std::count(record->icons, record->icons + 8, nullptr), 7) << "only the icon shown is composed";
    }
}

// Shell_NotifyIconW through the test program's own import of it: each call noted as its message's letter and
// its flags ("A7", "M6"), passed on to the shell.
extern "C" decltype(&Shell_NotifyIconW) __imp_Shell_NotifyIconW;
struct ShellNotifySpy {
    static inline std::string calls;
    static inline decltype(&Shell_NotifyIconW) real;
    DWORD protection = 0;
    ShellNotifySpy() {
        calls.clear();
        VirtualProtect(&__imp_Shell_NotifyIconW, sizeof(void*), PAGE_READWRITE, &protection);
        real = __imp_Shell_NotifyIconW;
        __imp_Shell_NotifyIconW = [](DWORD message, NOTIFYICONDATAW* data) -> BOOL {
            calls += std::string(calls.empty() ? "" : " ") + "AMD"[message] + std::to_string(data->uFlags);
            return real(message, data);
        };
    }
    ~ShellNotifySpy() {
        __imp_Shell_NotifyIconW = real;
        VirtualProtect(&__imp_Shell_NotifyIconW, sizeof(void*), protection, &protection);
    }
};

TEST_F(DriveIconTest, TheShellHearsOfAnIconOnlyWhenItChangesEveryIconIsComposedOnceAndANewTaskbarGetsAll) {
    startHidden("");
    ShellNotifySpy spy;
    updateDriveIcon(d, false);  // shown as the first show does, without a monitor thread
    for (int i = 0; i < 3; ++i) updateDriveIcon(d, true);
    EXPECT_EQ(spy.calls, "A7") << "passes that found nothing changed";
    const HICON data = d->icons[0];
    simSetTray(L'D', true);
    for (int i = 0; i < 2; ++i) updateDriveIcon(d, true);
    simSetTray(L'D', false);
    updateDriveIcon(d, true);
    simSetMedium(L'D', SimMedium::None, L"", 0, 0);
    updateDriveIcon(d, true);
    liveSettings.global.nLanguage = 1;  // the same icon with a tip in another language
    loadLanguageAndMenu();
    updateDriveIcon(d, true);
    updateDriveIcon(d, true);
    EXPECT_EQ(spy.calls, "A7 M6 M6 M6 M6");
    EXPECT_TRUE(d->icons[0] == data && std::count(d->icons, d->icons + 8, nullptr) == 5) << "composed anew";
    spy.calls.clear();
    ShellNotifySpy::real(NIM_DELETE, &d->trayIcon->data);  // the shell lost it
    SendMessageW(mainWindow, msgTaskbarCreated, 0, 0);
    updateDriveIcon(d, true);
    EXPECT_EQ(spy.calls, "A7");
}

TEST_F(DriveIconTest, TheMonitorFollowsWithinASecondTheStarShowsBesideOtherIconsAndShowHideLeaksNothing) {
    simConfigure(L'D', emptyDrive());
    simConfigure(L'E', audioDisc(4));
    start("[g_propMain]\r\nnDefaultDisk=69\r\n");
    DriveRecord* e = DriveTable[4];
    ASSERT_TRUE((d = DriveTable[3]) && e);
    // E: was created first, alone; its next poll finds D: beside it.
    EXPECT_TRUE(waitUntil([&] { return iconEntryOf(e) == 5; }, 3000));
    ASSERT_EQ(iconEntryOf(d), 2);
    pumpMessages(300);
    simSetMedium(L'D', SimMedium::Data, L"NEW_DISC", 2048, 0);
    const DWORD start = GetTickCount();
    EXPECT_TRUE(waitUntil([&] { return iconEntryOf(d) == 0 && tipOf(d).find(L"NEW_DISC") != tipOf(d).npos; }, 3000));
    EXPECT_LT(GetTickCount() - start, 2000u);  // one wait of a second plus a poll

    const ULONGLONG hiding = GetTickCount64();  // the monitor has just polled and pauses for a second
    setIconVisible(d, false);
    EXPECT_LT(GetTickCount64() - hiding, 500u) << "hiding waited out the monitor's pause";
    EXPECT_EQ(trayIconCount, 1);
    setLock(d, 1);
    EXPECT_TRUE(simState(L'D').locked) << "the stop that ended the monitor still refuses requests";
    EXPECT_TRUE(waitUntil([&] { return iconEntryOf(e) == 1; }, 3000)) << "alone in the tray, E: wears no star";
    setIconVisible(d, true);
    EXPECT_TRUE(d->monitorThread != nullptr && d->trayIcon->added != 0);
    EXPECT_EQ(d->stopRequested, 0) << "a stop left asked for ends the new thread at once";

    // Icons live in a table the whole session shares, and the shell keeps copies: each icon made must be destroyed.
    simSetJournalEnabled(false);
    int gdi = 0, handles = 0, iconsAlive = 0;
    for (int i = -20; i < 300; ++i) {  // the first twenty warm up
        if (i == 0) gdi = freeGdiSlots(), handles = liveKernelHandles();
        const std::vector<HICON> made(d->icons, d->icons + 8);
        setIconVisible(d, false);
        for (HICON icon : made) {
            ICONINFO info{};
            if (i < 0 || !GetIconInfo(icon, &info)) continue;
            ++iconsAlive;
            DeleteObject(info.hbmColor);
            DeleteObject(info.hbmMask);
        }
        setIconVisible(d, true);
        updateDriveIcon(e, true);
    }
    EXPECT_EQ(iconsAlive, 0);
    EXPECT_EQ(freeGdiSlots(), gdi);
    EXPECT_EQ(liveKernelHandles(), handles);
    EXPECT_LE(simOpenHandleCount(), 2u);  // at most the monitors' requests in flight
}

using Journal = std::vector<std::string>;
size_t indexOf(const Journal& journal, const std::string& line, size_t from = 0) {
    return std::find(journal.begin() + std::min(from, journal.size()), journal.end(), line) - journal.begin();
}

TEST_F(EjectCloseTest, DescriptionsOpenTheDriveOnceAndEjectUnlocksStopsTheMusicAndLocksAgainButACloseNeither) {
    startHidden("");
    EXPECT_EQ(infoText(d), L"[D:] DATA <" + sizeText(1000) + L">");
    simConfigure(L'D', audioDisc(4));
    simClearJournal();
    EXPECT_EQ(infoText(d), L"[D:] Audio CD" + english(IDS_AUDIO_STOPPED, {4}));
    const Journal described = journalOf('D');
    EXPECT_EQ(std::count_if(described.begin(), described.end(), [](auto& l) { return l.rfind("D: open", 0) == 0; }), 1);
    simSetFailing(L'D', {"IOCTL_CDROM_READ_TOC"});  // rather than the count read before
    EXPECT_EQ(infoText(d), L"[D:] ");
    simSetFailing(L'D', {});

    setLock(d, 1);
    d->locked = 1, d->audioStatus = kAudioPlaying;
    simClearJournal();
    ejectOrClose(d, 0);
    EXPECT_EQ(journalOf('D'), (Journal{"D: open read -> ok", "D: IOCTL_STORAGE_LOAD_MEDIA -> ok", "D: close"}));
    ejectOrClose(d, 1);
    const Journal journal = journalOf('D');
    const size_t eject = indexOf(journal, "D: IOCTL_STORAGE_EJECT_MEDIA -> ok");
    EXPECT_LT(indexOf(journal, "D: IOCTL_STORAGE_MEDIA_REMOVAL in=00 -> ok"), eject);
    EXPECT_LT(indexOf(journal, "D: IOCTL_CDROM_STOP_AUDIO -> ok"), eject);
    EXPECT_LT(indexOf(journal, "D: IOCTL_STORAGE_MEDIA_REMOVAL in=01 -> ok", eject), journal.size());
    EXPECT_TRUE(simState(L'D').trayOpen && simState(L'D').locked);
    EXPECT_EQ(infoText(d), L"[D:] ") << "an open tray";
}

// The monitor's pass-through handle holds write access: the unlock and the
// eject must still open the drive while it is inside a request.
TEST_F(EjectCloseTest, ADoubleClickOpensALockedDriveWhileTheMonitorIsInsideARequest) {
    simConfigure(L'D', emptyDrive());
    start("[dpDiskProp3]\r\nbLock=1\r\n");
    ASSERT_TRUE(waitUntil([] { return simState(L'D').locked; }, 3000));
    simHoldNext(L'D', "IOCTL_SCSI_PASS_THROUGH_DIRECT cdb=4A", 3000);
    ASSERT_TRUE(waitUntil([] { return journalHas("D: hold IOCTL_SCSI_PASS_THROUGH_DIRECT cdb=4A010000100000000800"); },
                          3000));
    SendMessageW(mainWindow, kTrayCallbackMessage, 'D', WM_LBUTTONDBLCLK);
    EXPECT_TRUE(simState(L'D').trayOpen && simState(L'D').locked);
    EXPECT_FALSE(journalHas("D: open read -> fail"));
}

// Windows sends the removal of a drive that went while the main thread waits
// on the shell for the busy icon: the record must outlive the tray move, and
// go with everything it holds (its countdown included) when the move is done.
TEST_F(EjectCloseTest, ADriveRemovedWhileItsTrayMovesGoesWhenTheMoveIsDone) {
    startHidden("bAutoCloseIn=1\r\nbShowTime=1\r\n");  // no monitor: only the move touches the record
    d->trayIcon = createTrayIconRecord(L'D');
    ASSERT_TRUE(addTrayIcon(d->trayIcon));
    setLock(d, 1);
    d->locked = 1;
    simHoldNext(L'D', "IOCTL_STORAGE_MEDIA_REMOVAL in=00", 1000);  // the unlock, before the busy icon
    simClearJournal();
    std::atomic<bool> sent{false};
    std::thread remover([&sent] {
        for (int i = 0; i < 500 && !journalHas("D: hold IOCTL_STORAGE_MEDIA_REMOVAL in=00"); ++i) Sleep(10);
        simSetPresent(L'D', false);
        DEV_BROADCAST_VOLUME volume{sizeof volume, DBT_DEVTYP_VOLUME, 0, 1u << 3, 0};
        SendMessageW(mainWindow, WM_DEVICECHANGE, DBT_DEVICEREMOVECOMPLETE, reinterpret_cast<LPARAM>(&volume));
        sent = true;
    });
    ejectOrClose(d, 1);
    const bool removedDuringTheMove = DriveTable[3] == nullptr;
    waitUntil([&sent] { return sent.load(); }, 5000);
    remover.join();
    ASSERT_TRUE(removedDuringTheMove) << "the shell call dispatched no sent message";
    // The move went on with the record it was given, to its lock again.
    EXPECT_TRUE(journalHas("D: open passthrough -> fail"));
    for (const std::string& line : simJournal()) EXPECT_TRUE(line.rfind("D: ", 0) == 0) << line;
    EXPECT_TRUE(driveRecordCount == 0 && commonIconRecord != nullptr);
    EXPECT_EQ(FindWindowW(L"#32770", nullptr), nullptr) << "a countdown outlived its drive";
}

TEST_F(EjectCloseTest, TheDoorCommandStandsInForAFailingDeviceAndAHiddenZeroSecondCountdownStillCloses) {
    startHidden("bAutoCloseIn=1\r\nuAutoCloseSeconds=0\r\nbShowTime=0\r\n");
    SimDriveConfig sealed = dataDisc(L"DATA", 1000);
    sealed.opens = false;
    simConfigure(L'D', sealed);
    ejectOrClose(d, 1);
    EXPECT_EQ(journalOf('D'),
              (Journal{"D: open read -> fail", "D: MCI open -> ok", "D: MCI door open -> ok", "D: MCI close"}));
    EXPECT_TRUE(simState(L'D').trayOpen && simState(L'D').mciOpenIds == 0);

    simConfigure(L'D', dataDisc(L"DATA", 1000));
    simSetFailing(L'D', {"IOCTL_STORAGE_EJECT_MEDIA"});
    simClearJournal();
    d->trayIcon = createTrayIconRecord(L'D');  // no monitor thread repaints this one meanwhile
    ejectOrClose(d, 1);
    EXPECT_TRUE(journalHas("D: IOCTL_STORAGE_EJECT_MEDIA -> fail") && journalHas("D: MCI door open -> ok"));
    EXPECT_EQ(d->trayIcon->data.hIcon, busyIcon) << "the tray moves";
    EXPECT_EQ(std::wstring(d->trayIcon->data.szTip), englishString(IDS_BUSY_TIP));
    removeTrayIconRecord(d->trayIcon);
    d->trayIcon = nullptr;
    ASSERT_NE(d->countdownDialog, nullptr);
    EXPECT_TRUE(!IsWindowVisible(d->countdownDialog) && simState(L'D').trayOpen);
    tick();
    EXPECT_TRUE(d->countdownDialog == nullptr && !simState(L'D').trayOpen);
}

TEST_F(EjectCloseTest, TheCountdownClosesTheTrayUnlessClosedDismissedOrItsDriveGoes) {
    startHidden("bAutoCloseIn=1\r\nuAutoCloseSeconds=3\r\nbShowTime=1\r\n");
    ejectOrClose(d, 1);
    const HWND dialog = d->countdownDialog;
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(IsWindowVisible(dialog));
    tick();
    ejectOrClose(d, 1);  // opening again neither starts a second count nor resets this one
    EXPECT_EQ(d->countdownDialog, dialog);
    EXPECT_EQ(SendMessageW(d->countdownProgress, PBM_GETPOS, 0, 0), 1);

    // Each way the count ends early: whether the program closes the tray, and whether it stays open.
    const struct { const char* way; bool closes, openAfter; void (*end)(HWND); } ways[] = {
        {"closed by hand", false, false,
         [](HWND countdown) { simSetTray(L'D', false), countdownTimerProc(countdown, WM_TIMER, 3, 0); }},
        {"closed by the menu", true, false, [](HWND) { ejectOrClose(DriveTable[3], 0); }},
        {"Close now", true, false, [](HWND countdown) { SendMessageW(countdown, WM_COMMAND, IDOK, 0); }},
        {"Cancel", false, true, [](HWND countdown) { SendMessageW(countdown, WM_COMMAND, IDCANCEL, 0); }},
        {"Esc through the program's message loop", false, true, [](HWND countdown) {
             SetForegroundWindow(countdown);
             SetFocus(GetDlgItem(countdown, IDOK));
             MSG esc{GetFocus() ? GetFocus() : countdown, WM_KEYDOWN, VK_ESCAPE, 0x00010001, 0, {}};
             routeMessage(esc);
         }},
    };
    for (const auto& way : ways) {
        ejectOrClose(d, 1);
        const HWND shown = d->countdownDialog;
        simClearJournal();
        way.end(shown);
        pumpMessages(50);
        EXPECT_TRUE(d->countdownDialog == nullptr && !IsWindow(shown)) << way.way;
        EXPECT_EQ(journalHas("D: IOCTL_STORAGE_LOAD_MEDIA -> ok"), way.closes) << way.way;
        EXPECT_EQ(simState(L'D').trayOpen, way.openAfter) << way.way;
        simSetTray(L'D', false);
    }

    ejectOrClose(d, 1);
    const HWND orphan = d->countdownDialog;
    removeDriveRecord(3);
    EXPECT_FALSE(IsWindow(orphan));
    simClearJournal();
    pumpMessages(1500);  // a timer of the dead countdown must not fire into freed memory
    countdownTimerProc(nullptr, WM_TIMER, 3, 0);  // nor a stray tick for the empty slot
    countdownTimerProc(nullptr, WM_TIMER, 4000, 0);
    EXPECT_TRUE(journalOf('D').empty());
}

}  // namespace
