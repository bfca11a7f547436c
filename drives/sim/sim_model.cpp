#include "drives/sim/sim_model.h"

#include <winioctl.h>
#include <ntddcdrm.h>
#include <ntddscsi.h>
#include <algorithm>
#include <cstdio>
#include <cstring>

// The layouts the answers are written in, as the x64 headers fix them.
static_assert(sizeof(SCSI_PASS_THROUGH_DIRECT) == 56);
static_assert(sizeof(CDROM_TOC) == 804);
static_assert(sizeof(TRACK_DATA) == 8);
static_assert(sizeof(SUB_Q_CHANNEL_DATA) == 24);
static_assert(sizeof(SUB_Q_CURRENT_POSITION) == 16);
static_assert(sizeof(CDROM_SUB_Q_DATA_FORMAT) == 2);
static_assert(sizeof(CDROM_PLAY_AUDIO_MSF) == 6);
static_assert(sizeof(CDROM_SET_SPEED) == 12);
static_assert(sizeof(PREVENT_MEDIA_REMOVAL) == 1);

namespace {

constexpr uint32_t kFramesPerSecond = 75;
constexpr uint32_t kFramesPerMinute = 60 * kFramesPerSecond;
constexpr uint32_t kTrackOneStart = 2 * kFramesPerSecond;   // 00:02:00, after the pregap
constexpr uint32_t kLongestTrack = 4 * kFramesPerMinute;
constexpr uint32_t kAudioCapacity = 74 * kFramesPerMinute;  // so every lead-out is a playable end
constexpr uint32_t kLastMsf = 255 * kFramesPerMinute + 59 * kFramesPerSecond + 74;
constexpr uint64_t kBytesPerSector = 2048;
constexpr UCHAR kAudioPlayComplete = 0x13;  // AUDIO_STATUS_PLAY_COMPLETE

constexpr uint8_t kOpGetEventStatus = 0x4A;
constexpr uint8_t kOpModeSense10 = 0x5A;
constexpr uint8_t kCapabilitiesPage = 0x2A;
constexpr uint8_t kMediaClass = 0x10;             // bit 4 of the class request and support masks
constexpr uint8_t kMediaNotificationClass = 4;
constexpr size_t kEventReplySize = 8;
constexpr size_t kModeHeaderSize = 8;
constexpr size_t kCapabilitiesPageSize = 22;      // page length 0x14 plus its two-byte head
constexpr size_t kBlockDescriptorSize = 8;
constexpr UCHAR kScsiCheckCondition = 2;
constexpr uint16_t kMaxReadSpeed = 8467;          // kB/s: 48x CD
constexpr size_t kMaxFailing = 64;
constexpr size_t kMaxFailingName = 64;

SimAnswer fail(DWORD error) { return {false, error, 0}; }
SimAnswer done(DWORD returned) { return {true, ERROR_SUCCESS, returned}; }

bool closedWithMedium(const SimDrive& drive) {
    return !drive.config.trayOpen && drive.config.medium != SimMedium::None;
}

// The error of a request that needs a readable disc.
DWORD unreadableError(const SimDrive& drive) {
    return closedWithMedium(drive) ? ERROR_UNRECOGNIZED_MEDIA : ERROR_NOT_READY;
}

bool readable(const SimDrive& drive) {
    return closedWithMedium(drive) && drive.config.medium != SimMedium::Blank;
}

uint32_t trackLength(int tracks) {
    return std::min(kLongestTrack, kAudioCapacity / static_cast<uint32_t>(tracks));
}

// Start of track `track` (tracks + 1 is the lead-out), in frames.
uint32_t audioTrackStart(const SimDrive& drive, int track) {
    const int tracks = simTrackCount(drive);
    return kTrackOneStart + static_cast<uint32_t>(track - 1) * trackLength(tracks);
}

uint32_t dataLeadOut(const SimDrive& drive) {
    const uint64_t sectors = drive.config.size / kBytesPerSector + (drive.config.size % kBytesPerSector ? 1 : 0);
    return static_cast<uint32_t>(std::min<uint64_t>(kTrackOneStart + sectors, kLastMsf));
}

void putMsf(uint32_t frames, UCHAR* msf) {
    msf[0] = static_cast<UCHAR>(frames / kFramesPerMinute);
    msf[1] = static_cast<UCHAR>(frames / kFramesPerSecond % 60);
    msf[2] = static_cast<UCHAR>(frames % kFramesPerSecond);
}

bool readMsf(const UCHAR* msf, uint32_t& frames) {
    if (msf[1] >= 60 || msf[2] >= kFramesPerSecond) return false;
    frames = msf[0] * kFramesPerMinute + msf[1] * kFramesPerSecond + msf[2];
    return true;
}

void putBigEndian16(uint8_t* at, size_t value) {
    at[0] = static_cast<uint8_t>(value >> 8);
    at[1] = static_cast<uint8_t>(value);
}

void stopAudio(SimDrive& drive) {
    const bool audio = drive.config.medium == SimMedium::Audio;
    drive.audioStatus = AUDIO_STATUS_NO_STATUS;
    drive.currentTrack = audio ? 1 : 0;
    drive.positionFrames = kTrackOneStart;
}

// ---- SCSI commands --------------------------------------------------------

size_t eventStatusReply(const SimDrive& drive, const UCHAR* cdb, uint8_t* reply) {
    if ((cdb[4] & kMediaClass) == 0 || drive.config.eventStatus == SimEventStatus::HeaderOnly) {
        // No class asked for is supported: the header alone, "no event
        // available" (MMC-6, GET EVENT STATUS NOTIFICATION), with the classes
        // the drive does support (here only operational change, bit 1).
        const uint8_t supported = drive.config.eventStatus == SimEventStatus::HeaderOnly ? 0x02 : kMediaClass;
        const uint8_t header[] = {0, 2, 0x80, supported};
        std::memcpy(reply, header, sizeof header);
        return sizeof header;
    }
    // Media Status: bit 0 door or tray open, bit 1 media present. A tray that
    // is open with a disc lying in it reports both.
    uint8_t status = 0;
    if (drive.config.trayOpen) status |= 0x01;
    if (drive.config.medium != SimMedium::None) status |= 0x02;
    const uint8_t event[kEventReplySize] = {0, 6, kMediaNotificationClass, kMediaClass, drive.pendingEvent, status, 0, 0};
    std::memcpy(reply, event, sizeof event);
    return sizeof event;
}

// MODE SENSE(10) with DBD clear lets the drive put block descriptors between
// the header and the page (MMC-6 and SPC: the header's bytes 6..7 give their
// length); some drives do.
size_t capabilitiesReply(const SimDrive& drive, uint8_t* reply) {
    const size_t descriptors = drive.config.blockDescriptor ? kBlockDescriptorSize : 0;
    const size_t total = kModeHeaderSize + descriptors + kCapabilitiesPageSize;
    std::memset(reply, 0, total);
    putBigEndian16(reply, total - 2);  // mode data length
    putBigEndian16(reply + 6, descriptors);
    if (descriptors != 0) reply[kModeHeaderSize + 6] = 2048 >> 8;  // block length 2048, no block count
    uint8_t* page = reply + kModeHeaderSize + descriptors;
    page[0] = kCapabilitiesPage;
    page[1] = kCapabilitiesPageSize - 2;
    page[2] = 0x3B;   // reads CD-R, CD-RW, DVD-ROM, DVD-R, DVD-RAM
    page[4] = 0x71;   // audio play, mode 2 form 1 and 2, multi-session
    page[5] = 0x03;   // CD-DA commands, accurate stream
    page[6] = 0x20 | 0x08 | 0x01;  // tray loading, eject, lock supported
    if (drive.lockCount > 0) page[6] |= 0x02;
    page[7] = 0x03;   // separate volume and mute per channel
    putBigEndian16(page + 8, kMaxReadSpeed);
    putBigEndian16(page + 10, 256);   // volume levels
    putBigEndian16(page + 12, 512);   // buffer, kB
    const int current = drive.readSpeed > 0 && drive.readSpeed < kMaxReadSpeed ? drive.readSpeed : kMaxReadSpeed;
    putBigEndian16(page + 14, static_cast<size_t>(current));
    return total;
}

SimAnswer passThrough(SimDrive& drive, const void* in, DWORD inSize, void* out, DWORD outSize) {
    if (!drive.config.passthrough) return fail(ERROR_INVALID_FUNCTION);
    SCSI_PASS_THROUGH_DIRECT request;
    if (inSize < sizeof request) return fail(ERROR_INVALID_PARAMETER);
    std::memcpy(&request, in, sizeof request);
    if (request.Length != sizeof request || request.CdbLength == 0 || request.CdbLength > sizeof request.Cdb ||
        (outSize != 0 && outSize < sizeof request) ||
        (request.DataTransferLength != 0 && request.DataBuffer == nullptr)) {
        return fail(ERROR_INVALID_PARAMETER);
    }
    const UCHAR* cdb = request.Cdb;
    if (cdb[0] != kOpGetEventStatus && cdb[0] != kOpModeSense10) return fail(ERROR_INVALID_FUNCTION);
    if (request.CdbLength < 10 || request.DataIn != SCSI_IOCTL_DATA_IN) return fail(ERROR_INVALID_PARAMETER);

    uint8_t reply[kModeHeaderSize + kBlockDescriptorSize + kCapabilitiesPageSize];
    size_t length = 0;
    if (cdb[0] == kOpGetEventStatus) {
        if ((cdb[1] & 0x01) == 0) return fail(ERROR_INVALID_FUNCTION);  // asynchronous events are not offered
        if (drive.config.eventStatus == SimEventStatus::CheckCondition) {
            // The command reaches the drive and ends in CHECK CONDITION
            // (ILLEGAL REQUEST, INVALID COMMAND OPERATION CODE): the
            // pass-through call itself succeeds and reports the status in
            // ScsiStatus, with no data (SCSI_PASS_THROUGH_DIRECT, Microsoft
            // docs). No sense data is returned here.
            request.ScsiStatus = kScsiCheckCondition;
            request.DataTransferLength = 0;
            request.SenseInfoLength = 0;
            if (outSize == 0) return done(0);
            std::memcpy(out, &request, sizeof request);
            return done(sizeof request);
        }
        length = eventStatusReply(drive, cdb, reply);
    } else {
        const bool currentValues = (cdb[2] >> 6) == 0;
        if ((cdb[2] & 0x3F) != kCapabilitiesPage || !currentValues) return fail(ERROR_INVALID_FUNCTION);
        length = capabilitiesReply(drive, reply);
    }
    const size_t allocation = (static_cast<size_t>(cdb[7]) << 8) | cdb[8];
    const size_t transfer = std::min({length, allocation, static_cast<size_t>(request.DataTransferLength)});
    if (transfer > 0) std::memcpy(request.DataBuffer, reply, transfer);
    if (cdb[0] == kOpGetEventStatus && transfer > 4) drive.pendingEvent = kMediaEventNone;  // reported once

    request.ScsiStatus = 0;
    request.DataTransferLength = static_cast<ULONG>(transfer);
    if (outSize == 0) return done(0);
    std::memcpy(out, &request, sizeof request);
    return done(sizeof request);
}

// ---- Storage and CD-ROM requests ------------------------------------------

// After a media change the class driver fails the first check once: with
// STATUS_VERIFY_REQUIRED (ERROR_MEDIA_CHANGED) for a mounted volume, else
// with STATUS_IO_DEVICE_ERROR (IOCTL_STORAGE_CHECK_VERIFY, Microsoft docs).
SimAnswer checkVerify(SimDrive& drive, void* out, DWORD outSize) {
    if (outSize != 0 && outSize < sizeof(ULONG)) return fail(ERROR_INVALID_PARAMETER);
    if (!closedWithMedium(drive)) return fail(ERROR_NOT_READY);
    if (drive.verifyPending) {
        drive.verifyPending = false;
        return fail(readable(drive) ? ERROR_MEDIA_CHANGED : ERROR_IO_DEVICE);
    }
    if (outSize == 0) return done(0);
    std::memcpy(out, &drive.changeCount, sizeof(ULONG));
    return done(sizeof(ULONG));
}

SimAnswer mediaRemoval(SimDrive& drive, const void* in, DWORD inSize) {
    if (inSize < sizeof(PREVENT_MEDIA_REMOVAL)) return fail(ERROR_INVALID_PARAMETER);
    // The drive counts prevent requests; each allow undoes one.
    if (*static_cast<const UCHAR*>(in) != 0) {
        if (drive.lockCount < UINT32_MAX) ++drive.lockCount;
    } else if (drive.lockCount > 0) {
        --drive.lockCount;
    }
    return done(0);
}

SimAnswer ejectMedia(SimDrive& drive) {
    if (drive.lockCount > 0) return fail(ERROR_INVALID_FUNCTION);  // STATUS_INVALID_DEVICE_REQUEST
    simMoveTray(drive, true);
    return done(0);
}

SimAnswer readToc(const SimDrive& drive, void* out, DWORD outSize) {
    if (outSize < sizeof(CDROM_TOC)) return fail(ERROR_INVALID_PARAMETER);
    if (!readable(drive)) return fail(unreadableError(drive));
    CDROM_TOC toc;
    std::memset(&toc, 0, sizeof toc);
    const bool audio = drive.config.medium == SimMedium::Audio;
    const int tracks = audio ? simTrackCount(drive) : 1;
    const UCHAR control = audio ? 0 : 4;  // 4: data track
    for (int i = 0; i <= tracks; ++i) {
        TRACK_DATA& entry = toc.TrackData[i];
        entry.Control = control;
        entry.Adr = 1;
        entry.TrackNumber = static_cast<UCHAR>(i < tracks ? i + 1 : 0xAA);
        const uint32_t start = audio ? audioTrackStart(drive, i + 1) : (i == 0 ? kTrackOneStart : dataLeadOut(drive));
        putMsf(start, entry.Address + 1);
    }
    const size_t entries = static_cast<size_t>(tracks) + 1;
    putBigEndian16(toc.Length, 2 + entries * sizeof(TRACK_DATA));
    toc.FirstTrack = 1;
    toc.LastTrack = static_cast<UCHAR>(tracks);
    const size_t length = 4 + entries * sizeof(TRACK_DATA);
    std::memcpy(out, &toc, length);
    return done(static_cast<DWORD>(length));
}

// The sub-channel reports a finished play once as "play completed", then as
// "no current audio status" (MMC-6, READ SUB-CHANNEL, audio status codes).
SimAnswer readQChannel(SimDrive& drive, const void* in, DWORD inSize, void* out, DWORD outSize) {
    CDROM_SUB_Q_DATA_FORMAT format;
    if (inSize < sizeof format) return fail(ERROR_INVALID_PARAMETER);
    std::memcpy(&format, in, sizeof format);
    if (format.Format != IOCTL_CDROM_CURRENT_POSITION || outSize < sizeof(SUB_Q_CURRENT_POSITION)) {
        return fail(ERROR_INVALID_PARAMETER);
    }
    if (!readable(drive)) return fail(unreadableError(drive));
    const bool audio = drive.config.medium == SimMedium::Audio;
    const int track = audio ? drive.currentTrack : 1;
    const uint32_t position = audio ? drive.positionFrames : kTrackOneStart;
    const uint32_t trackStart = audio ? audioTrackStart(drive, track) : kTrackOneStart;

    SUB_Q_CURRENT_POSITION reply;
    std::memset(&reply, 0, sizeof reply);
    reply.Header.AudioStatus = audio ? drive.audioStatus : AUDIO_STATUS_NO_STATUS;
    if (drive.audioStatus == kAudioPlayComplete) drive.audioStatus = AUDIO_STATUS_NO_STATUS;
    putBigEndian16(reply.Header.DataLength, sizeof reply - sizeof reply.Header);
    reply.FormatCode = IOCTL_CDROM_CURRENT_POSITION;
    reply.Control = audio ? 0 : 4;
    reply.ADR = 1;
    reply.TrackNumber = static_cast<UCHAR>(track);
    reply.IndexNumber = 1;
    putMsf(position, reply.AbsoluteAddress + 1);
    putMsf(position >= trackStart ? position - trackStart : 0, reply.TrackRelativeAddress + 1);
    std::memcpy(out, &reply, sizeof reply);
    return done(sizeof reply);
}

// An address CDROM_PLAY_AUDIO_MSF accepts: minute 0-74, second 0-59, frame
// 0-74 (Microsoft docs); a drive rejects any other, FF:FF:FF included.
bool readPlayMsf(const UCHAR* msf, uint32_t& frames) {
    return msf[0] <= 74 && msf[2] < kFramesPerSecond && readMsf(msf, frames);
}

SimAnswer playAudio(SimDrive& drive, const void* in, DWORD inSize) {
    CDROM_PLAY_AUDIO_MSF play;
    if (inSize < sizeof play) return fail(ERROR_INVALID_PARAMETER);
    std::memcpy(&play, in, sizeof play);
    if (!readable(drive)) return fail(unreadableError(drive));
    if (drive.config.medium != SimMedium::Audio) return fail(ERROR_INVALID_FUNCTION);

    const UCHAR* startMsf = &play.StartingM;
    uint32_t start = 0;
    uint32_t end = 0;
    if (startMsf[0] == 0xFF && startMsf[1] == 0xFF && startMsf[2] == 0xFF) {
        start = drive.positionFrames;  // FF:FF:FF as the start plays from where the head is
    } else if (!readPlayMsf(startMsf, start)) {
        return fail(ERROR_INVALID_PARAMETER);
    }
    // An end beyond the lead-out is outside the disc (ILLEGAL REQUEST).
    const uint32_t leadOut = audioTrackStart(drive, simTrackCount(drive) + 1);
    if (!readPlayMsf(&play.EndingM, end) || start >= leadOut || end > leadOut || end < start) {
        return fail(ERROR_INVALID_PARAMETER);
    }
    if (end == start) return done(0);  // nothing to play, and no error (MMC-6, PLAY AUDIO MSF)
    drive.positionFrames = std::max(start, kTrackOneStart);
    drive.playEnd = end;
    drive.playClock = simClockMs();
    drive.audioStatus = AUDIO_STATUS_IN_PROGRESS;
    simAdvanceAudio(drive);
    return done(0);
}

SimAnswer stopAudioRequest(SimDrive& drive) {
    if (!closedWithMedium(drive)) return fail(ERROR_NOT_READY);
    if (drive.config.medium == SimMedium::Audio) drive.audioStatus = AUDIO_STATUS_NO_STATUS;
    return done(0);
}

// Pause and resume: only from the one state each leaves. Pausing holds the
// position; resuming runs on from it.
SimAnswer switchAudio(SimDrive& drive, uint8_t from, uint8_t to) {
    if (!readable(drive)) return fail(unreadableError(drive));
    if (drive.config.medium != SimMedium::Audio || drive.audioStatus != from) return fail(ERROR_INVALID_FUNCTION);
    drive.audioStatus = to;
    drive.playClock = simClockMs();
    return done(0);
}

SimAnswer setSpeed(SimDrive& drive, const void* in, DWORD inSize) {
    CDROM_SET_SPEED speed;
    if (inSize < sizeof speed) return fail(ERROR_INVALID_PARAMETER);
    std::memcpy(&speed, in, sizeof speed);
    if (speed.RequestType != CdromSetSpeed) return fail(ERROR_INVALID_PARAMETER);
    drive.readSpeed = speed.ReadSpeed;
    drive.writeSpeed = speed.WriteSpeed;
    return done(0);
}

bool equalIgnoringCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        const auto fold = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; };
        if (fold(a[i]) != fold(b[i])) return false;
    }
    return true;
}

