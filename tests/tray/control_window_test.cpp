// The control window, its controls and the tray icon as start-up creates them.
#include "window_fixture.h"

#include "control_window.h"
#include "pitchkeeper_shared.h"
#include "resource.h"
#include "settings.h"
#include "stop_signal.h"
#include "system_call_log.h"
#include "window_proc.h"

#include <direct.h>
#include <string.h>

struct ExpectedControl {
    const char *ClassName;
    const char *Text;
    LONG Style;
    RECT ClientRect;
    int Id;
};

static const ExpectedControl ExpectedControls[] = {
    {"Button", "Apply Settings", 0x50010001, {45, 130, 165, 180}, IDC_APPLY_SETTINGS},
    {"Button", "Stop Pitchkeeper", 0x50010001, {205, 130, 335, 180}, IDC_STOP_SERVICE},
    {"Edit", "2000", 0x50802000, {110, 30, 180, 50}, IDC_FREQUENCY_EDIT},
    {"Static", "Frequency", 0x50000000, {20, 30, 100, 50}, IDC_FREQUENCY_LABEL},
    {"Edit", "50", 0x50802000, {290, 30, 360, 50}, IDC_DURATION_EDIT},
    {"Static", "Duration", 0x50000000, {200, 30, 280, 50}, IDC_DURATION_LABEL},
    {"Button", "Running at startup", 0x50000003, {20, 60, 180, 80}, IDC_RUN_AT_STARTUP},
    {"Button", "Beep ON", 0x50000003, {200, 60, 360, 80}, IDC_BEEP_ON},
    {"Button", "Beep from Speaker", 0x50000009, {20, 90, 180, 110}, IDC_BEEP_FROM_SPEAKER},
    {"Button", "Beep from Buzzer", 0x50000009, {200, 90, 360, 110}, IDC_BEEP_FROM_BUZZER},
};

static std::string ClassOf(HWND window)
{
    char name[64] = {};
    GetClassNameA(window, name, sizeof(name));
    return name;
}

static std::string TextOf(HWND window)
{
    char text[128] = {};
    GetWindowTextA(window, text, sizeof(text));
    return text;
}

static HICON ProgramIcon(int id)
{
    return LoadIconA(GetModuleHandleA(NULL), MAKEINTRESOURCEA(id));
}

// Creation parameters as the program passed them: the platform adjusts
// some styles afterwards (an edit box draws its own border, a checked
// radio button becomes a tab stop).
struct CreatedWindow {
    HWND Window;
    CREATESTRUCTA Parameters;
};
static std::vector<CreatedWindow> CreatedWindows;

static LRESULT CALLBACK RecordCreation(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HCBT_CREATEWND) {
        CreatedWindows.push_back({(HWND)wParam, *((CBT_CREATEWNDA *)lParam)->lpcs});
    }
    return CallNextHookEx(NULL, code, wParam, lParam);
}

static void CreateWindowRecordingCreations()
{
    CreatedWindows.clear();
    HHOOK hook = SetWindowsHookExA(WH_CBT, RecordCreation, NULL, GetCurrentThreadId());
    LoadSettings();
    CreateMainWindow();
    UnhookWindowsHookEx(hook);
    // only the control window and its controls; the platform makes helpers of its own
    std::vector<CreatedWindow> own;
    for (const CreatedWindow &created : CreatedWindows) {
        if (created.Window == AppState.MainWindow || GetParent(created.Window) == AppState.MainWindow) {
            own.push_back(created);
        }
    }
    CreatedWindows = own;
}

