// The update check against a real HTTP server on the loopback address.
#include <winsock2.h>  // before windows.h, which would bring in the old winsock

#include "update/update_check.h"

#include <shlobj.h>
#include <wininet.h>

#include <atomic>
#include <thread>

#include "app/app.h"
#include "common/program_state.h"
#include "drives/sim/sim_drives.h"
#include "resources/language.h"
#include "resources/resource_ids.h"
#include "tests/test_support.h"
#include <gtest/gtest.h>

namespace {

// Answers every connection with `reply` followed by `bulk` bytes; an empty
// reply accepts and never answers.
struct LoopbackServer {
    SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{AF_INET, 0, {}, {}};
    std::atomic<bool> stopping{false};
    std::thread worker;

    explicit LoopbackServer(const std::string& reply, size_t bulk = 0) {
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        int length = sizeof address;
        bind(listener, reinterpret_cast<sockaddr*>(&address), length);
        listen(listener, 8);
        getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
        worker = std::thread([this, reply, bulk] {
            const std::string chunk(65536, 'x');
            for (SOCKET client; (client = accept(listener, nullptr, nullptr)) != INVALID_SOCKET; closesocket(client)) {
                char request[4096];
                recv(client, request, sizeof request, 0);
                while (reply.empty() && !stopping) Sleep(20);
                send(client, reply.data(), static_cast<int>(reply.size()), 0);
                for (size_t sent = 0; sent < bulk && !stopping; sent += chunk.size()) {
                    if (send(client, chunk.data(), static_cast<int>(chunk.size()), 0) <= 0) break;
                }
                shutdown(client, SD_SEND);
            }
        });
    }
    ~LoopbackServer() {
        stopping = true;
        closesocket(listener);
        worker.join();
    }
    std::wstring site() const { return L"http://127.0.0.1:" + std::to_wstring(ntohs(address.sin_port)); }
};

std::string ok(const std::string& body) {
    return "HTTP/1.1 200 OK\r\nCache-Control: no-cache\r\nConnection: close\r\nContent-Length: " +
           std::to_string(body.size()) + "\r\n\r\n" + body;
}
std::string version(const std::string& major, const char* minor, const char* release, const char* build) {
    return ok("[ver]\r\nmajor=" + major + "\r\nminor=" + minor + "\r\nrelease=" + release + "\r\nbuild=" + build +
              "\r\n");
}

// The check's message box, read and answered with `answer` from a timer.
std::wstring boxSeen;
std::atomic<int> boxesAnswered{0};
int answer = IDOK;
void CALLBACK answerBox(HWND, UINT, UINT_PTR, DWORD) {
    // The answer is posted: a busy machine may show the same box at the next tick, not counted again.
    static HWND answered;
    HWND box = FindWindowW(L"#32770", nullptr);
    if (box == nullptr || box == answered || !IsWindowVisible(box)) return;
    answered = box;
    wchar_t caption[64] = L"", text[300] = L"";
    GetWindowTextW(box, caption, 64);
    GetDlgItemTextW(box, 0xFFFF, text, 300);
    boxSeen = std::wstring(caption) + L"|" + text;
    ++boxesAnswered;
    PostMessageW(box, WM_COMMAND, answer, 0);
}

// The box for string `id`, or the offer of `available` to the running 6.1.1.5.
std::wstring box(UINT id, const wchar_t* available = nullptr) {
    std::wstring text = englishString(available != nullptr ? IDS_UPDATE_NEWER : id);
    if (available != nullptr) {
        for (const wchar_t* shown : {L"6.1.1.5", available}) text.replace(text.find(L"%d.%d.%d.%d"), 11, shown);
    }
    return englishString(IDS_UPDATE_CAPTION) + L"|" + text;
}

// What the Internet cache keeps of the loopback sites: entries for their
// addresses and files named like the version file. `forget` removes them.
// Not counted: the copy "sbay[N]..inf" that Wine's URLDownloadToCacheFileW
// reserves before it downloads and, when the download fails, neither names
// nor removes (it is no cache entry, and no interface leads to it).
std::vector<std::wstring> cacheLeftovers(bool forget = false) {
    std::vector<std::wstring> found;
    std::vector<char> buffer(1 << 16);
    auto entry = reinterpret_cast<INTERNET_CACHE_ENTRY_INFOW*>(buffer.data());
    DWORD size = static_cast<DWORD>(buffer.size());
    HANDLE entries = FindFirstUrlCacheEntryW(nullptr, entry, &size);
    for (BOOL more = entries != nullptr; more; more = FindNextUrlCacheEntryW(entries, entry, &size)) {
        if (wcsstr(entry->lpszSourceUrlName, L"127.0.0.1") != nullptr) found.push_back(entry->lpszSourceUrlName);
        size = static_cast<DWORD>(buffer.size());
    }
    if (entries != nullptr) FindCloseUrlCache(entries);
    wchar_t cache[MAX_PATH] = L"";
    SHGetFolderPathW(nullptr, CSIDL_INTERNET_CACHE, nullptr, 0, cache);
    for (std::vector<std::wstring> folders{cache}; !folders.empty();) {
        const std::wstring folder = folders.back();
        folders.pop_back();
        WIN32_FIND_DATAW data;
        HANDLE files = FindFirstFileW((folder + L"\\*").c_str(), &data);
        for (BOOL more = files != INVALID_HANDLE_VALUE; more; more = FindNextFileW(files, &data)) {
            const std::wstring name = data.cFileName;
            if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && name != L"." && name != L"..") {
                folders.push_back(folder + L"\\" + name);
            } else if (_wcsnicmp(name.c_str(), L"sbay", 4) == 0 && (forget || name.find(L"..") == std::wstring::npos)) {
                found.push_back(folder + L"\\" + name);
            }
        }
        if (files != INVALID_HANDLE_VALUE) FindClose(files);
    }
    for (const std::wstring& item : forget ? found : std::vector<std::wstring>()) {
        if (!DeleteUrlCacheEntryW(item.c_str())) DeleteFileW(item.c_str());
    }
    return found;
}

