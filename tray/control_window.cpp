#include "control_window.h"

#include "app_state.h"
#include "buzzer_fallback.h"
#include "error_log.h"
#include "pitchkeeper_shared.h"
#include "resource.h"
#include "settings.h"
#include "window_proc.h"

static ATOM RegisterMainWindowClass();
static void CreateControls();
static void ListenForTaskbarRestart();

struct ChildControl {
    const wchar_t *ClassName;
    const wchar_t *Text;
    DWORD Style;
    int X, Y, Width, Height;
    int Id;
};

static const DWORD PushButtonStyle = WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON;
static const DWORD NumberBoxStyle = WS_CHILD | WS_VISIBLE | WS_BORDER | ES_NUMBER;
static const DWORD LabelStyle = WS_CHILD | WS_VISIBLE;
static const DWORD CheckBoxStyle = WS_CHILD | WS_VISIBLE | BS_AUTOCHECKBOX;
static const DWORD RadioButtonStyle = WS_CHILD | WS_VISIBLE | BS_AUTORADIOBUTTON;

static const ChildControl ApplyButton = {
    L"BUTTON", L"Apply Settings", PushButtonStyle, 45, 130, 120, 50, IDC_APPLY_SETTINGS};
static const ChildControl StopButton = {
    L"BUTTON", L"Stop Pitchkeeper", PushButtonStyle, 205, 130, 130, 50, IDC_STOP_SERVICE};
static const ChildControl FrequencyBox = {
    L"EDIT", L"", NumberBoxStyle, 110, 30, 70, 20, IDC_FREQUENCY_EDIT};
static const ChildControl FrequencyLabel = {
    L"STATIC", L"Frequency", LabelStyle, 20, 30, 80, 20, IDC_FREQUENCY_LABEL};
static const ChildControl DurationBox = {
    L"EDIT", L"", NumberBoxStyle, 290, 30, 70, 20, IDC_DURATION_EDIT};
static const ChildControl DurationLabel = {
    L"STATIC", L"Duration", LabelStyle, 200, 30, 80, 20, IDC_DURATION_LABEL};
static const ChildControl RunAtStartupBox = {
    L"BUTTON", L"Running at startup", CheckBoxStyle, 20, 60, 160, 20, IDC_RUN_AT_STARTUP};
static const ChildControl BeepOnBox = {
    L"BUTTON", L"Beep ON", CheckBoxStyle, 200, 60, 160, 20, IDC_BEEP_ON};
static const ChildControl SpeakerRadio = {
    L"BUTTON", L"Beep from Speaker", RadioButtonStyle, 20, 90, 160, 20, IDC_BEEP_FROM_SPEAKER};
static const ChildControl BuzzerRadio = {
    L"BUTTON", L"Beep from Buzzer", RadioButtonStyle, 200, 90, 160, 20, IDC_BEEP_FROM_BUZZER};

void CreateMainWindow()
{
    if (RegisterMainWindowClass() == 0) {
        AppendErrorLine("RegisterClassEx ERROR CODE = %d\n", (int)GetLastError());
        return;
    }
    AppState.MainWindow =
        CreateWindowExA(0, PK_WINDOW_CLASS, PK_WINDOW_TITLE, WS_SYSMENU, MainWindowX, MainWindowY,
                        MainWindowWidth, MainWindowHeight, NULL, NULL, AppState.Instance, NULL);
    CreateControls();
    ShowActiveOutput();
    if (AppState.MainWindow == NULL) {
        // the controls failed with it, for want of a parent; the last error
        // is reported as it stands now
        AppendErrorLine("hWnd ERROR CODE = %d\n", (int)GetLastError());
        return;
    }
    ShowWindow(AppState.MainWindow, SW_HIDE);
    ListenForTaskbarRestart();
    AddTrayIcon();
}

static ATOM RegisterMainWindowClass()
{
    // the window shows the beeping-on picture whatever the beep state
    HICON icon = LoadIconA(AppState.Instance, MAKEINTRESOURCEA(IDI_BEEP_ON));
    WNDCLASSEXA windowClass = {};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = MainWindowProc;
    windowClass.hInstance = AppState.Instance;
    windowClass.hIcon = icon;
    windowClass.hIconSm = icon;
    windowClass.hCursor = LoadCursorA(NULL, IDC_ARROW);
    windowClass.hbrBackground = (HBRUSH)(COLOR_WINDOW + 1);
    windowClass.lpszClassName = PK_WINDOW_CLASS;
    return RegisterClassExA(&windowClass);
}

static HWND CreateChild(const ChildControl &control)
{
    return CreateWindowExW(0, control.ClassName, control.Text, control.Style, control.X,
                           control.Y, control.Width, control.Height, AppState.MainWindow,
                           (HMENU)(UINT_PTR)control.Id, AppState.Instance, NULL);
}

// The frequency is shown as stored; the current value is what the box reads.
static void ShowStoredFrequency()
{
    SetDlgItemTextA(AppState.MainWindow, IDC_FREQUENCY_EDIT, SettingsCache[SlotFrequency]);
    AppState.CurrentFrequency = (LONG)GetDlgItemInt(AppState.MainWindow, IDC_FREQUENCY_EDIT, NULL,
                                                    TRUE);
}

static void ShowStoredDuration()
{
    AppState.CurrentDurationMs = CachedDurationMs();
    SetDlgItemInt(AppState.MainWindow, IDC_DURATION_EDIT, (UINT)AppState.CurrentDurationMs, TRUE);
}

static void CreateControls()
{
    CreateChild(ApplyButton);
    CreateChild(StopButton);
    CreateChild(FrequencyBox);
    ShowStoredFrequency();
    CreateChild(FrequencyLabel);
    CreateChild(DurationBox);
    ShowStoredDuration();
    CreateChild(DurationLabel);
    AppState.RunAtStartupCheckBox = CreateChild(RunAtStartupBox);
    ShowStateOnCheckBox(AppState.RunAtStartupCheckBox, AppState.RunAtStartupEnabled);
    AppState.BeepOnCheckBox = CreateChild(BeepOnBox);
    ShowStateOnCheckBox(AppState.BeepOnCheckBox, AppState.BeepEnabled);
    CreateChild(SpeakerRadio);
    CreateChild(BuzzerRadio);
}

// A restarted shell has forgotten every icon and announces itself with this
// message. The program runs elevated, so the announcement from the shell,
// which is not, has to be let through to the window.
static void ListenForTaskbarRestart()
{
    AppState.TaskbarCreatedMessage = RegisterWindowMessageA("TaskbarCreated");
    ChangeWindowMessageFilterEx(AppState.MainWindow, AppState.TaskbarCreatedMessage, MSGFLT_ALLOW,
                                NULL);
}

void AddTrayIcon()
{
    NOTIFYICONDATAA &icon = AppState.TrayIconData;
    icon = NOTIFYICONDATAA{};
    icon.cbSize = sizeof(icon);
    icon.hWnd = AppState.MainWindow;
    icon.uID = 0;
    icon.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    icon.uCallbackMessage = WM_TRAYICON;
    icon.hIcon = LoadIconA(AppState.Instance,
                           MAKEINTRESOURCEA(AppState.BeepEnabled == 1 ? IDI_BEEP_ON : IDI_BEEP_OFF));
    WriteTrayTip(icon.szTip, sizeof(icon.szTip));
    Shell_NotifyIconA(NIM_ADD, &icon);
}

void RemoveTrayIcon()
{
    Shell_NotifyIconA(NIM_DELETE, &AppState.TrayIconData);
}
