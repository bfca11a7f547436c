// The main window's start-up and shut-down, hosted in the test process, on a machine without an optical drive.
#include "app/app.h"
#include "tray/common_icon.h"
#include "drives/drive_record.h"
#include "drives/tray_icon.h"
#include "resources/language.h"
#include "resources/resource_ids.h"
#include "drives/sim/sim_drives.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>

namespace {

TEST(Startup, WithoutDrivesTheCommonIconStandsInInTheChosenLanguageAndTheSettingsStayUntouched) {
    simReset();
    const std::string settings = "[g_propMain]\r\nnLanguage=7\r\nnDefaultDisk=68\r\n";
    MainWindowHost host(settings);
    ASSERT_NE(host.window(), nullptr);
    EXPECT_FALSE(IsWindowVisible(mainWindow));
    ASSERT_NE(commonIconRecord, nullptr);
    EXPECT_EQ(trayIconCount, 1);
    EXPECT_NE(commonIconRecord->added, 0) << "the notification area refused the icon";
    wchar_t tip[50];
    loadText(IDS_COMMON_TIP, tip, 50);
    EXPECT_EQ(std::wstring(commonIconRecord->data.szTip), tip);
    EXPECT_NE(std::wstring(tip), englishString(IDS_COMMON_TIP)) << "any language but 0 is Russian";

    host.destroy();
    EXPECT_EQ(host.quitCode(), 0);
    EXPECT_EQ(readTextFile(host.settingsFile()), settings) << "no drive record, so not even the default drive";
}

TEST(Startup, ShutDownQuitsWithZeroWritesNothingAndLeaksNothing) {
    simReset();
    { MainWindowHost warmUp; }  // first use loads libraries and caches for good
    const int gdi = freeGdiSlots(), handles = liveKernelHandles();
    for (int i = 0; i < 10; ++i) {
        MainWindowHost host;
        const HICON made[] = {templateIcon, busyIcon, commonIcon};
        host.destroy();
        ASSERT_TRUE(host.sawQuit());
        EXPECT_EQ(host.quitCode(), 0);
        EXPECT_FALSE(fileExists(host.appData().file(L"sbay"))) << "no drive, so nothing to write";
        ICONINFO info{};
        for (HICON icon : made) EXPECT_FALSE(GetIconInfo(icon, &info)) << "an icon outlived the shut-down";
    }
    EXPECT_EQ(trayIconCount, 0);
    EXPECT_EQ(GetModuleHandleW(L"sbay_6_eng.dll"), nullptr) << "the language library stayed loaded";
    EXPECT_EQ(freeGdiSlots(), gdi);
    EXPECT_EQ(liveKernelHandles(), handles);
}

}  // namespace
