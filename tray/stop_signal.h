// The installer's machine-wide request to end: uninstall and upgrade run
// as SYSTEM in session 0, where no window of a user's session is visible.
#pragma once

#include <windows.h>

// Has the main window receive WM_CLOSE, and so end as "Stop Pitchkeeper"
// does, once the installer makes its stop file in the install folder, where
// only SYSTEM and Administrators can create one. A folder that cannot be
// watched is said once on the debugger output.
void ListenForInstallerStop();
