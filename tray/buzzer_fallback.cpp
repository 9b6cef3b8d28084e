#include "buzzer_fallback.h"

#include "app_state.h"
#include "pitchkeeper_shared.h"
#include "tone_worker.h"
#include "window_proc.h"

#include <stdio.h>

void NoteBuzzerOpen(DWORD error)
{
    LONG state = error == ERROR_SUCCESS ? BuzzerOpens : BuzzerCannotOpen;
    if (error != ERROR_SUCCESS) {
        AppState.BuzzerError = error;
    }
    // only the worker that changes the state tells the main thread, so an
    // outage is announced once however many tones meet it
    if (InterlockedExchange(&AppState.BuzzerState, state) != state && AppState.MainWindow != NULL) {
        PostMessageA(AppState.MainWindow, WM_BUZZER_CHANGED, 0, 0);
    }
}

void ProbeBuzzer()
{
    HANDLE device = OpenBeepDevice();
    if (device == INVALID_HANDLE_VALUE) {
        NoteBuzzerOpen(GetLastError());
        return;
    }
    CloseHandle(device);
    NoteBuzzerOpen(ERROR_SUCCESS);
}

void WriteTrayTip(char *tip, size_t size)
{
    if (AppState.BuzzerState == BuzzerCannotOpen) {
        snprintf(tip, size, "%s: the buzzer cannot sound (error %lu), tones go through the speaker",
                 PK_WINDOW_TITLE, AppState.BuzzerError);
    } else {
        snprintf(tip, size, "%s", PK_WINDOW_TITLE);
    }
}

// The balloon is shown through a copy: the record kept for later changes
// of the icon must not carry it, or each of them would show it again.
void ShowBuzzerState()
{
    NOTIFYICONDATAA &kept = AppState.TrayIconData;
    WriteTrayTip(kept.szTip, sizeof(kept.szTip));
    NOTIFYICONDATAA icon = kept;
    icon.uFlags = NIF_TIP;
    if (AppState.BuzzerState == BuzzerCannotOpen) {
        icon.uFlags |= NIF_INFO;
        icon.dwInfoFlags = NIIF_WARNING;
        snprintf(icon.szInfoTitle, sizeof(icon.szInfoTitle), "The buzzer cannot sound");
        snprintf(icon.szInfo, sizeof(icon.szInfo),
                 "Its driver's device cannot be opened (error %lu), so tones go through the "
                 "speaker. README, \"Checking a machine\", says why and what to do.",
                 AppState.BuzzerError);
        OutputDebugStringA(icon.szInfo);
    }
    Shell_NotifyIconA(NIM_MODIFY, &icon);
}
