// The per-user settings under HKCU\Software\VELMORA\VELMORABeep and the
// logon task. Every setter writes the registry first, then brings the
// state record and the visible controls into line.
#pragma once

#include <windows.h>

void LoadSettings();
void SaveToneSettings(int frequency, int durationMs);
void SetOutputDevice(int value);     // 1 speaker, 0 buzzer
void SetBeepEnabled(int state);      // 1 on, 0 off
void SetRunAtStartup(int state);     // 1 creates the logon task, 0 deletes it

// Bring the controls into line with the state record; both do nothing
// before the control window exists.
// Ticks the box for state 1 and clears it for 0; other states leave it.
void ShowStateOnCheckBox(HWND checkBox, BYTE state);
// Checks the radio button of the output in ActiveOutput.
void ShowActiveOutput();

// Decimal readings of the cached slots, as the window shows them.
int CachedFrequency();
int CachedDurationMs();              // the stored number divided by 500
