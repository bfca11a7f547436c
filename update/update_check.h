// The update check: asks the maker's site for the latest version and tells the
// person the outcome.
#ifndef SPINDLEBAY_UPDATE_CHECK_H
#define SPINDLEBAY_UPDATE_CHECK_H

#include <windows.h>
#include <cstdint>

// Scheme, host and optional port of the maker's site, without a trailing
// slash; set at build time, replaced by the tests with a loopback server.
extern const wchar_t* updateSite;

// A download that has not ended after this long, or that grows past this
// size, is aborted and reported as failed.
extern DWORD updateTimeLimitMs;
constexpr uint64_t kUpdateSizeLimit = 64 * 1024;
// Downloads that may run at once, counting those a check stopped waiting for;
// a request beyond them is not started and says so in a box.
constexpr LONG kUpdateChecksAtOnce = 4;

// True when `available` is newer than `running`: at the first part where the
// two differ, the available part is the greater (both as unsigned numbers).
bool isNewerVersion(const uint32_t available[4], const uint32_t running[4]);

// One whole check: download, compare, at most one message box owned by
// `mainWindow`, and the download page opened when the person answers Yes.
DWORD WINAPI updateCheckThread(void* unused);

// Starts a check on a thread of its own and returns at once; a check that
// cannot start is answered here with a box owned by `mainWindow`.
void startUpdateCheck();

// Downloads of started checks not yet ended.
LONG runningUpdateChecks();

#endif
