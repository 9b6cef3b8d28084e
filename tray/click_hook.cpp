#include "click_hook.h"

#include "app_state.h"
#include "tone_worker.h"
#include "touch_contacts.h"

// The hook runs on the main thread and must return quickly, or the system
// drops it; all blocking work happens on the worker.
LRESULT CALLBACK ClickBeepHook(int code, WPARAM wParam, LPARAM lParam)
{
    AppState.MouseHookCalled = 1;   // alive; see hook_watchdog.cpp
    if (LOWORD(wParam) == WM_LBUTTONDOWN && lParam != 0) {
        LONGLONG arrival = ToneArrivalNow();
        InterlockedIncrement(&AppState.Tones.Presses);
        if (!IsPressOfASoundedContact(((const MSLLHOOKSTRUCT *)lParam)->dwExtraInfo)) {
            StartToneWorker(ToneFromPress, arrival);
        }
    }
    return CallNextHookEx(AppState.MouseHook, code, wParam, lParam);
}
