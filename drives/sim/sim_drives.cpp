// The seam over simulated drives: handles, MCI ids, the journal, file mode,
// and the requests that are not DeviceIoControl. One lock guards it all; it
// is never held while a request sleeps out the drive's delay.
#include "drives/sim/sim_drives.h"

#include "drives/device_seam.h"
#include "drives/sim/sim_ini.h"
#include "drives/sim/sim_model.h"

#include <dbt.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cwchar>
#include <cwctype>
#include <deque>
#include <map>

namespace {

constexpr uintptr_t kHandleBase = 0x53420000;
constexpr uint32_t kHandleSlots = 0x10000;
constexpr MCIDEVICEID kLastMciId = 0xFFF0;
constexpr size_t kJournalKeep = 100000;
// The folder's files are looked at no more often than this, however busy
// the folder is (the journal itself is written every second).
constexpr DWORD kReloadIntervalMs = 200;
constexpr size_t kLongestText = 32768;  // longest string taken from a caller
constexpr wchar_t kIniName[] = L"simdrives.ini";
constexpr wchar_t kJournalName[] = L"simjournal.log";
constexpr wchar_t kStateName[] = L"simstate.txt";
constexpr size_t kStateMaxBytes = 4096;
constexpr uintptr_t kShellOk = 42;           // what ShellExecuteW returns, as an HINSTANCE
constexpr uintptr_t kShellFileNotFound = 2;  // SE_ERR_FNF

enum class Mode { Undecided, Memory, File };

struct OpenHandle {
    wchar_t   letter;
    SimAccess access;
    DWORD     share;
};

struct MciDevice {
    wchar_t letter;
    bool    shareable;
};

// One request of a drive to be held for a while.
struct Hold {
    std::string request;  // journal text the request starts with; empty: none
    DWORD       delayMs = 0;
};

struct World {
    Mode                            mode = Mode::Undecided;
    std::array<SimDrive, 26>        drives;
    std::array<Hold, 26>            holds;
    std::map<uintptr_t, OpenHandle> handles;
    uint32_t                        nextSlot = 0;
    std::map<MCIDEVICEID, MciDevice> mciDevices;
    MCIDEVICEID                     nextMciId = 1;
    std::deque<std::string>         journal;
    bool                            journalEnabled = true;
    std::wstring                    folder;        // file mode: where the ini and the log are
    HANDLE                          journalFile = INVALID_HANDLE_VALUE;  // file mode: kept open while journalling
    bool                            iniSeen = false;
    FILETIME                        iniTime{};
    uint64_t                        iniSize = 0;
    // File mode: the trays and lock counts as simstate.txt last held them,
    // shared with every other process over the same folder.
    std::array<std::pair<bool, uint32_t>, 26> sharedMechanism{};
    FILETIME                        stateTime{};
    uint64_t                        stateSize = 0;
    std::vector<std::pair<wchar_t, bool>> announcements;  // drives that came (true) or went since the last broadcast
};

SRWLOCK worldLock = SRWLOCK_INIT;
// Signalled when the folder to watch changes: another one, or none.
HANDLE folderMoved;

World& world() {
    static World instance;
    return instance;
}

class WorldLock {
public:
    WorldLock() { AcquireSRWLockExclusive(&worldLock); }
    ~WorldLock() { ReleaseSRWLockExclusive(&worldLock); }
    WorldLock(const WorldLock&) = delete;
    WorldLock& operator=(const WorldLock&) = delete;
};

wchar_t upperLetter(wchar_t letter) {
    if (letter >= L'a' && letter <= L'z') letter = static_cast<wchar_t>(letter - L'a' + L'A');
    return letter >= L'A' && letter <= L'Z' ? letter : 0;
}

SimDrive* driveOf(World& w, wchar_t letter) {
    letter = upperLetter(letter);
    return letter ? &w.drives[static_cast<size_t>(letter - L'A')] : nullptr;
}

bool isPresent(const SimDrive* drive) {
    return drive != nullptr && drive->known && drive->config.present;
}

std::string prefix(wchar_t letter) {
    letter = upperLetter(letter);
    return std::string(1, letter ? static_cast<char>(letter) : '?') + ": ";
}

std::string utf8(const wchar_t* text, size_t length) {
    length = std::min(length, kLongestText);
    if (text == nullptr || length == 0) return std::string();
    const int count = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
    if (count <= 0) return std::string();
    std::string result(static_cast<size_t>(count), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), result.data(), count, nullptr, nullptr);
    return result;
}

std::string utf8(const wchar_t* text) {
    return text ? utf8(text, wcsnlen(text, kLongestText)) : std::string();
}

std::string quoted(const wchar_t* text) {
    std::string result(1, '"');
    result += utf8(text);
    result += '"';
    return result;
}

std::wstring executableFolder() {
    std::wstring path(kLongestText, L'\0');
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    path.resize(length < path.size() ? length : 0);
    const size_t slash = path.find_last_of(L'\\');
    return slash == std::wstring::npos ? std::wstring(L".") : path.substr(0, slash);
}

// Writes `text` as the whole of a new file at `path`.
void writeNewFile(const std::wstring& path, const std::string& text) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
}

std::string readFileBytes(const std::wstring& path) {
    std::string bytes;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return bytes;
    char chunk[16384];
    DWORD read = 0;
    while (bytes.size() < kSimIniMaxBytes && ReadFile(file, chunk, sizeof chunk, &read, nullptr) && read > 0) {
        bytes.append(chunk, std::min<size_t>(read, kSimIniMaxBytes - bytes.size()));
    }
    CloseHandle(file);
    return bytes;
}

