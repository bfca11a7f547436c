#include "tests/test_support.h"

#include "app/app.h"
#include "resources/language.h"

#include <sddl.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <list>

std::wstring testProgramDir() {
    wchar_t path[MAX_PATH];
    const std::wstring dir(path, GetModuleFileNameW(nullptr, path, MAX_PATH));
    return dir.substr(0, dir.find_last_of(L'\\') + 1);
}

std::wstring distDir() { return testProgramDir() + L"..\\dist\\"; }

std::wstring englishString(unsigned id) {
    HMODULE library = LoadLibraryW((testProgramDir() + L"sbay_6_eng.dll").c_str());
    wchar_t text[260] = L"";
    LoadStringW(library, id, text, 260);
    FreeLibrary(library);
    return text;
}

std::wstring english(unsigned id, std::initializer_list<int64_t> values) {
    wchar_t text[64];
    formatText(text, 64, englishString(id).c_str(), values);
    return text;
}

TempDir::TempDir() {
    static int serial = 0;
    wchar_t temp[MAX_PATH];
    path_ = std::wstring(temp, GetTempPathW(MAX_PATH, temp)) + L"sbay_test_" + std::to_wstring(GetCurrentProcessId()) +
            L"_" + std::to_wstring(GetTickCount()) + L"_" + std::to_wstring(++serial);
    CreateDirectoryW(path_.c_str(), nullptr);
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

void writeTextFile(const std::wstring& path, const std::string& text) {
    std::ofstream(std::filesystem::path(path), std::ios::binary) << text;
}

std::string readTextFile(const std::wstring& path) {
    std::ifstream file(std::filesystem::path(path), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
}

bool fileExists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

ScopedEnvironment::ScopedEnvironment(const wchar_t* name, const wchar_t* value) : name_(name) {
    std::vector<wchar_t> old(32767);
    const DWORD length = GetEnvironmentVariableW(name, old.data(), 32767);
    hadOld_ = length > 0 && length < 32767;
    if (hadOld_) old_ = old.data();
    SetEnvironmentVariableW(name, value);
}

ScopedEnvironment::~ScopedEnvironment() { SetEnvironmentVariableW(name_.c_str(), hadOld_ ? old_.c_str() : nullptr); }

namespace {
constexpr wchar_t kRunKeyPath[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
void setRunKeyAccessList(PSECURITY_DESCRIPTOR descriptor) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kRunKeyPath, 0, READ_CONTROL | WRITE_DAC, &key) != ERROR_SUCCESS) return;
    RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, descriptor);
    RegCloseKey(key);
}
}  // namespace

RunKeyRefusingWrites::RunKeyRefusingWrites() {
    HKEY key = nullptr;
    DWORD size = 0;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kRunKeyPath, 0, READ_CONTROL, &key) == ERROR_SUCCESS) {
        RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, nullptr, &size);
        saved_.resize(size);
        if (size == 0 || RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, saved_.data(), &size) != ERROR_SUCCESS) {
            saved_.clear();
        }
        RegCloseKey(key);
    }
    // Everyone: setting values refused, all else allowed.
    PSECURITY_DESCRIPTOR refusing = nullptr;
    if (ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:(D;;0x2;;;WD)(A;;KA;;;WD)", SDDL_REVISION_1,
                                                             &refusing, nullptr)) {
        setRunKeyAccessList(refusing);
        LocalFree(refusing);
    }
}

RunKeyRefusingWrites::~RunKeyRefusingWrites() {
    if (!saved_.empty()) setRunKeyAccessList(saved_.data());
}

MainWindowHost::MainWindowHost(const std::string& settings) : environment_(L"APPDATA", appData_.path().c_str()) {
    const bool folder = !settings.empty() && CreateDirectoryW(appData_.file(L"sbay").c_str(), nullptr);
    if (folder) writeTextFile(settingsFile(), settings);
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSEXW existing{};
    existing.cbSize = sizeof existing;
    if (!GetClassInfoExW(instance, kInstanceKey, &existing) || existing.lpfnWndProc != mainWindowProc) {
        UnregisterClassW(kInstanceKey, instance);
        registerMainWindowClass(instance);
    }
    msgSecondInstance = RegisterWindowMessageW(kInstanceKey);
    window_ = createMainWindow(instance);
}

void MainWindowHost::destroy() {
    if (window_ == nullptr) return;
    DestroyWindow(window_);
    window_ = nullptr;
    for (MSG message; PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE); DispatchMessageW(&message)) {
        if (message.message != WM_QUIT) continue;
        sawQuit_ = true;
        quitCode_ = static_cast<int>(message.wParam);
        return;
    }
}

void pumpMessages(DWORD milliseconds) {
    for (const DWORD start = GetTickCount(); GetTickCount() - start < milliseconds;) {
        for (MSG m; PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE); DispatchMessageW(&m)) TranslateMessage(&m);
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
}

