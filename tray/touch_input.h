// Touch screens and pens, read as raw input so that a touch sounds when the
// finger lands: the system turns a tap into a left press only at lift, a
// press-and-hold into a right press, and a pan into none.
#pragma once

#include <windows.h>

// Loads the HID parsing library, registers the window for digitizer input
// and takes note of the digitizers already present.
void ListenForDigitizers(HWND window);
void HandleRawInput(HRAWINPUT input);
void HandleInputDeviceChange(WPARAM change, HANDLE device);
// True for a press the system made from a contact of a touch screen or pen
// while a device of that kind is decoded: that contact has sounded already.
bool IsPressFromDecodedDigitizer(ULONG_PTR extraInfo);
