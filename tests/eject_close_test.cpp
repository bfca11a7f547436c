// Opening and closing trays, and the auto-close countdown, on simulated drives with the main window hosted in the test.
#include "app/app.h"
#include "drives/device_commands.h"
#include "drives/eject_close.h"
#include "drives/tray_icon.h"
#include "resources/resource_ids.h"
#include "tests/drive_test_support.h"
#include "tests/test_support.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <algorithm>

namespace {

using Journal = std::vector<std::string>;
size_t indexOf(const Journal& journal, const std::string& line, size_t from = 0) {
    return std::find(journal.begin() + std::min(from, journal.size()), journal.end(), line) - journal.begin();
}

class EjectCloseTest : public ::testing::Test {
public:
    void SetUp() override { simReset(); }
    void TearDown() override { host.reset(); }
    // D: hidden, so no monitor thread and no icon: only the test moves it.
    void start(const std::string& countdown) {
        simConfigure(L'D', dataDisc(L"DATA", 1000));
        host = std::make_unique<MainWindowHost>("[dpDiskProp3]\r\nbHide=1\r\n" + countdown);
        d = DriveTable[3];
        ASSERT_NE(d, nullptr);
        simClearJournal();
    }
    void tick() { countdownTimerProc(d->countdownDialog, WM_TIMER, 3, 0); }
    std::unique_ptr<MainWindowHost> host;
    DriveRecord* d = nullptr;
};

TEST_F(EjectCloseTest, EjectUnlocksStopsTheMusicAndLocksAgainAndACloseTouchesNeither) {
    start("");
    simConfigure(L'D', audioDisc(4));
    setLock(d, 1);
    d->locked = 1;
    d->audioStatus = kAudioPlaying;
    simClearJournal();
    ejectOrClose(d, 0);
    EXPECT_EQ(journalOf('D'), (Journal{"D: open read -> ok", "D: IOCTL_STORAGE_LOAD_MEDIA -> ok", "D: close"}));
    EXPECT_EQ(d->assumedClosed, 1);
    ejectOrClose(d, 1);
    const Journal journal = journalOf('D');
    const size_t eject = indexOf(journal, "D: IOCTL_STORAGE_EJECT_MEDIA -> ok");
    EXPECT_LT(indexOf(journal, "D: IOCTL_STORAGE_MEDIA_REMOVAL in=00 -> ok"), eject);
    EXPECT_LT(indexOf(journal, "D: IOCTL_CDROM_STOP_AUDIO -> ok"), eject);
    EXPECT_LT(indexOf(journal, "D: IOCTL_STORAGE_MEDIA_REMOVAL in=01 -> ok", eject), journal.size());
    EXPECT_EQ(d->assumedClosed, 0);
    EXPECT_TRUE(simState(L'D').trayOpen && simState(L'D').locked);
}

TEST_F(EjectCloseTest, TheDoorCommandStandsInForAFailingDeviceAndAHiddenZeroSecondCountdownStillCloses) {
    start("bAutoCloseIn=1\r\nuAutoCloseSeconds=0\r\nbShowTime=0\r\n");
    SimDriveConfig sealed = dataDisc(L"DATA", 1000);
    sealed.opens = false;
    simConfigure(L'D', sealed);
    ejectOrClose(d, 1);
    EXPECT_EQ(journalOf('D'), (Journal{"D: open read -> fail", "D: MCI open -> ok", "D: MCI door open -> ok", "D: MCI close"}));
    EXPECT_TRUE(simState(L'D').trayOpen);
    EXPECT_EQ(simState(L'D').mciOpenIds, 0);

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
    EXPECT_FALSE(IsWindowVisible(d->countdownDialog));
    EXPECT_TRUE(simState(L'D').trayOpen);
    tick();
    EXPECT_EQ(d->countdownDialog, nullptr);
    EXPECT_FALSE(simState(L'D').trayOpen);
}

TEST_F(EjectCloseTest, TheCountdownClosesTheTrayUnlessClosedDismissedOrItsDriveGoes) {
    start("bAutoCloseIn=1\r\nuAutoCloseSeconds=3\r\nbShowTime=1\r\n");
    ejectOrClose(d, 1);
    const HWND dialog = d->countdownDialog;
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(IsWindowVisible(dialog));
    tick();
    ejectOrClose(d, 1);  // opening again neither starts a second count nor resets this one
    EXPECT_EQ(d->countdownDialog, dialog);
    EXPECT_EQ(SendMessageW(d->countdownProgress, PBM_GETPOS, 0, 0), 1);
    tick();
    tick();
    EXPECT_TRUE(simState(L'D').trayOpen) << "closed before the time was up";
    tick();
    EXPECT_EQ(d->countdownDialog, nullptr);
    EXPECT_FALSE(simState(L'D').trayOpen);

    // Each way the count ends early: whether the program closes the tray, and whether it stays open.
    const struct {
        const char* way;
        bool closes, openAfter;
        void (*end)(EjectCloseTest&);
    } ways[] = {
        {"closed by hand", false, false, [](EjectCloseTest& t) { simSetTray(L'D', false), t.tick(); }},
        {"closed by the menu", true, false, [](EjectCloseTest& t) { ejectOrClose(t.d, 0); }},
        {"Close now", true, false, [](EjectCloseTest& t) { SendMessageW(t.d->countdownDialog, WM_COMMAND, IDOK, 0); }},
        {"Cancel", false, true, [](EjectCloseTest& t) { SendMessageW(t.d->countdownDialog, WM_COMMAND, IDCANCEL, 0); }},
        {"close box", false, true, [](EjectCloseTest& t) { SendMessageW(t.d->countdownDialog, WM_SYSCOMMAND, SC_CLOSE, 0); }},
        {"Esc through the program's message loop", false, true, [](EjectCloseTest& t) {
             SetForegroundWindow(t.d->countdownDialog);
             SetFocus(GetDlgItem(t.d->countdownDialog, IDOK));
             MSG esc{GetFocus() ? GetFocus() : t.d->countdownDialog, WM_KEYDOWN, VK_ESCAPE, 0x00010001, 0, {}};
             routeMessage(esc);
         }},
    };
    for (const auto& way : ways) {
        ejectOrClose(d, 1);
        const HWND shown = d->countdownDialog;
        simClearJournal();
        way.end(*this);
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
