// Helpers shared by the tests: temporary folders and files, the main window
// hosted in-process, real processes, counts of live objects, and the
// simulated drives with their journal.
#ifndef SPINDLEBAY_TEST_SUPPORT_H
#define SPINDLEBAY_TEST_SUPPORT_H

#include "drives/drive_record.h"
#include "drives/drive_table.h"
#include "drives/tray_icon.h"
#include "drives/sim/sim_drives.h"

#include <windows.h>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

std::wstring testProgramDir();  // with a trailing backslash
std::wstring distDir();
std::wstring englishString(unsigned id);  // from the English library
std::wstring english(unsigned id, std::initializer_list<int64_t> values);  // formatted as the program does

// A fresh folder under %TEMP%, removed with everything in it at the end.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::wstring& path() const { return path_; }  // no trailing backslash
    std::wstring file(const std::wstring& name) const { return path_ + L"\\" + name; }
private:
    std::wstring path_;
};

void writeTextFile(const std::wstring& path, const std::string& text);
std::string readTextFile(const std::wstring& path);
bool fileExists(const std::wstring& path);

// Sets an environment variable for its lifetime (null value: unset).
class ScopedEnvironment {
public:
    ScopedEnvironment(const wchar_t* name, const wchar_t* value);
    ~ScopedEnvironment();
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;
private:
    std::wstring name_, old_;
    bool hadOld_;
};

// Wine grants everything to everyone, so no standard user can be had: for its lifetime the current user's Run
// key refuses to have values set, as a key guarded by policy does, and as the service manager refuses a
// standard user.
class RunKeyRefusingWrites {
public:
    RunKeyRefusingWrites();
    ~RunKeyRefusingWrites();
    RunKeyRefusingWrites(const RunKeyRefusingWrites&) = delete;
    RunKeyRefusingWrites& operator=(const RunKeyRefusingWrites&) = delete;
private:
    std::vector<BYTE> saved_;
};

// The program's main window in this process, with its settings in a private
// %APPDATA%. Destroying it runs the shut-down and takes the WM_QUIT.
class MainWindowHost {
public:
    explicit MainWindowHost(const std::string& settings = std::string());
    ~MainWindowHost() { destroy(); }
    void destroy();
    const TempDir& appData() const { return appData_; }
    std::wstring settingsFile() const { return appData_.file(L"sbay\\sbay.ini"); }
    HWND window() const { return window_; }
    int quitCode() const { return quitCode_; }
    bool sawQuit() const { return sawQuit_; }
private:
    TempDir appData_;
    ScopedEnvironment environment_;
    HWND window_ = nullptr;
    bool sawQuit_ = false;
    int quitCode_ = -1;
};

void pumpMessages(DWORD milliseconds);  // dispatches this thread's messages

struct StartedProcess {
    HANDLE process = nullptr;
    DWORD id = 0;
    ~StartedProcess();  // ends the process if it still runs
    DWORD waitExit(DWORD milliseconds);  // exit code, or STILL_ACTIVE on time-out
};
// `environment` entries "NAME=value" override or add to this process's own;
// `arguments` follow the quoted program name.
bool startProcess(const std::wstring& program, const std::vector<std::wstring>& environment,
                  StartedProcess& started, const std::wstring& arguments = std::wstring());
// The main window of a process (any for 0) once its start-up has finished.
HWND waitForProgramWindow(DWORD processId, DWORD milliseconds);
void closeProgramWindow(HWND window);  // WM_CLOSE, ended after 10 s
void copyDistFiles(const std::wstring& folder, const std::vector<std::wstring>& names);

// Wine answers 0 to GetGuiResources and GetProcessHandleCount: these fill the GDI and icon tables and probe
// handle values instead. A workload that leaks lowers a free count by exactly what it leaked.
int freeGdiSlots();
int freeIconSlots();
int liveKernelHandles();

// A drive record for the device commands alone: no window, icon or thread.
class BareRecord {
public:
    explicit BareRecord(wchar_t letter);
    ~BareRecord();
    BareRecord(const BareRecord&) = delete;
    BareRecord& operator=(const BareRecord&) = delete;
    DriveRecord* operator->() { return record_; }
    DriveRecord* get() { return record_; }
private:
    DriveRecord* record_;
};

std::vector<std::string> journalOf(char letter);  // the lines "X: ..." in order
int journalCount(const std::string& line);       // lines exactly like this one
inline bool journalHas(const std::string& line) { return journalCount(line) > 0; }

inline SimDriveConfig dataDisc(const std::wstring& label, uint64_t size) {
    SimDriveConfig disc;
    disc.medium = SimMedium::Data;
    disc.label = label;
    disc.size = size;
    return disc;
}
inline SimDriveConfig audioDisc(int tracks) {
    SimDriveConfig disc;
    disc.medium = SimMedium::Audio;
    disc.tracks = tracks;
    return disc;
}
inline SimDriveConfig emptyDrive() { return SimDriveConfig{}; }

// Waits, pumping messages, until `condition` holds or `milliseconds` pass.
template <typename Condition>
bool waitUntil(Condition condition, unsigned milliseconds) {
    for (const DWORD start = GetTickCount(); !condition(); pumpMessages(20)) {
        if (GetTickCount() - start > milliseconds) return false;
    }
    return true;
}

#endif