void closeJournalFile(World& w) {
    if (w.journalFile != INVALID_HANDLE_VALUE) CloseHandle(w.journalFile);
    w.journalFile = INVALID_HANDLE_VALUE;
}

// Appends one line, in memory and, in file mode, to simjournal.log. Every
// drive's every request comes here each second, so the file stays open
// between lines, until the next look at the files. The caller's last error
// survives the file's I/O.
// The line is made only when the journal is on: with it off, as for the idle
// measurements, a request costs no text at all.
template <typename MakeLine>
void journal(World& w, MakeLine&& makeLine) {
    if (!w.journalEnabled) return;
    std::string line = makeLine();
    for (char& c : line) {
        if (static_cast<unsigned char>(c) < 0x20) c = '?';
    }
    if (w.mode == Mode::File) {
        const DWORD error = GetLastError();
        if (w.journalFile == INVALID_HANDLE_VALUE) {
            w.journalFile = CreateFileW((w.folder + L"\\" + kJournalName).c_str(), FILE_APPEND_DATA,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, nullptr);
        }
        line += "\r\n";
        DWORD written = 0;
        if (w.journalFile != INVALID_HANDLE_VALUE) {
            WriteFile(w.journalFile, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
        }
        line.resize(line.size() - 2);
        SetLastError(error);
    }
    w.journal.push_back(std::move(line));
    if (w.journal.size() > kJournalKeep) w.journal.pop_front();
}

// Drives, handles and ids start afresh; value counters run on so that a
// handle or id left over from before is not taken for a new one.
void clearWorld(World& w, Mode mode) {
    closeJournalFile(w);
    // The folder watcher, if any, looks again at what it should watch.
    if (folderMoved == nullptr) folderMoved = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (folderMoved != nullptr) SetEvent(folderMoved);
    const uint32_t nextSlot = w.nextSlot;
    const MCIDEVICEID nextMciId = w.nextMciId;
    w = World{};
    w.mode = mode;
    w.nextSlot = nextSlot;
    w.nextMciId = nextMciId;
}

void disappear(SimDrive& drive) {
    drive.config.present = false;
    simResetMechanism(drive);
    drive.lockCount = 0;
}

// A drive as freshly configured, keeping only its media-change count.
void configureDrive(SimDrive& drive, const SimDriveConfig& config) {
    const ULONG changes = drive.changeCount;
    drive = SimDrive{};
    drive.known = true;
    drive.config = config;
    drive.config.failing = simNormalizeFailing(config.failing);
    drive.config.delayMs = std::min(config.delayMs, kSimMaxDelayMs);
    drive.changeCount = changes;
    drive.fileLocked = config.locked;
    simResetMechanism(drive);
}

// The file's keys replace the drive's configuration; the lock, speed and
// audio play the program set stay unless the medium changed (or the file's
// own lock value was edited).
// True when the drive came or went.
bool applyIniDrive(SimDrive& drive, const SimIniDrive& entry) {
    if (!entry.present) {
        if (!isPresent(&drive)) return false;
        disappear(drive);
        return true;
    }
    SimDriveConfig next = entry.config;
    next.present = true;
    if (!isPresent(&drive)) {
        configureDrive(drive, next);
        return true;
    }
    // Another program took or released locks: the shared count moves by as
    // many, the program's own lock stays counted.
    const uint32_t before = drive.fileLocked;
    drive.fileLocked = next.locked;
    if (next.locked > before) drive.lockCount += next.locked - before;
    else drive.lockCount -= std::min(drive.lockCount, before - next.locked);
    if (!simSameMedium(drive.config, next)) {
        simChangeMedium(drive, next.medium, next.label, next.size, next.tracks);
        drive.readSpeed = 0;
        drive.writeSpeed = 0;
    }
    simMoveTray(drive, next.trayOpen);
    drive.config.passthrough = next.passthrough;
    drive.config.opens = next.opens;
    drive.config.delayMs = next.delayMs;
    drive.config.failing = next.failing;
    drive.config.root = next.root;
    drive.config.locked = next.locked;
    drive.config.eventStatus = next.eventStatus;
    drive.config.blockDescriptor = next.blockDescriptor;
    return false;
}

// What of a drive every process sees alike: its tray and its lock count.
std::pair<bool, uint32_t> mechanismOf(const SimDrive& drive) {
    return {isPresent(&drive) && drive.config.trayOpen, isPresent(&drive) ? drive.lockCount : 0};
}

// Re-reads simdrives.ini when its time or size changed, or when forced.
void reloadIni(World& w, bool force) {
    // Let go of the journal at each look: a file deleted while open stays
    // until its last handle closes, and a new one is then begun.
    closeJournalFile(w);
    const std::wstring path = w.folder + L"\\" + kIniName;
    WIN32_FILE_ATTRIBUTE_DATA data{};
    const bool exists = GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data) &&
                        !(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
    const uint64_t size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    const bool same = exists == w.iniSeen &&
                      (!exists || (CompareFileTime(&data.ftLastWriteTime, &w.iniTime) == 0 && size == w.iniSize));
    if (!force && same) return;
    w.iniSeen = exists;
    w.iniTime = data.ftLastWriteTime;
    w.iniSize = size;
    bool journalOn = true;
    const SimIniDrives drives = parseSimDrivesIni(exists ? readFileBytes(path) : std::string(), w.folder, &journalOn);
    w.journalEnabled = journalOn;
    for (size_t i = 0; i < drives.size(); ++i) {
        // The first reading is the machine as the program finds it: only
        // later changes are announced.
        if (applyIniDrive(w.drives[i], drives[i]) && !force) {
            w.announcements.emplace_back(static_cast<wchar_t>(L'A' + i), isPresent(&w.drives[i]));
        }
    }
    for (size_t i = 0; i < w.drives.size(); ++i) w.sharedMechanism[i] = mechanismOf(w.drives[i]);
}

// The file's first line names the simdrives.ini it follows; an edit of that
// file makes the state stale.
std::string stateStamp(const World& w) {
    char stamp[64];
    std::snprintf(stamp, sizeof stamp, "ini %lu %lu %llu", w.iniTime.dwLowDateTime, w.iniTime.dwHighDateTime,
                  static_cast<unsigned long long>(w.iniSize));
    return stamp;
}

bool fileStamp(const std::wstring& path, FILETIME& time, uint64_t& size) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return false;
    time = data.ftLastWriteTime;
    size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    return true;
}

