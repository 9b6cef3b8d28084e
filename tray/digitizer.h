// What the resident knows of each touch screen and pen it reads as raw
// input, and the HID parsing routines it reads their reports with.
#pragma once

#include <windows.h>
// the HID parsing header takes the kernel status type as given
#include <winternl.h>
#include <hidusage.h>
#include <hidpi.h>

enum DigitizerType {
    DigitizerTypeTouchScreen = 0,
    DigitizerTypePen = 1,
};

// usages the system's header does not name
const USAGE DigitizerUsageTouchScreen = 0x04;
const USAGE DigitizerUsageContactIdentifier = 0x51;
const USAGE DigitizerUsageContactCount = 0x54;

// Fixed sizes keep the table's memory bounded whatever the devices send.
const int MaxDigitizers = 8;
// contact slots read from one report; touch screens carry up to ten
const int MaxContactSlots = 10;
// contacts of one frame told apart by their identifiers
const int MaxFrameContacts = 16;

struct ContactSet {
    ULONG Ids[MaxFrameContacts];
    BYTE Count;
};

struct DigitizerDevice {
    HANDLE Handle;                      // raw input handle; NULL marks a free entry
    BYTE Type;                          // DigitizerType
    BYTE Decoded;                       // one of its reports has been read
    BYTE Unusable;                      // its layout has no tip switch
    PHIDP_PREPARSED_DATA PreparsedData; // NULL until the system hands it out
    ULONG ReportLength;
    USHORT ContactCollections[MaxContactSlots];   // link collections with a tip switch
    BYTE ContactSlots;
    BYTE HasContactCount;
    // A frame is one report, or the reports that the first one's contact
    // count announces.
    ULONG FrameContactsLeft;
    ContactSet FrameDown;               // contacts down so far in this frame
    ContactSet DownBefore;              // contacts down in the last whole frame
    BYTE SoundedThisFrame;
    BYTE FrameKeepsAContact;            // lists a contact that was down before
    DWORD LastReportTick;
};

// hid.dll, loaded from the system folder when the resident starts
struct HidParsing {
    decltype(&HidP_GetCaps) GetCaps;
    decltype(&HidP_GetButtonCaps) GetButtonCaps;
    decltype(&HidP_GetValueCaps) GetValueCaps;
    decltype(&HidP_GetUsages) GetUsages;
    decltype(&HidP_GetUsageValue) GetUsageValue;
};
