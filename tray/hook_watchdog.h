// Keeps the click hook in place for as long as the program runs.
#pragma once

#include <windows.h>

// How often the main thread looks after the hook. A lost hook is back
// within two periods.
const UINT HookWatchdogPeriodMs = 3000;

// Sets ClickBeepHook for every thread of the desktop; the handle or NULL.
HHOOK InstallClickHook();
// Starts the main-thread timer that renews a hook gone quiet; the hook must
// be set already.
void StartHookWatchdog();
