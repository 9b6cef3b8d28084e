// What the resident hands a start with -status: plain copies of its counts,
// of fixed size, so that the asking side can check an answer by its size
// alone before it reads a byte of it.
#pragma once

#include <windows.h>

#include "digitizer.h"
#include "tone_worker.h"

// the answer's WM_COPYDATA tag; a change of the layout changes it
const ULONG_PTR StatusSnapshotTag = 0x504B5301;
const int StatusVersionSize = 16;

struct StatusDigitizer {
    char Name[MAX_PATH];
    BYTE Type;       // DigitizerType
    BYTE Style;      // ReportStyle
    BYTE Present;    // attached now
    DigitizerCounts Counts;
};

struct StatusSnapshot {
    char Version[StatusVersionSize];
    BYTE BeepEnabled;
    BYTE ActiveOutput;       // 0 speaker, 1 buzzer
    BYTE HookSet;
    LONG BuzzerState;        // BuzzerState
    DWORD BuzzerError;
    LONG HookRenewals;
    LONG HookLosses;
    LONG Presses;
    LONG Started;
    LONG Dropped;
    LONG Failed;
    DWORD LastError;
    LONG LatencyRecorded[ToneSourceCount];
    LONG LatencyMicroseconds[ToneSourceCount][LatencySamples];
    LONG DigitizerCount;
    StatusDigitizer Digitizers[MaxDigitizers];
};
