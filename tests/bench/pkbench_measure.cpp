// Figures: summaries, matching events to presses, and another process's
// threads, handles and memory.
#include "pkbench.h"

#include <psapi.h>
#include <stdio.h>
#include <tlhelp32.h>
#include <winternl.h>

#include <algorithm>

Summary Summarize(std::vector<double> values)
{
    if (values.empty()) {
        return Summary{0, 0, 0, 0};
    }
    std::sort(values.begin(), values.end());
    size_t count = values.size();
    // nearest rank
    size_t p99Rank = (count * 99 + 99) / 100;
    return Summary{count, values[(count - 1) / 2], values[p99Rank - 1], values.back()};
}

std::string FormatSummary(const Summary &summary)
{
    char text[96];
    snprintf(text, sizeof(text), "%.2f / %.2f / %.2f", summary.medianMs, summary.p99Ms, summary.maxMs);
    return text;
}

PressMatch MatchToPresses(const std::vector<Ticks> &presses, std::vector<Ticks> events)
{
    std::sort(events.begin(), events.end());
    PressMatch match;
    size_t next = std::lower_bound(events.begin(), events.end(), presses.empty() ? 0 : presses[0]) -
                  events.begin();
    for (size_t i = 0; i < presses.size(); i++) {
        Ticks end = i + 1 < presses.size() ? presses[i + 1] : LLONG_MAX;
        size_t first = next;
        while (next < events.size() && events[next] < end) {
            next++;
        }
        size_t count = next - first;
        match.exactlyOne += count == 1 ? 1 : 0;
        match.none += count == 0 ? 1 : 0;
        match.several += count > 1 ? 1 : 0;
        if (count > 0) {
            match.delaysMs.push_back(TicksToMs(events[first] - presses[i]));
        }
    }
    return match;
}

std::vector<Ticks> DebugLineTimes(DWORD processId, const std::string &text)
{
    std::vector<Ticks> times;
    for (const DebugRecord &record : CapturedDebugRecords()) {
        if (record.processId == processId && record.text == text) {
            times.push_back(record.time);
        }
    }
    return times;
}

namespace {
struct BeepCount {
    DWORD processId;
    size_t wanted;
};

bool BeepsArrived(void *context)
{
    const BeepCount *count = (const BeepCount *)context;
    return DebugLineTimes(count->processId, "Beep").size() >= count->wanted;
}
}

bool WaitForBeeps(DWORD processId, size_t count, DWORD timeoutMs)
{
    BeepCount wanted = {processId, count};
    return WaitUntil(BeepsArrived, &wanted, timeoutMs);
}

int CountThreads(DWORD processId)
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof(entry);
    int count = 0;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
        count += entry.th32OwnerProcessID == processId ? 1 : 0;
    }
    CloseHandle(snapshot);
    return count;
}

namespace {
struct SystemHandleEntry {
    PVOID object;
    ULONG_PTR processId;
    ULONG_PTR handle;
    ULONG grantedAccess;
    USHORT creatorBackTraceIndex;
    USHORT objectTypeIndex;
    ULONG attributes;
    ULONG reserved;
};
struct SystemHandleList {
    ULONG_PTR count;
    ULONG_PTR reserved;
    SystemHandleEntry entries[1];
};
const SYSTEM_INFORMATION_CLASS SystemExtendedHandleInformation = (SYSTEM_INFORMATION_CLASS)64;

// Wine's GetProcessHandleCount answers 0 for every process; the system's
// handle list is complete, so the handles are counted there.
int CountHandles(DWORD processId)
{
    std::vector<BYTE> buffer(1 << 20);
    ULONG length = 0;
    while (NtQuerySystemInformation(SystemExtendedHandleInformation, buffer.data(),
                                    (ULONG)buffer.size(), &length) != 0) {
        if (buffer.size() >= (64u << 20)) {
            return -1;
        }
        buffer.resize(buffer.size() * 2);
    }
    const SystemHandleList *list = (const SystemHandleList *)buffer.data();
    int count = 0;
    for (ULONG_PTR i = 0; i < list->count; i++) {
        count += list->entries[i].processId == processId ? 1 : 0;
    }
    return count;
}
}

ProcessCounters ReadProcessCounters(HANDLE process)
{
    DWORD processId = GetProcessId(process);
    PROCESS_MEMORY_COUNTERS memory = {};
    memory.cb = sizeof(memory);
    GetProcessMemoryInfo(process, &memory, sizeof(memory));
    // the commit charge: Wine leaves PrivateUsage at 0 but fills this,
    // which Windows keeps equal to it
    return ProcessCounters{CountThreads(processId), CountHandles(processId), memory.PagefileUsage,
                           memory.WorkingSetSize};
}