TEST_F(ControlWindowTest, FirstRunCreatesTheHiddenWindowWithItsTenControlsInOrder)
{
    CreateWindowRecordingCreations();
    ASSERT_EQ(CreatedWindows.size(), 11u);
    const CreatedWindow &main = CreatedWindows[0];
    EXPECT_EQ(main.Window, Window());
    EXPECT_EQ(ClassOf(Window()), PK_WINDOW_CLASS);
    EXPECT_EQ(TextOf(Window()), PK_WINDOW_TITLE);
    EXPECT_EQ(FindWindowA(NULL, PK_WINDOW_TITLE), Window());
    EXPECT_EQ(main.Parameters.style, WS_SYSMENU);
    EXPECT_EQ(main.Parameters.dwExStyle, 0);
    EXPECT_EQ(main.Parameters.x, 100);
    EXPECT_EQ(main.Parameters.y, 100);
    EXPECT_EQ(main.Parameters.cx, 380);
    EXPECT_EQ(main.Parameters.cy, 220);
    EXPECT_EQ(main.Parameters.hwndParent, (HWND)NULL);
    EXPECT_EQ(main.Parameters.hMenu, (HMENU)NULL);
    EXPECT_FALSE(IsWindowUnicode(Window())) << "narrow window call";
    EXPECT_FALSE(IsWindowVisible(Window()));
    LONG style = GetWindowLongA(Window(), GWL_STYLE);
    EXPECT_FALSE(style & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_THICKFRAME));

    for (size_t i = 0; i < 10; ++i) {
        const ExpectedControl &expected = ExpectedControls[i];
        const CreatedWindow &created = CreatedWindows[i + 1];
        SCOPED_TRACE(expected.Text);
        const CREATESTRUCTA &parameters = created.Parameters;
        EXPECT_EQ(parameters.hMenu, (HMENU)(UINT_PTR)expected.Id);
        EXPECT_EQ(GetDlgCtrlID(created.Window), expected.Id);
        EXPECT_EQ(parameters.hwndParent, Window());
        EXPECT_EQ(parameters.style, expected.Style);
        EXPECT_EQ(parameters.dwExStyle, 0);
        EXPECT_EQ(parameters.x, expected.ClientRect.left);
        EXPECT_EQ(parameters.y, expected.ClientRect.top);
        EXPECT_EQ(parameters.cx, expected.ClientRect.right - expected.ClientRect.left);
        EXPECT_EQ(parameters.cy, expected.ClientRect.bottom - expected.ClientRect.top);
        EXPECT_STRCASEEQ(ClassOf(created.Window).c_str(), expected.ClassName);
        EXPECT_EQ(TextOf(created.Window), expected.Text);
        EXPECT_TRUE(IsWindowUnicode(created.Window)) << "wide window call";
        EXPECT_EQ(SendMessageA(created.Window, WM_GETFONT, 0, 0), 0) << "no font is assigned";
    }
}

TEST_F(ControlWindowTest, FirstRunShowsTheDefaultsAndKeepsTheControlHandles)
{
    CreateWindowFromStoredSettings();
    EXPECT_EQ(AppState.CurrentFrequency, 2000);
    EXPECT_EQ(AppState.CurrentDurationMs, 50);
    EXPECT_EQ(ControlCheckState(Window(), IDC_RUN_AT_STARTUP), BST_CHECKED);
    EXPECT_EQ(ControlCheckState(Window(), IDC_BEEP_ON), BST_CHECKED);
    EXPECT_EQ(ControlCheckState(Window(), IDC_BEEP_FROM_BUZZER), BST_CHECKED);
    EXPECT_EQ(ControlCheckState(Window(), IDC_BEEP_FROM_SPEAKER), BST_UNCHECKED);
    EXPECT_EQ(AppState.RunAtStartupCheckBox, GetDlgItem(Window(), IDC_RUN_AT_STARTUP));
    EXPECT_EQ(AppState.BeepOnCheckBox, GetDlgItem(Window(), IDC_BEEP_ON));
}

