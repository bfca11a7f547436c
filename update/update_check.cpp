#include "update/update_check.h"

#include <shlwapi.h>
#include <urlmon.h>

#include "common/program_state.h"
#include "common/system_library.h"
#include "drives/device_seam.h"
#include "resources/language.h"
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

// Bounds the download: aborts it once it has taken too long, announces or
// grows past the size limit, or the server answers with an error status
// (which urlmon would otherwise store and report as a success).
struct BoundedDownload : IBindStatusCallback, IHttpNegotiate {
    ULONGLONG deadline = 0;
    IBinding* binding = nullptr;
    bool refused = false;

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
    HRESULT STDMETHODCALLTYPE OnProgress(ULONG progress, ULONG total, ULONG, LPCWSTR) override {
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
        return refused ? E_ABORT : S_OK;
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
    volatile LONG abandoned;
    bool counted;  // holds one of the checks that may run at once
};

void releaseDownload(Download* download) {
    if (InterlockedDecrement(&download->owners) != 0) return;
    if (download->abandoned && download->file[0] != L'\0') DeleteFileW(download->file);
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
    // An aborted download may still have left its part in the cache.
    if (result != S_OK && download->file[0] != L'\0') DeleteFileW(download->file);
    download->result = result;
    if (SUCCEEDED(com)) CoUninitialize();
    releaseDownload(download);
    return 0;
}

// Downloads the version file into `localFile`; a download that has not ended
// within the time limit is reported as failed and left to end by itself.
HRESULT downloadVersionFile(wchar_t* localFile, bool counted) {
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
    if (result == S_OK) lstrcpynW(localFile, download->file, 260);
    else download->abandoned = 1;
    releaseDownload(download);
    return result;
}

void runCheck(bool counted) {
    wchar_t localFile[260] = L"";
    const HRESULT result = downloadVersionFile(localFile, counted);

    wchar_t caption[50];
    loadText(187, caption, 50);
    if (result != S_OK) {
        wchar_t failed[100];
        loadText(188, failed, 100);
        MessageBoxW(mainWindow, failed, caption, MB_ICONINFORMATION);
    } else {
        const uint32_t available[4] = {readVersionPart(L"major", localFile), readVersionPart(L"minor", localFile),
                                       readVersionPart(L"release", localFile), readVersionPart(L"build", localFile)};
        DeleteFileW(localFile);
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
    if (InterlockedIncrement(&checksRunning) > kUpdateChecksAtOnce) {
        InterlockedDecrement(&checksRunning);
        return;
    }
    HANDLE thread = CreateThread(nullptr, 0, countedCheck, nullptr, 0, nullptr);
    if (thread == nullptr) InterlockedDecrement(&checksRunning);
    else CloseHandle(thread);
}

LONG runningUpdateChecks() { return InterlockedCompareExchange(&checksRunning, 0, 0); }
