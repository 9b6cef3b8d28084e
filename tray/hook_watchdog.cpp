#include "hook_watchdog.h"

#include "app_state.h"
#include "click_hook.h"
#include "resource.h"

// The system removes a low-level hook whose procedure was held past its
// time limit, and tells the program nothing; a hook it removed is simply
// never called again. So a hook that went a whole period without a single
// mouse event is replaced: that costs two calls while the mouse is idle and
// nothing while it is in use. A hook that was called may have been removed
// right after; it goes quiet and is replaced one period later.
static void CALLBACK RenewQuietClickHook(HWND, UINT, UINT_PTR, DWORD)
{
    if (AppState.MouseHookCalled) {
        AppState.MouseHookCalled = 0;
        return;
    }
    // the old one goes first: two hooks at once would sound a press twice
    if (AppState.MouseHook != NULL && !UnhookWindowsHookEx(AppState.MouseHook)) {
        OutputDebugStringA("Mouse hook was gone; set again");
        AppState.HookLosses++;
    }
    // a failed set is tried again at the next tick
    AppState.MouseHook = InstallClickHook();
    if (AppState.MouseHook != NULL) {
        AppState.HookRenewals++;
    }
}

HHOOK InstallClickHook()
{
    return SetWindowsHookExA(WH_MOUSE_LL, ClickBeepHook, GetModuleHandleA(NULL), 0);
}

// The timer runs on the main thread, which also serves the hook, so the
// hook is never replaced while its procedure runs. Message boxes and the
// tray menu dispatch the timer in their own loops.
void StartHookWatchdog()
{
    SetTimer(AppState.MainWindow, IDT_HOOK_WATCHDOG, HookWatchdogPeriodMs, RenewQuietClickHook);
}