TEST_F(ControlWindowTest, StoredSettingsAreShownWithTheDurationDividedBy500)
{
    WriteAllSettings("440", "30050", "1", "0", "0");
    CreateWindowFromStoredSettings();
    EXPECT_EQ(ControlText(Window(), IDC_FREQUENCY_EDIT), "440");
    EXPECT_EQ(ControlText(Window(), IDC_DURATION_EDIT), "60") << "fraction dropped";
    EXPECT_EQ(AppState.CurrentFrequency, 440);
    EXPECT_EQ(AppState.CurrentDurationMs, 60);
    EXPECT_EQ(ControlCheckState(Window(), IDC_RUN_AT_STARTUP), BST_UNCHECKED);
    EXPECT_EQ(ControlCheckState(Window(), IDC_BEEP_ON), BST_UNCHECKED);
    EXPECT_EQ(ControlCheckState(Window(), IDC_BEEP_FROM_SPEAKER), BST_CHECKED);
    EXPECT_EQ(ControlCheckState(Window(), IDC_BEEP_FROM_BUZZER), BST_UNCHECKED);
    EXPECT_EQ(AppState.TrayIconData.hIcon, ProgramIcon(IDI_BEEP_OFF));
    EXPECT_EQ(SpeakerTone(), "Beep 440 60");
}

TEST_F(ControlWindowTest, StoredFrequencyIsShownAsStoredAndReadAsTheBoxReadsIt)
{
    WriteAllSettings("abc", "25000", "0", "1", "1");
    CreateWindowFromStoredSettings();
    EXPECT_EQ(ControlText(Window(), IDC_FREQUENCY_EDIT), "abc");
    EXPECT_EQ(AppState.CurrentFrequency, 0) << "text that is no number reads as 0";
}

TEST_F(ControlWindowTest, WindowClassAndTrayIconRecord)
{
    CreateWindowFromStoredSettings();
    WNDCLASSEXA windowClass = {};
    windowClass.cbSize = sizeof(windowClass);
    ASSERT_TRUE(GetClassInfoExA(AppState.Instance, PK_WINDOW_CLASS, &windowClass));
    EXPECT_EQ(windowClass.style, (UINT)(CS_HREDRAW | CS_VREDRAW));
    EXPECT_EQ(windowClass.lpfnWndProc, MainWindowProc);
    EXPECT_EQ(windowClass.hIcon, ProgramIcon(IDI_BEEP_ON));
    EXPECT_EQ(windowClass.hCursor, LoadCursorA(NULL, IDC_ARROW));
    EXPECT_EQ(windowClass.hbrBackground, (HBRUSH)6);
    EXPECT_EQ(windowClass.lpszMenuName, (LPCSTR)NULL);

    const NOTIFYICONDATAA &icon = AppState.TrayIconData;
    EXPECT_EQ(icon.cbSize, 528u);
    EXPECT_EQ(icon.hWnd, Window());
    EXPECT_EQ(icon.uID, 0u);
    EXPECT_EQ(icon.uFlags, 7u);
    EXPECT_EQ(icon.uCallbackMessage, 1025u);
    EXPECT_STREQ(icon.szTip, PK_WINDOW_TITLE);
    EXPECT_EQ(icon.hIcon, ProgramIcon(IDI_BEEP_ON));
    EXPECT_NE(icon.hIcon, (HICON)NULL) << "icon resources linked in";
    // the shell knows the icon: changing it succeeds only for an added icon
    EXPECT_TRUE(Shell_NotifyIconA(NIM_MODIFY, &AppState.TrayIconData));
}

