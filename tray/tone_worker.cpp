#include "tone_worker.h"

#include "app_state.h"
#include "buzzer_fallback.h"
#include "pitchkeeper_shared.h"

#include <process.h>
#include <stdio.h>

LONGLONG ToneArrivalNow()
{
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

static void RecordLatency(const ToneWorkerSlot &slot)
{
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    LONGLONG elapsed = ToneArrivalNow() - slot.ArrivalTicks;
    ToneLatencies &latency = AppState.Tones.Latency[slot.Source];
    LONG sample = InterlockedIncrement(&latency.Recorded) - 1;
    latency.Microseconds[sample % LatencySamples] = (LONG)(elapsed * 1000000 / frequency.QuadPart);
}

static void CountFailure(DWORD error)
{
    AppState.Tones.LastError = error;
    InterlockedIncrement(&AppState.Tones.Failed);
}

static void __cdecl BeepWorker(void *context)
{
    ToneWorkerSlot &slot = *(ToneWorkerSlot *)context;
    RecordLatency(slot);
    SoundTone();
    InterlockedExchange(&slot.Busy, 0);
}

// Only the main thread takes slots, so a free one stays free until taken.
static ToneWorkerSlot *FreeWorkerSlot()
{
    for (ToneWorkerSlot &slot : AppState.Tones.Workers) {
        if (slot.Busy == 0) {
            return &slot;
        }
    }
    return NULL;
}

bool StartToneWorker(ToneSource source, LONGLONG arrivalTicks)
{
    if (AppState.BeepEnabled != 1) {
        return false;
    }
    ToneWorkerSlot *slot = FreeWorkerSlot();
    if (slot == NULL) {
        InterlockedIncrement(&AppState.Tones.Dropped);
        return false;
    }
    slot->Source = (BYTE)source;
    slot->ArrivalTicks = arrivalTicks;
    slot->Busy = 1;
    if (_beginthread(BeepWorker, 0, slot) == (uintptr_t)-1) {
        slot->Busy = 0;
        CountFailure(ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
    InterlockedIncrement(&AppState.Tones.Started);
    return true;
}

static void SoundThroughSpeaker()
{
    if (!Beep(AppState.CurrentFrequency, AppState.CurrentDurationMs)) {
        CountFailure(GetLastError());
    }
}

// A device that does not open means a driver that is not running: the
// tone goes through the speaker rather than nowhere (buzzer_fallback.h).
static void SendBuzzerRequest()
{
    HANDLE device = OpenBeepDevice();
    NoteBuzzerOpen(device == INVALID_HANDLE_VALUE ? GetLastError() : ERROR_SUCCESS);
    if (device == INVALID_HANDLE_VALUE) {
        SoundThroughSpeaker();
        return;
    }
    // an all-zero record: the driver takes pitch and length from the registry
    BYTE request[8] = {};
    DWORD bytesReturned = 0;
    if (!DeviceIoControl(device, IOCTL_VELMORABEEP_BEEP, request, sizeof(request), NULL, 0,
                         &bytesReturned, NULL)) {
        CountFailure(GetLastError());
    }
    CloseHandle(device);
}

void SoundTone()
{
    OutputDebugStringA("Beep");
    if (AppState.ActiveOutput == 0) {
        SoundThroughSpeaker();
    } else if (AppState.ActiveOutput == 1) {
        SendBuzzerRequest();
    }
}

HANDLE OpenBeepDevice()
{
    char devicePath[MAX_PATH];
    snprintf(devicePath, sizeof(devicePath), "\\\\.\\%s", PK_DEVICE_DOS_NAME);

    // the driver makes no DOS name of its own; define it on first use
    char existingTarget[MAX_PATH];
    if (QueryDosDeviceA(PK_DEVICE_DOS_NAME, existingTarget, sizeof(existingTarget)) == 0) {
        char target[MAX_PATH];
        snprintf(target, sizeof(target), "\\Device\\%s", PK_DEVICE_DOS_NAME);
        DefineDosDeviceA(DDD_RAW_TARGET_PATH, PK_DEVICE_DOS_NAME, target);
    }
    return CreateFileA(devicePath, FILE_GENERIC_READ | FILE_GENERIC_WRITE, 0, NULL,
                       OPEN_EXISTING, 0, NULL);
}
