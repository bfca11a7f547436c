#include "drives/device_commands.h"

#include "common/program_state.h"
#include "drives/device_seam.h"
#include "drives/drive_record.h"

#include <ntddscsi.h>
#include <shellapi.h>

static_assert(sizeof(SCSI_PASS_THROUGH_DIRECT) == 56);
static_assert(sizeof(CDROM_SET_SPEED) == 12);
static_assert(sizeof(CDROM_PLAY_AUDIO_MSF) == 6);

namespace {

// Closes a device handle when the request is done, whatever the path.
class Device {
public:
    explicit Device(HANDLE handle) : handle_(handle) {}
    ~Device() {
        if (ok()) seamCloseDevice(handle_);
    }
    Device(const Device&) = delete;
    Device& operator=(const Device&) = delete;
    bool ok() const { return handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr; }
    bool send(DWORD code, void* in = nullptr, DWORD inSize = 0, void* out = nullptr, DWORD outSize = 0) {
        DWORD returned = 0;
        return ok() && seamDeviceIoControl(handle_, code, in, inSize, out, outSize, &returned) != FALSE;
    }
private:
    HANDLE handle_;
};

// One SCSI command through pass-through, data flowing in. The structure
// comes back as output: the call succeeding says only that the command was
// delivered, so a command the drive ended with another status than GOOD
// (CHECK CONDITION from a drive that lacks it), or one that brought fewer
// than `needed` bytes, counts as failed. Returns the bytes received, 0 when
// it failed.
ULONG sendPassThrough(Device& device, const UCHAR (&cdb)[16], UCHAR cdbLength, void* buffer, ULONG length,
                      ULONG needed) {
    SCSI_PASS_THROUGH_DIRECT request{};
    request.Length = sizeof request;
    request.CdbLength = cdbLength;
    request.DataIn = SCSI_IOCTL_DATA_IN;
    request.DataTransferLength = length;
    request.TimeOutValue = 5;
    request.DataBuffer = buffer;
    for (int i = 0; i < 16; ++i) request.Cdb[i] = cdb[i];
    if (!device.send(IOCTL_SCSI_PASS_THROUGH_DIRECT, &request, sizeof request, &request, sizeof request)) return 0;
    const ULONG received = request.DataTransferLength;
    if (request.ScsiStatus != 0 || received < needed || received > length) return 0;
    return received;
}

// Media Status of a GET EVENT STATUS NOTIFICATION reply, or -1 when the reply
// holds no media event (a header with "no event available", or another class).
int mediaStatusOf(const UCHAR (&reply)[8], ULONG received) {
    constexpr UCHAR kNoEventAvailable = 0x80;
    constexpr UCHAR kMediaClass = 4;
    if (received < 6 || (reply[2] & kNoEventAvailable) != 0 || (reply[2] & 0x07) != kMediaClass) return -1;
    return reply[5];
}

// Byte 6 of the capabilities page (0x2A) in a MODE SENSE(10) reply, found
// after the block descriptors the header announces; -1 when the reply does
// not hold that byte of that page.
int capabilitiesByte6(const UCHAR* reply, ULONG received) {
    constexpr ULONG kHeaderSize = 8;
    if (received < kHeaderSize) return -1;
    const ULONG page = kHeaderSize + ((static_cast<ULONG>(reply[6]) << 8) | reply[7]);
    if (page + 7 > received || (reply[page] & 0x3F) != 0x2A || reply[page + 1] < 5) return -1;
    return reply[page + 6];
}

wchar_t letterOf(const DriveRecord* record) {
    return static_cast<wchar_t>(record->letter);
}

// A monitor thread that outlives its record's destruction comes back from a
// slow request after the destruction has unlocked the drive: from then on it
// must not change the drive's state again.
bool stopAsked(const DriveRecord* record) {
    return record->stopRequested != 0;
}

// The lead-out's address in a table of contents: the entry after the last
// track (track n is entry n - 1 for a table starting at track 1). False when
// the table holds no sound one, such as a table never read.
bool leadOutOf(const CDROM_TOC& toc, UCHAR (&end)[3]) {
    constexpr UCHAR kLeadOutTrack = 0xAA;
    const int first = toc.FirstTrack;
    const int last = toc.LastTrack;
    if (first < 1 || first > last || last > MAXIMUM_NUMBER_TRACKS - 1) return false;
    const TRACK_DATA& leadOut = toc.TrackData[last - first + 1];
    if (leadOut.TrackNumber != kLeadOutTrack || leadOut.Address[2] > 59 || leadOut.Address[3] > 74) return false;
    end[0] = leadOut.Address[1];
    end[1] = leadOut.Address[2];
    end[2] = leadOut.Address[3];
    return true;
}

// Plays from `start` up to the lead-out `end` on an open device. The ending
// address must be a real one: CDROM_PLAY_AUDIO_MSF documents minute 0-74,
// second 0-59 and frame 0-74, and drives reject FF:FF:FF.
void playFrom(DriveRecord* record, Device& device, UCHAR minute, UCHAR second, UCHAR frame, const UCHAR (&end)[3]) {
    CDROM_PLAY_AUDIO_MSF play{minute, second, frame, end[0], end[1], end[2]};
    record->playStarted = device.send(IOCTL_CDROM_PLAY_AUDIO_MSF, &play, sizeof play);
}

// Starts the track whose TOC entry is chosen by `pickEntry` from the cached
// position. A stale or impossible position or table (no track, a track
// number outside the table, no lead-out) ignores the command rather than
// indexing outside the 100 entries.
template <typename PickEntry>
void skipTrack(DriveRecord* record, PickEntry pickEntry) {
    EnterCriticalSection(&record->guard);
    const int track = record->subQ.CurrentPosition.TrackNumber;
    const int first = record->toc.FirstTrack;
    const int last = record->toc.LastTrack;
    UCHAR end[3];
    const bool valid = leadOutOf(record->toc, end) && track >= first && track <= last;
    const int entry = valid ? pickEntry(track, first, last) : -1;
    TRACK_DATA start{};
    if (entry >= 0 && entry < MAXIMUM_NUMBER_TRACKS) start = record->toc.TrackData[entry];
    LeaveCriticalSection(&record->guard);
    if (entry < 0 || entry >= MAXIMUM_NUMBER_TRACKS) return;

    Device device(openDeviceRead(letterOf(record)));
    if (!device.ok() || !device.send(IOCTL_CDROM_STOP_AUDIO)) return;
    playFrom(record, device, start.Address[1], start.Address[2], start.Address[3], end);
}

}  // namespace

