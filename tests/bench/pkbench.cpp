// pkbench: press-to-tone and touch-to-tone latency, hook cost, storms and
// resource levels of the real Pitchkeeper_x64.exe, measured from beside it
// in the Wine bench.
//   pkbench [--presses N] [--touches N] [--rate PER_SECOND] [--storm N]
//   pkbench --soak MINUTES [--rate PER_SECOND]
// Touches (as many as presses unless told) go to the bench's virtual touch
// screen; where none can be added, only the press figures are taken.
// Prints Markdown tables. Exit code 0 when every run took place (the
// program started, presses and touches were injected and tone requests
// were seen for them); nothing here judges a time.
#include "pkbench.h"

#include "pitchkeeper_shared.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <atomic>

namespace {
struct Options {
    int presses = 1000;
    int touches = -1;   // as many as presses
    bool touchScreen = false;
    double rate = 20;
    int storm = 10000;
    int soakMinutes = 0;
    int statusRequests = 0;
};

struct Mode {
    const char *name;
    bool resident;
    const char *outputDevice;   // "1" speaker, "0" buzzer
    const char *beepOn;
};
const Mode Modes[] = {
    {"not running", false, "", ""},
    {"resident, tone off", true, "1", "0"},
    {"resident, speaker", true, "1", "1"},
    {"resident, buzzer", true, "0", "1"},
};

bool IsToneMode(const Mode &mode)
{
    return mode.resident && strcmp(mode.beepOn, "1") == 0;
}

bool IsBuzzer(const Mode &mode)
{
    return mode.resident && strcmp(mode.outputDevice, "0") == 0;
}

struct HookFigures {
    Summary sendInput = {};
    Summary toLate = {};
    Summary lateToEarly = {};
    int lateFirst = 0;
    int paired = 0;
};

// a second start with "-f 440" while presses keep coming
struct LiveCommand {
    Ticks started = 0;
    Ticks seen = 0;
    Ticks exited = 0;
};

struct StormFigures {
    int presses = 0;
    double seconds = 0;
    LiveCommand command;
    Ticks end = 0;
    int peakThreads = 0;
    size_t beeps = 0;
    size_t opens = 0;
    double settleSeconds = 0;
};

// tone requests matched to the presses or touches that made them
struct Requests {
    PressMatch beeps;
    PressMatch opens;
};

struct ModeFigures {
    bool ran = false;
    HookFigures hooks;
    Requests presses;
    bool touchAnswered = false;
    Requests touches;
    StormFigures storm;
    // at start-up, after the paced presses (the level before the storm),
    // and after the storm once its workers have ended
    ProcessCounters atStart = {};
    ProcessCounters before = {};
    ProcessCounters after = {};
};

// The first span of each hook that entered between a press and the next.
std::vector<const HookSpan *> SpansPerPress(const std::vector<Ticks> &presses,
                                            const std::vector<HookSpan> &spans)
{
    std::vector<const HookSpan *> perPress(presses.size(), nullptr);
    size_t next = 0;
    for (size_t i = 0; i < presses.size(); i++) {
        Ticks end = i + 1 < presses.size() ? presses[i + 1] : LLONG_MAX;
        while (next < spans.size() && spans[next].entered < presses[i]) {
            next++;
        }
        if (next < spans.size() && spans[next].entered < end) {
            perPress[i] = &spans[next];
        }
    }
    return perPress;
}

HookFigures AnalyseHooks(const Injection &injection, const std::vector<HookSpan> &early,
                         const std::vector<HookSpan> &late)
{
    std::vector<const HookSpan *> earlyPerPress = SpansPerPress(injection.presses, early);
    std::vector<const HookSpan *> latePerPress = SpansPerPress(injection.presses, late);
    HookFigures figures;
    std::vector<double> delivery;
    std::vector<double> gaps;
    for (size_t i = 0; i < injection.presses.size(); i++) {
        if (earlyPerPress[i] == nullptr || latePerPress[i] == nullptr) {
            continue;
        }
        figures.paired++;
        Ticks gap = earlyPerPress[i]->entered - latePerPress[i]->entered;
        figures.lateFirst += gap > 0 ? 1 : 0;
        gaps.push_back(TicksToMs(gap));
        delivery.push_back(TicksToMs(latePerPress[i]->entered - injection.presses[i]));
    }
    figures.sendInput = Summarize(injection.sendInputMs);
    figures.toLate = Summarize(delivery);
    figures.lateToEarly = Summarize(gaps);
    return figures;
}

void SendFrequencyDuringStorm(HANDLE trigger, LiveCommand *command)
{
    WaitForSingleObject(trigger, INFINITE);
    command->started = Now();
    HANDLE process = StartTray("-f 440");
    while (SettingValue(PK_VALUE_FREQUENCY) != "440" && TicksToMs(Now() - command->started) < 10000) {
        Sleep(1);
    }
    command->seen = SettingValue(PK_VALUE_FREQUENCY) == "440" ? Now() : 0;
    if (process != NULL) {
        WaitForExit(process, 10000);
        command->exited = Now();
        CloseHandle(process);
    }
}

void SamplePeakThreads(DWORD processId, const std::atomic<bool> *stop, int *peak)
{
    while (!*stop) {
        *peak = std::max(*peak, CountThreads(processId));
        Sleep(100);
    }
}

// Polls until the thread count is back at its earlier level or has stopped
// falling for two seconds, at most thirty; returns the seconds it took.
double SettleThreads(DWORD processId, int baseline)
{
    Ticks start = Now();
    Ticks lastFall = start;
    int lowest = CountThreads(processId);
    while (lowest > baseline && TicksToMs(Now() - lastFall) < 2000 && TicksToMs(Now() - start) < 30000) {
        Sleep(250);
        int threads = CountThreads(processId);
        if (threads < lowest) {
            lowest = threads;
            lastFall = Now();
        }
    }
    return TicksToMs(Now() - start) / 1000.0;
}

StormFigures RunStorm(int presses, HANDLE resident, int baselineThreads)
{
    DWORD processId = GetProcessId(resident);
    ClearCapturedDebugLines();
    ClearDeviceOpens();
    StormFigures storm;
    HANDLE trigger = CreateEventA(NULL, TRUE, FALSE, NULL);
    std::thread command(SendFrequencyDuringStorm, trigger, &storm.command);
    std::atomic<bool> stopSampling(false);
    std::thread sampler(SamplePeakThreads, processId, &stopSampling, &storm.peakThreads);
    Injection injection = InjectPresses(presses, 0, trigger);
    command.join();
    CloseHandle(trigger);
    storm.presses = presses;
    storm.end = injection.end;
    storm.seconds = TicksToMs(injection.end - injection.presses.front()) / 1000.0;
    storm.settleSeconds = SettleThreads(processId, baselineThreads);
    stopSampling = true;
    sampler.join();
    storm.beeps = DebugLineTimes(processId, "Beep").size();
    storm.opens = DeviceOpens().size();
    return storm;
}

HANDLE StartModeTray(const Mode &mode)
{
    WriteAllSettings("2000", "25000", mode.outputDevice, mode.beepOn, "0");
    return StartResidentTray(30000);
}

Requests MatchRequests(const std::vector<Ticks> &events, DWORD processId)
{
    return Requests{MatchToPresses(events, DebugLineTimes(processId, "Beep")), MatchToPresses(events, DeviceOpens())};
}

// Paced touches, once an unmeasured one showed that the program answers them.
void RunTouches(ModeFigures &figures, DWORD processId, const Options &options)
{
    figures.touchAnswered = TouchAnswered(processId);
    if (!figures.touchAnswered) {
        return;
    }
    // the unmeasured touch's device open may come after its "Beep"
    Sleep(200);
    ClearCapturedDebugLines();
    ClearDeviceOpens();
    figures.touches = MatchRequests(InjectTouches(options.touches, options.rate, processId), processId);
}

// One mode: the early hook, the program, the late hook, the paced presses,
// then (tone modes) the paced touches, the storm and the resource levels
// around it.
ModeFigures RunMode(const Mode &mode, const Options &options)
{
    ModeFigures figures;
    ClearCapturedDebugLines();
    ClearDeviceOpens();
    if (!InstallBenchHook(EarlyHook)) {
        return figures;
    }
    HANDLE resident = mode.resident ? StartModeTray(mode) : NULL;
    bool started = !mode.resident || resident != NULL;
    if (started && InstallBenchHook(LateHook)) {
        Sleep(500);
        DWORD processId = resident != NULL ? GetProcessId(resident) : 0;
        figures.atStart = resident != NULL ? ReadProcessCounters(resident) : ProcessCounters{};
        Injection injection = InjectPresses(options.presses, options.rate, NULL);
        WaitForBeeps(processId, injection.presses.size(), IsToneMode(mode) ? 3000 : 0);
        std::vector<HookSpan> late = RemoveBenchHook(LateHook);
        std::vector<HookSpan> early = RemoveBenchHook(EarlyHook);
        figures.hooks = AnalyseHooks(injection, early, late);
        figures.presses = MatchRequests(injection.presses, processId);
        if (IsToneMode(mode) && options.touchScreen) {
            RunTouches(figures, processId, options);
        }
        if (IsToneMode(mode) && options.storm > 0) {
            SettleThreads(processId, figures.atStart.threads);
            figures.before = ReadProcessCounters(resident);
            figures.storm = RunStorm(options.storm, resident, figures.before.threads);
            figures.after = ReadProcessCounters(resident);
        }
        figures.ran = !IsToneMode(mode) || (figures.presses.beeps.delaysMs.size() > 0 &&
                                            (!options.touchScreen || figures.touches.beeps.delaysMs.size() > 0));
    }
    RemoveBenchHook(LateHook);
    RemoveBenchHook(EarlyHook);
    if (resident != NULL) {
        StopResidentTray();
        CloseHandle(resident);
    }
    return figures;
}

void PrintMatchRow(const char *output, const char *event, const PressMatch &match)
{
    printf("| %s | %s | %d | %d | %d | %s |\n", output, event, match.exactlyOne, match.none,
           match.several, FormatSummary(Summarize(match.delaysMs)).c_str());
}

void PrintRequestRows(const char *output, bool buzzer, const Requests &requests)
{
    PrintMatchRow(output, "\"Beep\" debug string", requests.beeps);
    if (buzzer) {
        PrintMatchRow(output, "open of \\\\.\\" PK_DEVICE_DOS_NAME, requests.opens);
    }
}

void PrintLatency(const ModeFigures figures[], const Options &options)
{
    printf("\n### Press to tone request (%d presses at %.0f per second)\n\n", options.presses,
           options.rate);
    printf("| output | request seen as | exactly one | none | more than one | delay ms: median / p99 / max |\n");
    printf("|---|---|---|---|---|---|\n");
    for (size_t i = 0; i < sizeof(Modes) / sizeof(Modes[0]); i++) {
        if (IsToneMode(Modes[i])) {
            PrintRequestRows(IsBuzzer(Modes[i]) ? "buzzer" : "speaker", IsBuzzer(Modes[i]), figures[i].presses);
        }
    }
}

// from just before the down report is handed to the virtual touch screen
void PrintTouchLatency(const ModeFigures figures[], const Options &options)
{
    printf("\n### Touch contact to tone request (%d touches at %.0f per second)\n\n", options.touches,
           options.rate);
    if (!options.touchScreen) {
        printf("No virtual touch screen could be added: not measured.\n");
        return;
    }
    printf("| output | request seen as | exactly one | none | more than one | delay ms: median / p99 / max |\n");
    printf("|---|---|---|---|---|---|\n");
    for (size_t i = 0; i < sizeof(Modes) / sizeof(Modes[0]); i++) {
        const char *output = IsBuzzer(Modes[i]) ? "buzzer" : "speaker";
        if (IsToneMode(Modes[i]) && figures[i].touchAnswered) {
            PrintRequestRows(output, IsBuzzer(Modes[i]), figures[i].touches);
        } else if (IsToneMode(Modes[i])) {
            printf("| %s | no tone request for a touch: not measured | | | | |\n", output);
        }
    }
}

void PrintHooks(const ModeFigures figures[])
{
    printf("\n### Hook chain per left-button press (ms: median / p99 / max)\n\n");
    printf("| Pitchkeeper | SendInput returns | injection to late hook | late hook to early hook | late hook ran first |\n");
    printf("|---|---|---|---|---|\n");
    for (size_t i = 0; i < sizeof(Modes) / sizeof(Modes[0]); i++) {
        const HookFigures &hooks = figures[i].hooks;
        printf("| %s | %s | %s | %s | %d of %d |\n", Modes[i].name, FormatSummary(hooks.sendInput).c_str(),
               FormatSummary(hooks.toLate).c_str(), FormatSummary(hooks.lateToEarly).c_str(),
               hooks.lateFirst, hooks.paired);
    }
}

void PrintCounterRow(const char *output, const char *reading, const ProcessCounters &counters)
{
    printf("| %s | %s | %d | %d | %zu | %zu |\n", output, reading, counters.threads, counters.handles,
           counters.privateBytes / 1024, counters.workingSetBytes / 1024);
}

double SecondsBetween(Ticks from, Ticks to)
{
    return from != 0 && to != 0 ? TicksToMs(to - from) / 1000.0 : -1;
}

void PrintStorms(const ModeFigures figures[])
{
    printf("\n### Storm\n\n");
    printf("| output | presses | seconds | presses per second | \"-f 440\" in registry after s | storm still running then | second start ended after s | peak threads | \"Beep\" strings | device opens | settled after s |\n");
    printf("|---|---|---|---|---|---|---|---|---|---|---|\n");
    for (size_t i = 0; i < sizeof(Modes) / sizeof(Modes[0]); i++) {
        const StormFigures &storm = figures[i].storm;
        if (!IsToneMode(Modes[i]) || storm.presses == 0) {
            continue;
        }
        printf("| %s | %d | %.2f | %.0f | %.3f | %s | %.3f | %d | %zu | %zu | %.1f |\n",
               IsBuzzer(Modes[i]) ? "buzzer" : "speaker", storm.presses, storm.seconds,
               storm.presses / storm.seconds, SecondsBetween(storm.command.started, storm.command.seen),
               storm.command.seen != 0 && storm.command.seen < storm.end ? "yes" : "no",
               SecondsBetween(storm.command.started, storm.command.exited), storm.peakThreads,
               storm.beeps, storm.opens, storm.settleSeconds);
    }
    printf("\n### Resident process at start-up, before the storm (after the paced presses) and after it\n\n");
    printf("| output | reading | threads | handles | private KB | working set KB |\n");
    printf("|---|---|---|---|---|---|\n");
    for (size_t i = 0; i < sizeof(Modes) / sizeof(Modes[0]); i++) {
        const ModeFigures &mode = figures[i];
        if (!IsToneMode(Modes[i]) || mode.storm.presses == 0) {
            continue;
        }
        const char *output = IsBuzzer(Modes[i]) ? "buzzer" : "speaker";
        PrintCounterRow(output, "at start-up", mode.atStart);
        PrintCounterRow(output, "before the storm", mode.before);
        PrintCounterRow(output, "after the storm", mode.after);
    }
}

bool ParseOptions(int argc, char **argv, Options &options)
{
    for (int i = 1; i + 1 < argc; i += 2) {
        if (strcmp(argv[i], "--presses") == 0) {
            options.presses = atoi(argv[i + 1]);
        } else if (strcmp(argv[i], "--touches") == 0) {
            options.touches = atoi(argv[i + 1]);
        } else if (strcmp(argv[i], "--rate") == 0) {
            options.rate = atof(argv[i + 1]);
        } else if (strcmp(argv[i], "--storm") == 0) {
            options.storm = atoi(argv[i + 1]);
        } else if (strcmp(argv[i], "--soak") == 0) {
            options.soakMinutes = atoi(argv[i + 1]);
        } else if (strcmp(argv[i], "--status") == 0) {
            options.statusRequests = atoi(argv[i + 1]);
        } else {
            return false;
        }
    }
    options.touches = options.touches < 0 ? options.presses : options.touches;
    return argc % 2 == 1 && options.presses > 0 && options.rate > 0 && options.storm >= 0 &&
           options.soakMinutes >= 0 && options.statusRequests >= 0;
}
}

