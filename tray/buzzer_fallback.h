// The buzzer sounds only while its driver runs. A driver that cannot start
// (a test-signed one on a machine with Secure Boot) must not leave every
// tap silent behind a control window that still says "Beep from Buzzer":
// such tones go through the speaker, and the user is told.
#pragma once

#include <windows.h>

enum BuzzerState {
    BuzzerUntried,      // no open tried since start
    BuzzerOpens,
    BuzzerCannotOpen,   // tones go through the speaker
};

// Any thread: the result of an open of the buzzer's device (ERROR_SUCCESS
// when it opened). A change reaches the main thread as WM_BUZZER_CHANGED.
void NoteBuzzerOpen(DWORD error);
// Any thread: opens and closes the device once, and notes the result.
void ProbeBuzzer();
// Main thread: the icon's tip for the present state, and the balloon when
// the buzzer has just become unable to sound.
void ShowBuzzerState();
// The tip the tray icon carries now; size is szTip's.
void WriteTrayTip(char *tip, size_t size);
