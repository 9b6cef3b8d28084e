// The system-wide mouse hook: each left press starts a tone.
#pragma once

#include <windows.h>

LRESULT CALLBACK ClickBeepHook(int code, WPARAM wParam, LPARAM lParam);