HANDLE openDeviceRead(wchar_t letter) {
    // Shares writing too: the monitor's pass-through handle holds write
    // access, and a read handle that refused to share it would meet a sharing
    // violation whenever the two overlap (Microsoft's own eject example opens
    // the volume this way).
    return seamOpenDevice(letter, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, 0);
}

HANDLE openDevicePassThrough(wchar_t letter) {
    return seamOpenDevice(letter, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                          FILE_ATTRIBUTE_NORMAL);
}

uint8_t queryMediaState(DriveRecord* record) {
    {
        // GET EVENT STATUS NOTIFICATION, polled, media class only.
        static constexpr UCHAR kEventStatus[16] = {0x4A, 0x01, 0, 0, 0x10, 0, 0, 0, 0x08};
        UCHAR reply[8] = {};
        Device device(openDevicePassThrough(letterOf(record)));
        const int status =
            device.ok() ? mediaStatusOf(reply, sendPassThrough(device, kEventStatus, 10, reply, sizeof reply, 6)) : -1;
        if (status >= 0) {
            const UCHAR mediaStatus = static_cast<UCHAR>(status);
            if (mediaStatus & 0x01) {
                record->audioStatus = kAudioNoStatus;
                record->mediaKind = None;
                return TrayOpen;
            }
            if (mediaStatus & 0x02) return MediumPresent;
            record->audioStatus = kAudioNoStatus;
            record->mediaKind = None;
            return ClosedEmpty;
        }
    }
    wchar_t root[] = L"A:\\";
    root[0] = letterOf(record);
    wchar_t label[MAX_PATH + 1];
    if (seamGetVolumeLabel(root, label, MAX_PATH + 1)) return MediumPresent;

    record->audioStatus = kAudioNoStatus;
    Device device(openDeviceRead(letterOf(record)));
    if (device.send(IOCTL_STORAGE_CHECK_VERIFY)) {
        record->mediaKind = UnreadableMedium;
        return MediumPresent;
    }
    record->mediaKind = None;
    return record->assumedClosed ? ClosedEmpty : TrayOpen;
}

