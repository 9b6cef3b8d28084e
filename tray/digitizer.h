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

// digitizer usages; the system's header names only some of them
const WORD DigitizerUsagePage = 0x0D;
const WORD DigitizerUsagePen = 0x02;
const WORD DigitizerUsageTouchScreen = 0x04;
const WORD DigitizerUsageTipSwitch = 0x42;
const WORD DigitizerUsageContactIdentifier = 0x51;
const WORD DigitizerUsageContactCount = 0x54;

// Fixed sizes keep the table's memory bounded whatever the devices send.
const int MaxDigitizers = 8;
// contact slots read from one report; touch screens carry up to ten
const int MaxContactSlots = 10;
// contacts of one frame told apart by their identifiers
const int MaxFrameContacts = 16;

struct ContactSet {
    DWORD Ids[MaxFrameContacts];
    BYTE Count;
};

struct DigitizerDevice {
    HANDLE Handle;                      // raw input handle; NULL marks a free entry
    BYTE Type;                          // DigitizerType
    BYTE Decoded;                       // one of its reports has been read
    BYTE Unusable;                      // its layout has no tip switch
    PHIDP_PREPARSED_DATA PreparsedData; // NULL until the system hands it out
    DWORD ReportLength;
    WORD ContactCollections[MaxContactSlots];   // link collections with a tip switch
    BYTE ContactSlots;
    BYTE HasContactCount;
    // A frame is one report, or the reports that the first one's contact
    // count announces.
    DWORD FrameContactsLeft;
    ContactSet FrameDown;               // contacts down so far in this frame
    ContactSet DownBefore;              // contacts down in the last whole frame
    BYTE SoundedThisFrame;
    BYTE FrameKeepsAContact;            // lists a contact that was down before
    DWORD LastReportTick;
};
