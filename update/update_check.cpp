#include "update/update_check.h"

#include <urlmon.h>

#include "common/program_state.h"
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

// Aborts the download once it has taken too long or grown too large. Only the
// progress notifications matter; everything else is left to urlmon.
struct BoundedDownload : IBindStatusCallback {
    ULONGLONG deadline;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        if (object == nullptr) return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IBindStatusCallback)) {
            *object = static_cast<IBindStatusCallback*>(this);
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    // Lives on the checking thread's stack for the whole download.
    ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE OnStartBinding(DWORD, IBinding*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetPriority(LONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE OnLowResource(DWORD) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnProgress(ULONG progress, ULONG, ULONG, LPCWSTR) override {
        if (progress > kUpdateSizeLimit || GetTickCount64() > deadline) return E_ABORT;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnStopBinding(HRESULT, LPCWSTR) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetBindInfo(DWORD*, BINDINFO*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnDataAvailable(DWORD, DWORD, FORMATETC*, STGMEDIUM*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnObjectAvailable(REFIID, IUnknown*) override { return S_OK; }
};

void siteUrl(wchar_t* url, int capacity, const wchar_t* path) {
    lstrcpynW(url, updateSite, capacity);
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

DWORD WINAPI updateCheckThread(void*) {
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    wchar_t url[300];
    siteUrl(url, 300, L"/download/sbay.inf");
    wchar_t localFile[260] = L"";
    BoundedDownload bound;
    bound.deadline = GetTickCount64() + updateTimeLimitMs;
    const HRESULT result = URLDownloadToCacheFileW(nullptr, url, localFile, 260, 0, &bound);

    wchar_t caption[50];
    loadText(187, caption, 50);
    if (result != S_OK) {
        // An aborted download may still have left its part in the cache.
        if (localFile[0] != L'\0') DeleteFileW(localFile);
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
    if (SUCCEEDED(com)) CoUninitialize();
    return 0;
}

namespace {

DWORD WINAPI countedCheck(void*) {
    updateCheckThread(nullptr);
    InterlockedDecrement(&checksRunning);
    return 0;
}

}  // namespace

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
