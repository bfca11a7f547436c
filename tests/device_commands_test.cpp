// The device commands against simulated drives: media state, lock, audio,
// and track skipping, down to the requests sent.
#include "app/app.h"
#include "drives/device_commands.h"
#include "drives/device_seam.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace {

using Lines = std::vector<std::string>;
const std::string kOpenPassThrough = "D: open passthrough -> ok";
const std::string kEventStatus = "D: IOCTL_SCSI_PASS_THROUGH_DIRECT cdb=4A010000100000000800 -> ok";

class DeviceCommandsTest : public ::testing::Test {
protected:
    void SetUp() override { simReset(); isVistaOrLater = 0; }
    void TearDown() override { EXPECT_EQ(simOpenHandleCount(), 0u) << "a device handle was left open"; }
    // The state found with the record's kind and audio status set beforehand.
    uint8_t query(const SimDriveConfig& drive, MediaKind kind, uint8_t audio) {
        simConfigure(L'D', drive);
        record->mediaKind = kind;
        record->audioStatus = audio;
        return queryMediaState(record.get());
    }
    BareRecord record{L'D'};
};

TEST_F(DeviceCommandsTest, MediaStateFollowsTheEventStatusReplyOrElseTheVolume) {
    SimDriveConfig open = dataDisc(L"X", 1000), readable = dataDisc(L"DATA", 1000), blank, empty;
    open.trayOpen = true;  // with the disc in it: both bits
    readable.passthrough = blank.passthrough = empty.passthrough = false;
    blank.medium = SimMedium::Blank;
    // A drive that ends the command in CHECK CONDITION, or answers with the
    // header alone, has said nothing about its tray: as if pass-through failed.
    SimDriveConfig checkCondition = readable, headerOnly = empty;
    checkCondition.passthrough = headerOnly.passthrough = true;
    checkCondition.eventStatus = SimEventStatus::CheckCondition;
    headerOnly.eventStatus = SimEventStatus::HeaderOnly;
    EXPECT_EQ(query(open, AudioCd, kAudioPlaying), TrayOpen);
    EXPECT_EQ(journalOf('D'), (Lines{kOpenPassThrough, kEventStatus, "D: close"})) << "the device opened once";
    // A medium leaves the kind and status to the tip builder; without
    // pass-through the volume, then the verify request, decide.
    struct Row { SimDriveConfig drive; uint8_t state, kind, audio; };
    for (const Row& row : {Row{open, TrayOpen, None, kAudioNoStatus}, Row{{}, ClosedEmpty, None, kAudioNoStatus},
                           Row{dataDisc(L"X", 1), MediumPresent, AudioCd, kAudioPaused},
                           Row{readable, MediumPresent, AudioCd, kAudioPaused},
                           Row{checkCondition, MediumPresent, AudioCd, kAudioPaused},
                           Row{blank, MediumPresent, UnreadableMedium, kAudioNoStatus},
                           Row{empty, ClosedEmpty, None, kAudioNoStatus}}) {
        EXPECT_EQ(query(row.drive, AudioCd, kAudioPaused), row.state);
        EXPECT_TRUE(record->mediaKind == row.kind && record->audioStatus == row.audio) << int(row.kind);
    }
    // Nothing to read or verify: the tray is where the program left it.
    record->assumedClosed = 0;
    EXPECT_EQ(query(empty, DataDisc, kAudioPaused), TrayOpen);
    EXPECT_EQ(query(headerOnly, DataDisc, kAudioPaused), TrayOpen);
}

TEST_F(DeviceCommandsTest, LockingSendsAllowThenPreventUnlessAlreadyLocked) {
    simConfigure(L'D', emptyDrive());
    const Lines query = {kOpenPassThrough, "D: IOCTL_SCSI_PASS_THROUGH_DIRECT cdb=5A002A000000000100000000 -> ok",
                         "D: close"};
    const auto journalAfter = [this](int lock) {
        simClearJournal();
        setLock(record.get(), lock);
        return journalOf('D');
    };
    Lines expected = query;
    expected.insert(expected.end(), {"D: open read -> ok", "D: IOCTL_STORAGE_MEDIA_REMOVAL in=00 -> ok",
                                     "D: IOCTL_STORAGE_MEDIA_REMOVAL in=01 -> ok", "D: close"});
    EXPECT_EQ(journalAfter(1), expected);
    EXPECT_TRUE(simState(L'D').locked && queryLockState(record.get()) == 1);
    EXPECT_EQ(journalAfter(1), query);
    EXPECT_EQ(journalAfter(0), (Lines{"D: open read -> ok", "D: IOCTL_STORAGE_MEDIA_REMOVAL in=00 -> ok", "D: close"}));
    EXPECT_FALSE(simState(L'D').locked || queryLockState(record.get()));
    simSetFailing(L'D', {"IOCTL_STORAGE_MEDIA_REMOVAL"});
    for (const std::string& line : journalAfter(1)) EXPECT_EQ(line.find("in=01"), line.npos) << "after a failed allow";
    // The capabilities page is found behind a block descriptor.
    SimDriveConfig described = emptyDrive();
    described.blockDescriptor = true;
    for (uint32_t locks : {0u, 1u}) {
        described.locked = locks;
        simConfigure(L'D', described);
        EXPECT_EQ(queryLockState(record.get()), static_cast<int>(locks));
    }
}