std::string hexBytes(const void* bytes, size_t count) {
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    const uint8_t* at = static_cast<const uint8_t*>(bytes);
    for (size_t i = 0; i < count; ++i) {
        text.push_back(digits[at[i] >> 4]);
        text.push_back(digits[at[i] & 15]);
    }
    return text;
}

struct NamedCode {
    DWORD code;
    const char* name;
};

#define NAMED_CODE(code) {code, #code}
constexpr NamedCode kCodeNames[] = {
    NAMED_CODE(IOCTL_SCSI_PASS_THROUGH_DIRECT),
    NAMED_CODE(IOCTL_SCSI_PASS_THROUGH),
    NAMED_CODE(IOCTL_STORAGE_CHECK_VERIFY),
    NAMED_CODE(IOCTL_STORAGE_CHECK_VERIFY2),
    NAMED_CODE(IOCTL_STORAGE_MEDIA_REMOVAL),
    NAMED_CODE(IOCTL_STORAGE_EJECT_MEDIA),
    NAMED_CODE(IOCTL_STORAGE_LOAD_MEDIA),
    NAMED_CODE(IOCTL_STORAGE_EJECTION_CONTROL),
    NAMED_CODE(IOCTL_STORAGE_GET_DEVICE_NUMBER),
    NAMED_CODE(IOCTL_STORAGE_QUERY_PROPERTY),
    NAMED_CODE(IOCTL_CDROM_CHECK_VERIFY),
    NAMED_CODE(IOCTL_CDROM_READ_TOC),
    NAMED_CODE(IOCTL_CDROM_READ_TOC_EX),
    NAMED_CODE(IOCTL_CDROM_READ_Q_CHANNEL),
    NAMED_CODE(IOCTL_CDROM_PLAY_AUDIO_MSF),
    NAMED_CODE(IOCTL_CDROM_SEEK_AUDIO_MSF),
    NAMED_CODE(IOCTL_CDROM_STOP_AUDIO),
    NAMED_CODE(IOCTL_CDROM_PAUSE_AUDIO),
    NAMED_CODE(IOCTL_CDROM_RESUME_AUDIO),
    NAMED_CODE(IOCTL_CDROM_SET_SPEED),
    NAMED_CODE(IOCTL_CDROM_GET_CONFIGURATION),
    NAMED_CODE(IOCTL_CDROM_GET_DRIVE_GEOMETRY),
    NAMED_CODE(IOCTL_DISK_GET_DRIVE_GEOMETRY),
};
#undef NAMED_CODE

}  // namespace

