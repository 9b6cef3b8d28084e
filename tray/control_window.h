// The hidden control window, its controls and the tray icon.
#pragma once

#include <windows.h>

// where the window is created and where the show step puts it back
const int MainWindowX = 100;
const int MainWindowY = 100;
const int MainWindowWidth = 380;
const int MainWindowHeight = 220;

void CreateMainWindow();

// Ticks the box for state 1 and clears it for 0; other states leave it.
void ShowStateOnCheckBox(HWND checkBox, BYTE state);
// Checks the radio button of the output in ActiveOutput.
void ShowActiveOutput();
