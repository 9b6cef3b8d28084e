// What the status report costs the resident: its processor time while
// nobody asks, and per answered -status request, with the round trip a
// script sees.
#include "pkbench.h"

#include <stdio.h>

static double ProcessorMs(HANDLE process)
{
    FILETIME created, ended, kernel, user;
    GetProcessTimes(process, &created, &ended, &kernel, &user);
    ULARGE_INTEGER k = {{kernel.dwLowDateTime, kernel.dwHighDateTime}};
    ULARGE_INTEGER u = {{user.dwLowDateTime, user.dwHighDateTime}};
    return (k.QuadPart + u.QuadPart) / 10000.0;
}

// the stores are kept: another file could read them
LONG CountedSamples[100];

// What the resident adds to each counted press or tone: the arrival time
// and the request time read from the performance counter, one interlocked
// increment and one sample stored, in a loop here on the same machine.
static double CountedEventNs()
{
    const int rounds = 1000000;
    static volatile LONG count;
    Ticks start = Now();
    for (int i = 0; i < rounds; i++) {
        Ticks arrival = Now();
        LONG sample = InterlockedIncrement(&count) - 1;
        CountedSamples[sample % 100] = (LONG)(Now() - arrival);
    }
    return TicksToMs(Now() - start) * 1e6 / rounds;
}

bool RunStatusCost(int requests)
{
    WriteAllSettings("2000", "25000", "1", "1", "0");
    HANDLE resident = StartResidentTray();
    if (resident == NULL) {
        return false;
    }
    InjectPresses(20, 10, NULL);
    Sleep(1000);

    const DWORD quietMs = 10000;
    double before = ProcessorMs(resident);
    Sleep(quietMs);
    double quiet = ProcessorMs(resident) - before;

    std::vector<double> roundTrips;
    std::string printed;
    before = ProcessorMs(resident);
    for (int i = 0; i < requests; i++) {
        printed.clear();
        Ticks start = Now();
        if (RunTrayForOutput("-status json", printed) != 0) {
            break;
        }
        roundTrips.push_back(TicksToMs(Now() - start));
    }
    double asked = ProcessorMs(resident) - before;
    StopResidentTray();
    CloseHandle(resident);

    printf("## Status report cost (speaker, beeping on, after 20 presses)\n\n");
    printf("- resident's processor time while nobody asks: %.1f ms in %lu s\n", quiet, quietMs / 1000);
    printf("- per counted event, the counter reads, increment and store the resident adds: "
           "%.0f ns\n", CountedEventNs());
    printf("- per answered request: %.2f ms of the resident's processor time (%zu requests)\n",
           roundTrips.empty() ? 0.0 : asked / roundTrips.size(), roundTrips.size());
    printf("- round trip of `-status json`, process start to exit, median / p99 / max ms: %s\n",
           FormatSummary(Summarize(roundTrips)).c_str());
    printf("- answer size: %zu bytes of JSON\n", printed.size());
    return (int)roundTrips.size() == requests;
}