namespace {
uint64_t clockSkipMs = 0;
}  // namespace

uint64_t simClockMs() {
    return GetTickCount64() + clockSkipMs;
}

void simSkipClock(uint64_t milliseconds) {
    clockSkipMs += milliseconds;
}

void simAdvanceAudio(SimDrive& drive) {
    if (drive.audioStatus != AUDIO_STATUS_IN_PROGRESS || drive.config.medium != SimMedium::Audio) return;
    const uint64_t now = simClockMs();
    const uint64_t frames = (now - drive.playClock) * kFramesPerSecond / 1000;
    drive.playClock += frames * 1000 / kFramesPerSecond;  // the remainder counts towards the next frame
    const uint64_t position = std::min<uint64_t>(drive.positionFrames + frames, drive.playEnd);
    drive.positionFrames = static_cast<uint32_t>(position);
    const int tracks = simTrackCount(drive);
    int track = 1;
    while (track < tracks && audioTrackStart(drive, track + 1) <= drive.positionFrames) ++track;
    drive.currentTrack = track;
    if (drive.positionFrames >= drive.playEnd) drive.audioStatus = kAudioPlayComplete;
}

SimAnswer simAnswerIoctl(SimDrive& drive, SimAccess access, DWORD code, const void* in, DWORD inSize, void* out,
                         DWORD outSize) {
    if (!drive.config.present) return fail(ERROR_DEVICE_NOT_CONNECTED);
    simAdvanceAudio(drive);
    if ((in == nullptr && inSize != 0) || (out == nullptr && outSize != 0)) return fail(ERROR_NOACCESS);
    // The access the code asks for must have been granted at the open.
    const DWORD required = (code >> 14) & 3;
    if (((required & FILE_READ_ACCESS) && !access.read) || ((required & FILE_WRITE_ACCESS) && !access.write)) {
        return fail(ERROR_ACCESS_DENIED);
    }
    if (simIsFailing(drive, simIoctlName(code))) return fail(ERROR_IO_DEVICE);
    switch (code) {
    case IOCTL_SCSI_PASS_THROUGH_DIRECT: return passThrough(drive, in, inSize, out, outSize);
    case IOCTL_STORAGE_CHECK_VERIFY:     return checkVerify(drive, out, outSize);
    case IOCTL_STORAGE_MEDIA_REMOVAL:    return mediaRemoval(drive, in, inSize);
    case IOCTL_STORAGE_EJECT_MEDIA:      return ejectMedia(drive);
    case IOCTL_STORAGE_LOAD_MEDIA:       simMoveTray(drive, false); return done(0);
    case IOCTL_CDROM_READ_TOC:           return readToc(drive, out, outSize);
    case IOCTL_CDROM_READ_Q_CHANNEL:     return readQChannel(drive, in, inSize, out, outSize);
    case IOCTL_CDROM_PLAY_AUDIO_MSF:     return playAudio(drive, in, inSize);
    case IOCTL_CDROM_STOP_AUDIO:         return stopAudioRequest(drive);
    case IOCTL_CDROM_PAUSE_AUDIO:        return switchAudio(drive, AUDIO_STATUS_IN_PROGRESS, AUDIO_STATUS_PAUSED);
    case IOCTL_CDROM_RESUME_AUDIO:       return switchAudio(drive, AUDIO_STATUS_PAUSED, AUDIO_STATUS_IN_PROGRESS);
    case IOCTL_CDROM_SET_SPEED:          return setSpeed(drive, in, inSize);
    default:                             return fail(ERROR_INVALID_FUNCTION);
    }
}

