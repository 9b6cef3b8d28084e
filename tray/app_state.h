// The tray program's one process-wide state record. Only the main thread
// writes it; click workers read ActiveOutput, CurrentFrequency and
// CurrentDurationMs, each a single byte or 32-bit value stored at once.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include "digitizer.h"
#include "tone_worker.h"

struct HidParsing;

struct TrayAppState {
    // settings mirrors, see settings.cpp
    BYTE BeepEnabled;          // 1: a press sounds a tone
    BYTE ActiveOutput;         // 0 speaker (Beep), 1 buzzer (driver); inverse of OutputDevice
    BYTE RunAtStartupEnabled;
    BYTE SettingsLoaded;       // the key was read completely or a tone setting written
    LONG CurrentFrequency;     // Hz for the speaker output, as shown in the window
    LONG CurrentDurationMs;    // ms for the speaker output, as shown in the window

    HINSTANCE Instance;
    HHOOK MouseHook;
    BYTE MouseHookCalled;      // the hook ran since the watchdog last looked
    LONG HookRenewals;         // hooks the watchdog set again, see hook_watchdog.cpp
    LONG HookLosses;           // of those, hooks the system had taken away
    HANDLE DriverStartThread;  // the last install started by a switch to the buzzer

    HWND MainWindow;
    HWND RunAtStartupCheckBox;
    HWND BeepOnCheckBox;
    NOTIFYICONDATAA TrayIconData;
    UINT TaskbarCreatedMessage;   // the shell's restart announcement; 0 until registered
    HMENU TrayMenu;            // the tray menu built last
    BYTE ShowStepRunning;      // a show step is under way; see ShowControlWindow

    ToneCounters Tones;        // see tone_worker.cpp
    volatile LONG BuzzerState; // BuzzerState, written by workers; see buzzer_fallback.cpp
    volatile DWORD BuzzerError; // why the buzzer's device last failed to open

    // touch screens and pens, see touch_input.cpp
    const HidParsing *Hid;     // NULL when hid.dll could not be loaded
    DigitizerDevice Digitizers[MaxDigitizers];
};

extern TrayAppState AppState;

// One 8-byte text slot per registry value: at most 7 characters and a zero.
enum SettingSlot {
    SlotFrequency,
    SlotDuration,      // the stored milliseconds * 500
    SlotOutputDevice,
    SlotServiceStatus,
    SlotRunAtStartup,
    SettingSlotCount
};
const int SettingSlotSize = 8;

extern char SettingsCache[SettingSlotCount][SettingSlotSize];

// Puts the state record and the cache back to their values at process start.
void ResetAppState();
