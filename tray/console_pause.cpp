#include "console_pause.h"

#include <windows.h>

static void WaitForKeyPress(HANDLE input);

// The runtime's system("PAUSE") would start whatever ComSpec names, and an
// elevated program inherits that from the user's own, writable environment.
void PauseForAnyKey(FILE *console)
{
    fputs("Press any key to continue . . . ", console);
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    if (GetConsoleMode(input, &mode)) {
        WaitForKeyPress(input);
    } else {
        // input handed over as a pipe or file: one byte, or its end
        char byte = 0;
        DWORD got = 0;
        ReadFile(input, &byte, 1, &got, NULL);
    }
    fputs("\n", console);
}

static bool IsModifierKey(WORD virtualKey)
{
    return virtualKey == VK_SHIFT || virtualKey == VK_CONTROL || virtualKey == VK_MENU ||
           virtualKey == VK_CAPITAL || virtualKey == VK_NUMLOCK || virtualKey == VK_SCROLL ||
           virtualKey == VK_LWIN || virtualKey == VK_RWIN;
}

// A key going down, not Shift or Ctrl alone; mouse and focus events of the
// console window are passed over. Ends when the console input fails.
static void WaitForKeyPress(HANDLE input)
{
    FlushConsoleInputBuffer(input);
    for (;;) {
        INPUT_RECORD record = {};
        DWORD got = 0;
        if (!ReadConsoleInputA(input, &record, 1, &got)) {
            return;
        }
        if (got == 1 && record.EventType == KEY_EVENT && record.Event.KeyEvent.bKeyDown &&
            !IsModifierKey(record.Event.KeyEvent.wVirtualKeyCode)) {
            return;
        }
    }
}
