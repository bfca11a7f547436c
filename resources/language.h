// The language resource library: every text, menu and dialog of the program.
#ifndef SPINDLEBAY_LANGUAGE_H
#define SPINDLEBAY_LANGUAGE_H

#include <windows.h>
#include <cstdint>
#include <initializer_list>

// The loaded library, null when loading failed.
extern HMODULE languageModule;

// Releases the current library and loads the one "nLanguage" chooses from
// the program folder, as resources only (no code of it runs); sets the thread
// locale to match.
void loadLanguageLibrary();

// Loads string `id` of the library into `buffer` (capacity in characters,
// terminator included), cut to fit; empty when missing.
void loadText(UINT id, wchar_t* buffer, int capacity);

// The program's formatter for the library's texts: "%d" takes the next
// argument as a signed 32-bit number, "%u" as unsigned, "%c" as a UTF-16 code
// unit, "%%" is a percent sign; any other conversion is copied as it stands
// and consumes nothing, so a broken library can never make it read past its
// arguments. The result is cut to `capacity` (terminator included).
void formatText(wchar_t* buffer, int capacity, const wchar_t* format, std::initializer_list<int64_t> args);

// Appends `text` to the string in `buffer`, cut to `capacity` (terminator
// included).
void appendText(wchar_t* buffer, int capacity, const wchar_t* text);

// Texts of the language library kept for other modules.
extern wchar_t textCountdownTitle[50];  // 176
extern wchar_t textAbout[260];          // 177
extern wchar_t textNoMedium[50];        // 179
extern wchar_t textTrayOpen[50];        // 180
extern wchar_t textAudioPlaying[50];    // 181
extern wchar_t textAudioPaused[50];     // 182
extern wchar_t textAudioStopped[50];    // 183
extern wchar_t textBusy[25];            // 184

// Copies one of the texts above; a language switch never lets a reader (the
// monitor threads among them) see a half-written text.
void copyLanguageText(const wchar_t* text, wchar_t* buffer, int capacity);

// Loads the texts above from the current library; readers never see a
// half-written text.
void loadKeptTexts();

#endif