std::string simIoctlName(DWORD code) {
    for (const NamedCode& named : kCodeNames) {
        if (named.code == code) return named.name;
    }
    char name[24];
    std::snprintf(name, sizeof name, "IOCTL_0x%08lX", static_cast<unsigned long>(code));
    return name;
}

std::string simDescribeIoctlInput(DWORD code, const void* in, DWORD inSize) {
    if (in == nullptr || inSize == 0) return std::string();
    if (code == IOCTL_SCSI_PASS_THROUGH_DIRECT) {
        SCSI_PASS_THROUGH_DIRECT request;
        if (inSize < sizeof request) return std::string();
        std::memcpy(&request, in, sizeof request);
        return " cdb=" + hexBytes(request.Cdb, std::min<size_t>(request.CdbLength, sizeof request.Cdb));
    }
    if (code == IOCTL_CDROM_SET_SPEED && inSize >= sizeof(CDROM_SET_SPEED)) {
        CDROM_SET_SPEED speed;
        std::memcpy(&speed, in, sizeof speed);
        return " read=" + std::to_string(speed.ReadSpeed) + " write=" + std::to_string(speed.WriteSpeed);
    }
    constexpr DWORD kShown = 64;
    return " in=" + hexBytes(in, std::min(inSize, kShown)) + (inSize > kShown ? "..." : "");
}

