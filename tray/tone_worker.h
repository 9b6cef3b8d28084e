// The one place a tone starts, for presses and touches alike: a short-lived
// worker per tone, at most a few of them alive at once.
#pragma once

#include <windows.h>

enum ToneSource {
    ToneFromPress,
    ToneFromContact,
    ToneSourceCount
};

// Far above what fingers can tap while tones last; a storm of presses
// from any source gets no more threads than this.
const int MaxToneWorkers = 8;
// latencies kept per source for the status report
const int LatencySamples = 100;

struct ToneWorkerSlot {
    volatile LONG Busy;        // set by the main thread, cleared by its worker at the end
    BYTE Source;               // ToneSource
    LONGLONG ArrivalTicks;     // performance counter when the press or report came in
};

struct ToneLatencies {
    volatile LONG Recorded;                 // samples ever recorded
    LONG Microseconds[LatencySamples];      // the newest at (Recorded - 1) % LatencySamples
};

// Plain counts, each changed where its event happens.
struct ToneCounters {
    ToneWorkerSlot Workers[MaxToneWorkers];
    volatile LONG Presses;     // left presses the hook saw
    volatile LONG Started;     // workers started
    volatile LONG Dropped;     // tones refused with every worker busy
    volatile LONG Failed;      // tone requests the system refused
    volatile DWORD LastError;  // the error of the last refused request
    ToneLatencies Latency[ToneSourceCount];
};

// The arrival time to give StartToneWorker.
LONGLONG ToneArrivalNow();
// Starts a worker while beeping is on and one is free; true when it started.
// Main thread only.
bool StartToneWorker(ToneSource source, LONGLONG arrivalTicks);
// Sounds one tone through the selected output, on the calling thread.
void SoundTone();
HANDLE OpenBeepDevice();
