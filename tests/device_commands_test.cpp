// The device commands against simulated drives: the media-state decisions,
// the lock, audio, track skipping and speed, down to the bytes sent.
#include "app/app.h"
#include "drives/device_commands.h"
#include "drives/device_seam.h"
#include "tests/drive_test_support.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace {

using Lines = std::vector<std::string>;

class DeviceCommandsTest : public ::testing::Test {
protected:
    void SetUp() override {
        simReset();
        isVistaOrLater = 0;
    }
    void TearDown() override {
        EXPECT_EQ(simOpenHandleCount(), 0u) << "a device handle was left open";
    }
    BareRecord record{L'D'};
};

TEST_F(DeviceCommandsTest, MediaStateFollowsTheEventStatusReply) {
    SimDriveConfig open = dataDisc(L"X", 1000);
    open.trayOpen = true;
    simConfigure(L'D', open);
    record->mediaKind = AudioCd;
    record->audioStatus = kAudioPlaying;
    EXPECT_EQ(queryMediaState(record.get()), TrayOpen);
    EXPECT_EQ(record->mediaKind, None);
    EXPECT_EQ(record->audioStatus, kAudioNoStatus);
    EXPECT_EQ(journalOf('D'), (Lines{"D: open passthrough -> ok",
                                     "D: IOCTL_SCSI_PASS_THROUGH_DIRECT cdb=4A010000100000000800 -> ok",
                                     "D: close"}));

    simSetTray(L'D', false);
    record->mediaKind = AudioCd;
    record->audioStatus = kAudioPaused;
    EXPECT_EQ(queryMediaState(record.get()), MediumPresent);
    EXPECT_EQ(record->mediaKind, AudioCd) << "a medium leaves the kind to the tip builder";
    EXPECT_EQ(record->audioStatus, kAudioPaused);

    simConfigure(L'D', emptyDrive());
    EXPECT_EQ(queryMediaState(record.get()), ClosedEmpty);
    EXPECT_EQ(record->mediaKind, None);
    EXPECT_EQ(record->audioStatus, kAudioNoStatus);
}

TEST_F(DeviceCommandsTest, WithoutPassThroughTheVolumeThenCheckVerifyDecide) {
    SimDriveConfig readable = dataDisc(L"DATA", 1000);
    readable.passthrough = false;
    simConfigure(L'D', readable);
    record->mediaKind = DataDisc;
    record->audioStatus = kAudioPaused;
    EXPECT_EQ(queryMediaState(record.get()), MediumPresent);
    EXPECT_EQ(record->mediaKind, DataDisc);
    EXPECT_EQ(record->audioStatus, kAudioPaused);

    SimDriveConfig blank;
    blank.medium = SimMedium::Blank;
    blank.passthrough = false;
    simConfigure(L'D', blank);
    EXPECT_EQ(queryMediaState(record.get()), MediumPresent);
    EXPECT_EQ(record->mediaKind, UnreadableMedium);
    EXPECT_EQ(record->audioStatus, kAudioNoStatus);

    // Nothing to read, nothing to verify: the tray is where the program left it.
    SimDriveConfig empty;
    empty.passthrough = false;
    simConfigure(L'D', empty);
    EXPECT_EQ(queryMediaState(record.get()), ClosedEmpty);
    record->assumedClosed = 0;
    EXPECT_EQ(queryMediaState(record.get()), TrayOpen);
    EXPECT_EQ(record->mediaKind, None);

    // A device that does not open at all still has a readable volume.
    SimDriveConfig sealed = dataDisc(L"SEALED", 1000);
    sealed.opens = false;
    simConfigure(L'D', sealed);
    EXPECT_EQ(queryMediaState(record.get()), MediumPresent);
}

