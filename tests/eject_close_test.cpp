// Opening and closing trays, and the auto-close countdown, on simulated drives
// with the program's main window hosted in the test.
#include "app/app.h"
#include "drives/device_commands.h"
#include "drives/drive_icon.h"
#include "drives/eject_close.h"
#include "drives/tray_icon.h"
#include "resources/language.h"
#include "resources/resource_ids.h"
#include "tests/drive_test_support.h"
#include "tests/test_support.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <algorithm>

namespace {

// Position of the first journal line equal to `line` at or after `from`.
size_t indexOf(const std::vector<std::string>& journal, const std::string& line, size_t from = 0) {
    for (size_t i = from; i < journal.size(); ++i) {
        if (journal[i] == line) return i;
    }
    return journal.size();
}

class EjectCloseTest : public ::testing::Test {
protected:
    void SetUp() override { simReset(); }
    void TearDown() override { host.reset(); }
    // D: hidden, so no monitor thread and no icon: only the test moves it.
    void start(const std::string& driveD = std::string()) {
        simConfigure(L'D', dataDisc(L"DATA", 1000));
        host = std::make_unique<MainWindowHost>("[dpDiskProp3]\r\nbHide=1\r\n" + driveD);
        d = DriveTable[3];
        ASSERT_NE(d, nullptr);
        simClearJournal();
    }
    std::wstring title() const {
        wchar_t text[64] = L"";
        GetWindowTextW(d->countdownDialog, text, 64);
        return text;
    }
    static std::wstring expectedTitle(int seconds) {
        wchar_t text[64];
        formatText(text, 64, englishString(IDS_COUNTDOWN).c_str(), {seconds, L'D'});
        return text;
    }
    void tick() { countdownTimerProc(d->countdownDialog, WM_TIMER, 3, 0); }
    std::unique_ptr<MainWindowHost> host;
    DriveRecord* d = nullptr;
};

const std::string kCountdown3 = "bAutoCloseIn=1\r\nuAutoCloseSeconds=3\r\nbShowTime=1\r\n";

TEST_F(EjectCloseTest, OpeningALockedDriveUnlocksEjectsAndLocksAgain) {
    start();
    setLock(d, 1);
    d->locked = 1;
    simClearJournal();
    ejectOrClose(d, 1);
    const std::vector<std::string> journal = journalOf('D');
    const size_t unlock = indexOf(journal, "D: IOCTL_STORAGE_MEDIA_REMOVAL in=00 -> ok");
    const size_t eject = indexOf(journal, "D: IOCTL_STORAGE_EJECT_MEDIA -> ok");
    const size_t relock = indexOf(journal, "D: IOCTL_STORAGE_MEDIA_REMOVAL in=01 -> ok", eject);
    EXPECT_LT(unlock, eject);
    EXPECT_LT(eject, relock);
    EXPECT_LT(relock, journal.size());
    EXPECT_EQ(d->locked, 1);
    EXPECT_EQ(d->assumedClosed, 0);
    EXPECT_TRUE(simState(L'D').trayOpen);
    EXPECT_TRUE(simState(L'D').locked);

    // Closing leaves the lock alone.
    simClearJournal();
    ejectOrClose(d, 0);
    EXPECT_EQ(journalOf('D'), (std::vector<std::string>{"D: open read -> ok", "D: IOCTL_STORAGE_LOAD_MEDIA -> ok",
                                                        "D: close"}));
    EXPECT_EQ(d->assumedClosed, 1);
    EXPECT_FALSE(simState(L'D').trayOpen);
}

TEST_F(EjectCloseTest, PlayingAudioStopsBeforeTheEjectButNotBeforeAClose) {
    start();
    simConfigure(L'D', audioDisc(4));
    d->audioStatus = kAudioPlaying;
    ejectOrClose(d, 0);
    EXPECT_EQ(indexOf(simJournal(), "D: IOCTL_CDROM_STOP_AUDIO -> ok"), simJournal().size());
    ejectOrClose(d, 1);
    const std::vector<std::string> journal = simJournal();
    EXPECT_LT(indexOf(journal, "D: IOCTL_CDROM_STOP_AUDIO -> ok"), indexOf(journal, "D: IOCTL_STORAGE_EJECT_MEDIA -> ok"));
}

TEST_F(EjectCloseTest, TheDoorCommandStandsInWhenTheDeviceFails) {
    start();
    SimDriveConfig sealed = dataDisc(L"DATA", 1000);
    sealed.opens = false;
    simConfigure(L'D', sealed);
    ejectOrClose(d, 1);
    EXPECT_EQ(journalOf('D'), (std::vector<std::string>{"D: open read -> fail", "D: MCI open -> ok",
                                                        "D: MCI door open -> ok", "D: MCI close"}));
    EXPECT_TRUE(simState(L'D').trayOpen);
    EXPECT_EQ(simState(L'D').mciOpenIds, 0);

    simConfigure(L'D', dataDisc(L"DATA", 1000));
    simSetFailing(L'D', {"IOCTL_STORAGE_EJECT_MEDIA"});
    simClearJournal();
    ejectOrClose(d, 1);
    EXPECT_TRUE(journalHas("D: IOCTL_STORAGE_EJECT_MEDIA -> fail"));
    EXPECT_TRUE(journalHas("D: MCI door open -> ok"));
    EXPECT_TRUE(simState(L'D').trayOpen);
}

TEST_F(EjectCloseTest, AMovingTrayShowsTheBusyIconAndTip) {
    start();
    // An icon record of our own: no monitor thread repaints it meanwhile.
    d->trayIcon = createTrayIconRecord(L'D');
    ejectOrClose(d, 1);
    EXPECT_EQ(d->trayIcon->data.hIcon, busyIcon);
    EXPECT_EQ(std::wstring(d->trayIcon->data.szTip), englishString(IDS_BUSY_TIP));
    removeTrayIconRecord(d->trayIcon);
    d->trayIcon = nullptr;
}

TEST_F(EjectCloseTest, CountdownCountsDownThenClosesTheTray) {
    start(kCountdown3);
    ejectOrClose(d, 1);
    ASSERT_NE(d->countdownDialog, nullptr);
    EXPECT_TRUE(IsWindowVisible(d->countdownDialog));
    EXPECT_EQ(title(), expectedTitle(3));
    PBRANGE range{};
    SendMessageW(d->countdownProgress, PBM_GETRANGE, FALSE, reinterpret_cast<LPARAM>(&range));
    EXPECT_EQ(range.iLow, 0);
    EXPECT_EQ(range.iHigh, 3);

    for (int left = 2; left >= 0; --left) {
        tick();
        EXPECT_EQ(d->countdownRemaining, left);
        EXPECT_EQ(title(), expectedTitle(left));
        EXPECT_EQ(SendMessageW(d->countdownProgress, PBM_GETPOS, 0, 0), 3 - left);
        EXPECT_TRUE(simState(L'D').trayOpen);
    }
    tick();
    EXPECT_EQ(d->countdownDialog, nullptr);
    EXPECT_FALSE(simState(L'D').trayOpen);
    EXPECT_TRUE(journalHas("D: IOCTL_STORAGE_LOAD_MEDIA -> ok"));
}

TEST_F(EjectCloseTest, CountdownEndsQuietlyWhenTheTrayWasClosedByHand) {
    start(kCountdown3);
    ejectOrClose(d, 1);
    HWND dialog = d->countdownDialog;
    simSetTray(L'D', false);
    tick();
    EXPECT_EQ(d->countdownDialog, nullptr);
    EXPECT_FALSE(IsWindow(dialog));
    EXPECT_FALSE(journalHas("D: IOCTL_STORAGE_LOAD_MEDIA -> ok"));
}

TEST_F(EjectCloseTest, CloseNowClosesAtOnceAndCancelKeepsTheTrayOpen) {
    start(kCountdown3);
    ejectOrClose(d, 1);
    SendMessageW(d->countdownDialog, WM_COMMAND, IDOK, 0);
    EXPECT_EQ(d->countdownDialog, nullptr);
    EXPECT_FALSE(simState(L'D').trayOpen);

    for (int way = 0; way < 3; ++way) {
        ejectOrClose(d, 1);
        HWND dialog = d->countdownDialog;
        ASSERT_NE(dialog, nullptr);
        if (way == 0) {
            SendMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
        } else if (way == 1) {
            // Esc reaches the dialog through the program's message loop.
            SetForegroundWindow(dialog);
            SetFocus(GetDlgItem(dialog, IDOK));
            MSG message{dialog, WM_KEYDOWN, VK_ESCAPE, 0x00010001, GetTickCount(), {}};
            message.hwnd = GetFocus() != nullptr ? GetFocus() : dialog;
            routeMessage(message);
        } else {
            SendMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);  // the close box
        }
        pumpMessages(50);
        EXPECT_EQ(d->countdownDialog, nullptr) << "way " << way;
        EXPECT_FALSE(IsWindow(dialog)) << "way " << way;
        EXPECT_TRUE(simState(L'D').trayOpen) << "way " << way;
        ejectOrClose(d, 0);
    }
}