class UpdateCheckTest : public testing::Test {
protected:
    void SetUp() override {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
        simReset();
        languageModule = LoadLibraryExW((distDir() + L"sbay_6_eng.dll").c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(languageModule, nullptr);
        const uint32_t running[4] = {6, 1, 1, 5};
        std::copy(running, running + 4, productVersion);
        boxesAnswered = 0;
        cacheLeftovers(true);
    }
    void TearDown() override {
        FreeLibrary(languageModule);
        languageModule = nullptr;
        updateSite = L"";
        updateTimeLimitMs = 30000;
        WSACleanup();
    }
    std::wstring site;  // what updateSite points to
};

// Running 6.1.1.5: each served answer gives one box, offering what is newer
// at the first part that differs (as unsigned numbers); only Yes on an offer
// opens the download page. Whatever the outcome, the Internet cache keeps
// nothing of the check, also of a redirect's target.
TEST_F(UpdateCheckTest, EachServedAnswerGivesItsBoxAndLeavesNothingInTheCache) {
    std::wstring refused;
    { LoopbackServer gone(ok("")); refused = gone.site(); }  // nothing listens on a port just released
    LoopbackServer target(version("6", "1", "1", "5"));
    const std::wstring targetSite = target.site();
    struct Case { std::string reply; size_t bulk; int answer; const wchar_t* offered; UINT id; };
    const Case cases[] = {
        {version("6", "1", "1", "5"), 0, IDOK, nullptr, IDS_UPDATE_NONE},
        {version("6", "1", "2", "0"), 0, IDNO, L"6.1.2.0", 0},  // newer release, smaller build
        {version("6", "1", "0", "200"), 0, IDOK, nullptr, IDS_UPDATE_NONE},
        {version(" +7", "0", "0", "0"), 0, IDCANCEL, L"7.0.0.0", 0},
        {version("6", "1", "1", "-1"), 0, IDYES, L"6.1.1.-1", 0},  // -1 is the greatest part, shown signed
        {version(std::string(5000, '9'), "0", "0", "0"), 0, IDNO, L"2147483647.0.0.0", 0},  // clamped
        {ok("[other]\r\nmajor=9\r\n"), 0, IDYES, nullptr, IDS_UPDATE_NONE},
        {ok(std::string("\x00\xff\xfe[ver\r\nmajor=99999999999999999\r\n\x01", 35)), 0, IDYES, nullptr,
         IDS_UPDATE_NONE},
        {"HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n", 0, IDOK, nullptr, IDS_UPDATE_FAILED},
        {"HTTP/1.1 302 Found\r\nLocation: http://127.0.0.1:1/download/sbay.inf\r\nContent-Length: 0\r\n\r\n", 0, IDOK,
         nullptr, IDS_UPDATE_FAILED},
        {"HTTP/1.1 302 Found\r\nLocation: " + std::string(targetSite.begin(), targetSite.end()) +
             "/download/sbay.inf\r\nContent-Length: 0\r\n\r\n",
         0, IDOK, nullptr, IDS_UPDATE_NONE},
        {"HTTP/1.1 200 OK\r\nContent-Length: 41943040\r\n\r\n[ver]\r\nmajor=9\r\n", 40u << 20, IDYES, nullptr,
         IDS_UPDATE_FAILED},  // cut off, not read to the end
        {"", 0, IDOK, nullptr, IDS_UPDATE_FAILED},  // refused
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reply.substr(0, 40));
        LoopbackServer server(c.reply, c.bulk);
        site = c.reply.empty() ? refused : server.site();
        updateSite = site.c_str();
        simClearJournal();
        boxesAnswered = 0;
        answer = c.answer;
        const UINT_PTR timer = SetTimer(nullptr, 0, 100, answerBox);
        updateCheckThread(nullptr);
        KillTimer(nullptr, timer);
        EXPECT_EQ(boxesAnswered, 1);
        EXPECT_EQ(boxSeen, box(c.id, c.offered));
        const std::string page = "shell open \"" + std::string(site.begin(), site.end()) + "/html/sbay_download.html\"";
        const std::vector<std::string> journal = simJournal();
        EXPECT_EQ(journal.size() == 1 && journal[0].rfind(page, 0) == 0, c.offered && c.answer == IDYES);
        EXPECT_LE(journal.size(), 1u);
        EXPECT_EQ(cacheLeftovers(), std::vector<std::wstring>());
    }
}

