// The simulated drives must answer the seam as real drives do, or the drive
// code would be proven against the wrong thing.
#include "drives/device_seam.h"
#include "drives/sim/sim_ini.h"
#include "tests/test_support.h"

#include <ntddscsi.h>
#include <gtest/gtest.h>
#include <algorithm>
#include <cstring>

namespace {

using Bytes = std::vector<uint8_t>;
const Bytes kMediaEvents = {0x4A, 0x01, 0, 0, 0x10, 0, 0, 0x00, 0x08, 0};
constexpr DWORD kShare = FILE_SHARE_READ | FILE_SHARE_WRITE;

HANDLE open(wchar_t letter = L'D', DWORD access = GENERIC_READ | GENERIC_WRITE) {
    return seamOpenDevice(letter, access, kShare, 0);
}
BOOL ioctl(HANDLE device, DWORD code, const void* in = nullptr, DWORD inSize = 0) {
    DWORD returned = 0;
    return seamDeviceIoControl(device, code, const_cast<void*>(in), inSize, nullptr, 0, &returned);
}
BOOL lock(HANDLE device, UCHAR prevent) { return ioctl(device, IOCTL_STORAGE_MEDIA_REMOVAL, &prevent, 1); }
// A data-in command; nothing beyond `transfer` may be touched. The reply and
// the SCSI status go to `reply` and `status` when given.
bool scsi(HANDLE device, const Bytes& cdb, ULONG transfer, Bytes* reply = nullptr, UCHAR* status = nullptr) {
    Bytes buffer(transfer + 16, 0xCC);
    SCSI_PASS_THROUGH_DIRECT request{};
    request.Length = sizeof request;
    request.CdbLength = static_cast<UCHAR>(cdb.size());
    request.DataIn = SCSI_IOCTL_DATA_IN;
    request.DataTransferLength = transfer;
    request.TimeOutValue = 5;
    request.DataBuffer = buffer.data();
    std::memcpy(request.Cdb, cdb.data(), cdb.size());
    DWORD returned = 0;
    const bool ok = seamDeviceIoControl(device, IOCTL_SCSI_PASS_THROUGH_DIRECT, &request, sizeof request, &request,
                                        sizeof request, &returned);
    EXPECT_LE(request.DataTransferLength, transfer);
    EXPECT_TRUE(std::all_of(buffer.begin() + transfer, buffer.end(), [](uint8_t b) { return b == 0xCC; }));
    if (reply != nullptr) reply->assign(buffer.begin(), buffer.begin() + std::min(request.DataTransferLength, transfer));
    if (status != nullptr) *status = request.ScsiStatus;
    return ok;
}

class SimDrivesTest : public ::testing::Test {
    void SetUp() override { simReset(); }
};

// Handles are counted, and the pass-through needs write access (a drive that
// refuses it shows in the device commands' media state test).
TEST_F(SimDrivesTest, HandlesAndPassThroughBehaveAsOnWindows) {
    simConfigure(L'D', dataDisc(L"DATA", 1000));
    HANDLE readOnly = open(L'D', GENERIC_READ), d = open();
    ASSERT_TRUE(readOnly != INVALID_HANDLE_VALUE && d != INVALID_HANDLE_VALUE);
    EXPECT_EQ(simOpenHandleCount(), 2u);
    EXPECT_FALSE(scsi(readOnly, kMediaEvents, 8));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_TRUE(ioctl(readOnly, IOCTL_STORAGE_CHECK_VERIFY));
    EXPECT_TRUE(scsi(d, kMediaEvents, 8));
    for (HANDLE device : {readOnly, d}) seamCloseDevice(device);
    EXPECT_EQ(simOpenHandleCount(), 0u);
}

// The tray opens only once every prevent request has been allowed again:
// the program must never send an unmatched prevent.
TEST_F(SimDrivesTest, EjectsOnlyWhenEveryPreventIsAllowed) {
    simConfigure(L'D', audioDisc(5));
    HANDLE d = open();
    const UCHAR play[6] = {0, 2, 0, 20, 2, 0};
    ASSERT_TRUE(ioctl(d, IOCTL_CDROM_PLAY_AUDIO_MSF, play, 6));
    for (UCHAR prevent : {1, 2, 0}) lock(d, prevent);
    EXPECT_FALSE(ioctl(d, IOCTL_STORAGE_EJECT_MEDIA));
    EXPECT_FALSE(simState(L'D').trayOpen);
    lock(d, 0);
    simClearJournal();
    EXPECT_TRUE(ioctl(d, IOCTL_STORAGE_EJECT_MEDIA));
    EXPECT_TRUE(simState(L'D').trayOpen && simState(L'D').audioStatus == AUDIO_STATUS_NO_STATUS) << "play not stopped";
    EXPECT_EQ(simJournal(), std::vector<std::string>{"D: IOCTL_STORAGE_EJECT_MEDIA -> ok"});
    seamCloseDevice(d);
}

// What the program must not take for granted: a command's SCSI status, the
// reply's length and layout, and a check that fails once after a disc change.
TEST_F(SimDrivesTest, AnswersWhereRealDrivesDifferFromTheObviousReading) {
    SimDriveConfig config = dataDisc(L"DATA", 1000);
    config.eventStatus = SimEventStatus::CheckCondition;
    config.blockDescriptor = true;
    simConfigure(L'D', config);
    HANDLE d = open();
    const auto command = [d](const Bytes& cdb, ULONG transfer, Bytes& reply) {
        UCHAR status = 0xFF;
        EXPECT_TRUE(scsi(d, cdb, transfer, &reply, &status));
        return status;
    };
    Bytes reply;
    EXPECT_EQ(command(kMediaEvents, 8, reply), 2) << "CHECK CONDITION";
    EXPECT_TRUE(reply.empty());
    EXPECT_EQ(command({0x5A, 0, 0x2A, 0, 0, 0, 0, 1, 0, 0, 0, 0}, 256, reply), 0);
    ASSERT_EQ(reply.size(), 38u);
    EXPECT_TRUE(reply[7] == 8 && reply[16] == 0x2A) << "the page follows the block descriptor";
    config.eventStatus = SimEventStatus::HeaderOnly;
    config.trayOpen = true;
    simConfigure(L'D', config);
    EXPECT_EQ(command(kMediaEvents, 8, reply), 0);
    EXPECT_EQ(reply, (Bytes{0, 2, 0x80, 0x02})) << "no event available";
    config.eventStatus = SimEventStatus::Media;
    simConfigure(L'D', config);
    command(kMediaEvents, 8, reply);
    EXPECT_EQ(reply.at(5), 0x03) << "an open tray with a disc in it";
    simSetTray(L'D', false);
    EXPECT_FALSE(ioctl(d, IOCTL_STORAGE_CHECK_VERIFY));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MEDIA_CHANGED));
    EXPECT_TRUE(ioctl(d, IOCTL_STORAGE_CHECK_VERIFY)) << "only once";
    seamCloseDevice(d);
}

