// The simulated drives: they must answer the seam as real drives do, or the
// program's drive code would be proven against the wrong thing.
#include "drives/device_seam.h"
#include "drives/sim/sim_drives.h"
#include "drives/sim/sim_ini.h"
#include "tests/test_support.h"

#include <winioctl.h>
#include <ntddcdrm.h>
#include <ntddscsi.h>
#include <gtest/gtest.h>
#include <algorithm>
#include <cstring>
#include <thread>

namespace {

using Bytes = std::vector<uint8_t>;

const Bytes kMediaEvents = {0x4A, 0x01, 0, 0, 0x10, 0, 0, 0x00, 0x08, 0};
const Bytes kCapabilities = {0x5A, 0, 0x2A, 0, 0, 0, 0, 0x01, 0x00, 0};
constexpr DWORD kShare = FILE_SHARE_READ | FILE_SHARE_WRITE;

SimDriveConfig disc(SimMedium medium, int tracks = 0) {
    SimDriveConfig config;
    config.medium = medium;
    config.label = L"HOLIDAY_2026";
    config.size = 4700000000;
    config.tracks = tracks;
    return config;
}

class SimDrivesTest : public ::testing::Test {
protected:
    void SetUp() override { simReset(); }
    void TearDown() override { simReset(); }

    HANDLE open(wchar_t letter = L'D', DWORD access = GENERIC_READ | GENERIC_WRITE) {
        return seamOpenDevice(letter, access, kShare, 0);
    }
    BOOL ioctl(HANDLE device, DWORD code, const void* in = nullptr, DWORD inSize = 0, void* out = nullptr,
               DWORD outSize = 0) {
        DWORD returned = 0;
        return seamDeviceIoControl(device, code, const_cast<void*>(in), inSize, out, outSize, &returned);
    }
    BOOL lock(HANDLE device, bool prevent) {
        const UCHAR flag = prevent ? 1 : 0;
        return ioctl(device, IOCTL_STORAGE_MEDIA_REMOVAL, &flag, 1);
    }
    // Runs a data-in command; the bytes it delivered, or nothing when it failed.
    // Whatever the buffer holds beyond `transfer` must stay untouched.
    bool scsi(HANDLE device, const Bytes& cdb, ULONG transfer, Bytes& data) {
        Bytes buffer(transfer + 16, 0xCC);
        SCSI_PASS_THROUGH_DIRECT request{};
        request.Length = sizeof request;
        request.CdbLength = static_cast<UCHAR>(cdb.size());
        request.DataIn = SCSI_IOCTL_DATA_IN;
        request.DataTransferLength = transfer;
        request.TimeOutValue = 5;
        request.DataBuffer = buffer.data();
        std::memcpy(request.Cdb, cdb.data(), cdb.size());
        const bool ok = ioctl(device, IOCTL_SCSI_PASS_THROUGH_DIRECT, &request, sizeof request, &request, sizeof request);
        EXPECT_LE(request.DataTransferLength, transfer);
        EXPECT_TRUE(std::all_of(buffer.begin() + transfer, buffer.end(), [](uint8_t b) { return b == 0xCC; }));
        data.assign(buffer.begin(), buffer.begin() + (ok ? request.DataTransferLength : 0));
        return ok;
    }
    SUB_Q_CURRENT_POSITION position(HANDLE device) {
        const CDROM_SUB_Q_DATA_FORMAT format{IOCTL_CDROM_CURRENT_POSITION, 0};
        SUB_Q_CHANNEL_DATA data{};
        EXPECT_TRUE(ioctl(device, IOCTL_CDROM_READ_Q_CHANNEL, &format, sizeof format, &data, sizeof data));
        return data.CurrentPosition;
    }
    BOOL play(HANDLE device, Bytes msf) {
        return ioctl(device, IOCTL_CDROM_PLAY_AUDIO_MSF, msf.data(), 6);
    }
};

using SimDrivesScsi = SimDrivesTest;
using SimDrivesTray = SimDrivesTest;
using SimDrivesJournal = SimDrivesTest;
using SimDrivesHandles = SimDrivesTest;
using SimDrivesDelay = SimDrivesTest;
using SimDrivesFileMode = SimDrivesTest;


TEST_F(SimDrivesScsi, PassThroughNeedsWriteAccessAWillingDriveAndAKnownCommand) {
    SimDriveConfig refusing = disc(SimMedium::Data);
    refusing.passthrough = false;
    simConfigure(L'D', disc(SimMedium::Data));
    simConfigure(L'E', refusing);
    Bytes data;
    HANDLE readOnly = open(L'D', GENERIC_READ);
    EXPECT_FALSE(scsi(readOnly, kMediaEvents, 8, data));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_TRUE(ioctl(readOnly, IOCTL_STORAGE_CHECK_VERIFY));
    HANDLE e = open(L'E');
    EXPECT_FALSE(scsi(e, kMediaEvents, 8, data));
    HANDLE d = open(L'D');
    EXPECT_FALSE(scsi(d, {0x12, 0, 0, 0, 36, 0}, 36, data));  // INQUIRY is not offered
    EXPECT_FALSE(scsi(d, {0x4A, 0x00, 0, 0, 0x10, 0, 0, 0, 8, 0}, 8, data));  // nor asynchronous events
    SCSI_PASS_THROUGH_DIRECT shortRequest{};
    shortRequest.Length = sizeof shortRequest;
    EXPECT_FALSE(ioctl(d, IOCTL_SCSI_PASS_THROUGH_DIRECT, &shortRequest, sizeof shortRequest - 1));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    for (HANDLE h : {readOnly, e, d}) seamCloseDevice(h);
}

TEST_F(SimDrivesTray, EjectWaitsUntilEveryPreventIsAllowedAgain) {
    simConfigure(L'D', disc(SimMedium::Audio, 5));
    HANDLE d = open();
    ASSERT_TRUE(play(d, {0, 2, 0, 0xFF, 0xFF, 0xFF}));
    ASSERT_TRUE(lock(d, true));
    ASSERT_TRUE(lock(d, true));
    ASSERT_TRUE(lock(d, false));
    EXPECT_FALSE(ioctl(d, IOCTL_STORAGE_EJECT_MEDIA));
    EXPECT_FALSE(simState(L'D').trayOpen);
    ASSERT_TRUE(lock(d, false));
    EXPECT_TRUE(ioctl(d, IOCTL_STORAGE_EJECT_MEDIA));
    EXPECT_TRUE(simState(L'D').trayOpen);
    EXPECT_EQ(simState(L'D').audioStatus, AUDIO_STATUS_NO_STATUS);
    EXPECT_TRUE(ioctl(d, IOCTL_STORAGE_LOAD_MEDIA));
    EXPECT_FALSE(simState(L'D').trayOpen);
    seamCloseDevice(d);
}

TEST_F(SimDrivesJournal, EachCallIsOneLineNamingTheRequestAndItsInput) {
    simConfigure(L'D', disc(SimMedium::Audio, 3));
    HANDLE d = open();
    Bytes data;
    scsi(d, kMediaEvents, 8, data);
    lock(d, true);
    ioctl(d, IOCTL_STORAGE_EJECT_MEDIA);
    play(d, {0, 2, 0, 0xFF, 0xFF, 0xFF});
    position(d);
    CDROM_SET_SPEED speed{CdromSetSpeed, 708, 708, CdromDefaultRotation};
    ioctl(d, IOCTL_CDROM_SET_SPEED, &speed, sizeof speed);
    ioctl(d, 0x00AA0000);
    seamCloseDevice(d);
    seamOpenDevice(L'X', GENERIC_READ, kShare, 0);
    wchar_t label[32];
    seamGetVolumeLabel(L"D:\\", label, 32);
    ULARGE_INTEGER size;
    seamGetDiskTotalBytes(L"D:\\", &size);
    seamGetDriveType(L"D:\\");
    seamGetDriveType(L"Q:\\");
    seamPlaySound(L"C:\\sbay\\diskinside.wav", nullptr, SND_FILENAME);
    EXPECT_EQ(simJournal(), (std::vector<std::string>{
                                "D: open passthrough -> ok",
                                "D: IOCTL_SCSI_PASS_THROUGH_DIRECT cdb=4A010000100000000800 -> ok",
                                "D: IOCTL_STORAGE_MEDIA_REMOVAL in=01 -> ok",
                                "D: IOCTL_STORAGE_EJECT_MEDIA -> fail",
                                "D: IOCTL_CDROM_PLAY_AUDIO_MSF in=000200FFFFFF -> ok",
                                "D: IOCTL_CDROM_READ_Q_CHANNEL in=0100 -> ok",
                                "D: IOCTL_CDROM_SET_SPEED read=708 write=708 -> ok",
                                "D: IOCTL_0x00AA0000 -> fail",
                                "D: close",
                                "X: open read -> fail",
                                "D: volume label -> \"Audio CD\"",
                                "D: disk size -> fail",
                                "D: drive type -> cdrom",
                                "Q: drive type -> none",
                                "sound \"C:\\sbay\\diskinside.wav\"",
                            }));
    EXPECT_EQ(simState(L'D').readSpeed, 708);
}

TEST_F(SimDrivesHandles, FakeHandlesAreNoKernelHandlesAndAreCounted) {
    SimDriveConfig closedDoor;
    closedDoor.opens = false;
    simConfigure(L'D', SimDriveConfig{});
    simConfigure(L'E', closedDoor);
    HANDLE first = open();
    HANDLE second = open();
    ASSERT_NE(first, INVALID_HANDLE_VALUE);
    ASSERT_NE(second, INVALID_HANDLE_VALUE);
    EXPECT_NE(first, second);
    DWORD flags = 0;
    EXPECT_FALSE(GetHandleInformation(first, &flags));  // no kernel object behind it
    EXPECT_EQ(simOpenHandleCount(), 2u);
    EXPECT_EQ(open(L'E'), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(open(L'F'), INVALID_HANDLE_VALUE);

    seamCloseDevice(first);
    EXPECT_EQ(simOpenHandleCount(), 1u);
    EXPECT_FALSE(ioctl(first, IOCTL_STORAGE_CHECK_VERIFY));  // closed is closed
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    seamCloseDevice(first);
    EXPECT_EQ(simJournal().back().rfind("?: close unknown handle 0x", 0), 0u);

    // An exclusive open keeps others out, as on Windows.
    seamCloseDevice(second);
    HANDLE exclusive = seamOpenDevice(L'D', GENERIC_READ, 0, 0);
    EXPECT_EQ(open(), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    seamCloseDevice(exclusive);
    EXPECT_EQ(simOpenHandleCount(), 0u);
}

TEST_F(SimDrivesDelay, HoldsUpOnlyTheSlowDrive) {
    SimDriveConfig slow = disc(SimMedium::Data);
    slow.delayMs = 800;
    simConfigure(L'D', slow);
    simConfigure(L'E', disc(SimMedium::Data));
    HANDLE d = open();
    HANDLE e = open(L'E');
    ULONGLONG slowTook = 0;
    BOOL slowOk = FALSE;
    std::thread caller([&] {
        const ULONGLONG start = GetTickCount64();
        slowOk = ioctl(d, IOCTL_STORAGE_CHECK_VERIFY);
        slowTook = GetTickCount64() - start;
    });
    Sleep(100);
    const ULONGLONG start = GetTickCount64();
    EXPECT_TRUE(ioctl(e, IOCTL_STORAGE_CHECK_VERIFY));
    EXPECT_TRUE(seamGetDriveType(L"D:\\") == DRIVE_CDROM);
    EXPECT_LT(GetTickCount64() - start, 400u);
    caller.join();
    EXPECT_TRUE(slowOk);
    EXPECT_GE(slowTook, 780u);
    seamCloseDevice(d);
    seamCloseDevice(e);
}

TEST(SimDrivesIni, OddValuesAreReadSoundly) {
    const SimIniDrives drives = parseSimDrivesIni(
        "\xEF\xBB\xBF; drives\r\n[d]\r\n tray = open ; by hand\r\nmedium=AUDIO\r\ntracks=500\r\n"
        "size=99999999999999999999999\r\ndelay_ms=86400000\r\nfail= IOCTL_CDROM_READ_TOC , MCI,,\r\n"
        "label=\xD0\x94\xD0\x98\xD0\xA1\xD0\x9A\r\n"
        "[E]\nmedium=floppy\ntracks=-3\ndelay_ms=abc\npassthrough=maybe\nopens=0\nlocked=1\nroot=discs\\e\n"
        "[DD]\nmedium=data\n[F]\n",
        L"C:\\sim");
    const SimDriveConfig& d = drives[3].config;
    EXPECT_TRUE(drives[3].present);
    EXPECT_TRUE(d.trayOpen);
    EXPECT_EQ(d.medium, SimMedium::Audio);
    EXPECT_EQ(d.tracks, 99);
    EXPECT_EQ(d.size, UINT64_MAX);
    EXPECT_EQ(d.delayMs, 60000u);
    EXPECT_EQ(d.failing, (std::vector<std::string>{"IOCTL_CDROM_READ_TOC", "MCI"}));
    EXPECT_EQ(d.label, L"\x0414\x0418\x0421\x041A");
    const SimDriveConfig& e = drives[4].config;
    EXPECT_EQ(e.medium, SimMedium::None);
    EXPECT_EQ(e.tracks, 0);
    EXPECT_EQ(e.delayMs, 0u);
    EXPECT_TRUE(e.passthrough);
    EXPECT_FALSE(e.opens);
    EXPECT_TRUE(e.locked);
    EXPECT_EQ(e.root, L"C:\\sim\\discs\\e");
    EXPECT_TRUE(drives[5].present);  // an empty section is a drive with nothing in it
    EXPECT_FALSE(drives[6].present);

    const std::string utf16("\xFF\xFE[\0G\0]\0\n\0", 10);
    EXPECT_TRUE(parseSimDrivesIni(utf16, L"C:\\")[6].present);
}

// File mode: sbay_sim.exe reads its drives from simdrives.ini and logs to
// simjournal.log, and the file can be edited while the program runs.
TEST_F(SimDrivesFileMode, FollowsEditsOfTheIniFileAndLogsBesideIt) {
    TempDir folder;
    const std::wstring ini = folder.file(L"simdrives.ini");
    // Each version differs in size, so a rewrite within the same second is
    // still seen as a change.
    const auto write = [&](const std::string& text) {
        writeTextFile(ini, text);
        Sleep(250);  // past the re-reading interval
    };
    write("[D]\r\ntray=closed\r\nmedium=data\r\nlabel=HOLIDAY_2026\r\nsize=4700000000\r\n");
    simUseFolder(folder.path().c_str());
    EXPECT_EQ(seamGetDriveType(L"D:\\"), static_cast<UINT>(DRIVE_CDROM));
    EXPECT_EQ(seamGetDriveType(L"E:\\"), static_cast<UINT>(DRIVE_NO_ROOT_DIR));
    HANDLE d = seamOpenDevice(L'D', GENERIC_READ | GENERIC_WRITE, kShare, 0);
    ASSERT_TRUE(lock(d, true));

    // Only the delay changed: the program's lock stays.
    write("[D]\r\ntray=closed\r\nmedium=data\r\nlabel=HOLIDAY_2026\r\nsize=4700000000\r\ndelay_ms=1\r\n[E]\r\n");
    EXPECT_EQ(seamGetDriveType(L"E:\\"), static_cast<UINT>(DRIVE_CDROM));
    EXPECT_TRUE(simState(L'D').locked);

    // A disc swapped by hand: new medium, and the lock is the file's again.
    write("[D]\r\ntray=closed\r\nmedium=audio\r\ntracks=7\r\n");
    wchar_t label[32];
    ASSERT_TRUE(seamGetVolumeLabel(L"D:\\", label, 32));
    EXPECT_STREQ(label, L"Audio CD");
    EXPECT_FALSE(simState(L'D').locked);
    EXPECT_EQ(seamGetDriveType(L"E:\\"), static_cast<UINT>(DRIVE_NO_ROOT_DIR));
    seamCloseDevice(d);

    const std::string log = readTextFile(folder.file(L"simjournal.log"));
    EXPECT_EQ(log.rfind("D: drive type -> cdrom\r\nE: drive type -> none\r\nD: open passthrough -> ok\r\n", 0), 0u);
    EXPECT_NE(log.find("D: volume label -> \"Audio CD\"\r\n"), std::string::npos);
    EXPECT_EQ(log.substr(log.size() - 10), "D: close\r\n");
}

}  // namespace
