// The shipped executable's own resources: pictures, the version record and the manifest
// (the icons themselves load at every start-up).
#include "app/app.h"
#include "resources/resource_ids.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

TEST(ProgramResources, StripsHaveTheirSizesTheIconTemplateIsBlankAndTheManifestAsksForCommonControls6) {
    const std::wstring program = distDir() + L"sbay.exe";
    HMODULE module = LoadLibraryExW(program.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(module, nullptr);
    DWORD size = 0;
    auto resource = [&](UINT id, const wchar_t* type) -> const void* {
        HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(id), type);
        size = found != nullptr ? SizeofResource(module, found) : 0;
        return found != nullptr ? LockResource(LoadResource(module, found)) : nullptr;
    };
    struct Strip { UINT id; LONG width; WORD bits; };
    for (Strip strip : {Strip{IDB_STATES, 64, 24}, Strip{IDB_STATES_DEFAULT, 64, 24}, Strip{IDB_LETTERS, 416, 1},
                        Strip{IDB_MENU, 272, 24}, Strip{IDB_FLAGS, 32, 24}, Strip{IDB_TABS, 32, 24}}) {
        auto header = static_cast<const BITMAPINFOHEADER*>(resource(strip.id, RT_BITMAP));
        ASSERT_NE(header, nullptr) << "bitmap " << strip.id;
        EXPECT_EQ(std::vector<LONG>({header->biWidth, std::abs(header->biHeight), header->biBitCount}),
                  std::vector<LONG>({strip.width, 16, strip.bits})) << "bitmap " << strip.id;
    }
    // The drive icons are drawn on the template: all of it must be transparent (colour all black, mask all set).
    auto group = static_cast<const BYTE*>(resource(IDI_TEMPLATE, RT_GROUP_ICON));
    ASSERT_NE(group, nullptr);
    const int image = LookupIconIdFromDirectoryEx(const_cast<BYTE*>(group), TRUE, 16, 16, LR_DEFAULTCOLOR);
    auto blank = static_cast<const BITMAPINFOHEADER*>(resource(image, RT_ICON));
    ASSERT_TRUE(blank != nullptr && blank->biWidth == 16 && blank->biBitCount == 24);
    auto bits = reinterpret_cast<const BYTE*>(blank + 1);
    const int colourBytes = 16 * 48;
    EXPECT_TRUE(std::all_of(bits, bits + colourBytes, [](BYTE b) { return b == 0; }));
    for (int row = 0; row < 16; ++row) EXPECT_EQ(bits[colourBytes + row * 4] & bits[colourBytes + row * 4 + 1], 0xFF);

    auto text = static_cast<const char*>(resource(1, RT_MANIFEST));
    ASSERT_NE(text, nullptr);
    const std::string manifest(text, size);
    EXPECT_NE(manifest.find("Microsoft.Windows.Common-Controls"), std::string::npos);
    EXPECT_NE(manifest.find("version=\"6.0.0.0\""), std::string::npos);
    FreeLibrary(module);
}

// The running version the update check compares, from the version record; nothing without one.
TEST(ProgramResources, TheVersionRecordGivesTheProductVersion) {
    uint32_t version[4];
    readProductVersion((distDir() + L"sbay.exe").c_str(), version);
    EXPECT_EQ(std::vector<uint32_t>(version, version + 4), (std::vector<uint32_t>{6, 3, 4, 11}));
    readProductVersion((testProgramDir() + L"diskinside.wav").c_str(), version);
    EXPECT_EQ(std::vector<uint32_t>(version, version + 4), std::vector<uint32_t>(4, 0));
}

}  // namespace
