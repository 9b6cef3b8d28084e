// Touch screens and pens, read as raw input so that a touch sounds when the
// finger lands: the system turns a tap into a left press only at lift, a
// press-and-hold into a right press, and a pan into none.
#pragma once

#include <windows.h>

// Loads the HID parsing library and registers the window for digitizer
// input.
void ListenForDigitizers(HWND window);
void HandleRawInput(HRAWINPUT input);
void HandleInputDeviceChange(WPARAM change, HANDLE device);