// A real drive keeps its tray and its lock for every process: what another
// sbay_sim.exe over the same folder did is taken over here.
void loadSharedMechanism(World& w, bool force) {
    const std::wstring path = w.folder + L"\\" + kStateName;
    FILETIME time{};
    uint64_t size = 0;
    if (!fileStamp(path, time, size)) return;
    if (!force && CompareFileTime(&time, &w.stateTime) == 0 && size == w.stateSize) return;
    w.stateTime = time;
    w.stateSize = size;
    std::string text = readFileBytes(path);
    if (text.size() > kStateMaxBytes) return;
    std::replace(text.begin(), text.end(), '\r', '\n');
    if (text.compare(0, stateStamp(w).size() + 1, stateStamp(w) + "\n") != 0) return;
    for (size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', at + 1)) {
        char letter = 0;
        int open = 0;
        unsigned long locks = 0;
        SimDrive* drive = nullptr;
        if (std::sscanf(text.c_str() + at + 1, "%c open=%d locks=%lu", &letter, &open, &locks) != 3 ||
            (drive = driveOf(w, static_cast<wchar_t>(static_cast<unsigned char>(letter)))) == nullptr ||
            !isPresent(drive)) {
            continue;
        }
        if (drive->config.trayOpen != (open != 0)) simMoveTray(*drive, open != 0);
        drive->lockCount = static_cast<uint32_t>(std::min<unsigned long>(locks, UINT32_MAX));
        w.sharedMechanism[static_cast<size_t>(drive - w.drives.data())] = mechanismOf(*drive);
    }
}

// Writes simstate.txt whenever a request changed a tray or a lock count.
void saveSharedMechanism(World& w) {
    if (w.mode != Mode::File) return;
    bool changed = false;
    for (size_t i = 0; i < w.drives.size(); ++i) changed = changed || mechanismOf(w.drives[i]) != w.sharedMechanism[i];
    if (!changed) return;
    std::string text = stateStamp(w) + "\r\n";
    for (size_t i = 0; i < w.drives.size(); ++i) {
        w.sharedMechanism[i] = mechanismOf(w.drives[i]);
        if (!isPresent(&w.drives[i])) continue;
        char line[48];
        std::snprintf(line, sizeof line, "%c open=%d locks=%lu\r\n", static_cast<char>('A' + i),
                      w.sharedMechanism[i].first ? 1 : 0, static_cast<unsigned long>(w.sharedMechanism[i].second));
        text += line;
    }
    const DWORD error = GetLastError();
    // Written aside and moved into place: a reader never sees half a file.
    const std::wstring path = w.folder + L"\\" + kStateName;
    const std::wstring temporary = path + L"." + std::to_wstring(GetCurrentProcessId()) + L".tmp";
    writeNewFile(temporary, text);
    if (MoveFileExW(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        fileStamp(path, w.stateTime, w.stateSize);
    }
    SetLastError(error);
}

// Windows tells every top-level window when a volume arrives or is removed:
// WM_DEVICECHANGE with DBT_DEVICEARRIVAL or DBT_DEVICEREMOVECOMPLETE and a
// DEV_BROADCAST_VOLUME naming its letter in dbcv_unitmask (Microsoft docs,
// "Detecting Media Insertion or Removal" and DEV_BROADCAST_VOLUME). Here the
// windows are this process's, the only ones that see the simulated drives.
BOOL CALLBACK collectOwnWindow(HWND window, LPARAM windows) {
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process == GetCurrentProcessId()) reinterpret_cast<std::vector<HWND>*>(windows)->push_back(window);
    return TRUE;
}

void broadcastVolume(wchar_t letter, bool arrived) {
    std::vector<HWND> windows;
    EnumWindows(collectOwnWindow, reinterpret_cast<LPARAM>(&windows));
    DEV_BROADCAST_VOLUME volume{};
    volume.dbcv_size = sizeof volume;
    volume.dbcv_devicetype = DBT_DEVTYP_VOLUME;
    volume.dbcv_unitmask = 1u << (letter - L'A');
    for (HWND window : windows) {
        // Sent, as Windows does, so the record is gone when the call returns;
        // a window that went meanwhile fails the send harmlessly.
        SendMessageW(window, WM_DEVICECHANGE, arrived ? DBT_DEVICEARRIVAL : DBT_DEVICEREMOVECOMPLETE,
                     reinterpret_cast<LPARAM>(&volume));
    }
}

// Looks at the files once, then broadcasts the drives that came and went,
// outside the lock. Returns the folder to watch: empty unless in file mode.
std::wstring lookAtFiles() {
    std::vector<std::pair<wchar_t, bool>> announcements;
    std::wstring folder;
    {
        WorldLock lock;
        World& w = world();
        if (w.mode == Mode::File) {
            folder = w.folder;
            reloadIni(w, false);
            loadSharedMechanism(w, false);
        }
        announcements.swap(w.announcements);
    }
    for (const auto& [letter, arrived] : announcements) broadcastVolume(letter, arrived);
    return folder;
}

