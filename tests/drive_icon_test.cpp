// Drive tray icons and their monitor threads on simulated drives: icons and
// tips for every state, the default drive's star, live updates, show and hide
// cycles, and what they cost in objects and handles.
#include "app/app.h"
#include "drives/device_commands.h"
#include "drives/device_seam.h"
#include "drives/drive_icon.h"
#include "drives/tray_icon.h"
#include "resources/language.h"
#include "resources/resource_ids.h"
#include "tests/drive_test_support.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <shlwapi.h>

namespace {

const std::wstring kHead = L"Spindlebay v.6\n";

class DriveIconTest : public ::testing::Test {
protected:
    void SetUp() override { simReset(); }
    void TearDown() override { host.reset(); }
    void start(const std::string& settings = std::string()) { host = std::make_unique<MainWindowHost>(settings); }
    static std::wstring tipOf(DriveRecord* record) {
        EnterCriticalSection(&record->guard);
        std::wstring tip = record->trayIcon != nullptr ? record->trayIcon->data.szTip : L"";
        LeaveCriticalSection(&record->guard);
        return tip;
    }
    static int iconEntryOf(DriveRecord* record) {
        EnterCriticalSection(&record->guard);
        int entry = -1;
        for (int i = 0; i < 8 && record->trayIcon != nullptr; ++i) {
            if (record->icons[i] == record->trayIcon->data.hIcon) entry = i;
        }
        LeaveCriticalSection(&record->guard);
        return entry;
    }
    static std::wstring sizeText(uint64_t bytes) {
        wchar_t text[64];
        StrFormatByteSizeW(static_cast<LONGLONG>(bytes), text, 64);
        return text;
    }
    std::unique_ptr<MainWindowHost> host;
};

TEST_F(DriveIconTest, IconAndTipFollowEveryDriveState) {
    simConfigure(L'D', dataDisc(L"HOLIDAY_2026", 4700000000ull));
    simConfigure(L'E', audioDisc(12));
    SimDriveConfig open = emptyDrive();
    open.trayOpen = true;
    simConfigure(L'F', open);
    simConfigure(L'G', emptyDrive());
    SimDriveConfig blank;
    blank.medium = SimMedium::Blank;
    simConfigure(L'H', blank);
    start();
    DriveRecord* d = DriveTable[3];
    DriveRecord* e = DriveTable[4];
    DriveRecord* f = DriveTable[5];
    DriveRecord* g = DriveTable[6];
    DriveRecord* h = DriveTable[7];
    ASSERT_TRUE(d && e && f && g && h);

    EXPECT_EQ(tipOf(d), kHead + L"[D:] HOLIDAY_2026 <" + sizeText(4700000000ull) + L">");
    EXPECT_EQ(iconEntryOf(d), 0);
    EXPECT_EQ(d->mediaKind, DataDisc);

    wchar_t audio[64];
    formatText(audio, 64, englishString(IDS_AUDIO_STOPPED).c_str(), {12});
    EXPECT_EQ(tipOf(e), kHead + L"[E:] Audio CD" + audio);
    EXPECT_EQ(iconEntryOf(e), 1);
    EXPECT_EQ(e->mediaKind, AudioCd);

    EXPECT_EQ(tipOf(f), kHead + L"[F:] " + englishString(IDS_TIP_OPEN));
    EXPECT_EQ(iconEntryOf(f), 3);
    EXPECT_EQ(tipOf(g), kHead + L"[G:] " + englishString(IDS_TIP_EMPTY));
    EXPECT_EQ(iconEntryOf(g), 2);
    // A medium whose volume cannot be read: the head alone, the other-medium icon.
    EXPECT_EQ(tipOf(h), kHead + L"[H:] ");
    EXPECT_EQ(iconEntryOf(h), 0);
    EXPECT_NE(h->mediaKind, AudioCd);
}

TEST_F(DriveIconTest, AudioTipsNameTheTrackWhilePlayingOrPaused) {
    simConfigure(L'E', audioDisc(12));
    start();
    DriveRecord* e = DriveTable[4];
    ASSERT_NE(e, nullptr);
    isVistaOrLater = 0;
    e->subQ.CurrentPosition.TrackNumber = 2;
    e->toc.FirstTrack = 1;
    e->toc.LastTrack = 12;
    nextTrack(e);  // plays track 3
    wchar_t playing[64];
    formatText(playing, 64, englishString(IDS_AUDIO_PLAYING).c_str(), {3, 12});
    EXPECT_TRUE(waitUntil([&] { return tipOf(e) == kHead + L"[E:] Audio CD" + playing; }, 3000)) << tipOf(e).c_str();

    pauseResumeAudio(e);
    wchar_t paused[64];
    formatText(paused, 64, englishString(IDS_AUDIO_PAUSED).c_str(), {3, 12});
    EXPECT_TRUE(waitUntil([&] { return tipOf(e) == kHead + L"[E:] Audio CD" + paused; }, 3000)) << tipOf(e).c_str();
}

TEST_F(DriveIconTest, OddLabelsAreShownLiterallyAndTipsCutAt127) {
    const std::wstring percent = L"100%_%s%d%n";
    simConfigure(L'D', dataDisc(percent, 1000));
    simConfigure(L'E', dataDisc(std::wstring(200, L'W'), 1000));
    simConfigure(L'F', dataDisc(L"", 1000));
    start();
    EXPECT_EQ(tipOf(DriveTable[3]), kHead + L"[D:] " + percent + L" <" + sizeText(1000) + L">");
    const std::wstring cut = tipOf(DriveTable[4]);
    EXPECT_EQ(cut.size(), 127u);
    EXPECT_EQ(cut, (kHead + L"[E:] " + std::wstring(200, L'W')).substr(0, 127));
    EXPECT_EQ(tipOf(DriveTable[5]), kHead + L"[F:]  <" + sizeText(1000) + L">");
}

TEST_F(DriveIconTest, TheDefaultDriveWearsTheStarOnlyBesideOtherIcons) {
    simConfigure(L'D', emptyDrive());
    simConfigure(L'E', emptyDrive());
    start("[g_propMain]\r\nnDefaultDisk=69\r\n");
    ASSERT_TRUE(DriveTable[3] && DriveTable[4]);
    // E: was created first, alone; its next poll finds D: beside it.
    EXPECT_TRUE(waitUntil([&] { return iconEntryOf(DriveTable[4]) == 6; }, 3000));
    EXPECT_EQ(iconEntryOf(DriveTable[3]), 2);

    setIconVisible(DriveTable[3], false);  // now E: is alone in the tray
    EXPECT_EQ(trayIconCount, 1);
    EXPECT_TRUE(waitUntil([&] { return iconEntryOf(DriveTable[4]) == 2; }, 3000));
}

TEST_F(DriveIconTest, MonitorSeesAStateChangeWithinAboutASecond) {
    simConfigure(L'D', emptyDrive());
    start();
    DriveRecord* d = DriveTable[3];
    ASSERT_NE(d, nullptr);
    ASSERT_EQ(iconEntryOf(d), 2);
    pumpMessages(300);
    simSetTray(L'D', true);
    const DWORD start = GetTickCount();
    ASSERT_TRUE(waitUntil([&] { return iconEntryOf(d) == 3; }, 3000));
    EXPECT_LT(GetTickCount() - start, 2000u);  // one wait of a second plus a poll
    EXPECT_EQ(tipOf(d), d->tipTrayOpen);

    simSetTray(L'D', false);
    simSetMedium(L'D', SimMedium::Data, L"NEW_DISC", 2048, 0);
    ASSERT_TRUE(waitUntil([&] { return iconEntryOf(d) == 0; }, 3000));
    EXPECT_NE(tipOf(d).find(L"NEW_DISC"), std::wstring::npos);
}

TEST_F(DriveIconTest, HidingAndShowingMakesNewIconsAndANewThread) {
    simConfigure(L'D', emptyDrive());
    start();
    DriveRecord* d = DriveTable[3];
    TrayIconRecord* firstIcon = d->trayIcon;
    HANDLE firstThread = d->monitorThread;
    setIconVisible(d, true);  // already shown: nothing happens
    EXPECT_EQ(d->trayIcon, firstIcon);
    EXPECT_EQ(d->monitorThread, firstThread);

    setIconVisible(d, false);
    EXPECT_EQ(d->trayIcon, nullptr);
    EXPECT_EQ(d->monitorThread, nullptr);
    EXPECT_EQ(d->stopEvent, nullptr);
    EXPECT_EQ(d->icons[0], nullptr);
    EXPECT_EQ(trayIconCount, 0);

    setIconVisible(d, true);
    EXPECT_NE(d->trayIcon, nullptr);
    EXPECT_NE(d->monitorThread, nullptr);
    EXPECT_NE(d->icons[7], nullptr);
    EXPECT_EQ(d->stopRequested, 0);
    EXPECT_NE(d->trayIcon->added, 0);
    EXPECT_EQ(trayIconCount, 1);
}

TEST_F(DriveIconTest, DescriptionsForTheSettingsNameLabelSizeOrTracks) {
    simConfigure(L'D', dataDisc(L"PHOTOS", 123456789));
    simConfigure(L'E', audioDisc(9));
    start("[dpDiskProp3]\r\nbHide=1\r\n[dpDiskProp4]\r\nbHide=1\r\n");
    wchar_t text[kTipBufferCapacity];
    buildInfoText(DriveTable[3], text);
    EXPECT_EQ(std::wstring(text), L"[D:] PHOTOS <" + sizeText(123456789) + L">");
    buildInfoText(DriveTable[4], text);
    wchar_t tracks[64];
    formatText(tracks, 64, englishString(IDS_AUDIO_STOPPED).c_str(), {9});
    EXPECT_EQ(std::wstring(text), std::wstring(L"[E:] Audio CD") + tracks);
    // One open for the table; a drive held by another handle shows its
    // letter alone rather than the count read before.
    simClearJournal();
    buildInfoText(DriveTable[4], text);
    const auto opens = journalOf('E');
    EXPECT_EQ(std::count_if(opens.begin(), opens.end(),
                            [](const std::string& line) { return line.rfind("E: open", 0) == 0; }),
              1);
    HANDLE held = openDevicePassThrough(L'E');
    buildInfoText(DriveTable[4], text);
    seamCloseDevice(held);
    EXPECT_STREQ(text, L"[E:] ");
    simSetTray(L'D', true);
    buildInfoText(DriveTable[3], text);
    EXPECT_STREQ(text, L"[D:] ");
}

TEST_F(DriveIconTest, HundredsOfShowHideCyclesAndPollsLeakNothing) {
    simConfigure(L'D', dataDisc(L"DATA", 1000));
    simConfigure(L'E', audioDisc(4));
    start();
    DriveRecord* d = DriveTable[3];
    DriveRecord* e = DriveTable[4];
    simSetJournalEnabled(false);
    for (int i = 0; i < 20; ++i) {  // warm up
        setIconVisible(d, false);
        setIconVisible(d, true);
    }
    // Icons live in a table the whole session shares, and the shell keeps
    // copies of its own: check that each icon the drive made is destroyed.
    // GDI objects and kernel handles are this process's alone: count them.
    const int gdi = freeGdiSlots();
    const int handles = liveKernelHandles();
    int iconsAlive = 0;
    for (int i = 0; i < 300; ++i) {
        HICON made[8];
        for (int k = 0; k < 8; ++k) made[k] = d->icons[k];
        setIconVisible(d, false);
        for (HICON icon : made) {
            ICONINFO info{};
            if (GetIconInfo(icon, &info)) {
                ++iconsAlive;
                DeleteObject(info.hbmColor);
                DeleteObject(info.hbmMask);
            }
        }
        setIconVisible(d, true);
        updateDriveIcon(e, true);
    }
    EXPECT_EQ(iconsAlive, 0);
    EXPECT_EQ(freeGdiSlots(), gdi);
    EXPECT_EQ(liveKernelHandles(), handles);
    EXPECT_LE(simOpenHandleCount(), 2u);  // at most the monitors' requests in flight
}

}  // namespace
