// What the resident knows of each touch screen and pen it reads as raw
// input.
#pragma once

#include <windows.h>

// as the HID parsing header names it; the layout is the system's own
typedef struct _HIDP_PREPARSED_DATA *PHIDP_PREPARSED_DATA;

enum DigitizerType {
    DigitizerTypeTouchScreen = 0,
    DigitizerTypePen = 1,
};

// How a device lays its contacts out over its reports; the status report
// names the one recognised.
enum ReportStyle {
    StyleUnknown,       // nothing read yet
    StyleParallel,      // every contact of a frame in one report, with a count
    StyleHybrid,        // a frame over several reports, the count in the first
    StyleSerial,        // one contact per report, no count
    StyleSingleTouch,   // one contact, neither identifier nor count
    StylePen,
};

// digitizer usages; the system's header names only some of them
const WORD DigitizerUsagePage = 0x0D;
const WORD DigitizerUsagePen = 0x02;
const WORD DigitizerUsageTouchScreen = 0x04;
const WORD DigitizerUsageInRange = 0x32;
const WORD DigitizerUsageInvert = 0x3C;
const WORD DigitizerUsageTipSwitch = 0x42;
const WORD DigitizerUsageEraser = 0x45;
const WORD DigitizerUsageConfidence = 0x47;
const WORD DigitizerUsageContactIdentifier = 0x51;
const WORD DigitizerUsageContactCount = 0x54;

// Fixed sizes keep the table's memory bounded whatever the devices send.
const int MaxDigitizers = 8;
// contact slots read from one report; touch screens carry up to ten
const int MaxContactSlots = 10;
// contacts of one frame told apart by their identifiers
const int MaxFrameContacts = 16;

struct ContactSlot {
    USHORT Collection;     // the link collection holding its tip switch or eraser
    BYTE HasConfidence;    // the device says whether a contact is intended
    BYTE HasIdentifier;
};

struct ContactSet {
    DWORD Ids[MaxFrameContacts];
    DWORD SeenTicks[MaxFrameContacts];   // when each was last listed
    BYTE Count;
};

// What the status report shows of each device.
struct DigitizerCounts {
    LONG Reports;
    LONG Touches;          // touches that sounded
    LONG PassedOver;       // presses the system made from a touch that sounded
    LONG SoundedAtLift;    // such presses no decoded touch accounted for
};

struct DigitizerDevice {
    HANDLE Handle;                      // raw input handle; NULL once gone or never used
    char Name[MAX_PATH];                // the system's device name, "" when it gave none
    BYTE Type;                          // DigitizerType
    BYTE Style;                         // ReportStyle
    BYTE Unusable;                      // its layout has no contact slot
    PHIDP_PREPARSED_DATA PreparsedData; // NULL until the system hands it out
    DWORD ReportLength;
    ContactSlot Slots[MaxContactSlots];
    BYTE ContactSlots;
    BYTE HasContactCount;

    // A frame is one report, or the reports that the first one's contact
    // count announces; it lists every contact down at that moment.
    DWORD FrameAnnounced;               // the count as the first report gave it
    DWORD FrameContactsLeft;
    ContactSet FrameListed;             // contacts listed so far, down or lifting
    ContactSet FrameDown;               // contacts down so far
    BYTE FrameSounded;
    BYTE FrameKeepsAContact;            // lists a contact that was down before

    ContactSet Down;                    // contacts down (palms left out)
    BYTE TouchSounded;                  // the touch now or last made a tone
    BYTE InRange;                       // a pen is near the screen
    DWORD LastReportTick;
    DWORD LiftTick;                     // when the last contact lifted

    DigitizerCounts Counts;
};
