// Driver entry, the one device and its dispatch routines. Every dispatch
// routine completes its request at once; nothing is pended or queued.
#include <ntddk.h>
#include <ntddbeep.h>

#include "device_security.h"
#include "paged.h"
#include "pitchkeeper_shared.h"
#include "settings_lookup.h"
#include "tone.h"

static_assert(IOCTL_VELMORABEEP_BEEP == IOCTL_BEEP_SET, "the beep request is the platform's beep code");
static_assert(sizeof(BEEP_SET_PARAMETERS) == 8, "Frequency and Duration, 4 bytes each");

extern "C" DRIVER_INITIALIZE DriverEntry;

namespace {

ToneDeviceExtension* ExtensionOf(PDEVICE_OBJECT deviceObject)
{
    return static_cast<ToneDeviceExtension*>(deviceObject->DeviceExtension);
}

// no request ever returns data, so Information is always 0
NTSTATUS CompleteRequest(PIRP irp, NTSTATUS status)
{
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = 0;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

// a frequency below the platform minimum is only accepted without a stop time
bool IsValidBeepRequest(const BEEP_SET_PARAMETERS* request)
{
    return request->Frequency <= BEEP_FREQUENCY_MAXIMUM &&
           (request->Frequency >= BEEP_FREQUENCY_MINIMUM || request->Duration == 0);
}

TONE_PAGED NTSTATUS ToneCreate(PDEVICE_OBJECT, PIRP irp)
{
    PAGED_CODE();
    DbgPrint("TONEKD created");
    return CompleteRequest(irp, STATUS_SUCCESS);
}

TONE_PAGED NTSTATUS ToneCleanup(PDEVICE_OBJECT, PIRP irp)
{
    PAGED_CODE();
    return CompleteRequest(irp, STATUS_SUCCESS);
}

TONE_PAGED NTSTATUS ToneClose(PDEVICE_OBJECT deviceObject, PIRP irp)
{
    PAGED_CODE();
    DbgPrint("TONEKD closed");
    StopToneOnClose(ExtensionOf(deviceObject));
    return CompleteRequest(irp, STATUS_SUCCESS);
}

// the request's own fields never set the sound: pitch and length come from the
// user's settings, read first for every request; Duration only sets the stop timer
TONE_PAGED NTSTATUS ToneDeviceControl(PDEVICE_OBJECT deviceObject, PIRP irp)
{
    PAGED_CODE();
    const ToneSettings settings = ReadToneSettings();
    DbgPrint("TONEKD DeviceIOcontrolQ");

    const PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    const auto* request = static_cast<const BEEP_SET_PARAMETERS*>(irp->AssociatedIrp.SystemBuffer);
    NTSTATUS status = STATUS_SUCCESS;
    if (stack->Parameters.DeviceIoControl.IoControlCode != IOCTL_VELMORABEEP_BEEP) {
        status = STATUS_NOT_IMPLEMENTED;
    } else if (stack->Parameters.DeviceIoControl.InputBufferLength != sizeof(BEEP_SET_PARAMETERS) ||
               !IsValidBeepRequest(request)) {
        // the length is checked before either field is read
        status = STATUS_INVALID_PARAMETER;
    } else {
        ArmToneTimer(ExtensionOf(deviceObject), request->Duration);
        SoundTone(settings.Frequency, settings.Duration);
    }
    return CompleteRequest(irp, status);
}

TONE_PAGED void ToneUnload(PDRIVER_OBJECT driverObject)
{
    PAGED_CODE();
    PDEVICE_OBJECT deviceObject = driverObject->DeviceObject;
    // the stop timer and its routine live in the extension that goes with the device
    ReleaseToneState(ExtensionOf(deviceObject));
    IoDeleteDevice(deviceObject);
    DbgPrint("TONEKD unloaded");
}

// A device that cannot be closed to other users is not kept. Secure open
// applies its descriptor also to names opened below the device's own.
TONE_PAGED NTSTATUS CreateToneDevice(PDRIVER_OBJECT driverObject, PDEVICE_OBJECT* deviceObject)
{
    PAGED_CODE();
    UNICODE_STRING deviceName;
    RtlInitUnicodeString(&deviceName, PK_DEVICE_NT_NAME_W);
    NTSTATUS status = IoCreateDevice(driverObject, sizeof(ToneDeviceExtension), &deviceName, FILE_DEVICE_BEEP,
                                     FILE_DEVICE_SECURE_OPEN, FALSE, deviceObject);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    status = AllowOnlyAdministrators(*deviceObject);
    if (!NT_SUCCESS(status)) {
        IoDeleteDevice(*deviceObject);
    }
    return status;
}

}  // namespace

// RegistryPath is not used: the driver keeps no configuration of its own
extern "C" TONE_PAGED NTSTATUS DriverEntry(PDRIVER_OBJECT driverObject, PUNICODE_STRING)
{
    PAGED_CODE();
    driverObject->MajorFunction[IRP_MJ_CREATE] = ToneCreate;
    driverObject->MajorFunction[IRP_MJ_CLOSE] = ToneClose;
    driverObject->MajorFunction[IRP_MJ_CLEANUP] = ToneCleanup;
    driverObject->MajorFunction[IRP_MJ_DEVICE_CONTROL] = ToneDeviceControl;
    driverObject->DriverUnload = ToneUnload;

    PDEVICE_OBJECT deviceObject = nullptr;
    const NTSTATUS status = CreateToneDevice(driverObject, &deviceObject);
    if (NT_SUCCESS(status)) {
        InitToneState(ExtensionOf(deviceObject));
        DbgPrint("*******************TONEKD loaded ********************");
    }
    return status;
}