// In file mode, looks at simdrives.ini and simstate.txt whenever something
// in their folder changes, whether or not the program makes requests (with
// no drive nothing else would). Nothing is looked at while the folder stays
// as it is; a journal being written changes it, and is then looked at no more
// than five times a second.
DWORD WINAPI watchFolder(void*) {
    HANDLE change = INVALID_HANDLE_VALUE;
    std::wstring watched;
    for (;;) {
        const std::wstring folder = lookAtFiles();
        if (folder != watched) {
            if (change != INVALID_HANDLE_VALUE) FindCloseChangeNotification(change);
            change = folder.empty() ? INVALID_HANDLE_VALUE
                                    : FindFirstChangeNotificationW(folder.c_str(), FALSE,
                                                                   FILE_NOTIFY_CHANGE_FILE_NAME |
                                                                       FILE_NOTIFY_CHANGE_SIZE |
                                                                       FILE_NOTIFY_CHANGE_LAST_WRITE);
            watched = folder;
            continue;  // a change before the watch began is seen by the next look
        }
        Sleep(kReloadIntervalMs);
        if (folder.empty()) {
            WaitForSingleObject(folderMoved, INFINITE);
        } else if (change == INVALID_HANDLE_VALUE) {
            WaitForSingleObject(folderMoved, 0);  // no watch to be had: look every 200 ms
        } else {
            const HANDLE waits[] = {change, folderMoved};
            if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) == WAIT_OBJECT_0) FindNextChangeNotification(change);
        }
    }
}

void enterFileMode(World& w, std::wstring folder) {
    while (folder.size() > 1 && (folder.back() == L'\\' || folder.back() == L'/')) folder.pop_back();
    clearWorld(w, Mode::File);
    w.folder = folder;
    reloadIni(w, true);
    loadSharedMechanism(w, true);
    static bool watching = false;
    if (watching) return;
    watching = true;
    if (HANDLE watcher = CreateThread(nullptr, 0, watchFolder, nullptr, 0, nullptr)) CloseHandle(watcher);
}

// Every seam call starts here, holding the lock.
void startCall(World& w) {
    if (w.mode != Mode::Undecided) return;
    const DWORD error = GetLastError();
    enterFileMode(w, executableFolder());
    SetLastError(error);
}

// The test API's setters imply in-memory mode unless a mode was chosen.
World& worldForSetter() {
    World& w = world();
    if (w.mode == Mode::Undecided) w.mode = Mode::Memory;
    return w;
}

// ---- Paths -----------------------------------------------------------------

// 'A'..'Z' for "X:\" exactly, else 0.
wchar_t rootLetter(const wchar_t* root) {
    if (root == nullptr || root[0] == 0 || root[1] != L':' || root[2] != L'\\' || root[3] != 0) return 0;
    return upperLetter(root[0]);
}

// 'A'..'Z' for "X:" and "X:\..." (or "X:/..."), else 0.
wchar_t pathLetter(const std::wstring& path) {
    if (path.size() < 2 || path[1] != L':' || (path.size() > 2 && path[2] != L'\\' && path[2] != L'/')) return 0;
    return upperLetter(path[0]);
}

// The path below the drive's root, with backslashes and no leading ones.
std::wstring belowRoot(const std::wstring& path) {
    std::wstring rest = path.substr(2);
    for (wchar_t& c : rest) {
        if (c == L'/') c = L'\\';
    }
    const size_t first = rest.find_first_not_of(L'\\');
    return first == std::wstring::npos ? std::wstring() : rest.substr(first);
}

bool climbsOut(const std::wstring& relative) {
    size_t start = 0;
    while (start <= relative.size()) {
        const size_t end = std::min(relative.find(L'\\', start), relative.size());
        if (relative.compare(start, end - start, L"..") == 0) return true;
        start = end + 1;
    }
    return false;
}

// The host file holding `relative` of the data disc; "" when there is none.
std::wstring discFile(const SimDrive& drive, const std::wstring& relative) {
    if (!isPresent(&drive) || drive.config.trayOpen || drive.config.medium != SimMedium::Data ||
        drive.config.root.empty() || relative.empty() || climbsOut(relative)) {
        return std::wstring();
    }
    return drive.config.root + L"\\" + relative;
}

