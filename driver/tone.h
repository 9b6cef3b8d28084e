// Speaker tone generation and the stop timer that lives in the device extension.
#pragma once

#include <ntddk.h>

// extension of the driver's one device object: the only state the driver keeps
struct ToneDeviceExtension {
    KDPC Dpc;
    KTIMER Timer;
    UCHAR TimerArmed;  // 1 from setting Timer until its routine ends or a close cancels it
};

void InitToneState(ToneDeviceExtension* extension);
void ArmToneTimer(ToneDeviceExtension* extension, ULONG duration);
void SoundTone(ULONG frequency, ULONG duration);
void StopToneOnClose(ToneDeviceExtension* extension);
void ReleaseToneState(ToneDeviceExtension* extension);
void ToneTimerDpc(PKDPC dpc, PVOID context, PVOID systemArgument1, PVOID systemArgument2);