TEST_F(DeviceCommandsTest, LockingSendsAllowThenPreventUnlessAlreadyLocked) {
    simConfigure(L'D', emptyDrive());
    setLock(record.get(), 1);
    EXPECT_EQ(journalOf('D'), (Lines{"D: open passthrough -> ok",
                                     "D: IOCTL_SCSI_PASS_THROUGH_DIRECT cdb=5A002A000000000100000000 -> ok",
                                     "D: close", "D: open read -> ok", "D: IOCTL_STORAGE_MEDIA_REMOVAL in=00 -> ok",
                                     "D: IOCTL_STORAGE_MEDIA_REMOVAL in=01 -> ok", "D: close"}));
    EXPECT_TRUE(simState(L'D').locked);
    EXPECT_EQ(queryLockState(record.get()), 1);

    simClearJournal();
    setLock(record.get(), 1);
    EXPECT_EQ(journalOf('D'), (Lines{"D: open passthrough -> ok",
                                     "D: IOCTL_SCSI_PASS_THROUGH_DIRECT cdb=5A002A000000000100000000 -> ok",
                                     "D: close"}));

    simClearJournal();
    setLock(record.get(), 0);
    EXPECT_EQ(journalOf('D'), (Lines{"D: open read -> ok", "D: IOCTL_STORAGE_MEDIA_REMOVAL in=00 -> ok", "D: close"}));
    EXPECT_FALSE(simState(L'D').locked);
    EXPECT_EQ(queryLockState(record.get()), 0);

    // When the allow request fails, no prevent request follows.
    simSetFailing(L'D', {"IOCTL_STORAGE_MEDIA_REMOVAL"});
    simClearJournal();
    setLock(record.get(), 1);
    EXPECT_FALSE(journalHas("D: IOCTL_STORAGE_MEDIA_REMOVAL in=01 -> ok"));
    EXPECT_FALSE(journalHas("D: IOCTL_STORAGE_MEDIA_REMOVAL in=01 -> fail"));
}

TEST_F(DeviceCommandsTest, SpeedCommandsSendTheirSpeedsAsReadAndWrite) {
    simConfigure(L'D', emptyDrive());
    const int expected[] = {177, 354, 708, 1416, 2832, 5664, 65535};
    for (int i = 0; i < 7; ++i) {
        record->speedCommand = static_cast<uint16_t>(40059 + i);
        simClearJournal();
        applySpeed(record.get());
        char line[80];
        std::snprintf(line, sizeof line, "D: IOCTL_CDROM_SET_SPEED read=%d write=%d -> ok", expected[i], expected[i]);
        EXPECT_TRUE(journalHas(line)) << line;
        EXPECT_EQ(simState(L'D').readSpeed, expected[i]);
    }
}

TEST_F(DeviceCommandsTest, AudioPlayStopPauseAndResume) {
    simConfigure(L'D', audioDisc(12));
    playAudio(record.get());
    EXPECT_TRUE(journalHas("D: IOCTL_CDROM_PLAY_AUDIO_MSF in=000200FFFFFF -> ok"));
    EXPECT_EQ(record->playStarted, 1);
    EXPECT_EQ(simState(L'D').audioStatus, kAudioPlaying);

    record->audioStatus = kAudioPlaying;
    pauseResumeAudio(record.get());
    EXPECT_EQ(simState(L'D').audioStatus, kAudioPaused);
    record->audioStatus = kAudioPaused;
    pauseResumeAudio(record.get());
    EXPECT_EQ(simState(L'D').audioStatus, kAudioPlaying);

    simClearJournal();
    record->audioStatus = kAudioNoStatus;
    pauseResumeAudio(record.get());
    EXPECT_TRUE(journalOf('D').empty()) << "no status opens no device";

    stopAudio(record.get());
    EXPECT_EQ(record->playStarted, 0);
    EXPECT_EQ(simState(L'D').audioStatus, kAudioNoStatus);

    // Newer systems hand the disc to the shell and leave playStarted alone.
    isVistaOrLater = 1;
    simClearJournal();
    record->playStarted = 1;
    playAudio(record.get());
    EXPECT_EQ(simJournal(), (Lines{"shell default \"D:\\Track01.cda\" \"\" \"\" -> ok"}));
    EXPECT_EQ(record->playStarted, 1);
}