bool existsOnDisc(const SimDrive& drive, const std::wstring& relative) {
    if (!isPresent(&drive)) return false;
    if (relative.empty()) return true;  // the drive's root opens even without a disc
    if (drive.config.trayOpen) return false;
    if (drive.config.medium == SimMedium::Audio) {
        for (int track = 1; track <= simTrackCount(drive); ++track) {
            wchar_t name[16];
            swprintf(name, 16, L"Track%02d.cda", track);
            if (_wcsicmp(relative.c_str(), name) == 0) return true;
        }
        return false;
    }
    const std::wstring host = discFile(drive, relative);
    return !host.empty() && GetFileAttributesW(host.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool isUrl(const std::wstring& target) {
    const size_t colon = target.find(L':');
    if (colon == std::wstring::npos || colon < 2) return false;
    for (size_t i = 0; i < colon; ++i) {
        if (!iswalpha(target[i]) && target[i] != L'+' && target[i] != L'-' && target[i] != L'.') return false;
    }
    return true;
}

bool existsOnHost(const std::wstring& target) {
    if (target.empty()) return false;
    if (isUrl(target)) return true;  // a browser or mail program would take it
    if (GetFileAttributesW(target.c_str()) != INVALID_FILE_ATTRIBUTES) return true;
    wchar_t found[MAX_PATH];
    return SearchPathW(nullptr, target.c_str(), L".exe", MAX_PATH, found, nullptr) != 0;
}

bool sharingAllows(const World& w, wchar_t letter, SimAccess access, DWORD share) {
    if (!access.read && !access.write) return true;  // query-only opens take part in no sharing
    for (const auto& [value, open] : w.handles) {
        if (open.letter != letter || (!open.access.read && !open.access.write)) continue;
        if ((access.read && !(open.share & FILE_SHARE_READ)) || (access.write && !(open.share & FILE_SHARE_WRITE)) ||
            (open.access.read && !(share & FILE_SHARE_READ)) || (open.access.write && !(share & FILE_SHARE_WRITE))) {
            return false;
        }
    }
    return true;
}

const OpenHandle* findHandle(const World& w, HANDLE device) {
    const auto found = w.handles.find(reinterpret_cast<uintptr_t>(device));
    return found == w.handles.end() ? nullptr : &found->second;
}

// ---- MCI -------------------------------------------------------------------

MCIERROR mciOpen(World& w, DWORD_PTR flags, MCI_OPEN_PARMSW* open) {
    constexpr DWORD_PTR kKnown = MCI_NOTIFY | MCI_WAIT | MCI_OPEN_TYPE | MCI_OPEN_TYPE_ID | MCI_OPEN_ELEMENT |
                                 MCI_OPEN_SHAREABLE | MCI_OPEN_ALIAS;
    wchar_t letter = 0;
    MCIERROR error = 0;
    if (open == nullptr) {
        error = MCIERR_NULL_PARAMETER_BLOCK;
    } else if ((flags & ~kKnown) != 0) {
        error = MCIERR_UNSUPPORTED_FUNCTION;
    } else if (!(flags & MCI_OPEN_TYPE) || !(flags & MCI_OPEN_ELEMENT) || open->lpstrElementName == nullptr) {
        error = MCIERR_MISSING_PARAMETER;
    } else {
        const DWORD_PTR type = reinterpret_cast<DWORD_PTR>(open->lpstrDeviceType);
        const bool cdAudio = (flags & MCI_OPEN_TYPE_ID)
                                 ? LOWORD(type) == MCI_DEVTYPE_CD_AUDIO
                                 : open->lpstrDeviceType != nullptr && _wcsicmp(open->lpstrDeviceType, L"cdaudio") == 0;
        const std::wstring element(open->lpstrElementName, wcsnlen(open->lpstrElementName, kLongestText));
        letter = element.size() <= 3 ? pathLetter(element) : 0;
        SimDrive* drive = driveOf(w, letter);
        if (!cdAudio || !isPresent(drive)) {
            error = MCIERR_INVALID_DEVICE_NAME;
        } else if (simIsFailing(*drive, "MCI")) {
            error = MCIERR_HARDWARE;
        } else {
            const bool shareable = (flags & MCI_OPEN_SHAREABLE) != 0;
            for (const auto& [id, device] : w.mciDevices) {
                if (device.letter == letter && !(shareable && device.shareable)) error = MCIERR_DEVICE_OPEN;
            }
            if (error == 0 && w.mciDevices.size() >= kLastMciId) error = MCIERR_OUT_OF_MEMORY;
            if (error == 0) {
                while (w.mciDevices.count(w.nextMciId) != 0) w.nextMciId = w.nextMciId % kLastMciId + 1;
                open->wDeviceID = w.nextMciId;
                w.mciDevices[w.nextMciId] = MciDevice{letter, shareable};
                w.nextMciId = w.nextMciId % kLastMciId + 1;
            }
        }
    }
    journal(w, [&] { return std::string(prefix(letter) + "MCI open -> " + (error == 0 ? "ok" : "fail")); });
    return error;
}

MCIERROR mciSetDoor(World& w, MCIDEVICEID id, DWORD_PTR flags) {
    const auto found = w.mciDevices.find(id);
    const wchar_t letter = found == w.mciDevices.end() ? 0 : found->second.letter;
    const DWORD_PTR door = flags & (MCI_SET_DOOR_OPEN | MCI_SET_DOOR_CLOSED);
    const bool open = door == MCI_SET_DOOR_OPEN;
    MCIERROR error = 0;
    SimDrive* drive = driveOf(w, letter);
    if (drive == nullptr) {
        error = MCIERR_INVALID_DEVICE_ID;
    } else if ((flags & ~(door | MCI_WAIT | MCI_NOTIFY)) != 0 || door == 0) {
        error = MCIERR_UNSUPPORTED_FUNCTION;
    } else if (door == (MCI_SET_DOOR_OPEN | MCI_SET_DOOR_CLOSED)) {
        error = MCIERR_FLAGS_NOT_COMPATIBLE;
    } else if (!isPresent(drive)) {
        error = MCIERR_DEVICE_NOT_READY;
    } else if (simIsFailing(*drive, "MCI") || (open && drive->lockCount > 0)) {
        error = MCIERR_HARDWARE;
    } else {
        simMoveTray(*drive, open);
        saveSharedMechanism(w);
    }
    const char* what = door == MCI_SET_DOOR_OPEN     ? "MCI door open"
                       : door == MCI_SET_DOOR_CLOSED ? "MCI door closed"
                                                     : "MCI set";
    journal(w, [&] { return std::string(prefix(letter) + what + (error == 0 ? " -> ok" : " -> fail")); });
    return error;
}

MCIERROR mciClose(World& w, MCIDEVICEID id) {
    if (id == MCI_ALL_DEVICE_ID) {
        w.mciDevices.clear();
        journal(w, [&] { return std::string("*: MCI close"); });
        return 0;
    }
    const auto found = w.mciDevices.find(id);
    if (found == w.mciDevices.end()) {
        journal(w, [&] { return std::string("?: MCI close -> fail"); });
        return MCIERR_INVALID_DEVICE_ID;
    }
    journal(w, [&] { return std::string(prefix(found->second.letter) + "MCI close"); });
    w.mciDevices.erase(found);
    return 0;
}

}  // namespace

// ---- The seam ----------------------------------------------------------------

HANDLE seamOpenDevice(wchar_t letter, DWORD access, DWORD share, DWORD /*flagsAndAttributes*/) {
    const SimAccess granted{(access & (GENERIC_READ | GENERIC_ALL | FILE_READ_DATA)) != 0,
                            (access & (GENERIC_WRITE | GENERIC_ALL | FILE_WRITE_DATA)) != 0};
    HANDLE result = INVALID_HANDLE_VALUE;
    DWORD error = ERROR_SUCCESS;
    {
        WorldLock lock;
        World& w = world();
        startCall(w);
        letter = upperLetter(letter);
        const SimDrive* drive = driveOf(w, letter);
        if (!isPresent(drive) || !drive->config.opens) {
            error = ERROR_FILE_NOT_FOUND;
        } else if (!sharingAllows(w, letter, granted, share)) {
            error = ERROR_SHARING_VIOLATION;
        } else if (w.handles.size() >= kHandleSlots) {
            error = ERROR_TOO_MANY_OPEN_FILES;
        } else {
            uintptr_t value = 0;
            do {
                value = kHandleBase + 4 * static_cast<uintptr_t>(w.nextSlot);
                w.nextSlot = (w.nextSlot + 1) % kHandleSlots;
            } while (w.handles.count(value) != 0);
            w.handles[value] = OpenHandle{letter, granted, share};
            result = reinterpret_cast<HANDLE>(value);
        }
        const char* mode = granted.write ? "passthrough" : granted.read ? "read" : "query";
        journal(w, [&] {
            return std::string(prefix(letter) + "open " + mode + (error == ERROR_SUCCESS ? " -> ok" : " -> fail"));
        });
    }
    SetLastError(error);
    return result;
}

BOOL seamDeviceIoControl(HANDLE device, DWORD code, void* in, DWORD inSize, void* out, DWORD outSize,
                         DWORD* returned) {
    std::string request;  // as the journal and a held request name it; made only for them
    DWORD delay = 0;
    {
        WorldLock lock;
        World& w = world();
        startCall(w);
        const OpenHandle* open = findHandle(w, device);
        if (w.journalEnabled || (open != nullptr && !w.holds[open->letter - L'A'].request.empty())) {
            request = simIoctlName(code) + simDescribeIoctlInput(code, in, inSize);
        }
        if (open == nullptr) {
            journal(w, [&] { return std::string("?: " + request + " -> fail"); });
            if (returned != nullptr) *returned = 0;
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
        const SimDrive* drive = driveOf(w, open->letter);
        if (isPresent(drive)) delay = drive->config.delayMs;
        Hold& hold = w.holds[open->letter - L'A'];
        if (!hold.request.empty() && request.compare(0, hold.request.size(), hold.request) == 0) {
            delay = hold.delayMs;
            journal(w, [&] { return std::string(prefix(open->letter) + "hold " + request); });
            hold = Hold{};
        }
    }
    if (delay > 0) Sleep(delay);

    SimAnswer answer{false, ERROR_INVALID_HANDLE, 0};
    {
        WorldLock lock;
        World& w = world();
        const OpenHandle* open = findHandle(w, device);  // it may have been closed meanwhile
        if (open != nullptr && returned == nullptr) {
            answer.error = ERROR_INVALID_PARAMETER;  // a synchronous call must get the byte count
        } else if (open != nullptr) {
            answer = simAnswerIoctl(*driveOf(w, open->letter), open->access, code, in, inSize, out, outSize);
            saveSharedMechanism(w);
        }
        journal(w, [&] {
            return std::string(prefix(open ? open->letter : 0) + request + (answer.ok ? " -> ok" : " -> fail"));
        });
    }
    if (returned != nullptr) *returned = answer.returned;
    SetLastError(answer.ok ? ERROR_SUCCESS : answer.error);
    return answer.ok ? TRUE : FALSE;
}

void seamCloseDevice(HANDLE device) {
    WorldLock lock;
    World& w = world();
    startCall(w);
    const auto found = w.handles.find(reinterpret_cast<uintptr_t>(device));
    if (found == w.handles.end()) {
        char line[64];
        std::snprintf(line, sizeof line, "?: close unknown handle 0x%llX",
                      static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(device)));
        journal(w, [&] { return std::string(line); });
        SetLastError(ERROR_INVALID_HANDLE);
        return;
    }
    journal(w, [&] { return std::string(prefix(found->second.letter) + "close"); });
    w.handles.erase(found);
}

UINT seamGetDriveType(const wchar_t* root) {
    WorldLock lock;
    World& w = world();
    startCall(w);
    const wchar_t letter = rootLetter(root);
    const bool cdrom = isPresent(driveOf(w, letter));
    journal(w, [&] { return std::string(prefix(letter) + "drive type -> " + (cdrom ? "cdrom" : "none")); });
    return cdrom ? DRIVE_CDROM : DRIVE_NO_ROOT_DIR;
}

BOOL seamGetVolumeLabel(const wchar_t* root, wchar_t* label, DWORD labelCapacity) {
    DWORD error = ERROR_SUCCESS;
    {
        WorldLock lock;
        World& w = world();
        startCall(w);
        const wchar_t letter = rootLetter(root);
        const SimDrive* drive = driveOf(w, letter);
        std::wstring text;
        if (letter == 0) {
            error = ERROR_INVALID_NAME;
        } else if (!isPresent(drive)) {
            error = ERROR_PATH_NOT_FOUND;
        } else if (drive->config.trayOpen || drive->config.medium == SimMedium::None) {
            error = ERROR_NOT_READY;
        } else if (drive->config.medium == SimMedium::Blank) {
            error = ERROR_UNRECOGNIZED_VOLUME;
        } else {
            text = drive->config.medium == SimMedium::Audio ? L"Audio CD" : drive->config.label;
        }
        if (label != nullptr && labelCapacity > 0) {
            const size_t kept = std::min<size_t>(text.size(), labelCapacity - 1);
            text.copy(label, kept);
            label[kept] = L'\0';
            text.resize(kept);
        }
        journal(w, [&] {
            return std::string(prefix(letter) + "volume label -> " +
                               (error == ERROR_SUCCESS ? quoted(text.c_str()) : "fail"));
        });
    }
    SetLastError(error);
    return error == ERROR_SUCCESS;
}

BOOL seamGetDiskTotalBytes(const wchar_t* root, ULARGE_INTEGER* total) {
    DWORD error = ERROR_SUCCESS;
    {
        WorldLock lock;
        World& w = world();
        startCall(w);
        const wchar_t letter = rootLetter(root);
        const SimDrive* drive = driveOf(w, letter);
        if (letter == 0) {
            error = ERROR_INVALID_NAME;
        } else if (!isPresent(drive)) {
            error = ERROR_PATH_NOT_FOUND;
        } else if (drive->config.trayOpen || drive->config.medium == SimMedium::None) {
            error = ERROR_NOT_READY;
        } else if (drive->config.medium != SimMedium::Data) {
            error = ERROR_UNRECOGNIZED_VOLUME;
        } else if (total != nullptr) {
            total->QuadPart = drive->config.size;
        }
        journal(w, [&] {
            return prefix(letter) + "disk size -> " +
                   (error == ERROR_SUCCESS ? std::to_string(drive->config.size) : std::string("fail"));
        });
    }
    SetLastError(error);
    return error == ERROR_SUCCESS;
}

MCIERROR seamMciSendCommand(MCIDEVICEID device, UINT message, DWORD_PTR flags, DWORD_PTR parameters) {
    WorldLock lock;
    World& w = world();
    startCall(w);
    switch (message) {
    case MCI_OPEN:  return mciOpen(w, flags, reinterpret_cast<MCI_OPEN_PARMSW*>(parameters));
    case MCI_SET:   return mciSetDoor(w, device, flags);
    case MCI_CLOSE: return mciClose(w, device);
    default: {
        const auto found = w.mciDevices.find(device);
        char name[32];
        std::snprintf(name, sizeof name, "MCI message 0x%04X", message);
        journal(w, [&] {
            return std::string(prefix(found == w.mciDevices.end() ? 0 : found->second.letter) + name + " -> fail");
        });
        return MCIERR_UNSUPPORTED_FUNCTION;
    }
    }
}

HINSTANCE seamShellExecute(HWND /*owner*/, const wchar_t* verb, const wchar_t* file, const wchar_t* parameters,
                           const wchar_t* directory, int /*show*/) {
    bool ok = false;
    {
        WorldLock lock;
        World& w = world();
        startCall(w);
        std::wstring target = file ? std::wstring(file, wcsnlen(file, kLongestText)) : std::wstring();
        const std::wstring folder =
            directory ? std::wstring(directory, wcsnlen(directory, kLongestText)) : std::wstring();
        const bool relative = !target.empty() && pathLetter(target) == 0 && target[0] != L'\\' && !isUrl(target);
        if (relative && !folder.empty()) {
            target = folder + (folder.back() == L'\\' ? L"" : L"\\") + target;
        }
        const wchar_t letter = pathLetter(target);
        const SimDrive* drive = driveOf(w, letter);
        if (drive != nullptr && drive->known) ok = existsOnDisc(*drive, belowRoot(target));
        else ok = existsOnHost(target);
        journal(w, [&] {
            return std::string(std::string("shell ") + (verb ? utf8(verb) : std::string("default")) + " " +
                               quoted(file) + " " + quoted(parameters) + " " + quoted(directory) +
                               (ok ? " -> ok" : " -> fail"));
        });
    }
    SetLastError(ok ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND);
    return reinterpret_cast<HINSTANCE>(ok ? kShellOk : kShellFileNotFound);
}

BOOL seamPlaySound(const wchar_t* sound, HMODULE /*module*/, DWORD flags) {
    WorldLock lock;
    World& w = world();
    startCall(w);
    std::string what;
    if (sound != nullptr && IS_INTRESOURCE(sound)) what = "#" + std::to_string(reinterpret_cast<uintptr_t>(sound));
    else if (sound != nullptr && (flags & SND_MEMORY)) what = "<memory>";
    else what = quoted(sound);
    journal(w, [&] { return std::string("sound " + what + (flags & SND_ASYNC ? " async" : "")); });
    return TRUE;
}

const wchar_t* seamUpdateSite(const wchar_t* builtIn) {
    // Read once: the environment does not change under a running program, and
    // checks on several threads may ask at the same time.
    static wchar_t site[100];
    static const bool overridden = [] {
        const DWORD length = GetEnvironmentVariableW(L"SBAY_SIM_UPDATE_SITE", site, 100);
        return length > 0 && length < 100;
    }();
    WorldLock lock;
    World& w = world();
    startCall(w);
    return w.mode == Mode::File && overridden ? site : builtIn;
}

DWORD seamReadDiscProfileString(const wchar_t* section, const wchar_t* key, wchar_t* value, DWORD capacity,
                                const wchar_t* path) {
    const std::wstring given = path ? std::wstring(path, wcsnlen(path, kLongestText)) : std::wstring();
    const wchar_t letter = pathLetter(given);
    bool simulated = false;
    std::wstring hostFile;
    {
        WorldLock lock;
        World& w = world();
        startCall(w);
        const SimDrive* drive = driveOf(w, letter);
        simulated = drive != nullptr && drive->known;
        hostFile = simulated ? discFile(*drive, belowRoot(given)) : given;
    }
    DWORD count = 0;
    DWORD error = ERROR_SUCCESS;
    if (value != nullptr && capacity > 0) {
        value[0] = L'\0';
        if (!hostFile.empty()) {
            count = GetPrivateProfileStringW(section, key, L"", value, capacity, hostFile.c_str());
            error = GetLastError();
        }
        count = std::min(count, capacity - 1);
        value[count] = L'\0';
    }
    {
        WorldLock lock;
        World& w = world();
        const std::string shown = simulated ? prefix(letter) + "read " + quoted(belowRoot(given).c_str())
                                            : "read " + quoted(path);
        journal(w, [&] {
            return shown + " [" + utf8(section) + "] " + utf8(key) + " -> " +
                   quoted(value != nullptr && capacity > 0 ? value : L"");
        });
    }
    SetLastError(error);
    return count;
}

// ---- The test API ------------------------------------------------------------

void simReset() {
    WorldLock lock;
    clearWorld(world(), Mode::Memory);
}

void simConfigure(wchar_t letter, const SimDriveConfig& config) {
    WorldLock lock;
    if (SimDrive* drive = driveOf(worldForSetter(), letter)) configureDrive(*drive, config);
}

void simSetPresent(wchar_t letter, bool present) {
    WorldLock lock;
    SimDrive* drive = driveOf(worldForSetter(), letter);
    if (drive == nullptr) return;
    if (!drive->known) {
        SimDriveConfig config;
        config.present = present;
        configureDrive(*drive, config);
    } else if (drive->config.present != present) {
        if (present) {
            drive->config.present = true;
            simResetMechanism(*drive);
        } else {
            disappear(*drive);
        }
    }
}

void simSetTray(wchar_t letter, bool open) {
    WorldLock lock;
    SimDrive* drive = driveOf(worldForSetter(), letter);
    if (drive != nullptr && drive->known) simMoveTray(*drive, open);
}

void simSetMedium(wchar_t letter, SimMedium medium, const std::wstring& label, uint64_t size, int tracks) {
    WorldLock lock;
    SimDrive* drive = driveOf(worldForSetter(), letter);
    if (drive != nullptr && drive->known) simChangeMedium(*drive, medium, label, size, tracks);
}

void simSetDelay(wchar_t letter, DWORD milliseconds) {
    WorldLock lock;
    SimDrive* drive = driveOf(worldForSetter(), letter);
    if (drive != nullptr && drive->known) drive->config.delayMs = std::min(milliseconds, kSimMaxDelayMs);
}

void simHoldNext(wchar_t letter, const std::string& request, DWORD milliseconds) {
    WorldLock lock;
    World& w = worldForSetter();
    const wchar_t upper = upperLetter(letter);
    if (upper != 0) w.holds[upper - L'A'] = Hold{request, std::min(milliseconds, kSimMaxDelayMs)};
}

void simSetFailing(wchar_t letter, const std::vector<std::string>& requests) {
    WorldLock lock;
    SimDrive* drive = driveOf(worldForSetter(), letter);
    if (drive != nullptr && drive->known) drive->config.failing = simNormalizeFailing(requests);
}

SimDriveState simState(wchar_t letter) {
    WorldLock lock;
    World& w = world();
    SimDrive* drive = driveOf(w, letter);
    if (!isPresent(drive)) return SimDriveState{};
    simAdvanceAudio(*drive);
    int mciIds = 0;
    for (const auto& [id, device] : w.mciDevices) {
        if (device.letter == upperLetter(letter)) ++mciIds;
    }
    return SimDriveState{true,
                         drive->config.trayOpen,
                         drive->lockCount > 0,
                         drive->lockCount,
                         drive->audioStatus,
                         drive->currentTrack,
                         drive->readSpeed,
                         drive->writeSpeed,
                         mciIds};
}

std::vector<std::string> simJournal() {
    WorldLock lock;
    const std::deque<std::string>& lines = world().journal;
    return std::vector<std::string>(lines.begin(), lines.end());
}

void simClearJournal() {
    WorldLock lock;
    world().journal.clear();
}

void simSetJournalEnabled(bool enabled) {
    WorldLock lock;
    world().journalEnabled = enabled;
}

void simAdvanceClock(DWORD milliseconds) {
    WorldLock lock;
    simSkipClock(milliseconds);
}

size_t simOpenHandleCount() {
    WorldLock lock;
    return world().handles.size();
}

void simUseFolder(const wchar_t* folder) {
    WorldLock lock;
    enterFileMode(world(), folder != nullptr && folder[0] != 0 ? std::wstring(folder) : executableFolder());
}