TEST_F(DeviceCommandsTest, AudioPlayStopPauseAndResume) {
    simConfigure(L'D', audioDisc(12));
    playAudio(record.get());
    // From track 1 to the lead-out the table gives (twelve tracks of four minutes after a two-second gap).
    EXPECT_TRUE(journalHas("D: IOCTL_CDROM_PLAY_AUDIO_MSF in=000200300200 -> ok") && record->playStarted == 1);
    for (uint8_t status : {kAudioPlaying, kAudioPaused}) {
        record->audioStatus = status;
        pauseResumeAudio(record.get());
        EXPECT_EQ(simState(L'D').audioStatus, status == kAudioPlaying ? kAudioPaused : kAudioPlaying);
    }
    simClearJournal();
    record->audioStatus = kAudioNoStatus;
    pauseResumeAudio(record.get());
    EXPECT_TRUE(journalOf('D').empty()) << "no status opens no device";
    stopAudio(record.get());
    EXPECT_TRUE(record->playStarted == 0 && simState(L'D').audioStatus == kAudioNoStatus);
    // Newer systems hand the disc to the shell and leave playStarted alone.
    isVistaOrLater = 1;
    simClearJournal();
    record->playStarted = 1;
    playAudio(record.get());
    EXPECT_EQ(simJournal(), (Lines{"shell default \"D:\\Track01.cda\" \"\" \"\" -> ok"}));
    EXPECT_EQ(record->playStarted, 1);
}

// Skips from the track in the record's position to the start of the next or
// previous track of its table, wrapping round; impossible positions or tables
// and a failed stop skip nothing. A new record has no position or table to
// skip from, whatever its memory held.
using TrackSkip = DeviceCommandsTest;

TEST_F(TrackSkip, WrapsAroundTheDiscAndIgnoresTheImpossible) {
    simConfigure(L'D', audioDisc(12));
    nextTrack(record.get());
    previousTrack(record.get());
    EXPECT_TRUE(journalOf('D').empty());
    EXPECT_TRUE(record->toc.LastTrack == 0 && record->subQ.CurrentPosition.TrackNumber == 0 && !record->stopRequested);
    HANDLE device = openDeviceRead(L'D');
    DWORD returned = 0;
    seamDeviceIoControl(device, IOCTL_CDROM_READ_TOC, nullptr, 0, &record->toc, sizeof record->toc, &returned);
    seamCloseDevice(device);
    ASSERT_EQ(record->toc.LastTrack, 12);
    const auto skip = [this](void (*command)(DriveRecord*), int from, int first = 1, int last = 12) {
        simClearJournal();
        record->subQ.CurrentPosition.TrackNumber = static_cast<UCHAR>(from);
        record->toc.FirstTrack = static_cast<UCHAR>(first);
        record->toc.LastTrack = static_cast<UCHAR>(last);
        command(record.get());
        return journalOf('D');
    };
    const auto play = [this](int entry) {
        const UCHAR* at = record->toc.TrackData[entry].Address;
        char line[80];
        std::snprintf(line, 80, "D: IOCTL_CDROM_PLAY_AUDIO_MSF in=%02X%02X%02X300200 -> ok", at[1], at[2], at[3]);
        return Lines{"D: open read -> ok", "D: IOCTL_CDROM_STOP_AUDIO -> ok", line, "D: close"};
    };
    struct Case { void (*command)(DriveRecord*); int from, entry; };
    for (const Case& c : {Case{nextTrack, 5, 5}, Case{nextTrack, 12, 0}, Case{previousTrack, 5, 3},
                          Case{previousTrack, 1, 11}}) {
        EXPECT_EQ(skip(c.command, c.from), play(c.entry)) << c.from;
        EXPECT_EQ(simState(L'D').currentTrack, c.entry + 1);
    }
    EXPECT_EQ(record->playStarted, 1);
    struct Bad { int track, first, last; };
    for (const Bad& c : {Bad{0, 1, 12}, Bad{13, 1, 12}, Bad{5, 7, 3}, Bad{0, 0, 0}, Bad{100, 1, 100}}) {
        for (auto command : {nextTrack, previousTrack}) {
            EXPECT_TRUE(skip(command, c.track, c.first, c.last).empty()) << c.track << ' ' << c.first << '-' << c.last;
        }
    }
    simSetFailing(L'D', {"IOCTL_CDROM_STOP_AUDIO"});
    for (const std::string& line : skip(nextTrack, 2)) EXPECT_EQ(line.find("PLAY_AUDIO"), std::string::npos) << line;
}

}  // namespace
