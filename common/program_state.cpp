#include "common/program_state.h"

HINSTANCE appInstance;
UINT msgSecondInstance;

HWND mainWindow;
UINT msgTaskbarCreated;
int32_t isVistaOrLater;
wchar_t programDir[MAX_PATH];
wchar_t executablePath[MAX_PATH];
wchar_t soundPath[MAX_PATH];
uint32_t productVersion[4];
wchar_t productString[52];
int32_t trayIconSize = 16;
HIMAGELIST stateImages;
HIMAGELIST highlightImages;
HIMAGELIST letterImages;
HICON templateIcon;
HICON busyIcon;
HICON commonIcon;
