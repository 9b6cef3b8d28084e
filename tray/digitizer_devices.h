// The table of touch screens and pens and what is learnt of each device's
// report layout.
#pragma once

#include "digitizer.h"

// The device's entry. A touch screen or pen takes one when it first
// reports, while one is free or idle; NULL for any other device or when
// every entry is in use.
DigitizerDevice *DigitizerForReport(HANDLE handle);
// A device that has gone; its handle is dead by now.
void ForgetDigitizer(HANDLE handle);
// Reads the layout once the system hands out the device's preparsed data,
// which it may not do yet right after the device arrived.
bool HasReadableLayout(DigitizerDevice &device);
