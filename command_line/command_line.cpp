#include "command_line/command_line.h"

#include "common/program_state.h"
#include "drives/device_commands.h"
#include "drives/device_seam.h"
#include "drives/drive_record.h"
#include "drives/eject_close.h"
#include "resources/language.h"
#include "resources/resource_ids.h"
#include "settings/settings_file.h"

#include <shellapi.h>
#include <cstring>
#include <cwchar>

namespace {

constexpr int kUsageCapacity = 1024;

struct OptionName {
    const wchar_t* name;
    DriveCommand   command;
};

constexpr OptionName kOptions[] = {
    {L"eject", DriveCommand::Eject}, {L"close", DriveCommand::Close},   {L"toggle", DriveCommand::Toggle},
    {L"lock", DriveCommand::Lock},   {L"unlock", DriveCommand::Unlock}, {L"?", DriveCommand::Usage},
};

bool parseOption(const wchar_t* text, DriveCommand& command) {
    if (text[0] != L'/' && text[0] != L'-') return false;
    for (const OptionName& option : kOptions) {
        // Ordinal: the options are ASCII words, whatever the user's locale.
        if (CompareStringOrdinal(text + 1, -1, option.name, -1, TRUE) == CSTR_EQUAL) {
            command = option.command;
            return true;
        }
    }
    return false;
}

wchar_t upperLetter(wchar_t c) {
    if (c >= L'a' && c <= L'z') return static_cast<wchar_t>(c - L'a' + L'A');
    return c >= L'A' && c <= L'Z' ? c : 0;
}

// "D", "D:" or "D:\" in either case.
bool parseDrive(const wchar_t* text, wchar_t& letter) {
    letter = upperLetter(text[0]);
    if (letter == 0) return false;
    if (text[1] == L'\0') return true;
    if (text[1] != L':') return false;
    return text[2] == L'\0' || (text[2] == L'\\' && text[3] == L'\0');
}

bool isOpticalDrive(wchar_t letter) {
    wchar_t root[] = L"A:\\";
    root[0] = letter;
    return seamGetDriveType(root) == DRIVE_CDROM;
}

// The executable's folder with its trailing backslash, as the start-up finds it.
void findOwnFolder(wchar_t (&folder)[MAX_PATH]) {
    const DWORD length = GetModuleFileNameW(nullptr, folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) folder[0] = L'\0';
    wchar_t* lastSlash = std::wcsrchr(folder, L'\\');
    if (lastSlash != nullptr) lastSlash[1] = L'\0';
    else folder[0] = L'\0';
}

// One number of the settings' global section, read as the start-up reads it;
// the file is never written, nor created when missing.
int32_t readGlobalNumber(const wchar_t* key) {
    wchar_t folder[MAX_PATH];
    findOwnFolder(folder);
    wchar_t path[MAX_PATH];
    if (!chooseSettingsPath(false, folder, path, nullptr)) return 0;
    wchar_t text[25];
    GetPrivateProfileStringW(L"g_propMain", key, L"", text, 25, path);
    return parseSettingsNumber(text);
}

// The default drive when the settings name one, else the first optical
// drive; 0 when there is none.
wchar_t defaultLetterAlone() {
    const int32_t letter = readGlobalNumber(L"nDefaultDisk");
    if (letter >= 'A' && letter <= 'Z') return static_cast<wchar_t>(letter);
    for (wchar_t candidate = L'A'; candidate <= L'Z'; ++candidate) {
        if (isOpticalDrive(candidate)) return candidate;
    }
    return 0;
}

// The running copy's default drive: the live setting, which the select hot
// key may have moved since the file was written.
DriveRecord* defaultDriveRecord() {
    const int32_t letter = liveSettings.global.nDefaultDisk;
    if (letter >= 'A' && letter <= 'Z') return driveRecordForLetter(letter);
    for (DriveRecord* record : DriveTable) {
        if (record != nullptr) return record;
    }
    return nullptr;
}

int moveTray(DriveRecord* record, DriveCommand command) {
    const int open = command == DriveCommand::Eject   ? 1
                     : command == DriveCommand::Close ? 0
                                                      : (queryMediaState(record) == TrayOpen ? 0 : 1);
    return ejectOrClose(record, open) ? kExitDone : kExitRefused;
}

// Alone, a lock is one prevent request and an unlock one allow request: the
// drive counts them, and no record here remembers having sent one.
int sendMediaRemoval(wchar_t letter, bool prevent) {
    HANDLE device = openDeviceRead(letter);
    if (device == INVALID_HANDLE_VALUE) return kExitRefused;
    PREVENT_MEDIA_REMOVAL request{static_cast<BOOLEAN>(prevent)};
    DWORD returned = 0;
    const bool done =
        seamDeviceIoControl(device, IOCTL_STORAGE_MEDIA_REMOVAL, &request, sizeof request, nullptr, 0, &returned);
    seamCloseDevice(device);
    return done ? kExitDone : kExitRefused;
}

int carryOutAlone(const ParsedCommand& parsed) {
    const wchar_t letter = parsed.letter != 0 ? parsed.letter : defaultLetterAlone();
    if (letter == 0 || !isOpticalDrive(letter)) return kExitRefused;
    if (parsed.command == DriveCommand::Lock || parsed.command == DriveCommand::Unlock) {
        return sendMediaRemoval(letter, parsed.command == DriveCommand::Lock);
    }
    // A record of this process alone: no icon, no hot keys, no monitor, and
    // with no drive settings read no countdown either.
    DriveRecord record{};
    InitializeCriticalSection(&record.guard);
    record.references = 1;
    record.letter = letter;
    record.speedCommand = kSpeedMax;
    record.assumedClosed = 1;
    record.mediaKind = None;
    record.audioStatus = kAudioNoStatus;
    const int code = moveTray(&record, parsed.command);
    DeleteCriticalSection(&record.guard);
    return code;
}

// Hands the command to the running copy's window; false when it did not
// answer in time or answered with something that is no exit code.
bool handOver(HWND window, const ParsedCommand& parsed, int& exitCode) {
    CommandRecord record{kCommandMagic, kCommandVersion, static_cast<uint16_t>(parsed.command),
                         static_cast<uint32_t>(parsed.letter), 0, GetTickCount64() + kHandOverTimeoutMs};
    COPYDATASTRUCT data{kCommandCopyDataId, sizeof record, &record};
    DWORD_PTR result = 0;
    // No early give-up on a copy that looks hung: one busy with a slow drive
    // may still act, and the deadline alone keeps both from acting.
    if (!SendMessageTimeoutW(window, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data), SMTO_NORMAL,
                             kHandOverTimeoutMs, &result)) {
        return false;
    }
    if (result > static_cast<DWORD_PTR>(kExitNotUnderstood)) return false;
    exitCode = static_cast<int>(result);
    return true;
}