int queryLockState(DriveRecord* record) {
    // MODE SENSE(10) of the capabilities and mechanical status page.
    static constexpr UCHAR kModeSense[16] = {0x5A, 0x00, 0x2A, 0, 0, 0, 0, 0x01, 0x00};
    UCHAR reply[256] = {};
    Device device(openDevicePassThrough(letterOf(record)));
    if (!device.ok()) return 0;
    const int capabilities = capabilitiesByte6(reply, sendPassThrough(device, kModeSense, 12, reply, sizeof reply, 8));
    return capabilities >= 0 && (capabilities & 0x02) != 0 ? 1 : 0;
}

void setLock(DriveRecord* record, int lock) {
    // Any non-zero lock state means locked: the drive counts prevent requests,
    // so one sent without its matching allow would never be undone.
    lock = lock != 0 ? 1 : 0;
    if (lock == 0) {
        if (record->lockHeld && !stopAsked(record)) releaseDriveLock(record);
        return;
    }
    if (queryLockState(record) == 1) return;
    if (stopAsked(record)) return;
    Device device(openDeviceRead(letterOf(record)));
    if (!device.ok()) return;
    // The drive reports no lock, so this allow lowers no one's count; it
    // only keeps prevents from piling up should the report be wrong.
    PREVENT_MEDIA_REMOVAL allow{FALSE};
    if (!device.send(IOCTL_STORAGE_MEDIA_REMOVAL, &allow, sizeof allow) || stopAsked(record)) return;
    PREVENT_MEDIA_REMOVAL prevent{TRUE};
    if (device.send(IOCTL_STORAGE_MEDIA_REMOVAL, &prevent, sizeof prevent)) record->lockHeld = 1;
}

void releaseDriveLock(DriveRecord* record) {
    Device device(openDeviceRead(letterOf(record)));
    PREVENT_MEDIA_REMOVAL allow{FALSE};
    if (device.send(IOCTL_STORAGE_MEDIA_REMOVAL, &allow, sizeof allow)) record->lockHeld = 0;
}

void playAudio(DriveRecord* record) {
    if (isVistaOrLater) {
        // Newer systems play audio discs with their own player.
        wchar_t track[] = L"A:\\Track01.cda";
        track[0] = letterOf(record);
        seamShellExecute(nullptr, nullptr, track, nullptr, nullptr, SW_SHOWNORMAL);
        return;
    }
    Device device(openDeviceRead(letterOf(record)));
    if (!device.ok()) return;
    // The end of the disc comes from its table of contents, read now (the
    // cached one may belong to an earlier disc, or to none on a hidden drive).
    CDROM_TOC toc{};
    const bool read = device.send(IOCTL_CDROM_READ_TOC, nullptr, 0, &toc, sizeof toc);
    EnterCriticalSection(&record->guard);
    if (read) record->toc = toc;
    UCHAR end[3];
    const bool known = leadOutOf(record->toc, end);
    LeaveCriticalSection(&record->guard);
    if (known) playFrom(record, device, 0, 2, 0, end);
}

void stopAudio(DriveRecord* record) {
    Device device(openDeviceRead(letterOf(record)));
    if (device.ok() && device.send(IOCTL_CDROM_STOP_AUDIO)) record->playStarted = 0;
}

void pauseResumeAudio(DriveRecord* record) {
    const uint8_t status = record->audioStatus;
    if (status != kAudioPlaying && status != kAudioPaused) return;
    Device device(openDeviceRead(letterOf(record)));
    device.send(status == kAudioPlaying ? IOCTL_CDROM_PAUSE_AUDIO : IOCTL_CDROM_RESUME_AUDIO);
}

void nextTrack(DriveRecord* record) {
    // Entry n - 1 holds track n: the track after T is entry T.
    skipTrack(record, [](int track, int first, int last) { return track == last ? first - 1 : track; });
}

void previousTrack(DriveRecord* record) {
    skipTrack(record, [](int track, int first, int last) { return track == first ? last - 1 : track - 2; });
}

uint16_t speedForCommand(uint16_t speedCommand) {
    switch (speedCommand) {
    case 40059: return 177;
    case 40060: return 354;
    case 40061: return 708;
    case 40062: return 1416;
    case 40063: return 2832;
    case 40064: return 5664;
    default: return 0xFFFF;
    }
}

void applySpeed(DriveRecord* record) {
    if (stopAsked(record)) return;
    Device device(openDeviceRead(letterOf(record)));
    if (!device.ok() || stopAsked(record)) return;
    const USHORT speed = speedForCommand(record->speedCommand);
    CDROM_SET_SPEED request{CdromSetSpeed, speed, speed, CdromDefaultRotation};
    device.send(IOCTL_CDROM_SET_SPEED, &request, sizeof request);
}
