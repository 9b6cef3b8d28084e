// The hidden control window, its controls and the tray icon.
#pragma once

#include <windows.h>

// where the window is created and where the show step puts it back
const int MainWindowX = 100;
const int MainWindowY = 100;
const int MainWindowWidth = 380;
const int MainWindowHeight = 220;

void CreateMainWindow();
// Adds the tray icon with the picture and tip of the current state.
void AddTrayIcon();
void RemoveTrayIcon();
