// Speaker tone on the legacy PC speaker: channel 2 of the 8254 sets the pitch,
// bits 0 and 1 of system control port B switch it through to the speaker, and
// a counted run of writes to a spare port sets the length.
#include "tone.h"

#include "paged.h"
#include "port_io.h"

namespace {

constexpr USHORT kControlPortB = 0x61;
constexpr USHORT kTimerChannel2Port = 0x42;
constexpr USHORT kTimerCommandPort = 0x43;
constexpr USHORT kDelayPort = 0xED;
constexpr USHORT kDiagnosticPort = 0x80;

constexpr UCHAR kSpeakerBits = 0x03;         // bit 0 gates channel 2, bit 1 feeds the speaker
constexpr UCHAR kChannel2SquareWave = 0xB6;  // channel 2, low then high byte, mode 3, binary
constexpr UCHAR kDiagnosticMark = 0x66;

constexpr ULONG kTimerClockHz = 1193180;
constexpr ULONG kFallbackFrequency = 200;
constexpr ULONG kFallbackCount = 1;
// the longest tone the tray program can store: 19,999 ms x 500 (seven digits)
constexpr ULONG kLongestCount = 9999500;
constexpr UCHAR kStopDivisor = 0x3A;  // about 20572 Hz, above hearing
constexpr ULONG kStopDelayPasses = 65535;
constexpr LONGLONG kRelativeUnitsPerMs = -10000;  // negative: relative, in 100 ns units

// these helpers also serve the deferred routine, so they stay out of the pageable section
void SpeakerOn()
{
    PortWrite(kControlPortB, static_cast<UCHAR>(PortRead(kControlPortB) | kSpeakerBits));
}

void SpeakerOff()
{
    PortWrite(kControlPortB, static_cast<UCHAR>(PortRead(kControlPortB) & ~kSpeakerBits));
}

void SelectSquareWave()
{
    PortWrite(kTimerCommandPort, kChannel2SquareWave);
}

// once the high byte is in, channel 2 runs at the new divisor
void LoadDivisor(UCHAR low, UCHAR high)
{
    PortWrite(kTimerChannel2Port, low);
    PortWrite(kTimerChannel2Port, high);
}

// each write to the spare port is one unit of tone length
void DelayWrites(ULONG count)
{
    for (ULONG i = 0; i < count; ++i) {
        PortWrite(kDelayPort, 0);
    }
}

// The count comes from text the user can write, and the delay loop holds the
// requesting thread until it ends: a count above the tray program's longest
// is cut to it. A count of 2^31 or more is what a negative text such as "-1"
// converts to; it is no length at all and gets the fallback count.
ULONG BoundedCount(ULONG duration)
{
    if (static_cast<LONG>(duration) < 0) {
        return kFallbackCount;
    }
    return duration < kLongestCount ? duration : kLongestCount;
}

// stops the timer and waits for a run of its routine that was already queued,
// so that nothing touches the speaker or the extension after this returns
TONE_PAGED void CancelStopTimer(ToneDeviceExtension* extension)
{
    PAGED_CODE();
    KeCancelTimer(&extension->Timer);
    KeFlushQueuedDpcs();
}

}  // namespace

TONE_PAGED void InitToneState(ToneDeviceExtension* extension)
{
    PAGED_CODE();
    extension->TimerArmed = 0;
    KeInitializeDpc(&extension->Dpc, ToneTimerDpc, extension);
    KeInitializeTimer(&extension->Timer);
}

TONE_PAGED void ArmToneTimer(ToneDeviceExtension* extension, ULONG duration)
{
    PAGED_CODE();
    if (static_cast<LONG>(duration) <= 0) {
        return;
    }
    LARGE_INTEGER dueTime;
    dueTime.QuadPart = kRelativeUnitsPerMs * static_cast<LONGLONG>(duration);
    // flag first: a routine that runs at once must find it set, so its own clearing wins
    extension->TimerArmed = 1;
    KeSetTimer(&extension->Timer, dueTime, &extension->Dpc);
}

TONE_PAGED void SoundTone(ULONG frequency, ULONG duration)
{
    PAGED_CODE();
    SpeakerOn();
    SelectSquareWave();
    if (frequency == 0) {
        DbgPrint("!!!!!!!!!!!!!!!TONEKD:get zero divider on frequency \n");
        DbgPrint("!!!!!!!!!!!!!!!TONEKD:resume frequency to 200 \n");
        frequency = kFallbackFrequency;
    }
    if (duration == 0) {
        DbgPrint("!!!!!!!!!!!!!!!TONEKD:get zero divider on duration \n");
        DbgPrint("!!!!!!!!!!!!!!!TONEKD:resume duration to 1 \n");
        duration = kFallbackCount;
    }
    // below 19 Hz the divisor needs 17 bits; only its low 16 reach the counter
    const ULONG divisor = kTimerClockHz / frequency;
    const ULONG high = divisor / 256;
    const ULONG low = divisor - high * 256;
    DbgPrint("TONEKD:integer decimal MSB is :%d \n", high);
    DbgPrint("TONEKD:integer hex MSB is :%x \n", high);
    DbgPrint("TONEKD:integer decimal LSB is :%d \n", low);
    DbgPrint("TONEKD:integer hex LSB is :%x \n", low);
    LoadDivisor(static_cast<UCHAR>(low), static_cast<UCHAR>(high));
    DelayWrites(BoundedCount(duration));
    SpeakerOff();
}

// TimerArmed cannot tell whether a timer is set: a routine that ends clears
// it also when a later request has set the timer again, and a routine queued
// again while it ran leaves no mark at all. So every close cancels and waits.
TONE_PAGED void StopToneOnClose(ToneDeviceExtension* extension)
{
    PAGED_CODE();
    extension->TimerArmed = 0;
    CancelStopTimer(extension);
    // after the wait, so that a routine queued before the close cannot switch it on again
    SpeakerOff();
}

TONE_PAGED void ReleaseToneState(ToneDeviceExtension* extension)
{
    PAGED_CODE();
    CancelStopTimer(extension);
}

// runs at DISPATCH_LEVEL when the stop timer expires; leaves the speaker
// switched on at a pitch above hearing, until the next tone ends or a close
void ToneTimerDpc(PKDPC, PVOID context, PVOID, PVOID)
{
    auto* extension = static_cast<ToneDeviceExtension*>(context);
    DbgPrint("DPC routine.\n");
    PortWrite(kDiagnosticPort, kDiagnosticMark);
    SpeakerOn();
    SelectSquareWave();
    LoadDivisor(kStopDivisor, 0);
    DelayWrites(2 * kStopDelayPasses);
    extension->TimerArmed = 0;
}