// Two tracks of four minutes: 00:02:00, 04:02:00, lead-out 08:02:00.
TEST_F(SimDrivesTest, AudioPlaysInRealTimeToItsEndAndRefusesEndsOffTheDisc) {
    simConfigure(L'D', audioDisc(2));
    HANDLE d = open();
    const auto play = [d](std::initializer_list<UCHAR> msf) {
        const std::vector<UCHAR> bytes(msf);
        return ioctl(d, IOCTL_CDROM_PLAY_AUDIO_MSF, bytes.data(), 6);
    };
    const auto status = [d] {
        CDROM_SUB_Q_DATA_FORMAT format{IOCTL_CDROM_CURRENT_POSITION, 0};
        SUB_Q_CHANNEL_DATA data{};
        DWORD returned = 0;
        seamDeviceIoControl(d, IOCTL_CDROM_READ_Q_CHANNEL, &format, sizeof format, &data, sizeof data, &returned);
        return std::pair<int, int>(data.CurrentPosition.Header.AudioStatus, data.CurrentPosition.TrackNumber);
    };
    for (auto end : {std::vector<UCHAR>{0xFF, 0xFF, 0xFF}, {75, 0, 0}, {8, 2, 1}, {1, 60, 0}}) {
        EXPECT_FALSE(play({0, 2, 0, end[0], end[1], end[2]})) << int(end[0]);
    }
    ASSERT_TRUE(play({0, 2, 0, 8, 2, 0}));
    simAdvanceClock(5 * 60 * 1000);
    EXPECT_EQ(status(), std::pair(AUDIO_STATUS_IN_PROGRESS, 2));
    EXPECT_TRUE(ioctl(d, IOCTL_CDROM_PAUSE_AUDIO));
    simAdvanceClock(10 * 60 * 1000);
    EXPECT_EQ(status(), std::pair(AUDIO_STATUS_PAUSED, 2)) << "a pause holds the position";
    EXPECT_TRUE(ioctl(d, IOCTL_CDROM_RESUME_AUDIO));
    simAdvanceClock(3 * 60 * 1000 + 2000);
    EXPECT_EQ(status(), std::pair(AUDIO_STATUS_PLAY_COMPLETE, 2));
    EXPECT_EQ(status().first, AUDIO_STATUS_NO_STATUS);
    seamCloseDevice(d);
}

