// Pitchkeeper: sounds a short tone on every primary-button press or tap.
// Started without arguments it becomes the one resident instance; started
// with arguments it forwards them to that instance and ends.

#include "app_state.h"
#include "command_line.h"
#include "control_window.h"
#include "driver_install.h"
#include "error_log.h"
#include "hook_watchdog.h"
#include "pitchkeeper_shared.h"
#include "settings.h"
#include "stop_signal.h"
#include "touch_input.h"

#include <shellapi.h>

static int RunResidentInstance(HINSTANCE instance);
static int RunMessageLoop();

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    int argc = 0;
    wchar_t **argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (argv != NULL && argc >= 2) {
        return RunCommandLine(argc, argv);
    }
    return RunResidentInstance(instance);
}

static int RunResidentInstance(HINSTANCE instance)
{
    AppState.Instance = instance;

    // held, never closed, for the life of the process
    HANDLE instanceMutex = CreateMutexA(NULL, TRUE, PK_INSTANCE_MUTEX);
    if (instanceMutex == NULL) {
        return 0;
    }
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        SendMessageA(FindWindowA(NULL, PK_WINDOW_TITLE), WM_SHOWWINDOW, 0, 0);
        return 0;
    }

    LoadSettings();
    CreateMainWindow();
    ListenForInstallerStop();
    ListenForDigitizers(AppState.MainWindow);

    // before anything that can wait for a person: the install's error
    // boxes serve the hook in their own loops, so presses sound meanwhile
    AppState.MouseHook = InstallClickHook();
    if (AppState.MouseHook == NULL) {
        AppendErrorLine("HHOOK ERROR CODE = %d\n", (int)GetLastError());
        // the icon would otherwise stay behind until the mouse passes over it
        RemoveTrayIcon();
        return 0;
    }
    StartHookWatchdog();
    if (AppState.ActiveOutput == 1) {
        EnsureDriverRunning();
    }
    return RunMessageLoop();
}

// Low-level hooks are served through this loop, so it must keep running.
static int RunMessageLoop()
{
    MSG message = {};
    while (GetMessageA(&message, NULL, 0, 0)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    UnhookWindowsHookEx(AppState.MouseHook);
    return (int)message.wParam;
}
