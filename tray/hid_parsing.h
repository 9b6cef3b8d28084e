// The system's HID parsing library, which reads digitizer reports by the
// layout each device describes.
#pragma once

#include <windows.h>
// the HID parsing header takes the kernel status type as given
#include <winternl.h>
#include <hidusage.h>
#include <hidpi.h>

struct HidParsing {
    decltype(&HidP_GetCaps) GetCaps;
    decltype(&HidP_GetButtonCaps) GetButtonCaps;
    decltype(&HidP_GetValueCaps) GetValueCaps;
    decltype(&HidP_GetUsages) GetUsages;
    decltype(&HidP_GetUsageValue) GetUsageValue;
};

// Loads hid.dll from the system folder only and points AppState.Hid at
// its routines; false when it is not there.
bool LoadHidParsing();
