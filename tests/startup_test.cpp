// The main window's start-up and shut-down, hosted in the test process.
#include "app/app.h"
#include "tray/common_icon.h"
#include "drives/drive_record.h"
#include "drives/tray_icon.h"
#include "resources/language.h"
#include "resources/resource_ids.h"
#include "tray/tray_menu.h"
#include "drives/sim/sim_drives.h"
#include "settings/settings_file.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>

namespace {

// No optical drive in these tests: the program starts as on a machine without one.
class Startup : public ::testing::Test {
protected:
    void SetUp() override { simReset(); }
};

TEST_F(Startup, StandsInWithTheCommonIconWhenThereIsNoDrive) {
    MainWindowHost host;
    ASSERT_NE(host.window(), nullptr);
    EXPECT_FALSE(IsWindowVisible(mainWindow));
    EXPECT_EQ(driveRecordCount, 0);
    ASSERT_NE(commonIconRecord, nullptr);
    EXPECT_EQ(trayIconCount, 1);
    EXPECT_EQ(commonIconRecord->data.hIcon, commonIcon);
    EXPECT_EQ(std::wstring(commonIconRecord->data.szTip), englishString(IDS_COMMON_TIP));
    EXPECT_NE(commonIconRecord->added, 0) << "the notification area refused the icon";
}

TEST_F(Startup, CommonIconIsTheClosedDiscWithoutALetter) {
    MainWindowHost host;
    ICONINFO info{};
    ASSERT_TRUE(GetIconInfo(commonIcon, &info));
    // Compare the icon's mask with the transparency of state image 0.
    HDC dc = CreateCompatibleDC(nullptr), maskDc = CreateCompatibleDC(nullptr);
    HBITMAP reference = CreateBitmap(16, 16, 1, 1, nullptr);
    HGDIOBJ old = SelectObject(dc, reference), oldMask = SelectObject(maskDc, info.hbmMask);
    PatBlt(dc, 0, 0, 16, 16, WHITENESS);
    ImageList_Draw(stateImages, 0, dc, 0, 0, ILD_MASK);
    int opaque = 0, mismatches = 0;
    for (int i = 0; i < 256; ++i) {
        const bool iconOpaque = GetPixel(maskDc, i % 16, i / 16) == RGB(0, 0, 0);
        opaque += iconOpaque;
        mismatches += iconOpaque != (GetPixel(dc, i % 16, i / 16) == RGB(0, 0, 0));
    }
    SelectObject(maskDc, oldMask);
    SelectObject(dc, old);
    DeleteDC(maskDc);
    DeleteDC(dc);
    DeleteObject(reference);
    DeleteObject(info.hbmMask);
    DeleteObject(info.hbmColor);
    EXPECT_GT(opaque, 60) << "the disc should cover a good part of the icon";
    EXPECT_LT(opaque, 256) << "the corners should stay transparent";
    EXPECT_EQ(mismatches, 0);
}

TEST_F(Startup, ShutDownQuitsWithZeroWritesNothingAndLeaksNothing) {
    { MainWindowHost warmUp; }  // first use loads libraries and caches for good
    const int gdi = freeGdiSlots();
    const int handles = liveKernelHandles();
    for (int i = 0; i < 10; ++i) {
        MainWindowHost host;
        const HICON made[] = {templateIcon, busyIcon, commonIcon};
        host.destroy();
        ASSERT_TRUE(host.sawQuit());
        EXPECT_EQ(host.quitCode(), 0);
        EXPECT_FALSE(fileExists(host.appData().file(L"sbay"))) << "no drive, so nothing to write";
        for (HICON icon : made) {
            ICONINFO info{};
            EXPECT_FALSE(GetIconInfo(icon, &info)) << "an icon outlived the shut-down";
        }
    }
    EXPECT_EQ(trayIconCount, 0);
    EXPECT_EQ(GetModuleHandleW(L"sbay_6_eng.dll"), nullptr) << "the language library stayed loaded";
    EXPECT_EQ(freeGdiSlots(), gdi);
    EXPECT_EQ(liveKernelHandles(), handles);
}

TEST_F(Startup, SettingsChooseTheLanguageAndAreNeverWrittenAtStartUp) {
    const std::string settings = "[g_propMain]\r\nnLanguage=7\r\nnDefaultDisk=68\r\n";
    MainWindowHost host(settings);
    EXPECT_EQ(liveSettings.global.nLanguage, 7);
    wchar_t tip[50];
    loadText(IDS_COMMON_TIP, tip, 50);
    EXPECT_NE(std::wstring(tip), englishString(IDS_COMMON_TIP)) << "expected the Russian library";
    host.destroy();
    // No drive record existed, so not even the default drive was written.
    EXPECT_EQ(readTextFile(host.settingsFile()), settings);
}

}  // namespace
