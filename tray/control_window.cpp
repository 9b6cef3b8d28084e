#include "control_window.h"

#include "app_state.h"
#include "pitchkeeper_shared.h"
#include "settings.h"

// TEMPORARY: a bare hidden window with the resident title, so that second
// starts can find the resident instance until the real control window lands.
void CreateMainWindow()
{
    WNDCLASSEXA windowClass = {};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.lpfnWndProc = DefWindowProcA;
    windowClass.hInstance = AppState.Instance;
    windowClass.lpszClassName = PK_WINDOW_CLASS;
    RegisterClassExA(&windowClass);
    AppState.MainWindow = CreateWindowExA(0, PK_WINDOW_CLASS, PK_WINDOW_TITLE, WS_SYSMENU, 100,
                                          100, 380, 220, NULL, NULL, AppState.Instance, NULL);
    AppState.CurrentFrequency = CachedFrequency();
    AppState.CurrentDurationMs = CachedDurationMs();
}
