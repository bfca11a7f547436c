// Drive records as the start-up creates them from the simulated drives: the
// order, the hot keys, the lock and the destruction.
#include "app/app.h"
#include "tray/common_icon.h"
#include "drives/device_commands.h"
#include "drives/device_seam.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

using Lines = std::vector<std::string>;

class DriveRecordTest : public ::testing::Test {
protected:
    void SetUp() override { simReset(); }
    void TearDown() override {
        host.reset();
        EXPECT_TRUE(driveRecordCount == 0 && trayIconCount == 0);
        for (DriveRecord* record : DriveTable) EXPECT_EQ(record, nullptr);
    }
    void start(const std::string& settings = std::string()) { host = std::make_unique<MainWindowHost>(settings); }
    std::unique_ptr<MainWindowHost> host;
};

TEST_F(DriveRecordTest, StartUpCreatesARecordPerDriveFromZDownToAWithItsHotKeys) {
    for (wchar_t letter : {L'A', L'Z'}) simConfigure(letter, emptyDrive());
    simConfigure(L'D', dataDisc(L"HOLIDAY_2026", 4700000000ull));
    simConfigure(L'E', audioDisc(12));
    start("[dpDiskProp0]\r\nhkEject.fsModifiers=3\r\nhkEject.vk=112\r\nhkClose.fsModifiers=3\r\nhkClose.vk=113\r\n"
          "[dpDiskProp25]\r\nhkEject.fsModifiers=3\r\nhkEject.vk=114\r\n[dpDiskProp3]\r\nhkEject.fsModifiers=3\r\n");
    for (int i = 0; i < kDriveCount; ++i) EXPECT_EQ(DriveTable[i] != nullptr, i % 25 == 0 || i == 3 || i == 4) << i;
    EXPECT_TRUE(driveRecordCount == 4 && trayIconCount == 4 && commonIconRecord == nullptr);
    const Lines journal = simJournal();
    const auto first = [&](char c) { return std::ranges::find_if(journal, [c](auto& line) { return line[0] == c; }); };
    EXPECT_LT(first('E'), first('D')) << "E: must be created before D:";
    DriveRecord *a = DriveTable[0], *d = DriveTable[3], *z = DriveTable[25];
    EXPECT_TRUE(a->ejectHotKeyRegistered && a->closeHotKeyRegistered && z->ejectHotKeyRegistered);
    EXPECT_FALSE(z->closeHotKeyRegistered || d->ejectHotKeyRegistered) << "modifiers without a key register nothing";
    EXPECT_FALSE(RegisterHotKey(nullptr, 1, 3, 114)) << "Z:'s key is not held";
}

// Start-up releases a lock left on a drive; the monitor applies the wanted
// one, any non-zero setting counting as one lock that leaving releases.
// Leaving also stops the music a drive plays.
TEST_F(DriveRecordTest, AnyNonZeroLockSettingLocksOnceAndLeavingUnlocksAndStopsTheMusic) {
    SimDriveConfig locked = emptyDrive(), playing = audioDisc(5);
    locked.locked = playing.locked = true;
    simConfigure(L'D', locked);
    simConfigure(L'E', playing);
    start("[dpDiskProp3]\r\nbLock=2\r\n");
    DriveRecord *d = DriveTable[3], *e = DriveTable[4];
    ASSERT_TRUE(d && e);
    EXPECT_TRUE(d->locked == 1 && e->locked == 0);
    EXPECT_FALSE(simState(L'E').locked) << "a lock left on a drive is released";
    ASSERT_TRUE(waitUntil([] { return simState(L'D').locked; }, 3000)) << "the monitor never locked D:";
    setLock(d, 2);  // as further polls do: no prevent may pile up
    setLock(d, 2);
    isVistaOrLater = 0;
    playAudio(e);
    ASSERT_TRUE(waitUntil([e] { return e->audioStatus == kAudioPlaying; }, 3000));
    host.reset();
    EXPECT_FALSE(simState(L'D').locked) << "a lock stacked by repeated prevents outlived the program";
    EXPECT_TRUE(journalHas("E: IOCTL_CDROM_STOP_AUDIO -> ok") && simState(L'E').audioStatus == kAudioNoStatus);
}

// The drive keeps one lock count that any program's allow lowers: the polls
// and the end leave another program's locks alone, start-up releasing one
// left on the drive.
TEST_F(DriveRecordTest, AnotherProgramsLocksOutliveThePollsAndTheEnd) {
    SimDriveConfig burning = emptyDrive();
    burning.locked = 2;
    simConfigure(L'D', burning);
    simConfigure(L'E', emptyDrive());
    start("[dpDiskProp4]\r\nbLock=1\r\n");
    DriveRecord* e = DriveTable[4];
    ASSERT_TRUE(e && waitUntil([] { return simState(L'E').locked; }, 3000));
    e->locked = 0;  // as the lock command does
    ASSERT_TRUE(waitUntil([] { return !simState(L'E').locked; }, 3000)) << "the program's own lock stays";
    HANDLE burner = openDeviceRead(L'E');
    PREVENT_MEDIA_REMOVAL prevent{TRUE};
    DWORD returned = 0;
    seamDeviceIoControl(burner, IOCTL_STORAGE_MEDIA_REMOVAL, &prevent, 1, nullptr, 0, &returned);
    seamCloseDevice(burner);
    pumpMessages(2500);  // two polls
    EXPECT_EQ(simState(L'D').lockCount, 1u);
    EXPECT_EQ(simState(L'E').lockCount, 1u);
    host.reset();
    EXPECT_TRUE(simState(L'D').lockCount == 1 && simState(L'E').lockCount == 1);
}

TEST_F(DriveRecordTest, AThreadOutlivingTheDestructionNeverLocksTheDriveAgain) {
    simConfigure(L'D', emptyDrive());
    start("[dpDiskProp3]\r\nbLock=1\r\n");
    ASSERT_TRUE(waitUntil([] { return simState(L'D').locked; }, 3000));
    // The drive loses its lock; the monitor's next pass locks it again with an
    // allow and a prevent, and the allow takes longer than destruction waits.
    simHoldNext(L'D', "IOCTL_STORAGE_MEDIA_REMOVAL in=00", 18000);
    simSetPresent(L'D', false);
    simSetPresent(L'D', true);
    ASSERT_TRUE(waitUntil([] { return journalHas("D: hold IOCTL_STORAGE_MEDIA_REMOVAL in=00"); }, 3000));
    simClearJournal();
    const DWORD start = GetTickCount();
    removeDriveRecord(3);
    const DWORD waited = GetTickCount() - start;
    EXPECT_GE(waited, 14500u);
    EXPECT_LT(waited, 17500u) << "destruction must not wait for the held request itself";
    // The thread returns after the record is gone: it must send nothing more
    // and close its device.
    EXPECT_TRUE(waitUntil([] { return simOpenHandleCount() == 0; }, 10000));
    pumpMessages(300);
    EXPECT_FALSE(simState(L'D').locked) << "locked again after the destruction's unlock";
    EXPECT_FALSE(journalHas("D: IOCTL_STORAGE_MEDIA_REMOVAL in=01 -> ok"));
}

}  // namespace
