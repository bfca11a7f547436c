#include "common/paths.h"

#include <cwchar>

bool joinPath(wchar_t* path, const wchar_t* head, const wchar_t* tail) {
    const size_t headLength = std::wcslen(head);
    const size_t tailLength = std::wcslen(tail);
    if (headLength + tailLength >= MAX_PATH) {
        path[0] = L'\0';
        return false;
    }
    std::wmemmove(path, head, headLength);
    std::wmemcpy(path + headLength, tail, tailLength + 1);
    return true;
}
