// The popup menu of the tray icon.
#pragma once

#include <windows.h>

// Builds the menu for the present state and tracks it at the cursor; a
// chosen item reaches the window as WM_COMMAND.
void ShowTrayMenu(HWND window);
