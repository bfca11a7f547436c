// The shipped executable's own resources: pictures, the version record and the manifest
// (the icons themselves load at every start-up).
#include "app/app.h"
#include "resources/resource_ids.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

class ProgramResourcesTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_NE(module, nullptr); }
    void TearDown() override { FreeLibrary(module); }
    const void* resource(UINT id, const wchar_t* type, DWORD* size = nullptr) {
        HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(id), type);
        if (found == nullptr) return nullptr;
        if (size != nullptr) *size = SizeofResource(module, found);
        return LockResource(LoadResource(module, found));
    }
    HMODULE module = LoadLibraryExW((distDir() + L"sbay.exe").c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
};

TEST_F(ProgramResourcesTest, StripsHaveTheirSizesAndTheIconTemplateIsBlank) {
    struct Strip { UINT id; LONG width; WORD bits; };
    for (Strip strip : {Strip{IDB_STATES, 64, 24}, Strip{IDB_STATES_DEFAULT, 64, 24}, Strip{IDB_LETTERS, 416, 1},
                        Strip{IDB_MENU, 272, 24}, Strip{IDB_FLAGS, 32, 24}, Strip{IDB_TABS, 32, 24}}) {
        auto header = static_cast<const BITMAPINFOHEADER*>(resource(strip.id, RT_BITMAP));
        ASSERT_NE(header, nullptr) << "bitmap " << strip.id;
        EXPECT_EQ(std::vector<LONG>({header->biWidth, std::abs(header->biHeight), header->biBitCount}),
                  std::vector<LONG>({strip.width, 16, strip.bits})) << "bitmap " << strip.id;
    }
    // The drive icons are drawn on the template: all of it must be transparent
    // (colour all black, mask all set).
    auto group = static_cast<const BYTE*>(resource(IDI_TEMPLATE, RT_GROUP_ICON));
    ASSERT_NE(group, nullptr);
    const int image = LookupIconIdFromDirectoryEx(const_cast<BYTE*>(group), TRUE, 16, 16, LR_DEFAULTCOLOR);
    auto blank = static_cast<const BITMAPINFOHEADER*>(resource(image, RT_ICON));
    ASSERT_TRUE(blank != nullptr && blank->biWidth == 16 && blank->biBitCount == 24);
    auto bits = reinterpret_cast<const BYTE*>(blank + 1);
    const int colourBytes = 16 * 48;
    EXPECT_TRUE(std::all_of(bits, bits + colourBytes, [](BYTE b) { return b == 0; }));
    for (int row = 0; row < 16; ++row) EXPECT_EQ(bits[colourBytes + row * 4] & bits[colourBytes + row * 4 + 1], 0xFF);
}

TEST_F(ProgramResourcesTest, TheVersionRecordAndTheManifestForCommonControls6) {
    uint32_t version[4];
    readProductVersion((distDir() + L"sbay.exe").c_str(), version);
    EXPECT_EQ(std::vector<uint32_t>(version, version + 4), (std::vector<uint32_t>{6, 3, 4, 11}));
    readProductVersion((testProgramDir() + L"diskinside.wav").c_str(), version);  // has no version record
    EXPECT_EQ(std::vector<uint32_t>(version, version + 4), std::vector<uint32_t>(4, 0));
    DWORD size = 0;
    auto text = static_cast<const char*>(resource(1, RT_MANIFEST, &size));
    ASSERT_NE(text, nullptr);
    const std::string manifest(text, size);
    EXPECT_NE(manifest.find("Microsoft.Windows.Common-Controls"), std::string::npos);
    EXPECT_NE(manifest.find("version=\"6.0.0.0\""), std::string::npos);
}

}  // namespace
