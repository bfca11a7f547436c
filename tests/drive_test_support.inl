#include "tests/test_support.h"

template <typename Condition>
bool waitUntil(Condition condition, unsigned milliseconds) {
    const DWORD start = GetTickCount();
    while (!condition()) {
        if (GetTickCount() - start > milliseconds) return false;
        pumpMessages(20);
    }
    return true;
}