TEST_F(ControlWindowTest, IconResourcesHoldTheNineImagesAndDifferOnlyAboveSixteenPixels)
{
    HMODULE program = GetModuleHandleA(NULL);
    const int sizes[] = {48, 32, 16};
    for (int size : sizes) {
        HICON on = (HICON)LoadImageA(program, MAKEINTRESOURCEA(IDI_BEEP_ON), IMAGE_ICON, size,
                                     size, 0);
        HICON off = (HICON)LoadImageA(program, MAKEINTRESOURCEA(IDI_BEEP_OFF), IMAGE_ICON, size,
                                      size, 0);
        ASSERT_NE(on, (HICON)NULL) << size;
        ASSERT_NE(off, (HICON)NULL) << size;
        DestroyIcon(on);
        DestroyIcon(off);
    }
    // GRPICONDIR: reserved, type, count, then 14-byte entries ending in the image id
    std::vector<std::string> images[2];
    const int groups[] = {IDI_BEEP_ON, IDI_BEEP_OFF};
    for (int g = 0; g < 2; ++g) {
        HRSRC found = FindResourceA(program, MAKEINTRESOURCEA(groups[g]), RT_GROUP_ICON);
        ASSERT_NE(found, (HRSRC)NULL);
        const BYTE *directory = (const BYTE *)LockResource(LoadResource(program, found));
        ASSERT_EQ(*(const WORD *)(directory + 4), 9);
        const int depths[] = {4, 8, 32};
        for (int i = 0; i < 9; ++i) {
            const BYTE *entry = directory + 6 + 14 * i;
            SCOPED_TRACE(std::to_string(groups[g]) + " image " + std::to_string(i));
            EXPECT_EQ(entry[0], sizes[i % 3]);
            EXPECT_EQ(*(const WORD *)(entry + 6), depths[i / 3]);
            HRSRC image = FindResourceA(program, MAKEINTRESOURCEA(*(const WORD *)(entry + 12)),
                                        RT_ICON);
            ASSERT_NE(image, (HRSRC)NULL);
            images[g].push_back(std::string((const char *)LockResource(LoadResource(program, image)),
                                            SizeofResource(program, image)));
        }
    }
    for (int i = 0; i < 9; ++i) {
        if (sizes[i % 3] == 16) {
            EXPECT_EQ(images[0][i], images[1][i]) << "the plain loudspeaker in both, image " << i;
        } else {
            EXPECT_NE(images[0][i], images[1][i]) << "image " << i;
        }
    }
}

TEST_F(ControlWindowTest, MenuResourceHoldsThePopupWithItsThreeItems)
{
    HMENU resource = LoadMenuA(GetModuleHandleA(NULL), MAKEINTRESOURCEA(IDC_TAPSIGNAL));
    ASSERT_NE(resource, (HMENU)NULL);
    char text[64] = {};
    GetMenuStringA(resource, 0, text, sizeof(text), MF_BYPOSITION);
    EXPECT_STREQ(text, "PitchkeeperSysTrayMenu");
    HMENU popup = GetSubMenu(resource, 0);
    ASSERT_EQ(GetMenuItemCount(popup), 3);
    const char *texts[] = {"ON", "OFF", "STOP"};
    const UINT ids[] = {32765, 32766, 32767};
    for (int i = 0; i < 3; ++i) {
        GetMenuStringA(popup, i, text, sizeof(text), MF_BYPOSITION);
        EXPECT_STREQ(text, texts[i]);
        EXPECT_EQ(GetMenuItemID(popup, i), ids[i]);
    }
    DestroyMenu(resource);
}

// error.txt goes to the install folder whatever the current folder is,
// here a folder of its own
static void EnterEmptyLogFolder()
{
    char folder[MAX_PATH] = {};
    GetTempPathA(sizeof(folder), folder);
    strcat(folder, "pk-window-log");
    CreateDirectoryA(folder, NULL);
    ASSERT_TRUE(SetCurrentDirectoryA(folder));
    DeleteFileA(PK_ERROR_LOG_PATH);
}

TEST_F(ControlWindowTest, FailedClassRegistrationIsLoggedAndCreatesNothing)
{
    EnterEmptyLogFolder();
    // the class name is taken already
    WNDCLASSEXA taken = {};
    taken.cbSize = sizeof(taken);
    taken.lpfnWndProc = DefWindowProcA;
    taken.hInstance = AppState.Instance;
    taken.lpszClassName = PK_WINDOW_CLASS;
    ASSERT_NE(RegisterClassExA(&taken), 0);

    LoadSettings();
    CreateMainWindow();
    EXPECT_EQ(AppState.MainWindow, (HWND)NULL);
    EXPECT_EQ(AppState.TrayIconData.cbSize, 0u) << "no tray icon";
    EXPECT_EQ(ReadTextFile(PK_ERROR_LOG_PATH), "RegisterClassEx ERROR CODE = 1410\r\n");
    SetCurrentDirectoryA(InstallFolder().c_str());
}

