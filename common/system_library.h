// Windows' own libraries that the program needs rarely, loaded on first use
// and only ever from the system folder: a file of the same name lying in the
// program's folder (or the current one) is never taken for them.
#ifndef SPINDLEBAY_SYSTEM_LIBRARY_H
#define SPINDLEBAY_SYSTEM_LIBRARY_H

#include <windows.h>

// Restricts where this process looks for libraries to the system folder and
// to folders added explicitly. Called first by the entry.
void restrictLibrarySearch();

// The library `name` (e.g. L"winmm.dll") from the system folder; null when it
// cannot be loaded. It stays loaded for the rest of the process.
HMODULE loadSystemLibrary(const wchar_t* name);

// Function `name` of the system library `library`; null when either is missing.
FARPROC systemProcedure(const wchar_t* library, const char* name);

// The same, typed: systemFunction<decltype(&PlaySoundW)>(L"winmm.dll", "PlaySoundW").
template <typename Function>
Function systemFunction(const wchar_t* library, const char* name) {
    return reinterpret_cast<Function>(systemProcedure(library, name));
}

#endif