TEST(SimDrivesIni, OddValuesAreReadSoundly) {
    const SimIniDrives drives = parseSimDrivesIni(
        "\xEF\xBB\xBF; drives\r\n[d]\r\n tray = open ; by hand\r\nmedium=AUDIO\r\ntracks=500\r\n"
        "size=99999999999999999999999\r\ndelay_ms=86400000\r\nevent_status=sometimes\r\nfail= IOCTL_CDROM_READ_TOC , MCI,,\r\n"
        "label=\xD0\x94\xD0\x98\xD0\xA1\xD0\x9A\r\n"
        "[E]\nmedium=floppy\ntracks=-3\ndelay_ms=abc\npassthrough=maybe\nopens=0\nlocked=7\nroot=discs\\e\n"
        "event_status=check\nblock_descriptor=yes\n"
        "[DD]\nmedium=data\n[F]\n",
        L"C:\\sim");
    const SimDriveConfig& d = drives[3].config;
    EXPECT_TRUE(drives[3].present && d.trayOpen);
    EXPECT_TRUE(d.medium == SimMedium::Audio && d.tracks == 99) << d.tracks;
    EXPECT_TRUE(d.size == UINT64_MAX && d.delayMs == 60000) << d.size << " " << d.delayMs;
    EXPECT_EQ(d.failing, (std::vector<std::string>{"IOCTL_CDROM_READ_TOC", "MCI"}));
    EXPECT_EQ(d.label, L"\x0414\x0418\x0421\x041A");
    const SimDriveConfig& e = drives[4].config;
    EXPECT_TRUE(e.medium == SimMedium::None && e.tracks == 0 && !e.delayMs && e.passthrough && e.locked == 7 && !e.opens);
    EXPECT_TRUE(e.eventStatus == SimEventStatus::CheckCondition && e.blockDescriptor && d.locked == 0 &&
                d.eventStatus == SimEventStatus::Media);
    EXPECT_EQ(e.root, L"C:\\sim\\discs\\e");
    EXPECT_TRUE(drives[5].present && !drives[6].present);  // an empty section is a drive with nothing in it
    EXPECT_TRUE(parseSimDrivesIni(std::string("\xFF\xFE[\0G\0]\0\n\0", 10), L"C:\\")[6].present);
}

}  // namespace