TEST_F(EjectCloseTest, ACloseEndsTheCountdownAndAnotherOpeningDoesNotResetIt) {
    start(kCountdown3);
    ejectOrClose(d, 1);
    HWND dialog = d->countdownDialog;
    tick();
    ejectOrClose(d, 1);
    EXPECT_EQ(d->countdownDialog, dialog) << "no second countdown";
    EXPECT_EQ(d->countdownRemaining, 2) << "the count goes on";

    simClearJournal();
    ejectOrClose(d, 0);
    EXPECT_EQ(d->countdownDialog, nullptr);
    EXPECT_FALSE(IsWindow(dialog));
    EXPECT_TRUE(journalHas("D: IOCTL_STORAGE_LOAD_MEDIA -> ok"));
}

TEST_F(EjectCloseTest, HiddenCountdownAndZeroSecondsStillCloseTheTray) {
    start("bAutoCloseIn=1\r\nuAutoCloseSeconds=0\r\nbShowTime=0\r\n");
    ejectOrClose(d, 1);
    ASSERT_NE(d->countdownDialog, nullptr);
    EXPECT_FALSE(IsWindowVisible(d->countdownDialog));
    tick();
    EXPECT_EQ(d->countdownDialog, nullptr);
    EXPECT_FALSE(simState(L'D').trayOpen);
}

TEST_F(EjectCloseTest, ACountdownDiesWithItsRecord) {
    start(kCountdown3);
    ejectOrClose(d, 1);
    HWND dialog = d->countdownDialog;
    removeDriveRecord(3);
    EXPECT_FALSE(IsWindow(dialog));
    simClearJournal();
    pumpMessages(1500);  // a timer of the dead countdown must not fire into freed memory
    EXPECT_FALSE(journalHas("D: IOCTL_STORAGE_LOAD_MEDIA -> ok"));
    // A stray tick for a slot that is empty now does nothing either.
    countdownTimerProc(nullptr, WM_TIMER, 3, 0);
    countdownTimerProc(nullptr, WM_TIMER, 4000, 0);
    EXPECT_TRUE(journalOf('D').empty());
}

}  // namespace
