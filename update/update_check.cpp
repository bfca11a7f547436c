#include "update/update_check.h"

#include <shlwapi.h>
#include <urlmon.h>
#include <wininet.h>

#include <string>
#include <vector>

#include "common/program_state.h"
#include "common/system_library.h"
#include "drives/device_seam.h"
#include "resources/language.h"
#include "resources/resource_ids.h"
#include "settings/settings_file.h"

#ifndef SPINDLEBAY_UPDATE_SITE
#define SPINDLEBAY_UPDATE_SITE "https://www.spindlebay.org"
#endif
#define SPINDLEBAY_WIDEN2(text) L##text
#define SPINDLEBAY_WIDEN(text) SPINDLEBAY_WIDEN2(text)

const wchar_t* updateSite = SPINDLEBAY_WIDEN(SPINDLEBAY_UPDATE_SITE);
DWORD updateTimeLimitMs = 30000;

namespace {

volatile LONG checksRunning = 0;

// Addresses and files noted per download: urlmon stops following redirects
// long before.
constexpr size_t kNotedAtMost = 16;

void noteOnce(std::vector<std::wstring>& noted, const wchar_t* text) {
    if (text == nullptr || text[0] == L'\0' || noted.size() >= kNotedAtMost) return;
    for (const std::wstring& known : noted) {
        if (known == text) return;
    }
    noted.emplace_back(text);
}

// Bounds the download: aborts it once it has taken too long, announces or
// grows past the size limit, or the server answers with an error status
// (which urlmon would otherwise store and report as a success). Notes what
// the download leaves in the Internet cache.
struct BoundedDownload : IBindStatusCallback, IHttpNegotiate {
    ULONGLONG deadline = 0;
    IBinding* binding = nullptr;
    bool refused = false;
    std::vector<std::wstring> addresses;   // where redirects led
    std::vector<std::wstring> cacheFiles;  // files wininet wrote for the responses

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        if (object == nullptr) return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IBindStatusCallback)) {
            *object = static_cast<IBindStatusCallback*>(this);
            return S_OK;
        }
        if (IsEqualIID(iid, IID_IHttpNegotiate)) {
            *object = static_cast<IHttpNegotiate*>(this);
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    // Lives on the checking thread's stack for the whole download.
    ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE OnStartBinding(DWORD, IBinding* started) override {
        if (started != nullptr && binding == nullptr) {
            binding = started;
            binding->AddRef();
        }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetPriority(LONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE OnLowResource(DWORD) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnProgress(ULONG progress, ULONG total, ULONG status, LPCWSTR text) override {
        if (status == BINDSTATUS_REDIRECTING) noteOnce(addresses, text);
        if (status == BINDSTATUS_CACHEFILENAMEAVAILABLE) noteOnce(cacheFiles, text);
        if (progress > kUpdateSizeLimit || total > kUpdateSizeLimit || GetTickCount64() > deadline) {
            refused = true;
            return E_ABORT;
        }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnStopBinding(HRESULT, LPCWSTR) override {
        release();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetBindInfo(DWORD* flags, BINDINFO*) override {
        // Always ask the site: a cached version file says nothing new.
        if (flags != nullptr) *flags |= BINDF_GETNEWESTVERSION;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnDataAvailable(DWORD, DWORD, FORMATETC*, STGMEDIUM*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnObjectAvailable(REFIID, IUnknown*) override { return S_OK; }

    HRESULT STDMETHODCALLTYPE BeginningTransaction(LPCWSTR, LPCWSTR, DWORD, LPWSTR* additional) override {
        if (additional != nullptr) *additional = nullptr;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnResponse(DWORD status, LPCWSTR headers, LPCWSTR, LPWSTR* additional) override {
        if (additional != nullptr) *additional = nullptr;
        if (status >= 300) refused = true;
        // A declared length past the limit is refused before any of it arrives.
        if (headers != nullptr) {
            for (const wchar_t* line = headers; *line != L'\0';) {
                if (StrCmpNIW(line, L"Content-Length:", 15) == 0 &&
                    static_cast<uint32_t>(parseSettingsNumber(line + 15)) > kUpdateSizeLimit) {
                    refused = true;
                }
                const wchar_t* end = wcschr(line, L'\n');
                if (end == nullptr) break;
                line = end + 1;
            }
        }
        noteResponse();
        return refused ? E_ABORT : S_OK;
    }

    // Where the response came from after any redirect, and wininet's own
    // file for it, which an aborted download would leave behind unnamed.
    void noteResponse() {
        IWinInetInfo* info = nullptr;
        if (binding == nullptr || FAILED(binding->QueryInterface(IID_IWinInetInfo, reinterpret_cast<void**>(&info)))) {
            return;
        }
        const struct { DWORD option; std::vector<std::wstring>* noted; } asked[] = {
            {INTERNET_OPTION_URL, &addresses}, {INTERNET_OPTION_DATAFILE_NAME, &cacheFiles}};
        for (const auto& [option, noted] : asked) {
            wchar_t text[INTERNET_MAX_URL_LENGTH] = L"";
            DWORD size = sizeof text - sizeof(wchar_t);
            if (info->QueryOption(option, text, &size) != S_OK) continue;
            text[INTERNET_MAX_URL_LENGTH - 1] = L'\0';
            noteOnce(*noted, text);
        }
        info->Release();
    }

    void release() {
        if (binding != nullptr) binding->Release();
        binding = nullptr;
    }
};

// The size of `file` stays within the limit.
bool withinSizeLimit(const wchar_t* file) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(file, GetFileExInfoStandard, &data)) return false;
    return data.nFileSizeHigh == 0 && data.nFileSizeLow <= kUpdateSizeLimit;
}

void siteUrl(wchar_t* url, int capacity, const wchar_t* path) {
    lstrcpynW(url, seamUpdateSite(updateSite), capacity);
    appendText(url, capacity, path);
}

uint32_t readVersionPart(const wchar_t* key, const wchar_t* file) {
    wchar_t value[25];
    GetPrivateProfileStringW(L"ver", key, L"", value, 25, file);
    return static_cast<uint32_t>(parseSettingsNumber(value));
}

}  // namespace

bool isNewerVersion(const uint32_t available[4], const uint32_t running[4]) {
    for (int part = 0; part < 4; ++part) {
        if (available[part] != running[part]) return available[part] > running[part];
    }
    return false;
}

namespace {

// One download, shared by the check and the thread that runs it, so that a
// check that stops waiting leaves the download to finish and clean up alone.
struct Download {
    wchar_t url[300];
    wchar_t file[260];
    HRESULT result;
    volatile LONG owners;
    bool counted;  // holds one of the checks that may run at once
    // Filled by the download's thread before it lets go of the record.
    std::vector<std::wstring> addresses;
    std::vector<std::wstring> cacheFiles;
};

// The check stores nothing: whatever the outcome, the Internet cache keeps
// no entry of an address the download touched and no file it began.
void forgetCachedCopies(const Download& download) {
    static const auto deleteEntry =
        systemFunction<decltype(&DeleteUrlCacheEntryW)>(L"wininet.dll", "DeleteUrlCacheEntryW");
    if (deleteEntry != nullptr) {
        deleteEntry(download.url);
        for (const std::wstring& address : download.addresses) deleteEntry(address.c_str());
    }
    if (download.file[0] != L'\0') DeleteFileW(download.file);
    for (const std::wstring& file : download.cacheFiles) DeleteFileW(file.c_str());
}

void releaseDownload(Download* download) {
    if (InterlockedDecrement(&download->owners) != 0) return;
    forgetCachedCopies(*download);
    if (download->counted) InterlockedDecrement(&checksRunning);
    delete download;
}

DWORD WINAPI downloadThread(void* parameter) {
    auto download = static_cast<Download*>(parameter);
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    BoundedDownload bound;
    bound.deadline = GetTickCount64() + updateTimeLimitMs;
    static const auto downloadToCache =
        systemFunction<decltype(&URLDownloadToCacheFileW)>(L"urlmon.dll", "URLDownloadToCacheFileW");
    HRESULT result = downloadToCache != nullptr
                         ? downloadToCache(nullptr, download->url, download->file, 260, 0, &bound)
                         : E_FAIL;
    bound.release();
    if (result == S_OK && (bound.refused || !withinSizeLimit(download->file))) result = E_ABORT;
    download->addresses = std::move(bound.addresses);
    download->cacheFiles = std::move(bound.cacheFiles);
    download->result = result;
    if (SUCCEEDED(com)) CoUninitialize();
    releaseDownload(download);
    return 0;
}

// Downloads the version file and reads the version it offers into
// `available`; a download that has not ended within the time limit is
// reported as failed and left to end, and clean up, by itself.
HRESULT downloadVersion(uint32_t (&available)[4], bool counted) {
    auto download = new Download{};
    siteUrl(download->url, 300, L"/download/sbay.inf");
    download->result = E_FAIL;
    download->owners = 2;
    download->counted = counted;
    HANDLE thread = CreateThread(nullptr, 0, downloadThread, download, 0, nullptr);
    if (thread == nullptr) {
        download->owners = 1;
        releaseDownload(download);
        return E_FAIL;
    }
    const bool ended = WaitForSingleObject(thread, updateTimeLimitMs) == WAIT_OBJECT_0;
    CloseHandle(thread);
    const HRESULT result = ended ? download->result : E_ABORT;
    if (result == S_OK) {
        const wchar_t* keys[4] = {L"major", L"minor", L"release", L"build"};
        for (int part = 0; part < 4; ++part) available[part] = readVersionPart(keys[part], download->file);
    }
    releaseDownload(download);
    return result;
}

void runCheck(bool counted) {
    uint32_t available[4] = {};
    const HRESULT result = downloadVersion(available, counted);

    wchar_t caption[50];
    loadText(187, caption, 50);
    if (result != S_OK) {
        wchar_t failed[100];
        loadText(188, failed, 100);
        MessageBoxW(mainWindow, failed, caption, MB_ICONINFORMATION);
    } else {
        if (!isNewerVersion(available, productVersion)) {
            wchar_t latest[260];
            loadText(186, latest, 260);
            MessageBoxW(mainWindow, latest, caption, MB_ICONINFORMATION);
        } else {
            wchar_t format[260];
            loadText(185, format, 260);
            wchar_t offer[260];
            formatText(offer, 260, format,
                       {productVersion[0], productVersion[1], productVersion[2], productVersion[3], available[0],
                        available[1], available[2], available[3]});
            if (MessageBoxW(mainWindow, offer, caption, MB_ICONINFORMATION | MB_YESNOCANCEL) == IDYES) {
                // The page is the program's own, never an address from the file.
                wchar_t page[300];
                siteUrl(page, 300, L"/html/sbay_download.html");
                seamShellExecute(nullptr, L"open", page, nullptr, nullptr, SW_SHOWNORMAL);
            }
        }
    }
}

DWORD WINAPI countedCheck(void*) {
    runCheck(true);
    return 0;
}

}  // namespace

DWORD WINAPI updateCheckThread(void*) {
    runCheck(false);
    return 0;
}

void startUpdateCheck() {
    if (InterlockedIncrement(&checksRunning) <= kUpdateChecksAtOnce) {
        HANDLE thread = CreateThread(nullptr, 0, countedCheck, nullptr, 0, nullptr);
        if (thread != nullptr) {
            CloseHandle(thread);
            return;
        }
    }
    InterlockedDecrement(&checksRunning);
    // Every request gets an answer: one that cannot start now says so.
    wchar_t caption[50];
    loadText(IDS_UPDATE_CAPTION, caption, 50);
    wchar_t busy[260];
    loadText(IDS_UPDATE_BUSY, busy, 260);
    MessageBoxW(mainWindow, busy, caption, MB_ICONINFORMATION);
}

LONG runningUpdateChecks() { return InterlockedCompareExchange(&checksRunning, 0, 0); }
