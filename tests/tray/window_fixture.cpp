#include "window_fixture.h"

#include "tone_worker.h"
#include "control_window.h"
#include "pitchkeeper_shared.h"
#include "settings.h"
#include "system_call_log.h"


static bool NoTaskToolRunning(void *)
{
    return CountProcesses("SchTasks.exe") == 0;
}

void ControlWindowTest::SetUp()
{
    ResetAppState();
    DeleteSettingsKey();
    // task commands of the test before may still be on their way to the log
    WaitUntil(NoTaskToolRunning, NULL, 10000);
    ClearRecordedTaskCommands();
    ClearSystemCalls();
    AppState.Instance = GetModuleHandleA(NULL);
    // as the installed program runs, beside a planted copy of the task tool
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

// the press's worker, run on the test's thread
std::string ControlWindowTest::SpeakerTone()
{
    BYTE output = AppState.ActiveOutput;
    AppState.ActiveOutput = 0;
    ClearSystemCalls();
    SoundTone();
    AppState.ActiveOutput = output;
    std::vector<std::string> calls = SystemCalls();
    return calls.size() == 1 ? calls[0] : "not one call";
}

ModalWatch::ModalWatch(std::vector<WPARAM> keys)
    : menuKeys(std::move(keys)), done(false), thread(&ModalWatch::Run, this)
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
        HWND box = FindMessageBox("Warning");
        if (box != NULL) {
            record.WarningTexts.push_back(MessageBoxText(box));
            record.WarningOwners.push_back(GetWindow(box, GW_OWNER));
            DismissMessageBox(box);
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