class TrackSkipTest : public DeviceCommandsTest {
protected:
    void SetUp() override {
        DeviceCommandsTest::SetUp();
        simConfigure(L'D', audioDisc(12));
        HANDLE device = openDeviceRead(L'D');
        DWORD returned = 0;
        seamDeviceIoControl(device, IOCTL_CDROM_READ_TOC, nullptr, 0, &record->toc, sizeof record->toc, &returned);
        seamCloseDevice(device);
        simClearJournal();
    }
    // The play request expected for a start at TOC entry `entry`.
    std::string playFromEntry(int entry) {
        const UCHAR* address = record->toc.TrackData[entry].Address;
        char line[80];
        std::snprintf(line, sizeof line, "D: IOCTL_CDROM_PLAY_AUDIO_MSF in=%02X%02X%02XFFFFFF -> ok", address[1],
                      address[2], address[3]);
        return line;
    }
};

TEST_F(TrackSkipTest, NextAndPreviousWrapAroundTheDisc) {
    ASSERT_EQ(record->toc.FirstTrack, 1);
    ASSERT_EQ(record->toc.LastTrack, 12);
    record->subQ.CurrentPosition.TrackNumber = 5;
    nextTrack(record.get());
    EXPECT_EQ(journalOf('D'), (Lines{"D: open read -> ok", "D: IOCTL_CDROM_STOP_AUDIO -> ok", playFromEntry(5),
                                     "D: close"}));
    EXPECT_EQ(simState(L'D').currentTrack, 6);

    simClearJournal();
    record->subQ.CurrentPosition.TrackNumber = 12;
    nextTrack(record.get());
    EXPECT_TRUE(journalHas(playFromEntry(0)));
    EXPECT_EQ(simState(L'D').currentTrack, 1);

    simClearJournal();
    record->subQ.CurrentPosition.TrackNumber = 5;
    previousTrack(record.get());
    EXPECT_TRUE(journalHas(playFromEntry(3)));

    simClearJournal();
    record->subQ.CurrentPosition.TrackNumber = 1;
    previousTrack(record.get());
    EXPECT_TRUE(journalHas(playFromEntry(11)));
    EXPECT_EQ(simState(L'D').currentTrack, 12);
    EXPECT_EQ(record->playStarted, 1);
}

TEST_F(TrackSkipTest, ImpossiblePositionsOrTablesAreIgnored) {
    struct Case {
        int track, first, last;
    };
    for (const Case& c : {Case{0, 1, 12}, Case{200, 1, 12}, Case{13, 1, 12}, Case{5, 7, 3}, Case{0, 0, 0},
                          Case{100, 1, 100}, Case{255, 255, 255}}) {
        record->subQ.CurrentPosition.TrackNumber = static_cast<UCHAR>(c.track);
        record->toc.FirstTrack = static_cast<UCHAR>(c.first);
        record->toc.LastTrack = static_cast<UCHAR>(c.last);
        nextTrack(record.get());
        previousTrack(record.get());
        EXPECT_TRUE(journalOf('D').empty()) << c.track << " in " << c.first << ".." << c.last;
    }
}

TEST_F(DeviceCommandsTest, ANewRecordHasNoPositionOrTableToSkipFrom) {
    // Nothing has been read yet: whatever the record's memory held before,
    // a skip finds no track and the tip reports no tracks.
    simConfigure(L'D', audioDisc(12));
    nextTrack(record.get());
    previousTrack(record.get());
    EXPECT_TRUE(journalOf('D').empty());
    EXPECT_EQ(record->toc.LastTrack, 0);
    EXPECT_EQ(record->subQ.CurrentPosition.TrackNumber, 0);
    EXPECT_EQ(record->stopRequested, 0);
}

TEST_F(DeviceCommandsTest, AFailedStopSkipsNoTrack) {
    simConfigure(L'D', audioDisc(3));
    simSetFailing(L'D', {"IOCTL_CDROM_STOP_AUDIO"});
    record->toc.FirstTrack = 1;
    record->toc.LastTrack = 3;
    record->subQ.CurrentPosition.TrackNumber = 2;
    nextTrack(record.get());
    for (const std::string& line : journalOf('D')) {
        EXPECT_EQ(line.find("PLAY_AUDIO"), std::string::npos) << line;
    }
}

}  // namespace
