// Paths built from pieces, never cut short: a cut path names another file.
#ifndef SPINDLEBAY_PATHS_H
#define SPINDLEBAY_PATHS_H

#include <windows.h>

// Writes `head` followed by `tail` into `path` (MAX_PATH characters). When
// the whole does not fit, `path` is left empty and the answer is false.
bool joinPath(wchar_t* path, const wchar_t* head, const wchar_t* tail);

#endif
