// Helpers shared by the tests: temporary folders, files, hosting the main
// window in-process, starting real processes, and counting live objects.
#ifndef SPINDLEBAY_TEST_SUPPORT_H
#define SPINDLEBAY_TEST_SUPPORT_H

#include <windows.h>
#include <string>
#include <vector>

// Folder of the test program, with a trailing backslash.
std::wstring testProgramDir();
// The dist folder built beside the tests.
std::wstring distDir();

// The text of a string of the English library, for comparing with what the
// program shows.
std::wstring englishString(unsigned id);

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

// Sets an environment variable for the test's lifetime (null value: unset).
class ScopedEnvironment {
public:
    ScopedEnvironment(const wchar_t* name, const wchar_t* value);
    ~ScopedEnvironment();
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;
private:
    std::wstring name_;
    std::wstring old_;
    bool hadOld_;
};

// Hosts the program's main window in this process, with its settings in a
// private %APPDATA%. Destroying it runs the shut-down and takes the WM_QUIT.
class MainWindowHost {
public:
    explicit MainWindowHost(const std::string& settings = std::string());
    ~MainWindowHost();
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

// Dispatches this thread's messages for about `milliseconds`.
void pumpMessages(DWORD milliseconds);

// A started Windows process of this Wine session.
struct StartedProcess {
    HANDLE process = nullptr;
    DWORD id = 0;
    ~StartedProcess();
    // Waits for the exit; returns the exit code, or STILL_ACTIVE on time-out.
    DWORD waitExit(DWORD milliseconds);
};

// Starts `program`; `environment` entries "NAME=value" override or add to
// this process's environment.
bool startProcess(const std::wstring& program, const std::vector<std::wstring>& environment,
                  StartedProcess& started);

// The main window of another process (any process for 0) once its start-up
// has finished, waiting up to `milliseconds`.
HWND waitForProgramWindow(DWORD processId, DWORD milliseconds);
// Asks the program that owns `window` to end, and ends it after 10 s.
void closeProgramWindow(HWND window);

// Copies the files of dist (or the given ones) into `folder`.
void copyDistFiles(const std::wstring& folder, const std::vector<std::wstring>& names);

// How many more GDI objects and icons this process could create, found by
// creating them until the table is full (Wine answers 0 to GetGuiResources).
// A workload that leaks lowers the figure by exactly what it leaked.
int freeGdiSlots();
int freeIconSlots();
// Live kernel handles of this process, found by probing handle values
// (Wine answers 0 to GetProcessHandleCount).
int liveKernelHandles();

#endif
