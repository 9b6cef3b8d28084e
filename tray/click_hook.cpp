#include "click_hook.h"

#include "app_state.h"
#include "pitchkeeper_shared.h"
#include "touch_input.h"

#include <process.h>
#include <stdio.h>

// The hook runs on the main thread and must return quickly, or the system
// drops it; all blocking work happens on the worker.
LRESULT CALLBACK ClickBeepHook(int code, WPARAM wParam, LPARAM lParam)
{
    AppState.MouseHookCalled = 1;   // alive; see hook_watchdog.cpp
    if (LOWORD(wParam) == WM_LBUTTONDOWN && lParam != 0 &&
        !IsPressFromDecodedDigitizer(((const MSLLHOOKSTRUCT *)lParam)->dwExtraInfo)) {
        StartToneWorker();
    }
    return CallNextHookEx(AppState.MouseHook, code, wParam, lParam);
}

void StartToneWorker()
{
    if (AppState.BeepEnabled == 1) {
        _beginthread(BeepWorker, 0, NULL);
    }
}

static void SendBuzzerRequest()
{
    HANDLE device = OpenBeepDevice();
    if (device == INVALID_HANDLE_VALUE) {
        return;
    }
    // an all-zero record: the driver takes pitch and length from the registry
    BYTE request[8] = {};
    DWORD bytesReturned = 0;
    DeviceIoControl(device, IOCTL_VELMORABEEP_BEEP, request, sizeof(request), NULL, 0,
                    &bytesReturned, NULL);
    CloseHandle(device);
}

void __cdecl BeepWorker(void *)
{
    OutputDebugStringA("Beep");
    if (AppState.ActiveOutput == 0) {
        Beep(AppState.CurrentFrequency, AppState.CurrentDurationMs);
    } else if (AppState.ActiveOutput == 1) {
        SendBuzzerRequest();
    }
}

HANDLE OpenBeepDevice()
{
    char devicePath[MAX_PATH];
    snprintf(devicePath, sizeof(devicePath), "\\\\.\\%s", PK_DEVICE_DOS_NAME);

    // the driver makes no DOS name of its own; define it on first use
    char existingTarget[MAX_PATH];
    if (QueryDosDeviceA(PK_DEVICE_DOS_NAME, existingTarget, sizeof(existingTarget)) == 0) {
        char target[MAX_PATH];
        snprintf(target, sizeof(target), "\\Device\\%s", PK_DEVICE_DOS_NAME);
        DefineDosDeviceA(DDD_RAW_TARGET_PATH, PK_DEVICE_DOS_NAME, target);
    }
    return CreateFileA(devicePath, FILE_GENERIC_READ | FILE_GENERIC_WRITE, 0, NULL,
                       OPEN_EXISTING, 0, NULL);
}
