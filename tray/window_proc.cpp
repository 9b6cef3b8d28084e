#include "window_proc.h"

#include "app_state.h"
#include "buzzer_fallback.h"
#include "control_window.h"
#include "driver_install.h"
#include "pitchkeeper_shared.h"
#include "resource.h"
#include "settings.h"
#include "status_answer.h"
#include "touch_input.h"
#include "tray_menu.h"

#include <dwmapi.h>
#include <stdlib.h>

static void HandleShowRequest(HWND window);
static LRESULT HandleCommand(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
static void SetFrequencyFromCommand(int frequency);
static void SetDurationFromCommand(int durationMs);
static void ApplySettings(HWND window);
static void ShowControlCenter();
static void SwitchToBuzzer();
static void HideControlWindow(HWND window);
static void StopPitchkeeper();

// the stored number (milliseconds * 500) has to fit the seven characters
// of its settings slot
static const int LongestStorableDurationMs = 9999999 / PK_DURATION_STORE_FACTOR;

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    // a restarted shell has forgotten the icon
    if (message == AppState.TaskbarCreatedMessage && message != 0) {
        AddTrayIcon();
        return 0;
    }
    switch (message) {
    case WM_SHOWWINDOW:
        HandleShowRequest(window);
        return 0;
    case WM_COMMAND:
        return HandleCommand(window, message, wParam, lParam);
    case WM_SYSCOMMAND:
        if ((wParam & 0xFFF0) == SC_CLOSE) {
            HideControlWindow(window);
            return 0;
        }
        break;
    case WM_CLOSE:
        // how other programs ask a program to end (taskkill without /f);
        // left to the default, the window would be destroyed and the
        // program would go on hooking with nothing left to reach it by
        StopPitchkeeper();
        return 0;
    case WM_INPUT:
        HandleRawInput((HRAWINPUT)lParam);
        break;   // the default procedure frees the input
    case WM_INPUT_DEVICE_CHANGE:
        HandleInputDeviceChange(wParam, (HANDLE)lParam);
        return 0;
    case WM_QUERYENDSESSION:
        // nothing unsaved: ready whenever the session or the installer asks
        return TRUE;
    case WM_ENDSESSION:
        // a logoff, a shutdown, or Restart Manager freeing the program's
        // file (ENDSESSION_CLOSEAPP): ended as "Stop Pitchkeeper" ends
        if (wParam) {
            StopPitchkeeper();
        }
        return 0;
    case WM_TRAYICON:
        if (LOWORD(lParam) == WM_LBUTTONDOWN) {
            ShowTrayMenu(window);
        }
        return 0;
    case WM_BUZZER_CHANGED:
        ShowBuzzerState();
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

// Showing a hidden window makes the platform send WM_SHOWWINDOW again
// before the window is visible. The nested step returns at once, or every
// nested show would start another one.
void ShowControlWindow(HWND window)
{
    if (AppState.ShowStepRunning) {
        return;
    }
    AppState.ShowStepRunning = 1;
    // a failed query leaves the preset, so it counts as composition on
    BOOL compositionEnabled = TRUE;
    DwmIsCompositionEnabled(&compositionEnabled);
    if (compositionEnabled) {
        ShowWindow(window, SW_SHOWNORMAL);
    } else {
        // without composition the window is minimized and then restored
        // at its creation place and size
        ShowWindow(window, SW_MINIMIZE);
        WINDOWPLACEMENT placement = {};
        placement.length = sizeof(placement);
        placement.flags = WPF_ASYNCWINDOWPLACEMENT;
        placement.showCmd = SW_RESTORE;
        placement.ptMinPosition = {MainWindowX, MainWindowY};
        placement.ptMaxPosition = {MainWindowX, MainWindowY};
        placement.rcNormalPosition = {MainWindowX, MainWindowY, MainWindowX + MainWindowWidth,
                                      MainWindowY + MainWindowHeight};
        SetWindowPlacement(window, &placement);
    }
    AppState.ShowStepRunning = 0;
}

void ShowRangeWarning(int kind)
{
    const char *text = kind == RangeWarningFrequency
                           ? "Frequency must be in the range of 1 ~ 10000!!!"
                           : "Duration must be in the range of 50 ~ 1000!!!";
    MessageBoxA(FindWindowA(NULL, PK_WINDOW_TITLE), text, "Warning", MB_OK | MB_ICONWARNING);
}

static void ShowCurrentToneValues(HWND window)
{
    SetDlgItemInt(window, IDC_FREQUENCY_EDIT, (UINT)AppState.CurrentFrequency, TRUE);
    SetDlgItemInt(window, IDC_DURATION_EDIT, (UINT)AppState.CurrentDurationMs, TRUE);
}

// Sent by a second start of the program, and by the platform whenever the
// window is shown or hidden. On a hide the show step meets a window that
// is still visible, and the hide then completes.
static void HandleShowRequest(HWND window)
{
    ShowCurrentToneValues(window);
    ShowControlWindow(window);
}

static LRESULT HandleCommand(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    // the value commands carry their number in the low 16 bits of lParam
    int value = LOWORD(lParam);
    switch (LOWORD(wParam)) {
    case CMD_RUN_AT_STARTUP_ON:
        SetRunAtStartup(1);
        break;
    case CMD_RUN_AT_STARTUP_OFF:
        SetRunAtStartup(0);
        break;
    case CMD_SET_FREQUENCY:
        SetFrequencyFromCommand(value);
        break;
    case CMD_SET_DURATION:
        SetDurationFromCommand(value);
        break;
    case IDC_APPLY_SETTINGS:
        ApplySettings(window);
        break;
    case IDC_STOP_SERVICE:
    case CMD_STOP:
        StopPitchkeeper();
        break;
    case CMD_CONTROL_CENTER:
        ShowControlCenter();
        break;
    case CMD_SWITCH_TO_BUZZER:
        SwitchToBuzzer();
        break;
    case CMD_SWITCH_TO_SPEAKER:
        SetOutputDevice(1);
        break;
    case CMD_BEEP_ON:
        SetBeepEnabled(1);
        break;
    case CMD_BEEP_OFF:
        SetBeepEnabled(0);
        break;
    case CMD_STATUS:
        AnswerStatusRequest((HWND)lParam);
        break;
    default:
        return DefWindowProcA(window, message, wParam, lParam);
    }
    return 0;
}

// The other half of the tone pair comes from the stored settings, not from
// the current values.
static void SetFrequencyFromCommand(int frequency)
{
    AppState.CurrentFrequency = frequency;
    SaveToneSettings(frequency, CachedDurationMs());
    SetDlgItemInt(AppState.MainWindow, IDC_FREQUENCY_EDIT, (UINT)frequency, TRUE);
}

static void SetDurationFromCommand(int durationMs)
{
    if (durationMs > LongestStorableDurationMs) {
        return;
    }
    AppState.CurrentDurationMs = durationMs;
    SaveToneSettings(CachedFrequency(), durationMs);
    SetDlgItemInt(AppState.MainWindow, IDC_DURATION_EDIT, (UINT)durationMs, TRUE);
}

static bool InRange(int value, int minimum, int maximum)
{
    return value >= minimum && value <= maximum;
}

// Ticked applies state 1, cleared state 0; an indeterminate box nothing.
static void ApplyCheckBox(HWND window, int checkBoxId, void (*setter)(int))
{
    UINT state = IsDlgButtonChecked(window, checkBoxId);
    if (state == BST_CHECKED) {
        setter(1);
    } else if (state == BST_UNCHECKED) {
        setter(0);
    }
}

static void ApplySettings(HWND window)
{
    // both values are read before the first warning box can let anything change them
    int frequency = (int)GetDlgItemInt(window, IDC_FREQUENCY_EDIT, NULL, TRUE);
    int durationMs = (int)GetDlgItemInt(window, IDC_DURATION_EDIT, NULL, TRUE);
    if (InRange(frequency, PK_FREQUENCY_MIN, PK_FREQUENCY_MAX)) {
        AppState.CurrentFrequency = frequency;
    } else {
        ShowRangeWarning(RangeWarningFrequency);
    }
    if (InRange(durationMs, PK_DURATION_MIN_MS, PK_DURATION_MAX_MS)) {
        AppState.CurrentDurationMs = durationMs;
    } else {
        ShowRangeWarning(RangeWarningDuration);
    }
    // a rejected value keeps the one before, which is written again
    SaveToneSettings(AppState.CurrentFrequency, AppState.CurrentDurationMs);
    // every Apply sets the logon task again, changed or not
    ApplyCheckBox(window, IDC_RUN_AT_STARTUP, SetRunAtStartup);
    if (IsDlgButtonChecked(window, IDC_BEEP_FROM_SPEAKER) == BST_CHECKED) {
        SetOutputDevice(1);
    } else if (IsDlgButtonChecked(window, IDC_BEEP_FROM_BUZZER) == BST_CHECKED) {
        SwitchToBuzzer();
    }
    ApplyCheckBox(window, IDC_BEEP_ON, SetBeepEnabled);
}

// Start-up installs and starts the driver only for a stored buzzer; a switch
// to it while running gets the same, without holding this thread.
static void SwitchToBuzzer()
{
    BYTE before = AppState.ActiveOutput;
    SetOutputDevice(0);
    if (before == 0 && AppState.ActiveOutput == 1) {
        EnsureDriverRunningInBackground();
    }
}

// Unapplied clicks on the check boxes and radio buttons are discarded. A
// hidden window gets the current tone values; a visible one keeps what the
// user typed. The values are not left to the WM_SHOWWINDOW of the show
// step: minimizing a hidden window, without composition, sends none.
static void ShowControlCenter()
{
    ShowStateOnCheckBox(AppState.RunAtStartupCheckBox, AppState.RunAtStartupEnabled);
    ShowActiveOutput();
    ShowStateOnCheckBox(AppState.BeepOnCheckBox, AppState.BeepEnabled);
    if (!IsWindowVisible(AppState.MainWindow)) {
        ShowCurrentToneValues(AppState.MainWindow);
    }
    ShowControlWindow(AppState.MainWindow);
}

// Closing only hides: the program keeps running with its icon.
static void HideControlWindow(HWND window)
{
    int runAtStartup = atoi(SettingsCache[SlotRunAtStartup]);
    if (runAtStartup == 1 || runAtStartup == 0) {
        AppState.RunAtStartupEnabled = (BYTE)runAtStartup;
    }
    ShowWindow(window, SW_HIDE);
}

static void StopPitchkeeper()
{
    RemoveTrayIcon();
    // exit, not a quit message, so that the runtime's exit handlers run and
    // the hook and the window go with the process
    exit(0);
}
