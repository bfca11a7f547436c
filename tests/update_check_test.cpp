// Sockets first: windows.h would otherwise bring in the old winsock.
#include <winsock2.h>
#include <wininet.h>

#include "update/update_check.h"

#include <atomic>
#include <string>
#include <thread>

#include "common/program_state.h"
#include "drives/sim/sim_drives.h"
#include "resources/language.h"
#include "resources/resource_ids.h"
#include "tests/test_support.h"
#include <gtest/gtest.h>

namespace {

// A one-connection-at-a-time HTTP server on 127.0.0.1 that answers every
// request with `reply`; an empty reply accepts and never answers, and a
// `bulk` count streams that many bytes after the reply.
struct LoopbackServer {
    SOCKET listener = INVALID_SOCKET;
    int port = 0;
    std::string reply;
    size_t bulk = 0;
    std::atomic<bool> stopping{false};
    std::thread worker;

    LoopbackServer(std::string answer, size_t bulkBytes = 0) : reply(std::move(answer)), bulk(bulkBytes) {
        listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        int length = sizeof address;
        bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
        listen(listener, 8);
        getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
        port = ntohs(address.sin_port);
        worker = std::thread([this] { serve(); });
    }
    ~LoopbackServer() {
        stopping = true;
        closesocket(listener);
        worker.join();
    }
    void serve() {
        for (;;) {
            SOCKET client = accept(listener, nullptr, nullptr);
            if (client == INVALID_SOCKET) return;
            char request[4096];
            recv(client, request, sizeof request, 0);
            if (reply.empty()) {
                while (!stopping) Sleep(20);
            } else {
                send(client, reply.data(), static_cast<int>(reply.size()), 0);
                const std::string chunk(65536, 'x');
                for (size_t sent = 0; sent < bulk && !stopping; sent += chunk.size()) {
                    if (send(client, chunk.data(), static_cast<int>(chunk.size()), 0) <= 0) break;
                }
            }
            shutdown(client, SD_SEND);
            closesocket(client);
        }
    }
    std::wstring site() const { return L"http://127.0.0.1:" + std::to_wstring(port); }
};

std::string ok(const std::string& body) {
    return "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\nCache-Control: no-cache\r\n"
           "Connection: close\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

std::string version(const char* major, const char* minor, const char* release, const char* build) {
    return std::string("[ver]\r\nmajor=") + major + "\r\nminor=" + minor + "\r\nrelease=" + release +
           "\r\nbuild=" + build + "\r\n";
}

// What the message box of the check said, answered with `answer`.
std::wstring boxSeen;
std::atomic<int> boxesAnswered{0};
int answer = IDOK;
void CALLBACK answerBox(HWND, UINT, UINT_PTR, DWORD) {
    HWND box = FindWindowW(L"#32770", nullptr);
    if (box == nullptr || !IsWindowVisible(box)) return;
    wchar_t caption[64] = L"";
    GetWindowTextW(box, caption, 64);
    wchar_t text[300] = L"";
    GetDlgItemTextW(box, 0xFFFF, text, 300);
    boxSeen = std::wstring(caption) + L"|" + text;
    ++boxesAnswered;
    PostMessageW(box, WM_COMMAND, answer, 0);
}

class UpdateCheckTest : public testing::Test {
protected:
    void SetUp() override {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
        simReset();
        languageModule = LoadLibraryExW((distDir() + L"sbay_6_eng.dll").c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(languageModule, nullptr);
        const uint32_t running[4] = {6, 1, 0, 125};
        for (int i = 0; i < 4; ++i) productVersion[i] = running[i];
        boxSeen.clear();
        boxesAnswered = 0;
        answer = IDOK;
    }
    void TearDown() override {
        FreeLibrary(languageModule);
        languageModule = nullptr;
        updateSite = L"";
        updateTimeLimitMs = 30000;
        WSACleanup();
    }
    // Runs one check on this thread against `server`, answering its box.
    void check(const LoopbackServer& server, int reply = IDOK) { checkAt(server.site(), reply); }
    void checkAt(const std::wstring& at, int reply = IDOK) {
        site = at;
        updateSite = site.c_str();
        answer = reply;
        boxesAnswered = 0;
        const UINT_PTR timer = SetTimer(nullptr, 0, 100, answerBox);
        updateCheckThread(nullptr);
        KillTimer(nullptr, timer);
        EXPECT_EQ(boxesAnswered, 1);
        // The cache may keep its entry, but never the file behind it.
        const std::wstring url = site + L"/download/sbay.inf";
        DWORD size = 0;
        GetUrlCacheEntryInfoW(url.c_str(), nullptr, &size);
        if (size != 0) {
            std::string entry(size, '\0');
            auto info = reinterpret_cast<INTERNET_CACHE_ENTRY_INFOW*>(entry.data());
            if (GetUrlCacheEntryInfoW(url.c_str(), info, &size) && info->lpszLocalFileName != nullptr) {
                EXPECT_FALSE(fileExists(info->lpszLocalFileName)) << "downloaded file left behind";
            }
        }
    }
    std::wstring box(UINT id) { return englishString(IDS_UPDATE_CAPTION) + L"|" + englishString(id); }
    std::wstring offer(const wchar_t* available) {
        std::wstring text = englishString(IDS_UPDATE_NEWER);
        text.replace(text.find(L"%d.%d.%d.%d"), 11, L"6.1.0.125");
        text.replace(text.find(L"%d.%d.%d.%d"), 11, available);
        return englishString(IDS_UPDATE_CAPTION) + L"|" + text;
    }
    bool pageOpened() {
        const std::string line = "shell open \"" + std::string(site.begin(), site.end()) + "/html/sbay_download.html\"";
        for (const std::string& entry : simJournal()) {
            if (entry.rfind(line, 0) == 0) return true;
        }
        return false;
    }
    std::wstring site;
};

}  // namespace

TEST(UpdateCheckCompare, ComparesPartByPartAsUnsigned) {
    struct Case { uint32_t available[4]; uint32_t running[4]; bool newer; };
    const Case cases[] = {
        {{6, 1, 0, 125}, {6, 1, 0, 125}, false},
        {{6, 1, 1, 0}, {6, 1, 0, 125}, true},
        {{6, 1, 0, 200}, {6, 1, 1, 0}, false},
        {{7, 0, 0, 0}, {6, 1, 0, 125}, true},
        {{6, 1, 0, 0xFFFFFFFFu}, {6, 1, 0, 125}, true},
        {{0, 0, 0, 0}, {6, 1, 0, 125}, false},
        {{6, 1, 0, 126}, {6, 1, 0, 125}, true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(isNewerVersion(c.available, c.running), c.newer)
            << c.available[0] << "." << c.available[1] << "." << c.available[2] << "." << c.available[3];
    }
}

TEST_F(UpdateCheckTest, TellsWhetherTheServedVersionIsNewer) {
    {
        LoopbackServer server(ok(version("6", "1", "0", "125")));
        check(server);
        EXPECT_EQ(boxSeen, box(IDS_UPDATE_NONE));
    }
    {
        LoopbackServer server(ok(version("6", "1", "1", "0")));
        check(server, IDNO);
        EXPECT_EQ(boxSeen, offer(L"6.1.1.0"));
        EXPECT_FALSE(pageOpened()) << "No opens nothing";
    }
    {
        LoopbackServer server(ok(version(" +7", "0", "0", "0")));
        check(server, IDCANCEL);
        EXPECT_EQ(boxSeen, offer(L"7.0.0.0"));
        EXPECT_FALSE(pageOpened());
    }
    {
        // -1 is the greatest part; the formatter shows it signed.
        LoopbackServer server(ok(version("6", "1", "0", "-1")));
        check(server, IDYES);
        EXPECT_EQ(boxSeen, offer(L"6.1.0.-1"));
        EXPECT_TRUE(pageOpened()) << "Yes opens the download page";
    }
    productVersion[2] = 1;
    productVersion[3] = 0;
    {
        LoopbackServer server(ok(version("6", "1", "0", "200")));
        check(server);
        EXPECT_EQ(boxSeen, box(IDS_UPDATE_NONE));
    }
}

TEST_F(UpdateCheckTest, MalformedFilesReadAsNoVersion) {
    const std::string bodies[] = {
        "[other]\r\nmajor=9\r\n",
        std::string("\x00\xff\xfe[ver\r\nmajor=99999999999999999999999999999999999\r\n\x01", 44),
        "",
    };
    for (const std::string& body : bodies) {
        LoopbackServer server(ok(body));
        check(server, IDYES);
        EXPECT_EQ(boxSeen, box(IDS_UPDATE_NONE)) << body.size();
    }
    // An over-long part is read within its buffer and clamped: 2147483647.
    LoopbackServer server(ok(version(std::string(5000, '9').c_str(), "0", "0", "0")));
    check(server, IDNO);
    EXPECT_EQ(boxSeen, offer(L"2147483647.0.0.0"));
    EXPECT_FALSE(pageOpened());
}

TEST_F(UpdateCheckTest, FailedDownloadsSayOnlySo) {
    const std::string replies[] = {
        "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n",
        "HTTP/1.1 500 Internal Server Error\r\nContent-Length: 0\r\nConnection: close\r\n\r\n",
        "HTTP/1.1 302 Found\r\nLocation: http://127.0.0.1:1/download/sbay.inf\r\nContent-Length: 0\r\n"
        "Connection: close\r\n\r\n",
    };
    for (const std::string& reply : replies) {
        LoopbackServer server(reply);
        check(server);
        EXPECT_EQ(boxSeen, box(IDS_UPDATE_FAILED)) << reply.substr(0, 12);
    }
    {
        // Nothing listens on a port just released.
        std::wstring closed;
        { LoopbackServer gone(ok("")); closed = gone.site(); }
        checkAt(closed);
        EXPECT_EQ(boxSeen, box(IDS_UPDATE_FAILED));
    }
    EXPECT_TRUE(simJournal().empty()) << "a failed check launches nothing";
}

TEST_F(UpdateCheckTest, HugeResponsesAreCutOff) {
    LoopbackServer server("HTTP/1.1 200 OK\r\nContent-Length: 41943040\r\nConnection: close\r\n\r\n[ver]\r\nmajor=9\r\n",
                          40u << 20);
    const ULONGLONG start = GetTickCount64();
    check(server, IDYES);
    EXPECT_EQ(boxSeen, box(IDS_UPDATE_FAILED));
    EXPECT_LT(GetTickCount64() - start, 20000u);
    EXPECT_FALSE(pageOpened());
}

TEST_F(UpdateCheckTest, SilentServersAreBoundedInTimeAndNumber) {
    updateTimeLimitMs = 1500;
    const UINT_PTR timer = SetTimer(nullptr, 0, 100, answerBox);
    {
        LoopbackServer server("");
        site = server.site();
        updateSite = site.c_str();
        for (int i = 0; i < 7; ++i) startUpdateCheck();
        const ULONGLONG start = GetTickCount64();
        while (boxesAnswered < kUpdateChecksAtOnce && GetTickCount64() - start < 20000) pumpMessages(100);
        EXPECT_EQ(boxesAnswered, kUpdateChecksAtOnce) << "each started check gave up on its own";
        EXPECT_EQ(boxSeen, box(IDS_UPDATE_FAILED));
        EXPECT_EQ(runningUpdateChecks(), kUpdateChecksAtOnce) << "abandoned downloads still count";
        startUpdateCheck();
        pumpMessages(2500);
        EXPECT_EQ(boxesAnswered, kUpdateChecksAtOnce) << "no check beyond the cap";
    }
    // Once the server goes away the abandoned downloads end and free their places.
    const ULONGLONG start = GetTickCount64();
    while (runningUpdateChecks() > 0 && GetTickCount64() - start < 30000) pumpMessages(100);
    KillTimer(nullptr, timer);
    EXPECT_EQ(runningUpdateChecks(), 0);
}
