// The command line: open, close, toggle, lock or unlock one drive from a
// script. A running copy of the program is handed the command; without one
// the new process carries it out alone, showing nothing and writing no
// settings.
#ifndef SPINDLEBAY_COMMAND_LINE_H
#define SPINDLEBAY_COMMAND_LINE_H

#include <windows.h>
#include <cstdint>

// Exit codes of a command.
constexpr int kExitDone = 0;
constexpr int kExitRefused = 1;        // no optical drive by that letter, or the drive refused
constexpr int kExitNotUnderstood = 2;  // nothing was done
// What runCommandLine answers when there is nothing on the command line.
constexpr int kStartAsUsual = -1;

enum class DriveCommand : uint16_t { Eject = 1, Close = 2, Toggle = 3, Lock = 4, Unlock = 5, Usage = 6 };

struct ParsedCommand {
    DriveCommand command;
    wchar_t      letter;  // 'A'..'Z', or 0 for the default drive
};

// What the new process hands a running copy in WM_COPYDATA. The running copy
// acts only on a record of exactly this size, identifier, magic and version.
struct CommandRecord {
    uint32_t magic;     // kCommandMagic
    uint16_t version;   // kCommandVersion
    uint16_t command;   // DriveCommand, Eject..Unlock
    uint32_t letter;    // 'A'..'Z', or 0 for the default drive
    uint32_t reserved;  // 0
    uint64_t deadline;  // GetTickCount64 after which the sender carries the command out itself
};
static_assert(sizeof(CommandRecord) == 24);

constexpr ULONG_PTR kCommandCopyDataId = 0x53424D44;  // COPYDATASTRUCT::dwData
constexpr uint32_t kCommandMagic = 0x4C435342;        // "SBCL"
constexpr uint16_t kCommandVersion = 1;
// How long the new process waits for a running copy before acting itself.
constexpr UINT kHandOverTimeoutMs = 10000;

// The arguments after the program's name: one option (/ or -, any case) and at
// most one drive ("D:", "D" or "d:"). False when they are not understood.
bool parseArguments(int count, const wchar_t* const* arguments, ParsedCommand& parsed);

// The whole command line as GetCommandLineW gives it. kStartAsUsual when it
// holds no arguments; otherwise the command's exit code once it is done.
int runCommandLine(const wchar_t* commandLine);

// Lets WM_COPYDATA reach the main window from processes of a lower integrity
// level (a script started without elevation while the program runs elevated).
// Does nothing where the system has no per-window message filter.
void acceptCommandsFromAnyLevel(HWND window);

// WM_COPYDATA of the main window: checks the record, carries the command out
// as the tray menu would and answers with its exit code.
LRESULT onCommandCopyData(const COPYDATASTRUCT* data);

#endif
