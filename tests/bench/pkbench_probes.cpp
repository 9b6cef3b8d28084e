// The bench's own low-level mouse hooks and its stand-in for the driver's
// device.
#include "pkbench.h"

#include "pitchkeeper_shared.h"

#include <winternl.h>

Ticks Now()
{
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

double TicksToMs(Ticks ticks)
{
    static LARGE_INTEGER frequency = {};
    if (frequency.QuadPart == 0) {
        QueryPerformanceFrequency(&frequency);
    }
    return (double)ticks * 1000.0 / (double)frequency.QuadPart;
}

Ticks PeriodOf(double rate)
{
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return rate > 0 ? (Ticks)((double)frequency.QuadPart / rate) : 0;
}

void SleepUntil(Ticks due)
{
    for (Ticks now = Now(); now < due; now = Now()) {
        Sleep((DWORD)TicksToMs(due - now));
    }
}

namespace {
struct BenchHook {
    HHOOK hook = NULL;
    DWORD threadId = 0;
    std::thread thread;
    // written only by the hook's thread, read after it ended
    std::vector<HookSpan> spans;
};
BenchHook Hooks[HookSlotCount];

LRESULT PassOn(BenchHook &bench, int code, WPARAM wParam, LPARAM lParam)
{
    if (wParam != WM_LBUTTONDOWN) {
        return CallNextHookEx(bench.hook, code, wParam, lParam);
    }
    HookSpan span = {Now(), 0};
    LRESULT result = CallNextHookEx(bench.hook, code, wParam, lParam);
    span.passedOn = Now();
    bench.spans.push_back(span);
    return result;
}

LRESULT CALLBACK EarlyHookProc(int code, WPARAM wParam, LPARAM lParam)
{
    return PassOn(Hooks[EarlyHook], code, wParam, lParam);
}

LRESULT CALLBACK LateHookProc(int code, WPARAM wParam, LPARAM lParam)
{
    return PassOn(Hooks[LateHook], code, wParam, lParam);
}

// low-level hooks are served through the installing thread's message loop
void RunHookThread(HookSlot slot, HANDLE installed)
{
    BenchHook &bench = Hooks[slot];
    bench.threadId = GetCurrentThreadId();
    bench.hook = SetWindowsHookExA(WH_MOUSE_LL, slot == EarlyHook ? EarlyHookProc : LateHookProc,
                                   GetModuleHandleA(NULL), 0);
    SetEvent(installed);
    if (bench.hook == NULL) {
        return;
    }
    MSG message;
    while (GetMessageA(&message, NULL, 0, 0) > 0) {
        DispatchMessageA(&message);
    }
    UnhookWindowsHookEx(bench.hook);
    bench.hook = NULL;
}
}

bool InstallBenchHook(HookSlot slot)
{
    BenchHook &bench = Hooks[slot];
    bench.spans.clear();
    bench.spans.reserve(1 << 16);
    HANDLE installed = CreateEventA(NULL, TRUE, FALSE, NULL);
    bench.thread = std::thread(RunHookThread, slot, installed);
    WaitForSingleObject(installed, INFINITE);
    CloseHandle(installed);
    if (bench.hook == NULL) {
        bench.thread.join();
        return false;
    }
    return true;
}

std::vector<HookSpan> RemoveBenchHook(HookSlot slot)
{
    BenchHook &bench = Hooks[slot];
    if (bench.thread.joinable()) {
        PostThreadMessageA(bench.threadId, WM_QUIT, 0, 0);
        bench.thread.join();
    }
    return bench.spans;
}

extern "C" NTSTATUS NTAPI NtCreateSymbolicLinkObject(PHANDLE link, ACCESS_MASK access,
                                                      POBJECT_ATTRIBUTES attributes,
                                                      PUNICODE_STRING target);

namespace {
// enough waiting instances that overlapping workers never find the pipe busy
const int PipeInstances = 32;
const char PipeName[] = "\\\\.\\pipe\\pkbench-device";
const wchar_t PipeTarget[] = L"\\Device\\NamedPipe\\pkbench-device";
const ACCESS_MASK SymbolicLinkAllAccess = 0xF0001;

struct DeviceStandIn {
    HANDLE link = NULL;
    HANDLE pipes[PipeInstances] = {};
    OVERLAPPED waits[PipeInstances] = {};
    std::thread server;
    std::mutex opensLock;
    std::vector<Ticks> opens;
};
DeviceStandIn Device;

void RecordOpen(Ticks when)
{
    std::lock_guard<std::mutex> guard(Device.opensLock);
    Device.opens.push_back(when);
}

// true when a client is already connected
bool AwaitClient(int index)
{
    ResetEvent(Device.waits[index].hEvent);
    if (ConnectNamedPipe(Device.pipes[index], &Device.waits[index])) {
        return true;
    }
    return GetLastError() == ERROR_PIPE_CONNECTED;
}

// The worker's open is all there is to see: its control request never
// reaches a pipe (Wine routes that device type elsewhere), so the client is
// let go at once and the instance waits for the next worker.
void ServeDevice()
{
    HANDLE events[PipeInstances];
    for (int i = 0; i < PipeInstances; i++) {
        events[i] = Device.waits[i].hEvent;
    }
    for (;;) {
        DWORD signalled = WaitForMultipleObjects(PipeInstances, events, FALSE, INFINITE);
        Ticks when = Now();
        if (signalled >= WAIT_OBJECT_0 + PipeInstances) {
            return;
        }
        int index = (int)(signalled - WAIT_OBJECT_0);
        do {
            RecordOpen(when);
            DisconnectNamedPipe(Device.pipes[index]);
            when = Now();
        } while (AwaitClient(index));
    }
}

bool CreatePipeInstances()
{
    for (int i = 0; i < PipeInstances; i++) {
        Device.pipes[i] = CreateNamedPipeA(PipeName, PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED, 0,
                                           PIPE_UNLIMITED_INSTANCES, 0, 0, 0, NULL);
        Device.waits[i].hEvent = CreateEventA(NULL, TRUE, FALSE, NULL);
        if (Device.pipes[i] == INVALID_HANDLE_VALUE) {
            return false;
        }
        // nobody can connect yet: the name is linked afterwards
        AwaitClient(i);
    }
    return true;
}

// "\??\VELMORABEEP" -> the pipe; Wine's DefineDosDevice makes no names this
// long, so the link is made with the native call; it lives while the bench runs
bool LinkDosNameToPipe()
{
    UNICODE_STRING name;
    UNICODE_STRING target;
    RtlInitUnicodeString(&name, L"\\??\\" PK_WIDEN(PK_DEVICE_DOS_NAME));
    RtlInitUnicodeString(&target, PipeTarget);
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &name, OBJ_CASE_INSENSITIVE, NULL, NULL);
    return NtCreateSymbolicLinkObject(&Device.link, SymbolicLinkAllAccess, &attributes, &target) == 0;
}
}

bool StartDeviceStandIn()
{
    if (!CreatePipeInstances() || !LinkDosNameToPipe()) {
        return false;
    }
    // serves until the process ends
    Device.server = std::thread(ServeDevice);
    Device.server.detach();
    return true;
}

std::vector<Ticks> DeviceOpens()
{
    std::lock_guard<std::mutex> guard(Device.opensLock);
    return Device.opens;
}

void ClearDeviceOpens()
{
    std::lock_guard<std::mutex> guard(Device.opensLock);
    Device.opens.clear();
}
