// The logged-on user's tone settings, read from that user's hive per request.
#pragma once

#include <ntddk.h>

// The driver's pool tag, "VmBp" in pool listings (the kernel shows the low byte first).
constexpr ULONG kTonePoolTag = 'V' | 'm' << 8 | 'B' << 16 | static_cast<ULONG>('p') << 24;

struct ToneSettings {
    ULONG Frequency;  // Hz; 0 when missing or unreadable
    ULONG Duration;   // count of delay writes; 0 when missing or unreadable
};

ToneSettings ReadToneSettings();