TEST_F(UpdateCheckTest, SilentServersAreBoundedInTimeAndNumber) {
    updateTimeLimitMs = 1500;
    answer = IDOK;
    const UINT_PTR timer = SetTimer(nullptr, 0, 100, answerBox);
    {
        LoopbackServer server("");
        site = server.site();
        updateSite = site.c_str();
        for (int i = 0; i < kUpdateChecksAtOnce; ++i) startUpdateCheck();
        // A request beyond the cap starts nothing, and says so at once.
        startUpdateCheck();
        EXPECT_EQ(boxesAnswered, 1);
        EXPECT_EQ(boxSeen, box(IDS_UPDATE_BUSY));
        const ULONGLONG start = GetTickCount64();
        while (boxesAnswered < 1 + kUpdateChecksAtOnce && GetTickCount64() - start < 20000) pumpMessages(100);
        EXPECT_EQ(boxesAnswered, 1 + kUpdateChecksAtOnce) << "each started check gave up on its own";
        EXPECT_EQ(boxSeen, box(IDS_UPDATE_FAILED));
        EXPECT_EQ(runningUpdateChecks(), kUpdateChecksAtOnce) << "abandoned downloads still count";
        startUpdateCheck();
        EXPECT_EQ(boxSeen, box(IDS_UPDATE_BUSY));
        pumpMessages(2500);
        EXPECT_EQ(boxesAnswered, 2 + kUpdateChecksAtOnce) << "no check beyond the cap";
    }
    // Once the server goes away the abandoned downloads end, free their places and clean up after themselves.
    const ULONGLONG start = GetTickCount64();
    while (runningUpdateChecks() > 0 && GetTickCount64() - start < 30000) pumpMessages(100);
    KillTimer(nullptr, timer);
    EXPECT_EQ(runningUpdateChecks(), 0);
    EXPECT_EQ(cacheLeftovers(), std::vector<std::wstring>());
}

// The running version the check compares comes from the version record, as the read-me names it.
TEST(UpdateCheckVersion, ReadFromTheProgramsVersionRecord) {
    uint32_t v[4];
    readProductVersion((distDir() + L"sbay.exe").c_str(), v);
    char named[64];
    snprintf(named, sizeof named, "Spindlebay %u.%u.%u.%u\r\n", v[0], v[1], v[2], v[3]);
    EXPECT_EQ(readTextFile(distDir() + L"readme.txt").rfind(named, 0), 0u) << named;
}

}  // namespace
