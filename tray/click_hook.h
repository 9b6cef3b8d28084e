// The system-wide mouse hook and the one-shot worker that sounds a tone.
#pragma once

#include <windows.h>

LRESULT CALLBACK ClickBeepHook(int code, WPARAM wParam, LPARAM lParam);
void __cdecl BeepWorker(void *unused);
HANDLE OpenBeepDevice();