Injection InjectPresses(int count, double rate, HANDLE trigger)
{
    Ticks period = PeriodOf(rate);
    Injection injection;
    injection.presses.reserve(count);
    injection.sendInputMs.reserve(count);
    Ticks start = Now();
    for (int i = 0; i < count; i++) {
        SleepUntil(start + period * i);
        if (trigger != NULL && i == count / 10) {
            SetEvent(trigger);
        }
        Ticks injected = Now();
        InjectMouseButton(MOUSEEVENTF_LEFTDOWN);
        injection.sendInputMs.push_back(TicksToMs(Now() - injected));
        injection.presses.push_back(injected);
        InjectMouseButton(MOUSEEVENTF_LEFTUP);
    }
    injection.end = Now();
    return injection;
}

int main(int argc, char **argv)
{
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        fprintf(stderr, "usage: pkbench [--presses N] [--touches N] [--rate PER_SECOND] [--storm N]\n"
                        "       pkbench --soak MINUTES [--rate PER_SECOND]\n"
                        "       pkbench --status REQUESTS\n");
        return 2;
    }
    StartDebugCapture();
    StopResidentTray();
    if (options.statusRequests > 0) {
        return RunStatusCost(options.statusRequests) ? 0 : 1;
    }
    bool standIn = StartDeviceStandIn();
    if (!standIn) {
        printf("note: the device stand-in could not be set up; buzzer opens are not seen\n");
    }
    if (options.soakMinutes > 0) {
        return RunSoak(options.soakMinutes, options.rate) && standIn ? 0 : 1;
    }
    // added once, before the first start of the program, which finds the
    // devices already there when it starts
    options.touchScreen = options.touches > 0 && AddVirtualDigitizer(TouchDigitizer);
    ModeFigures figures[sizeof(Modes) / sizeof(Modes[0])];
    bool allRan = true;
    for (size_t i = 0; i < sizeof(Modes) / sizeof(Modes[0]); i++) {
        figures[i] = RunMode(Modes[i], options);
        fprintf(stderr, "pkbench: %s %s\n", Modes[i].name, figures[i].ran ? "done" : "FAILED");
        allRan = allRan && figures[i].ran;
    }
    PrintLatency(figures, options);
    PrintTouchLatency(figures, options);
    PrintHooks(figures);
    PrintStorms(figures);
    fflush(stdout);
    return allRan && standIn ? 0 : 1;
}