void simResetMechanism(SimDrive& drive) {
    drive.lockCount = drive.config.locked;
    drive.verifyPending = false;
    drive.readSpeed = 0;
    drive.writeSpeed = 0;
    drive.pendingEvent = kMediaEventNone;
    stopAudio(drive);
}

void simMoveTray(SimDrive& drive, bool open) {
    if (drive.config.trayOpen == open) return;
    drive.config.trayOpen = open;
    if (drive.config.medium == SimMedium::None) return;
    if (open) {
        stopAudio(drive);
        drive.pendingEvent = kMediaEventRemoval;
    } else {
        drive.pendingEvent = kMediaEventNewMedia;
        drive.verifyPending = true;
        ++drive.changeCount;
    }
}

void simChangeMedium(SimDrive& drive, SimMedium medium, const std::wstring& label, uint64_t size, int tracks) {
    const bool hadMedium = drive.config.medium != SimMedium::None;
    drive.config.medium = medium;
    drive.config.label = label;
    drive.config.size = size;
    drive.config.tracks = tracks;
    stopAudio(drive);
    if (drive.config.trayOpen || (!hadMedium && medium == SimMedium::None)) return;
    drive.pendingEvent = medium != SimMedium::None ? kMediaEventNewMedia : kMediaEventRemoval;
    drive.verifyPending = medium != SimMedium::None;
    ++drive.changeCount;
}

bool simSameMedium(const SimDriveConfig& a, const SimDriveConfig& b) {
    return a.medium == b.medium && a.label == b.label && a.size == b.size && a.tracks == b.tracks;
}

bool simIsFailing(const SimDrive& drive, const std::string& name) {
    for (const std::string& failing : drive.config.failing) {
        if (equalIgnoringCase(failing, name)) return true;
    }
    return false;
}

std::vector<std::string> simNormalizeFailing(const std::vector<std::string>& names) {
    std::vector<std::string> result;
    for (const std::string& name : names) {
        const size_t first = name.find_first_not_of(" \t");
        if (first == std::string::npos) continue;
        const std::string trimmed = name.substr(first, name.find_last_not_of(" \t") - first + 1);
        if (trimmed.size() <= kMaxFailingName && result.size() < kMaxFailing) result.push_back(trimmed);
    }
    return result;
}

int simTrackCount(const SimDrive& drive) {
    if (drive.config.medium != SimMedium::Audio) return 0;
    return std::clamp(drive.config.tracks, 1, kSimMaxTracks);
}
