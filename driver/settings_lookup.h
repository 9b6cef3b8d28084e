// The logged-on user's tone settings, read from that user's hive per request.
#pragma once

#include <ntddk.h>

struct ToneSettings {
    ULONG Frequency;  // Hz; 0 when missing or unreadable
    ULONG Duration;   // count of delay writes; 0 when missing or unreadable
};

ToneSettings ReadToneSettings();
