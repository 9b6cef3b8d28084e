// The table of touch screens and pens and what is learnt of each device's
// report layout.
#pragma once

#include "digitizer.h"

// Takes note of the digitizers present now.
void TrackPresentDigitizers();
// The device's entry, made when it is a touch screen or pen and there is
// room; NULL otherwise.
DigitizerDevice *TrackDigitizer(HANDLE handle);
// Drops the entry of a device that has gone; its handle is dead by now.
void ForgetDigitizer(HANDLE handle);
// Reads the layout once the system hands out the device's preparsed data,
// which it may not do yet right after the device arrived.
bool HasReadableLayout(DigitizerDevice &device);
