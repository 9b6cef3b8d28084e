// The installer's machine-wide request to end: uninstall and upgrade run
// as SYSTEM in session 0, where no window of a user's session is visible.
#pragma once

#include <windows.h>

// Has the window receive WM_CLOSE, and so end as "Stop Pitchkeeper" does,
// once the installer sets the stop event. Without such an event of the
// right owner nothing is listened to.
void ListenForInstallerStop(HWND window);
