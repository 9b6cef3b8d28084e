#include "window_fixture.h"

#include "control_window.h"
#include "pitchkeeper_shared.h"
#include "settings.h"

#include <tlhelp32.h>

static bool NoTaskToolRunning(void *)
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32 entry = {};
    entry.dwSize = sizeof(entry);
    bool found = false;
    for (BOOL more = Process32First(snapshot, &entry); more && !found;
         more = Process32Next(snapshot, &entry)) {
        found = lstrcmpiA(entry.szExeFile, "SchTasks.exe") == 0;
    }
    CloseHandle(snapshot);
    return !found;
}

void ControlWindowTest::SetUp()
{
    ResetAppState();
    DeleteSettingsKey();
    // task commands of the test before may still be on their way to the log
    WaitUntil(NoTaskToolRunning, NULL, 10000);
    ClearRecordedTaskCommands();
    AppState.Instance = GetModuleHandleA(NULL);
    // as the installed program runs: the task tool is looked up here too
    SetCurrentDirectoryA(InstallFolder().c_str());
}

void ControlWindowTest::TearDown()
{
    if (AppState.MainWindow != NULL) {
        Shell_NotifyIconA(NIM_DELETE, &AppState.TrayIconData);
        DestroyWindow(AppState.MainWindow);
    }
    if (AppState.TrayMenu != NULL) {
        DestroyMenu(AppState.TrayMenu);
    }
    UnregisterClassA(PK_WINDOW_CLASS, AppState.Instance);
}

void ControlWindowTest::CreateWindowFromStoredSettings()
{
    LoadSettings();
    CreateMainWindow();
    ASSERT_NE(AppState.MainWindow, (HWND)NULL);
}

LRESULT ControlWindowTest::Command(WORD id, LPARAM lParam)
{
    return SendMessageA(AppState.MainWindow, WM_COMMAND, id, lParam);
}

void ControlWindowTest::SetBoxText(int id, const char *text)
{
    SetDlgItemTextA(AppState.MainWindow, id, text);
}

// BM_CLICK makes the control itself notify its parent, as a user's click does
void ControlWindowTest::ClickButton(int id)
{
    SendDlgItemMessageA(AppState.MainWindow, id, BM_CLICK, 0, 0);
}

ModalWatch::ModalWatch(std::vector<WPARAM> keys)
    : menuKeys(std::move(keys)), windowThread(GetCurrentThreadId()), done(false),
      thread(&ModalWatch::Run, this)
{
}

ModalWatch::~ModalWatch()
{
    Finish();
}

ModalRecord ModalWatch::Finish()
{
    done = true;
    if (thread.joinable()) {
        thread.join();
    }
    return record;
}

// Window texts read without a message: the window's thread may be waiting
// for this one, and a WM_GETTEXT would then never be answered.
static std::string StoredText(HWND window)
{
    wchar_t wide[512] = {};
    InternalGetWindowText(window, wide, 512);
    char text[512] = {};
    WideCharToMultiByte(CP_ACP, 0, wide, -1, text, sizeof(text), NULL, NULL);
    return text;
}

static std::string ClassNameOf(HWND window)
{
    char name[64] = {};
    GetClassNameA(window, name, sizeof(name));
    return name;
}

static BOOL CALLBACK FindWarningBox(HWND window, LPARAM found)
{
    if (ClassNameOf(window) == "#32770" && StoredText(window) == "Warning" &&
        IsWindowVisible(window)) {
        *(HWND *)found = window;
        return FALSE;
    }
    return TRUE;
}

// the message text is the one static control that holds text
static BOOL CALLBACK FindBoxText(HWND child, LPARAM text)
{
    if (lstrcmpiA(ClassNameOf(child).c_str(), "Static") == 0 && !StoredText(child).empty()) {
        *(std::string *)text = StoredText(child);
        return FALSE;
    }
    return TRUE;
}

static bool WindowGone(void *window)
{
    return !IsWindow((HWND)window);
}

static HWND OpenMenuWindow()
{
    HWND menu = FindWindowA("#32768", NULL);
    return menu != NULL && IsWindowVisible(menu) ? menu : NULL;
}

static bool MenuClosed(void *)
{
    return OpenMenuWindow() == NULL;
}

static std::vector<std::string> MenuItems(HMENU menu)
{
    std::vector<std::string> items;
    for (int position = 0; position < GetMenuItemCount(menu); ++position) {
        char text[128] = {};
        GetMenuStringA(menu, position, text, sizeof(text), MF_BYPOSITION);
        items.push_back(std::string(text) + "=" + std::to_string(GetMenuItemID(menu, position)));
    }
    return items;
}

void ModalWatch::Run()
{
    while (!done) {
        HWND box = NULL;
        EnumThreadWindows(windowThread, FindWarningBox, (LPARAM)&box);
        if (box != NULL) {
            std::string text;
            EnumChildWindows(box, FindBoxText, (LPARAM)&text);
            record.WarningTexts.push_back(text);
            record.WarningOwners.push_back(GetWindow(box, GW_OWNER));
            PostMessageA(box, WM_COMMAND, IDOK, 0);
            WaitUntil(WindowGone, box, 5000);
        }
        HWND menu = OpenMenuWindow();
        if (menu != NULL) {
            RECT rect = {};
            GetWindowRect(menu, &rect);
            record.MenuRects.push_back(rect);
            record.Menus.push_back(MenuItems(AppState.TrayMenu));
            CloseMenu();
        }
        Sleep(10);
    }
}

// The menu loop takes key presses from the thread's queue, whatever window
// they are posted to.
void ModalWatch::CloseMenu()
{
    for (WPARAM key : menuKeys) {
        PostMessageA(AppState.MainWindow, WM_KEYDOWN, key, 0);
        PostMessageA(AppState.MainWindow, WM_KEYUP, key, 0xC0000000);
    }
    if (!menuKeys.empty() && WaitUntil(MenuClosed, NULL, 5000)) {
        return;
    }
    // what a click elsewhere does: the tracked menu ends without a choice
    PostMessageA(AppState.MainWindow, WM_CANCELMODE, 0, 0);
    WaitUntil(MenuClosed, NULL, 5000);
}
