#include "resources/language.h"

#include "common/paths.h"
#include "common/program_state.h"
#include "resources/resource_ids.h"
#include "settings/settings_file.h"

#include <cwchar>

HMODULE languageModule;
wchar_t textCountdownTitle[50];
wchar_t textAbout[260];
wchar_t textNoMedium[50];
wchar_t textTrayOpen[50];
wchar_t textAudioPlaying[50];
wchar_t textAudioPaused[50];
wchar_t textAudioStopped[50];
wchar_t textBusy[25];

namespace {

SRWLOCK textsLock = SRWLOCK_INIT;

}  // namespace

void loadLanguageLibrary() {
    if (languageModule != nullptr) {
        FreeLibrary(languageModule);
        languageModule = nullptr;
    }
    const bool english = liveSettings.global.nLanguage == 0;
    wchar_t path[MAX_PATH];
    if (joinPath(path, programDir, english ? L"sbay_6_eng.dll" : L"sbay_6_rus.dll")) {
        // A damaged library must not stop the program with a system error box.
        DWORD previousMode = 0;
        SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &previousMode);
        // Only its resources are read: mapped as data, a replaced library's
        // code never runs, and nothing it imports is loaded.
        languageModule = LoadLibraryExW(path, nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
        SetThreadErrorMode(previousMode, nullptr);
    }
    SetThreadLocale(english ? 0x0409 : 0x0419);
}

void loadText(UINT id, wchar_t* buffer, int capacity) {
    if (capacity <= 0) return;
    buffer[0] = L'\0';
    if (languageModule != nullptr) LoadStringW(languageModule, id, buffer, capacity);
}

void formatText(wchar_t* buffer, int capacity, const wchar_t* format, std::initializer_list<int64_t> args) {
    if (capacity <= 0) return;
    int used = 0;
    auto put = [&](wchar_t c) {
        if (used < capacity - 1) buffer[used++] = c;
    };
    const int64_t* next = args.begin();
    for (const wchar_t* p = format; p != nullptr && *p != L'\0'; ++p) {
        if (*p != L'%') {
            put(*p);
            continue;
        }
        const wchar_t conversion = p[1];
        if (conversion == L'%') {
            put(L'%');
            ++p;
        } else if ((conversion == L'd' || conversion == L'u' || conversion == L'c') && next != args.end()) {
            const int64_t value = *next++;
            ++p;
            if (conversion == L'c') {
                put(static_cast<wchar_t>(value));
                continue;
            }
            wchar_t digits[24];
            if (conversion == L'd') {
                swprintf(digits, 24, L"%d", static_cast<int32_t>(value));
            } else {
                swprintf(digits, 24, L"%u", static_cast<uint32_t>(value));
            }
            for (const wchar_t* d = digits; *d != L'\0'; ++d) put(*d);
        } else {
            put(L'%');
        }
    }
    buffer[used] = L'\0';
}

void appendText(wchar_t* buffer, int capacity, const wchar_t* text) {
    int used = 0;
    while (used < capacity && buffer[used] != L'\0') ++used;
    if (used >= capacity - 1 || text == nullptr) return;
    lstrcpynW(buffer + used, text, capacity - used);
}

void copyLanguageText(const wchar_t* text, wchar_t* buffer, int capacity) {
    AcquireSRWLockShared(&textsLock);
    lstrcpynW(buffer, text, capacity);
    ReleaseSRWLockShared(&textsLock);
}

void loadKeptTexts() {
    AcquireSRWLockExclusive(&textsLock);
    loadText(IDS_TIP_EMPTY, textNoMedium, 50);
    loadText(IDS_TIP_OPEN, textTrayOpen, 50);
    loadText(IDS_BUSY_TIP, textBusy, 25);
    loadText(IDS_AUDIO_PLAYING, textAudioPlaying, 50);
    loadText(IDS_AUDIO_PAUSED, textAudioPaused, 50);
    loadText(IDS_AUDIO_STOPPED, textAudioStopped, 50);
    loadText(IDS_ABOUT, textAbout, 260);
    loadText(IDS_COUNTDOWN, textCountdownTitle, 50);
    ReleaseSRWLockExclusive(&textsLock);
}
