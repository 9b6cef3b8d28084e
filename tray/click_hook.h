// The system-wide mouse hook and the one-shot worker that sounds a tone.
#pragma once

#include <windows.h>

LRESULT CALLBACK ClickBeepHook(int code, WPARAM wParam, LPARAM lParam);
// One worker per press or touch, while beeping is on.
void StartToneWorker();
void __cdecl BeepWorker(void *unused);
HANDLE OpenBeepDevice();
