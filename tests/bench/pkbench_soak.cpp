// The long run: one resident for the whole time, its output switched
// between speaker and buzzer every few minutes by second starts, presses
// in spells of 50 seconds with 10 quiet seconds after each (long enough for
// the hook watchdog to replace the hook), and the resident's threads,
// handles and memory read at the start and after every stretch.
#include "pkbench.h"

#include "pitchkeeper_shared.h"

#include <stdio.h>

#include <algorithm>

namespace {
const int PressingSeconds = 50;
const int QuietSeconds = 10;

struct Stretch {
    bool buzzer;
    int minutes;
    std::vector<Ticks> presses;
    PressMatch heard;   // "Beep" strings on the speaker, device opens on the buzzer
    size_t beeps = 0;
    ProcessCounters after = {};
    double cpuSeconds = 0;
};

// user and kernel time of the process so far
double CpuSeconds(HANDLE process)
{
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(process, &created, &exited, &kernel, &user)) {
        return -1;
    }
    ULARGE_INTEGER k = {{kernel.dwLowDateTime, kernel.dwHighDateTime}};
    ULARGE_INTEGER u = {{user.dwLowDateTime, user.dwHighDateTime}};
    return (double)(k.QuadPart + u.QuadPart) / 1e7;
}

void RunStretch(Stretch &stretch, double rate, HANDLE resident)
{
    DWORD processId = GetProcessId(resident);
    RunTray(stretch.buzzer ? "-buzzer" : "-speaker");
    Sleep(2000);   // room for the switch, and on the buzzer for the driver's install
    ClearCapturedDebugLines();
    ClearDeviceOpens();
    for (int minute = 0; minute < stretch.minutes; minute++) {
        Injection injection = InjectPresses((int)(PressingSeconds * rate), rate, NULL);
        stretch.presses.insert(stretch.presses.end(), injection.presses.begin(), injection.presses.end());
        Sleep(QuietSeconds * 1000);
    }
    std::vector<Ticks> beeps = DebugLineTimes(processId, "Beep");
    stretch.beeps = beeps.size();
    stretch.heard = MatchToPresses(stretch.presses, stretch.buzzer ? DeviceOpens() : beeps);
    stretch.after = ReadProcessCounters(resident);
    stretch.cpuSeconds = CpuSeconds(resident);
}

// What one renewal of a low-level hook costs: the unhook and the set the
// watchdog makes, timed here on a thread of the bench's own.
LRESULT CALLBACK PassOn(int code, WPARAM wParam, LPARAM lParam)
{
    return CallNextHookEx(NULL, code, wParam, lParam);
}

Summary MeasureHookRenewal(int count)
{
    std::vector<double> times;
    HHOOK hook = SetWindowsHookExA(WH_MOUSE_LL, PassOn, GetModuleHandleA(NULL), 0);
    for (int i = 0; i < count && hook != NULL; i++) {
        Ticks start = Now();
        UnhookWindowsHookEx(hook);
        hook = SetWindowsHookExA(WH_MOUSE_LL, PassOn, GetModuleHandleA(NULL), 0);
        times.push_back(TicksToMs(Now() - start));
    }
    UnhookWindowsHookEx(hook);
    return Summarize(times);
}

void PrintCounters(const char *reading, const ProcessCounters &counters, double cpuSeconds)
{
    printf("| %s | %d | %d | %zu | %zu | %.2f |\n", reading, counters.threads, counters.handles,
           counters.privateBytes / 1024, counters.workingSetBytes / 1024, cpuSeconds);
}

void PrintSoak(const std::vector<Stretch> &stretches, const ProcessCounters &atStart, double startCpu,
               double rate)
{
    printf("\n### Soak: presses made and tone requests seen (%.0f per second, %d s pressing then %d s quiet)\n\n",
           rate, PressingSeconds, QuietSeconds);
    printf("| stretch | output | minutes | presses | exactly one | none | more than one | \"Beep\" strings | delay ms: median / p99 / max |\n");
    printf("|---|---|---|---|---|---|---|---|---|\n");
    int made = 0;
    int one = 0;
    for (size_t i = 0; i < stretches.size(); i++) {
        const Stretch &stretch = stretches[i];
        printf("| %zu | %s | %d | %zu | %d | %d | %d | %zu | %s |\n", i + 1,
               stretch.buzzer ? "buzzer (device opens)" : "speaker", stretch.minutes, stretch.presses.size(),
               stretch.heard.exactlyOne, stretch.heard.none, stretch.heard.several, stretch.beeps,
               FormatSummary(Summarize(stretch.heard.delaysMs)).c_str());
        made += (int)stretch.presses.size();
        one += stretch.heard.exactlyOne;
    }
    printf("\nIn all: %d presses made, %d with exactly one tone request.\n", made, one);
    printf("\n### Soak: resident process\n\n");
    printf("| reading | threads | handles | private KB | working set KB | CPU s so far |\n");
    printf("|---|---|---|---|---|---|\n");
    PrintCounters("at start-up", atStart, startCpu);
    for (size_t i = 0; i < stretches.size(); i++) {
        char reading[64];
        snprintf(reading, sizeof(reading), "after stretch %zu (%s)", i + 1,
                 stretches[i].buzzer ? "buzzer" : "speaker");
        PrintCounters(reading, stretches[i].after, stretches[i].cpuSeconds);
    }
    Summary renewal = MeasureHookRenewal(1000);
    printf("\nOne hook renewal (unhook, then set) on the bench's own thread, %zu times: %s ms "
           "(median / p99 / max).\n", renewal.count, FormatSummary(renewal).c_str());
}
}

bool RunSoak(int minutes, double rate)
{
    // five-minute stretches, one-minute ones for a short run
    int stretchMinutes = minutes >= 10 ? 5 : 1;
    WriteAllSettings("2000", "25000", "1", "1", "0");
    HANDLE resident = StartResidentTray(30000);
    if (resident == NULL) {
        return false;
    }
    Sleep(500);
    ProcessCounters atStart = ReadProcessCounters(resident);
    double startCpu = CpuSeconds(resident);
    std::vector<Stretch> stretches;
    for (int done = 0; done < minutes; done += stretchMinutes) {
        Stretch stretch;
        stretch.buzzer = stretches.size() % 2 == 1;
        stretch.minutes = std::min(stretchMinutes, minutes - done);
        RunStretch(stretch, rate, resident);
        fprintf(stderr, "pkbench: soak stretch %zu (%s) %zu presses, %d with one request\n",
                stretches.size() + 1, stretch.buzzer ? "buzzer" : "speaker", stretch.presses.size(),
                stretch.heard.exactlyOne);
        stretches.push_back(stretch);
    }
    PrintSoak(stretches, atStart, startCpu, rate);
    StopResidentTray();
    CloseHandle(resident);
    fflush(stdout);
    bool heard = false;
    for (const Stretch &stretch : stretches) {
        heard = heard || stretch.heard.exactlyOne > 0;
    }
    return heard;
}
