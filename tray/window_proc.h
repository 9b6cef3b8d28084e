// What the control window does with messages: the one place where the
// commands of the buttons, the tray menu and other processes take effect.
#pragma once

#include <windows.h>

// the tray icon's callback message: icon id in wParam, mouse message in lParam
#define WM_TRAYICON (WM_USER + 1)
// posted by a tone worker or the driver start when the buzzer starts or stops opening
#define WM_BUZZER_CHANGED (WM_USER + 2)

enum RangeWarningKind {
    RangeWarningFrequency = 0,
    RangeWarningDuration = 1,
};

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
void ShowControlWindow(HWND window);
void ShowRangeWarning(int kind);
