// Resource, string, control and command ids shared by the executable, the two
// language libraries and the code. Plain #defines so that windres can read it.
#ifndef SPINDLEBAY_RESOURCE_IDS_H
#define SPINDLEBAY_RESOURCE_IDS_H

// ---- Resources of sbay.exe ------------------------------------------------
#define IDI_APP            101   // a gold disc, 16 to 256 pixels, 32 bpp
#define IDI_BUSY           103   // an hourglass, 16, 20, 24 and 32 pixels, 32 bpp
#define IDI_TEMPLATE       181   // 16x16, 24 bpp: fully transparent
#define IDB_FLAGS          170   // 32x16: language flags (0 English, 1 Russian)
#define IDB_TABS           172   // 32x16: tab pictures (0 general, 1 drive)
#define IDB_MENU           178   // 272x16: the 17 tray menu pictures
#define IDB_STATES         185   // 64x16: closed, open, audio, other medium
#define IDB_LETTERS        186   // 416x16, 1 bpp: letters A..Z
#define IDB_STATES_DEFAULT 189   // 64x16: the four states with the default star
// Each strip and the busy icon are drawn again for 20, 24 and 32 pixels: the
// strip for size S has the id above plus IDB_SIZE_STEP times 1, 2 or 3.
#define IDB_SIZE_STEP      1000

// ---- Resources of the language libraries ----------------------------------
#define IDM_TRAY           154   // submenu 0 is the tray menu
#define IDD_GENERAL        107   // settings, general page
#define IDD_DRIVE          108   // settings, drive page
#define IDD_COUNTDOWN      187   // auto-close countdown

// Strings: capacity in characters, terminator included, and arguments.
#define IDS_LANG0          171   // 25   name of language 0
#define IDS_LANG1          172   // 25   name of language 1
#define IDS_COMMON_TIP     173   // 50   tip of the common icon
#define IDS_EJECTED        174   // 50   disc ejected at log-off/suspend: %c
#define IDS_EJECTED_CAP    175   // 25   caption of that message
#define IDS_COUNTDOWN      176   // 50   countdown title: %d seconds, %c letter
#define IDS_ABOUT          177   // 260  About text
#define IDS_SECOND_START   178   // 260  balloon on a second start
#define IDS_TIP_EMPTY      179   // 50   tip line: closed, no medium
#define IDS_TIP_OPEN       180   // 50   tip line: tray open
#define IDS_AUDIO_PLAYING  181   // 50   %d track, %d last track
#define IDS_AUDIO_PAUSED   182   // 50   %d track, %d last track
#define IDS_AUDIO_STOPPED  183   // 50   %d last track
#define IDS_BUSY_TIP       184   // 25   tip while a tray moves
#define IDS_UPDATE_NEWER   185   // 260  %d.%d.%d.%d running, %d.%d.%d.%d newer
#define IDS_UPDATE_NONE    186   // 260  no newer version
#define IDS_UPDATE_CAPTION 187   // 50   update-check caption
#define IDS_UPDATE_FAILED  188   // 100  download failed
#define IDS_UPDATE_BUSY    220   // 260  a check asked for while the most run at once
// Start with Windows: ids 2100..2109.
#define IDS_STARTUP_RIGHTS 2101  // 260  changing the start-up mode needs rights
#define IDS_CMD_USAGE      230   // 1024 command-line usage (sbay.exe /?)
#define IDS_CMD_USAGE_CAP  231   // 50   caption of that message

// ---- Controls --------------------------------------------------------------
#define IDC_PROGRESS       1028  // countdown progress bar

// General page (107)
#define IDC_AUTOSTART      1010  // check box: start with Windows
#define IDC_AS_SERVICE     1011  // check box: run as a service (disabled in template)
#define IDC_LANGUAGE       1012  // ComboBoxEx
#define IDC_DEF_EJECT_WIN  1013  // check box: Windows key of 1024
#define IDC_DEF_CLOSE_WIN  1014  // check box: Windows key of 1025
#define IDC_DEF_SELECT     1017  // hot-key control
#define IDC_DEF_SELECT_WIN 1018  // check box: Windows key of 1017
#define IDC_DEF_DISK       1023  // ComboBoxEx
#define IDC_DEF_EJECT      1024  // hot-key control
#define IDC_DEF_CLOSE      1025  // hot-key control

// Drive page (108)
#define IDC_LOGOFF_EJECT   1010  // check box
#define IDC_BEEP_INSIDE    1011  // check box
#define IDC_DRIVE          1014  // ComboBoxEx
#define IDC_EJECT_KEY      1015  // hot-key control
#define IDC_CLOSE_KEY      1016  // hot-key control
#define IDC_SECONDS        1017  // edit, buddy of 1029
#define IDC_CLOSE_KEY_WIN  1018  // check box: Windows key of 1016
#define IDC_SHOW_TIME      1019  // check box
#define IDC_HIDE           1020  // check box
#define IDC_LOCK           1021  // check box
#define IDC_AUTO_CLOSE     1022  // check box
#define IDC_EJECT_KEY_WIN  1027  // check box: Windows key of 1015
#define IDC_SECONDS_SPIN   1029  // up-down control

// ---- Tray menu commands ----------------------------------------------------
#define IDM_EXIT           40001
#define IDM_README         40004
#define IDM_ABOUT          40005
#define IDM_OPEN           40007
#define IDM_CLOSE          40008
#define IDM_LOCK           40053
#define IDM_PLAY           40054
#define IDM_STOP           40055
#define IDM_PAUSE          40056
#define IDM_NEXT           40057
#define IDM_PREVIOUS       40058
#define IDM_SPEED_1X       40059
#define IDM_SPEED_2X       40060
#define IDM_SPEED_4X       40061
#define IDM_SPEED_8X       40062
#define IDM_SPEED_16X      40063
#define IDM_SPEED_32X      40064
#define IDM_SPEED_MAX      40065
#define IDM_HEADER         40069
#define IDM_SETTINGS       40071
#define IDM_AUTORUN        40078
#define IDM_UPDATE         40081

// Positions in the tray popup that the program relies on.
#define TRAY_POS_SHELL     3     // submenu: the shell's context menu of the drive
#define TRAY_POS_SPEED     8     // submenu: read speeds
#define TRAY_POS_AUDIO     9     // submenu: audio CD
#define TRAY_POS_PROGRAM   12    // submenu: read-me, update check, About

#endif
