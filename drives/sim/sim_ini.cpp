#include "drives/sim/sim_ini.h"

#include "drives/sim/sim_model.h"

#include <windows.h>
#include <algorithm>
#include <cwctype>

namespace {

constexpr size_t kMaxLabel = 256;
constexpr size_t kMaxRoot = 1024;

std::wstring decodeText(const std::string& whole) {
    const std::string bytes = whole.substr(0, kSimIniMaxBytes);
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(bytes[i]); };
    if (bytes.size() >= 2 && ((byte(0) == 0xFF && byte(1) == 0xFE) || (byte(0) == 0xFE && byte(1) == 0xFF))) {
        const bool bigEndian = byte(0) == 0xFE;
        std::wstring text;
        for (size_t i = 2; i + 1 < bytes.size(); i += 2) {
            const unsigned low = bigEndian ? byte(i + 1) : byte(i);
            const unsigned high = bigEndian ? byte(i) : byte(i + 1);
            text.push_back(static_cast<wchar_t>(high << 8 | low));
        }
        return text;
    }
    const size_t skip = bytes.size() >= 3 && byte(0) == 0xEF && byte(1) == 0xBB && byte(2) == 0xBF ? 3 : 0;
    const char* start = bytes.data() + skip;
    const int length = static_cast<int>(bytes.size() - skip);
    if (length == 0) return std::wstring();
    UINT codePage = CP_UTF8;
    int count = MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, start, length, nullptr, 0);
    if (count <= 0) {
        codePage = CP_ACP;
        count = MultiByteToWideChar(codePage, 0, start, length, nullptr, 0);
        if (count <= 0) return std::wstring();
    }
    std::wstring text(static_cast<size_t>(count), L'\0');
    MultiByteToWideChar(codePage, 0, start, length, text.data(), count);
    return text;
}

std::wstring trim(const std::wstring& text) {
    const size_t first = text.find_first_not_of(L" \t\r");
    if (first == std::wstring::npos) return std::wstring();
    return text.substr(first, text.find_last_not_of(L" \t\r") - first + 1);
}

std::wstring lower(std::wstring text) {
    for (wchar_t& c : text) c = static_cast<wchar_t>(std::towlower(c));
    return text;
}

// Leading decimal digits, saturating; false when there are none.
bool readNumber(const std::wstring& text, uint64_t& value) {
    if (text.empty() || text[0] < L'0' || text[0] > L'9') return false;
    value = 0;
    for (wchar_t c : text) {
        if (c < L'0' || c > L'9') break;
        const uint64_t digit = static_cast<uint64_t>(c - L'0');
        value = value > (UINT64_MAX - digit) / 10 ? UINT64_MAX : value * 10 + digit;
    }
    return true;
}

bool readFlag(const std::wstring& text, bool& flag) {
    const std::wstring word = lower(text);
    if (word == L"1" || word == L"true" || word == L"yes" || word == L"on") flag = true;
    else if (word == L"0" || word == L"false" || word == L"no" || word == L"off") flag = false;
    else return false;
    return true;
}

std::string narrow(const std::wstring& text) {
    std::string result;
    for (wchar_t c : text) result.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    return result;
}

std::vector<std::string> readList(const std::wstring& text) {
    std::vector<std::string> names;
    size_t start = 0;
    while (start <= text.size()) {
        const size_t comma = std::min(text.find(L',', start), text.size());
        names.push_back(narrow(text.substr(start, comma - start)));
        start = comma + 1;
    }
    return simNormalizeFailing(names);
}

bool isAbsolute(const std::wstring& path) {
    return (path.size() >= 3 && path[1] == L':' && (path[2] == L'\\' || path[2] == L'/')) ||
           (path.size() >= 2 && path[0] == L'\\' && path[1] == L'\\');
}

void applyKey(SimDriveConfig& config, const std::wstring& key, const std::wstring& value, const std::wstring& folder) {
    uint64_t number = 0;
    if (key == L"tray") {
        const std::wstring word = lower(value);
        if (word == L"open") config.trayOpen = true;
        if (word == L"closed") config.trayOpen = false;
    } else if (key == L"medium") {
        const std::wstring word = lower(value);
        if (word == L"none") config.medium = SimMedium::None;
        if (word == L"data") config.medium = SimMedium::Data;
        if (word == L"audio") config.medium = SimMedium::Audio;
        if (word == L"blank") config.medium = SimMedium::Blank;
    } else if (key == L"label") {
        config.label = value.substr(0, kMaxLabel);
    } else if (key == L"size") {
        if (readNumber(value, number)) config.size = number;
    } else if (key == L"tracks") {
        if (readNumber(value, number)) config.tracks = static_cast<int>(std::clamp<uint64_t>(number, 1, kSimMaxTracks));
    } else if (key == L"passthrough") {
        readFlag(value, config.passthrough);
    } else if (key == L"opens") {
        readFlag(value, config.opens);
    } else if (key == L"delay_ms") {
        if (readNumber(value, number)) config.delayMs = static_cast<DWORD>(std::min<uint64_t>(number, kSimMaxDelayMs));
    } else if (key == L"locked") {
        bool flag = config.locked != 0;
        if (readNumber(value, number)) config.locked = static_cast<uint32_t>(std::min<uint64_t>(number, kSimMaxLocks));
        else if (readFlag(value, flag)) config.locked = flag ? 1 : 0;
    } else if (key == L"event_status") {
        const std::wstring word = lower(value);
        if (word == L"media") config.eventStatus = SimEventStatus::Media;
        if (word == L"check") config.eventStatus = SimEventStatus::CheckCondition;
        if (word == L"header") config.eventStatus = SimEventStatus::HeaderOnly;
    } else if (key == L"block_descriptor") {
        readFlag(value, config.blockDescriptor);
    } else if (key == L"fail") {
        config.failing = readList(value);
    } else if (key == L"root") {
        if (value.empty() || value.size() > kMaxRoot) config.root.clear();
        else config.root = isAbsolute(value) ? value : folder + L"\\" + value;
    }
}

}  // namespace

SimIniDrives parseSimDrivesIni(const std::string& bytes, const std::wstring& folder) {
    SimIniDrives drives;
    const std::wstring text = decodeText(bytes);
    SimIniDrive* section = nullptr;
    size_t start = 0;
    while (start < text.size()) {
        const size_t end = std::min(text.find(L'\n', start), text.size());
        std::wstring line = text.substr(start, end - start);
        start = end + 1;
        line = trim(line.substr(0, line.find(L';')));
        if (line.empty()) continue;
        if (line.front() == L'[') {
            const size_t close = line.find(L']');
            const std::wstring name = close == std::wstring::npos ? std::wstring() : trim(line.substr(1, close - 1));
            section = nullptr;
            if (name.size() == 1 && std::iswalpha(name[0]) && std::towupper(name[0]) >= L'A' &&
                std::towupper(name[0]) <= L'Z') {
                section = &drives[static_cast<size_t>(std::towupper(name[0]) - L'A')];
                section->present = true;
            }
            continue;
        }
        const size_t equals = line.find(L'=');
        if (section == nullptr || equals == std::wstring::npos) continue;
        applyKey(section->config, lower(trim(line.substr(0, equals))), trim(line.substr(equals + 1)), folder);
    }
    return drives;
}