int showUsage() {
    // The language the settings choose, from the library beside the executable.
    findOwnFolder(programDir);
    liveSettings.global.nLanguage = readGlobalNumber(L"nLanguage");
    loadLanguageLibrary();
    wchar_t text[kUsageCapacity];
    wchar_t caption[50];
    loadText(IDS_CMD_USAGE, text, kUsageCapacity);
    loadText(IDS_CMD_USAGE_CAP, caption, 50);
    if (text[0] == L'\0') lstrcpynW(text, L"sbay.exe /eject | /close | /toggle | /lock | /unlock [D:]", kUsageCapacity);
    if (caption[0] == L'\0') lstrcpynW(caption, L"Spindlebay", 50);
    MessageBoxW(nullptr, text, caption, MB_OK | MB_ICONINFORMATION | MB_SETFOREGROUND);
    if (languageModule != nullptr) {
        FreeLibrary(languageModule);
        languageModule = nullptr;
    }
    return kExitDone;
}

// The record in a WM_COPYDATA from another process, when it is one of ours.
bool readCommandRecord(const COPYDATASTRUCT* data, CommandRecord& record) {
    if (data == nullptr || data->dwData != kCommandCopyDataId || data->cbData != sizeof record ||
        data->lpData == nullptr) {
        return false;
    }
    std::memcpy(&record, data->lpData, sizeof record);
    const bool knownCommand = record.command >= static_cast<uint16_t>(DriveCommand::Eject) &&
                              record.command <= static_cast<uint16_t>(DriveCommand::Unlock);
    const bool knownDrive = record.letter == 0 || (record.letter >= 'A' && record.letter <= 'Z');
    return record.magic == kCommandMagic && record.version == kCommandVersion && record.reserved == 0 &&
           knownCommand && knownDrive;
}

}  // namespace

