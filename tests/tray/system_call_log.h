// What the tray program's code hands the system for the tone, the buzzer
// device, the tray icon and message boxes. The program's code is linked into
// each test program, so its calls go through the test program's own import
// table; at start-up the slots of those few functions are pointed at
// recorders, which note the call as one line and then call the system.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// One line per call, oldest first, for example "Beep 440 120".
std::vector<std::string> SystemCalls();
// Only the lines of one function, for example "MessageBoxA".
std::vector<std::string> SystemCalls(const std::string &function);
void ClearSystemCalls();

// No driver answers under Wine. While this is on, opening a device path
// ("\\.\...") gives a stand-in handle, named "device" in the lines, so that
// the request sent on it and the closing of it can be seen.
void StandInForDevices(bool on);

// While on, every Beep waits before it is recorded, as a long tone keeps
// its worker alive.
void HoldTones(bool on);

// A raw-input handle the system's device queries answer for as a touch
// screen named "\\?\HID#StandIn#<number>" (number below 256).
HANDLE StandInTouchScreen(unsigned number);
