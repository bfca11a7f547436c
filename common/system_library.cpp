#include "common/system_library.h"

#include "common/paths.h"

void restrictLibrarySearch() {
    // Windows 7 has it only with KB2533623: looked up rather than imported,
    // so that the program still starts where it is missing.
    using SetDirectories = BOOL(WINAPI*)(DWORD);
    const auto setDefaultDllDirectories = reinterpret_cast<SetDirectories>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories"));
    if (setDefaultDllDirectories != nullptr) {
        setDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32 | LOAD_LIBRARY_SEARCH_USER_DIRS);
    } else {
        SetDllDirectoryW(L"");  // there, at least the current folder leaves the search
    }
}

HMODULE loadSystemLibrary(const wchar_t* name) {
    HMODULE library = LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (library == nullptr && GetLastError() == ERROR_INVALID_PARAMETER) {
        // A Windows 7 without KB2533623 knows no search flags: name the file
        // in the system folder instead.
        wchar_t folder[MAX_PATH];
        const UINT length = GetSystemDirectoryW(folder, MAX_PATH - 1);
        wchar_t path[MAX_PATH];
        if (length > 0 && length < MAX_PATH - 1) {
            folder[length] = L'\\';
            folder[length + 1] = L'\0';
            if (joinPath(path, folder, name)) library = LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
        }
    }
    return library;
}

FARPROC systemProcedure(const wchar_t* library, const char* name) {
    HMODULE module = loadSystemLibrary(library);
    return module != nullptr ? GetProcAddress(module, name) : nullptr;
}
