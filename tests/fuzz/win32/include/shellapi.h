// Host stand-in: the notification-area record and call the settings use.
#pragma once

#include <windows.h>

#define NIM_MODIFY 0x00000001u

typedef struct {
    DWORD cbSize;
    HWND hWnd;
    UINT uID;
    UINT uFlags;
    UINT uCallbackMessage;
    HICON hIcon;
    CHAR szTip[128];
} NOTIFYICONDATAA;

BOOL Shell_NotifyIconA(DWORD message, NOTIFYICONDATAA* data);
