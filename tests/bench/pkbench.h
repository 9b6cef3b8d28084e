// Press-to-tone benchmark: shared pieces of pkbench, a Windows program that
// runs inside the Wine bench beside the real Pitchkeeper_x64.exe. Times are
// QueryPerformanceCounter ticks, so every figure comes from one clock.
#pragma once

#include "testkit.h"

#include <mutex>
#include <thread>

typedef LONGLONG Ticks;

Ticks Now();
double TicksToMs(Ticks ticks);
// the time between two events at that rate per second; 0 for rate 0
Ticks PeriodOf(double rate);
void SleepUntil(Ticks due);

// --- probes (pkbench_probes.cpp) ---
// When a low-level mouse hook of the bench saw a left-button press, and
// when its CallNextHookEx returned.
struct HookSpan {
    Ticks entered;
    Ticks passedOn;
};
// Two bench hooks, each on its own thread: the early one is installed
// before the program under test and the late one after it, so the program's
// hook runs between them when the system calls the newest hook first.
enum HookSlot { EarlyHook, LateHook, HookSlotCount };
bool InstallBenchHook(HookSlot slot);
// Removes the hook, ends its thread and returns what it recorded.
std::vector<HookSpan> RemoveBenchHook(HookSlot slot);

// The driver's DOS name turned into a link to a pipe that the bench serves,
// so that each worker's open of the device is seen and timed here.
bool StartDeviceStandIn();
std::vector<Ticks> DeviceOpens();
void ClearDeviceOpens();

// --- presses (pkbench.cpp) ---
struct Injection {
    std::vector<Ticks> presses;
    std::vector<double> sendInputMs;
    Ticks end = 0;
};
// Presses (left down, then up) at the given rate; 0 means as fast as
// SendInput returns. The trigger, if any, is set at a tenth of the way.
Injection InjectPresses(int count, double rate, HANDLE trigger);

// --- the long run (pkbench_soak.cpp) ---
// Presses for the given minutes on one resident, its output switched
// between speaker and buzzer every few minutes, with quiet spells; prints
// presses made against tone requests seen and the resident's resources.
// Returns false when the resident did not start or no request was seen.
bool RunSoak(int minutes, double rate);

// --- the status report (pkbench_status.cpp) ---
// Starts a resident, then prints its processor time while nobody asks and
// per -status request, and the requests' round trips; false when a request
// failed or the resident did not start.
bool RunStatusCost(int requests);

// --- figures (pkbench_measure.cpp) ---
struct Summary {
    size_t count;
    double medianMs;
    double p99Ms;
    double maxMs;
};
Summary Summarize(std::vector<double> values);
std::string FormatSummary(const Summary &summary);

// Per press: how many events fell between its injection and the next
// press's, and the delay of the first of them.
struct PressMatch {
    int exactlyOne = 0;
    int none = 0;
    int several = 0;
    std::vector<double> delaysMs;
};
PressMatch MatchToPresses(const std::vector<Ticks> &presses, std::vector<Ticks> events);
std::vector<Ticks> DebugLineTimes(DWORD processId, const std::string &text);
// Waits until that process has sent at least count "Beep" strings.
bool WaitForBeeps(DWORD processId, size_t count, DWORD timeoutMs);

// --- touches (pkbench_touch.cpp) ---
// Paced contacts on the virtual touch screen: a one-finger down report,
// then, once the process asked for a tone or a second passed, the up
// report. Returns when each down report was handed over.
std::vector<Ticks> InjectTouches(int count, double rate, DWORD processId);
// One touch that is not measured: true when the process asked for a tone.
bool TouchAnswered(DWORD processId);

// Threads, handles and memory of another process, read inside the prefix.
struct ProcessCounters {
    int threads;
    int handles;
    SIZE_T privateBytes;
    SIZE_T workingSetBytes;
};
ProcessCounters ReadProcessCounters(HANDLE process);
int CountThreads(DWORD processId);