StartedProcess::~StartedProcess() {
    if (process != nullptr && WaitForSingleObject(process, 0) == WAIT_TIMEOUT) TerminateProcess(process, 1);
    if (process != nullptr) CloseHandle(process);
}

DWORD StartedProcess::waitExit(DWORD milliseconds) {
    DWORD code = STILL_ACTIVE;
    if (WaitForSingleObject(process, milliseconds) == WAIT_OBJECT_0) GetExitCodeProcess(process, &code);
    return code;
}

bool startProcess(const std::wstring& program, const std::vector<std::wstring>& environment, StartedProcess& started,
                  const std::wstring& arguments) {
    std::list<ScopedEnvironment> changes;  // inherited by the child
    for (const std::wstring& entry : environment) {
        const size_t equals = entry.find(L'=');
        changes.emplace_back(entry.substr(0, equals).c_str(), entry.c_str() + equals + 1);
    }
    std::wstring commandLine = L"\"" + program + L"\"" + (arguments.empty() ? L"" : L" " + arguments);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &info)) return false;
    CloseHandle(info.hThread);
    started.process = info.hProcess;
    started.id = info.dwProcessId;
    return true;
}

HWND waitForProgramWindow(DWORD processId, DWORD milliseconds) {
    for (const DWORD start = GetTickCount();; Sleep(20)) {
        for (HWND window = nullptr; (window = FindWindowExW(nullptr, window, kInstanceKey, nullptr)) != nullptr;) {
            DWORD owner = 0;
            GetWindowThreadProcessId(window, &owner);
            if (processId != 0 && owner != processId) continue;
            // The window exists from the start of its creation: wait for the message loop.
            if (HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, owner)) {
                const DWORD spent = GetTickCount() - start;
                WaitForInputIdle(process, spent < milliseconds ? milliseconds - spent : 0);
                CloseHandle(process);
            }
            return window;
        }
        if (GetTickCount() - start >= milliseconds) return nullptr;  // 0 still looks once
    }
}

void closeProgramWindow(HWND window) {
    DWORD id = 0;
    GetWindowThreadProcessId(window, &id);
    HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, id);
    PostMessageW(window, WM_CLOSE, 0, 0);
    if (process == nullptr) return;
    if (WaitForSingleObject(process, 10000) != WAIT_OBJECT_0) TerminateProcess(process, 1);
    CloseHandle(process);
}

void copyDistFiles(const std::wstring& folder, const std::vector<std::wstring>& names) {
    for (const std::wstring& n : names) CopyFileW((distDir() + n).c_str(), (folder + L"\\" + n).c_str(), FALSE);
}

// Creates objects until the table is full, then frees them all.
template <typename Create, typename Destroy>
static int freeSlots(Create create, Destroy destroy) {
    std::vector<decltype(create())> made;
    for (auto object = create(); object != nullptr && made.size() <= 200000; object = create()) made.push_back(object);
    for (auto object : made) destroy(object);
    return static_cast<int>(made.size());
}

int freeGdiSlots() { return freeSlots([] { return CreatePen(PS_SOLID, 1, RGB(1, 2, 3)); }, DeleteObject); }

int freeIconSlots() {
    static const BYTE andBits[32 * 4] = {}, xorBits[32 * 4] = {};
    return freeSlots([] { return CreateIcon(nullptr, 16, 16, 1, 1, andBits, xorBits); }, DestroyIcon);
}

int liveKernelHandles() {
    int live = 0;
    DWORD flags = 0;
    for (uintptr_t value = 4; value < 0x20000; value += 4) {
        if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) ++live;
    }
    return live;
}

BareRecord::BareRecord(wchar_t letter) {
    // The program's own creation over memory as a reused heap block may hold
    // it (a plausible track number, 5, everywhere), so a forgotten field shows.
    void* memory = ::operator new(sizeof(DriveRecord));
    std::memset(memory, 0x05, sizeof(DriveRecord));
    DriveSettings& settings = liveSettings.drives[letter - L'A'];
    const DriveSettings saved = settings;
    settings = DriveSettings{};
    settings.bHide = 1;  // no icon, no thread
    record_ = createDriveRecord(static_cast<DriveRecord*>(memory), letter);
    settings = saved;
}

BareRecord::~BareRecord() {
    DeleteCriticalSection(&record_->guard);
    --driveRecordCount;
    ::operator delete(record_);
}

std::vector<std::string> journalOf(char letter) {
    const std::string prefix = std::string(1, letter) + ": ";
    std::vector<std::string> lines;
    std::ranges::copy_if(simJournal(), std::back_inserter(lines), [&](auto& line) { return line.starts_with(prefix); });
    return lines;
}

int journalCount(const std::string& line) {
    return static_cast<int>(std::ranges::count(simJournal(), line));
}