// what a failing CreateWindowExA does to the control window: no window
static LRESULT CALLBACK RefuseControlWindow(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HCBT_CREATEWND) {
        LPCSTR className = ((CBT_CREATEWNDA *)lParam)->lpcs->lpszClass;
        if (!IS_INTRESOURCE(className) && strcmp(className, PK_WINDOW_CLASS) == 0) {
            return 1;
        }
    }
    return CallNextHookEx(NULL, code, wParam, lParam);
}

TEST_F(ControlWindowTest, FailedWindowCreationIsLoggedAndAddsNoIcon)
{
    LoadSettings();
    EnterEmptyLogFolder();
    ClearSystemCalls();
    HHOOK hook = SetWindowsHookExA(WH_CBT, RefuseControlWindow, NULL, GetCurrentThreadId());
    CreateMainWindow();
    UnhookWindowsHookEx(hook);
    EXPECT_EQ(AppState.MainWindow, (HWND)NULL);
    EXPECT_EQ(ReadTextFile(PK_ERROR_LOG_PATH), "hWnd ERROR CODE = 1400\r\n");
    EXPECT_TRUE(SystemCalls("Shell_NotifyIconA").empty()) << "no tray icon";
    SetCurrentDirectoryA(InstallFolder().c_str());
}

// This process's own debugger output, as OutputDebugStringA raises it
static std::vector<std::string> OwnDebugLines;

static LONG CALLBACK RecordOwnDebugLine(EXCEPTION_POINTERS *exception)
{
    if (exception->ExceptionRecord->ExceptionCode == DBG_PRINTEXCEPTION_C) {
        OwnDebugLines.push_back((const char *)exception->ExceptionRecord->ExceptionInformation[1]);
    }
    return EXCEPTION_CONTINUE_SEARCH;
}

// The installer's stop reaches only a resident that watches the install
// folder; one that cannot watch it says so, once.
TEST_F(ControlWindowTest, AnUnwatchableInstallFolderIsSaidOnce)
{
    ASSERT_TRUE(SetCurrentDirectoryA("C:\\"));
    ASSERT_TRUE(MoveFileA(PK_INSTALL_DIR, PK_INSTALL_DIR "-away"));
    OwnDebugLines.clear();
    void *handler = AddVectoredExceptionHandler(1, RecordOwnDebugLine);
    ListenForInstallerStop();
    RemoveVectoredExceptionHandler(handler);
    ASSERT_TRUE(MoveFileA(PK_INSTALL_DIR "-away", PK_INSTALL_DIR));
    ASSERT_EQ(OwnDebugLines.size(), 1u);
    EXPECT_EQ(OwnDebugLines[0].find("Pitchkeeper: cannot watch " PK_INSTALL_DIR
                                    " for the installer's stop file"),
              0u);
}

// An uninstall already under way when the resident starts: its stop file
// is there before the watch, and the window is asked to close at once.
TEST_F(ControlWindowTest, AStopFileMadeBeforeTheWatchClosesTheWindow)
{
    CreateWindowFromStoredSettings();
    HANDLE stopFile = CreateFileA(PK_STOP_FILE_PATH, GENERIC_WRITE, 0, NULL, CREATE_NEW,
                                  FILE_FLAG_DELETE_ON_CLOSE, NULL);
    ASSERT_NE(stopFile, INVALID_HANDLE_VALUE);
    // a watch left by an earlier start in this process saw the file come
    MSG message = {};
    Sleep(300);
    while (PeekMessageA(&message, Window(), WM_CLOSE, WM_CLOSE, PM_REMOVE)) {
    }
    ListenForInstallerStop();
    bool closeAsked = false;
    for (int i = 0; i < 100 && !closeAsked; ++i) {
        closeAsked = PeekMessageA(&message, Window(), WM_CLOSE, WM_CLOSE, PM_REMOVE);
        Sleep(closeAsked ? 0 : 20);
    }
    CloseHandle(stopFile);
    EXPECT_TRUE(closeAsked);
}