bool parseArguments(int count, const wchar_t* const* arguments, ParsedCommand& parsed) {
    if (count < 1 || count > 2 || arguments == nullptr || arguments[0] == nullptr) return false;
    parsed = ParsedCommand{DriveCommand::Usage, 0};
    if (!parseOption(arguments[0], parsed.command)) return false;
    if (count == 1) return true;
    if (parsed.command == DriveCommand::Usage || arguments[1] == nullptr) return false;
    return parseDrive(arguments[1], parsed.letter);
}

namespace {

// Whether anything follows the program's name. The name ends at its closing
// quote when it starts with one, else at the first blank, as Windows splits
// it; an ordinary start then never loads the shell for the split.
bool hasArguments(const wchar_t* commandLine) {
    if (commandLine == nullptr) return false;
    const wchar_t* c = commandLine;
    if (*c == L'"') {
        for (++c; *c != L'\0' && *c != L'"'; ++c) {
        }
        if (*c == L'"') ++c;
    } else {
        while (*c != L'\0' && *c != L' ' && *c != L'\t') ++c;
    }
    while (*c == L' ' || *c == L'\t') ++c;
    return *c != L'\0';
}

}  // namespace

int runCommandLine(const wchar_t* commandLine) {
    if (!hasArguments(commandLine)) return kStartAsUsual;
    int count = 0;
    LPWSTR* arguments = CommandLineToArgvW(commandLine, &count);
    if (arguments == nullptr) return kStartAsUsual;
    ParsedCommand parsed{};
    const bool any = count > 1;
    const bool understood = any && parseArguments(count - 1, arguments + 1, parsed);
    LocalFree(arguments);
    if (!any) return kStartAsUsual;
    if (!understood) return kExitNotUnderstood;
    if (parsed.command == DriveCommand::Usage) return showUsage();

    if (HWND running = FindWindowW(kInstanceKey, nullptr); running != nullptr) {
        if (int code = kExitRefused; handOver(running, parsed, code)) return code;
    }
    return carryOutAlone(parsed);
}

void acceptCommandsFromAnyLevel(HWND window) {
    // Windows 7 and later; looked up so that older systems still start.
    using Filter = BOOL(WINAPI*)(HWND, UINT, DWORD, PCHANGEFILTERSTRUCT);
    HMODULE user32 = GetModuleHandleW(L"user32.dll");
    auto filter = user32 != nullptr
                      ? reinterpret_cast<Filter>(GetProcAddress(user32, "ChangeWindowMessageFilterEx"))
                      : nullptr;
    // The record is checked before anything is done, whoever sent it.
    if (filter != nullptr) filter(window, WM_COPYDATA, MSGFLT_ALLOW, nullptr);
}

LRESULT onCommandCopyData(const COPYDATASTRUCT* data) {
    CommandRecord command{};
    if (!readCommandRecord(data, command)) return kExitNotUnderstood;
    // A sender that stopped waiting carries the command out itself: the drive
    // must not be moved twice.
    if (GetTickCount64() > command.deadline) return kExitNotUnderstood;
    DriveRecord* record = command.letter != 0 ? driveRecordForLetter(static_cast<int>(command.letter))
                                              : defaultDriveRecord();
    if (record == nullptr) return kExitRefused;
    switch (static_cast<DriveCommand>(command.command)) {
    case DriveCommand::Lock:
        // As the menu's Lock sets it, applied at once rather than on the
        // monitor's next pass, so that the answer can tell.
        setLock(record, 1);
        record->locked = 1;
        return queryLockState(record) == 1 ? kExitDone : kExitRefused;
    case DriveCommand::Unlock:
        // Cleared first, so no monitor pass locks the drive again meanwhile.
        record->locked = 0;
        setLock(record, 0);
        return queryLockState(record) == 0 ? kExitDone : kExitRefused;
    default:
        return moveTray(record, static_cast<DriveCommand>(command.command));
    }
}
