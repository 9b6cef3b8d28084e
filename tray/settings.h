// The per-user settings under HKCU\Software\VELMORA\VELMORABeep and the
// logon task. Every setter writes the registry first, then brings the
// state record and the visible controls into line.
#pragma once

void LoadSettings();
void SaveToneSettings(int frequency, int durationMs);
void SetOutputDevice(int value);     // 1 speaker, 0 buzzer
void SetBeepEnabled(int state);      // 1 on, 0 off
void SetRunAtStartup(int state);     // 1 creates the logon task, 0 deletes it

// Decimal readings of the cached slots, as the window shows them.
int CachedFrequency();
int CachedDurationMs();              // the stored number divided by 500
