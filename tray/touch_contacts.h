// When a touch screen's or pen's contacts make a tone, and which presses
// the system makes from them are already heard.
#pragma once

#include "digitizer.h"

// One contact slot as a report gives it.
struct ContactReading {
    DWORD Id;        // the contact identifier, or the slot's place when there is none
    BYTE Down;       // tip or eraser on, and not a palm
    BYTE InRange;
};

// Takes the contacts of one report of the device, and the contact count
// the report announces (0 when it gives none). A contact that lands after
// none sounds at once.
void ReadContacts(DigitizerDevice &device, const ContactReading *contacts, ULONG read, ULONG announced,
                  LONGLONG arrivalTicks);
// True for a press the system made from a touch or pen contact that has
// sounded already: a contact of that kind that sounded is down or has just
// lifted. Every other press sounds, so a touch the reports missed is heard
// at least when the system makes its press.
bool IsPressOfASoundedContact(ULONG_PTR extraInfo);
