// A HID minidriver for the test bench: a root-enumerated touch screen of one
// report style, a pen or a digitizer without a tip switch, chosen by its
// hardware id, whose input
// reports a test hands over through a request of its own on the HID device
// handle. Each report completes the class driver's pending read or waits in
// a short queue.
#include <ntddk.h>
#include <wchar.h>

#include "virtual_digitizer.h"

extern "C" DRIVER_INITIALIZE DriverEntry;

namespace {

// The class driver's minidriver interface: mingw-w64 has no hidport.h, and
// its hidclass.h gives other codes for these requests.
constexpr ULONG HidRequest(ULONG id)
{
    return CTL_CODE(FILE_DEVICE_KEYBOARD, id, METHOD_NEITHER, FILE_ANY_ACCESS);
}
struct HidMinidriverRegistration {
    ULONG Revision;
    PDRIVER_OBJECT DriverObject;
    PUNICODE_STRING RegistryPath;
    ULONG DeviceExtensionSize;
    BOOLEAN DevicesArePolled;
    UCHAR Reserved[3];
};
struct HidDeviceExtension {
    PDEVICE_OBJECT PhysicalDeviceObject;
    PDEVICE_OBJECT NextDeviceObject;
    PVOID MiniDeviceExtension;
};
struct HidDeviceAttributes {
    ULONG Size;
    USHORT VendorID;
    USHORT ProductID;
    USHORT VersionNumber;
    USHORT Reserved[11];
};

// One finger: tip switch, in-range and confidence bits, padding, an 8-bit
// contact identifier, then 16-bit X and Y on the generic desktop page.
#define FINGER                                                                                                   \
    0x09, 0x22, 0xA1, 0x02, 0x09, 0x42, 0x09, 0x32, 0x09, 0x47, 0x15, 0x00, 0x25, 0x01, 0x75, 0x01, 0x95, 0x03, \
        0x81, 0x02, 0x75, 0x05, 0x95, 0x01, 0x81, 0x03, 0x09, 0x51, 0x26, 0xFF, 0x00, 0x75, 0x08, 0x81, 0x02,    \
        POSITION, 0x05, 0x0D, 0xC0
#define POSITION 0x05, 0x01, 0x09, 0x30, 0x09, 0x31, 0x26, 0xFF, 0x7F, 0x75, 0x10, 0x95, 0x02, 0x81, 0x02

// touch screen, report id 1: two fingers, then an 8-bit contact count
const UCHAR TouchDescriptor[] = {0x05, 0x0D, 0x09, 0x04, 0xA1, 0x01, 0x85, 0x01, FINGER, FINGER,
                                 0x09, 0x54, 0x25, 0x7F, 0x75, 0x08, 0x95, 0x01, 0x81, 0x02, 0xC0};
// pen, report id 2: tip switch, in-range, barrel, invert and eraser bits,
// padding, X, Y
const UCHAR PenDescriptor[] = {0x05, 0x0D, 0x09, 0x02, 0xA1, 0x01, 0x85, 0x02, 0x09, 0x20, 0xA1, 0x00,
                               0x09, 0x42, 0x09, 0x32, 0x09, 0x44, 0x09, 0x3C, 0x09, 0x45, 0x15, 0x00,
                               0x25, 0x01, 0x75, 0x01, 0x95, 0x05, 0x81, 0x02, 0x75, 0x03, 0x95, 0x01,
                               0x81, 0x03, POSITION, 0xC0, 0xC0};
// touch screen without a tip switch, report id 3: in-range bit, padding, X, Y
const UCHAR TiplessDescriptor[] = {0x05, 0x0D, 0x09, 0x04, 0xA1, 0x01, 0x85, 0x03, 0x09, 0x22, 0xA1, 0x02,
                                   0x09, 0x32, 0x15, 0x00, 0x25, 0x01, 0x75, 0x01, 0x95, 0x01, 0x81, 0x02,
                                   0x75, 0x07, 0x81, 0x03, POSITION, 0xC0, 0xC0};
// serial touch screen, report id 4: one finger per report, no count
const UCHAR SerialDescriptor[] = {0x05, 0x0D, 0x09, 0x04, 0xA1, 0x01, 0x85, 0x04, FINGER, 0xC0};
// single-touch screen, report id 5: tip switch and in-range bits, padding,
// X, Y; no identifier, no count
const UCHAR SingleTouchDescriptor[] = {0x05, 0x0D, 0x09, 0x04, 0xA1, 0x01, 0x85, 0x05, 0x09, 0x22, 0xA1, 0x02,
                                       0x09, 0x42, 0x09, 0x32, 0x15, 0x00, 0x25, 0x01, 0x75, 0x01, 0x95, 0x02,
                                       0x81, 0x02, 0x75, 0x06, 0x95, 0x01, 0x81, 0x03, POSITION, 0xC0, 0xC0};
const UCHAR *const Descriptors[DigitizerKindCount] = {TouchDescriptor, PenDescriptor, TiplessDescriptor,
                                                      SerialDescriptor, SingleTouchDescriptor};
const UCHAR DescriptorLengths[DigitizerKindCount] = {sizeof(TouchDescriptor), sizeof(PenDescriptor),
                                                     sizeof(TiplessDescriptor), sizeof(SerialDescriptor),
                                                     sizeof(SingleTouchDescriptor)};

constexpr ULONG QueueDepth = 8;
constexpr ULONG MaxReportLength = 16;

struct Digitizer {
    ULONG kind;
    PDEVICE_OBJECT lower;
    PIRP pendingRead;
    ULONG queued;
    UCHAR queue[QueueDepth][MaxReportLength];
};

// One lock for all of it: the devices present, their reads and queues.
KSPIN_LOCK StateLock;
Digitizer *Present[DigitizerKindCount];
// The class driver's removal of a device waits for that device's read loop
// to end; meanwhile reads fail at once instead of pending, so the loop ends.
LONG Removals;
PDRIVER_DISPATCH ClassPnp;
PDRIVER_DISPATCH ClassDeviceControl;

Digitizer *DigitizerOf(PDEVICE_OBJECT fdo)
{
    return static_cast<Digitizer *>(static_cast<HidDeviceExtension *>(fdo->DeviceExtension)->MiniDeviceExtension);
}

NTSTATUS Complete(PIRP irp, NTSTATUS status)
{
    irp->IoStatus.Status = status;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

// Into a METHOD_NEITHER request's output buffer, when it is long enough.
NTSTATUS Answer(PIRP irp, const void *data, ULONG length)
{
    if (IoGetCurrentIrpStackLocation(irp)->Parameters.DeviceIoControl.OutputBufferLength < length) {
        return STATUS_BUFFER_TOO_SMALL;
    }
    RtlCopyMemory(irp->UserBuffer, data, length);
    irp->IoStatus.Information = length;
    return STATUS_SUCCESS;
}

// Under the lock: the oldest queued report goes to the read, or the read waits.
NTSTATUS ReadLocked(Digitizer *digitizer, PIRP irp)
{
    if (Removals > 0 || digitizer->pendingRead != nullptr) {
        return STATUS_DEVICE_NOT_READY;
    }
    if (digitizer->queued == 0) {
        IoMarkIrpPending(irp);
        digitizer->pendingRead = irp;
        return STATUS_PENDING;
    }
    NTSTATUS status = Answer(irp, digitizer->queue[0], DigitizerReportLengths[digitizer->kind]);
    digitizer->queued--;
    RtlMoveMemory(digitizer->queue[0], digitizer->queue[1], digitizer->queued * MaxReportLength);
    return status;
}

NTSTATUS Read(Digitizer *digitizer, PIRP irp)
{
    KIRQL irql;
    KeAcquireSpinLock(&StateLock, &irql);
    NTSTATUS status = ReadLocked(digitizer, irp);
    KeReleaseSpinLock(&StateLock, irql);
    return status;
}

// The class driver's requests, all METHOD_NEITHER.
NTSTATUS InternalDeviceControl(PDEVICE_OBJECT fdo, PIRP irp)
{
    Digitizer *digitizer = DigitizerOf(fdo);
    ULONG kind = digitizer->kind;
    irp->IoStatus.Information = 0;
    ULONG code = IoGetCurrentIrpStackLocation(irp)->Parameters.DeviceIoControl.IoControlCode;
    NTSTATUS status = STATUS_NOT_SUPPORTED;
    if (code == HidRequest(9)) {   // device attributes
        HidDeviceAttributes attributes = {sizeof(attributes), 0x1209, (USHORT)(0x7D00 + kind), 1, {}};
        status = Answer(irp, &attributes, sizeof(attributes));
    } else if (code == HidRequest(0)) {   // HID descriptor: one report descriptor
        const UCHAR descriptor[] = {9, 0x21, 0x00, 0x01, 0, 1, 0x22, DescriptorLengths[kind], 0};
        status = Answer(irp, descriptor, sizeof(descriptor));
    } else if (code == HidRequest(1)) {   // report descriptor
        status = Answer(irp, Descriptors[kind], DescriptorLengths[kind]);
    } else if (code == HidRequest(4)) {   // every string: the hardware id
        status = Answer(irp, DigitizerHardwareIds[kind], (wcslen(DigitizerHardwareIds[kind]) + 1) * sizeof(wchar_t));
    } else if (code == HidRequest(2)) {   // read report
        status = Read(digitizer, irp);
    }
    return status == STATUS_PENDING ? status : Complete(irp, status);
}

// A report from a test, for the device its report id names.
NTSTATUS HandOver(const UCHAR *report, ULONG length)
{
    ULONG kind = length > 0 ? report[0] - 1u : (ULONG)DigitizerKindCount;
    PIRP read = nullptr;
    NTSTATUS status = STATUS_INVALID_PARAMETER;
    KIRQL irql;
    KeAcquireSpinLock(&StateLock, &irql);
    Digitizer *digitizer = kind < DigitizerKindCount ? Present[kind] : nullptr;
    if (digitizer != nullptr && length == DigitizerReportLengths[kind]) {
        status = digitizer->queued < QueueDepth ? STATUS_SUCCESS : STATUS_DEVICE_BUSY;
    }
    if (status == STATUS_SUCCESS) {
        RtlCopyMemory(digitizer->queue[digitizer->queued++], report, length);
        read = digitizer->pendingRead;
        digitizer->pendingRead = nullptr;
    }
    NTSTATUS readStatus = read != nullptr ? ReadLocked(digitizer, read) : STATUS_SUCCESS;
    KeReleaseSpinLock(&StateLock, irql);
    if (read != nullptr) {
        Complete(read, readStatus);
    }
    return status;
}

// In front of the class driver's: the bench's report request.
NTSTATUS DeviceControl(PDEVICE_OBJECT device, PIRP irp)
{
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    if (stack->Parameters.DeviceIoControl.IoControlCode != IOCTL_PK_DIGITIZER_REPORT) {
        return ClassDeviceControl(device, irp);
    }
    irp->IoStatus.Information = 0;
    return Complete(irp, HandOver(static_cast<const UCHAR *>(irp->AssociatedIrp.SystemBuffer),
                                  stack->Parameters.DeviceIoControl.InputBufferLength));
}

// Fails every pending read, which the class driver asks again at once unless
// it is removing that device; then makes a device of that kind present or
// not (one of each kind at a time).
void FailReads(ULONG kind, Digitizer *present)
{
    PIRP reads[DigitizerKindCount] = {};
    KIRQL irql;
    KeAcquireSpinLock(&StateLock, &irql);
    for (ULONG i = 0; i < DigitizerKindCount; i++) {
        if (Present[i] != nullptr) {
            reads[i] = Present[i]->pendingRead;
            Present[i]->pendingRead = nullptr;
        }
    }
    if (kind < DigitizerKindCount) {
        Present[kind] = present;
    }
    KeReleaseSpinLock(&StateLock, irql);
    for (PIRP read : reads) {
        if (read != nullptr) {
            Complete(read, STATUS_DELETE_PENDING);
        }
    }
}

// In front of the class driver's: while it removes any device, no read waits.
NTSTATUS Pnp(PDEVICE_OBJECT device, PIRP irp)
{
    bool removal = IoGetCurrentIrpStackLocation(irp)->MinorFunction == IRP_MN_REMOVE_DEVICE;
    if (removal) {
        InterlockedIncrement(&Removals);
        FailReads(DigitizerKindCount, nullptr);
    }
    NTSTATUS status = ClassPnp(device, irp);
    if (removal) {
        InterlockedDecrement(&Removals);
    }
    return status;
}

// What the class driver passes on for our own device objects.
NTSTATUS MiniPnp(PDEVICE_OBJECT fdo, PIRP irp)
{
    Digitizer *digitizer = DigitizerOf(fdo);
    if (IoGetCurrentIrpStackLocation(irp)->MinorFunction == IRP_MN_REMOVE_DEVICE) {
        FailReads(digitizer->kind, nullptr);
    }
    IoSkipCurrentIrpStackLocation(irp);
    return IoCallDriver(digitizer->lower, irp);
}

NTSTATUS AddDevice(PDRIVER_OBJECT, PDEVICE_OBJECT fdo)
{
    HidDeviceExtension *hid = static_cast<HidDeviceExtension *>(fdo->DeviceExtension);
    // the first hardware id names the kind; the last character stays 0
    wchar_t id[64] = {};
    ULONG length = 0;
    IoGetDeviceProperty(hid->PhysicalDeviceObject, DevicePropertyHardwareID, sizeof(id) - sizeof(wchar_t), id, &length);
    ULONG kind = 0;
    while (kind < DigitizerKindCount && _wcsicmp(id, DigitizerHardwareIds[kind]) != 0) {
        kind++;
    }
    Digitizer *digitizer = DigitizerOf(fdo);
    RtlZeroMemory(digitizer, sizeof(*digitizer));
    digitizer->kind = kind;
    digitizer->lower = hid->NextDeviceObject;
    FailReads(kind, digitizer);
    return kind < DigitizerKindCount ? STATUS_SUCCESS : STATUS_NO_SUCH_DEVICE;
}

}  // namespace

extern "C" NTSTATUS NTAPI HidRegisterMinidriver(HidMinidriverRegistration *registration);

extern "C" NTSTATUS DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath)
{
    KeInitializeSpinLock(&StateLock);
    driver->DriverExtension->AddDevice = AddDevice;
    driver->MajorFunction[IRP_MJ_PNP] = MiniPnp;
    driver->MajorFunction[IRP_MJ_INTERNAL_DEVICE_CONTROL] = InternalDeviceControl;
    HidMinidriverRegistration registration = {1, driver, registryPath, sizeof(Digitizer), FALSE, {}};
    NTSTATUS status = HidRegisterMinidriver(&registration);
    // the class driver has taken over the dispatch table; ours go in front
    ClassPnp = driver->MajorFunction[IRP_MJ_PNP];
    ClassDeviceControl = driver->MajorFunction[IRP_MJ_DEVICE_CONTROL];
    driver->MajorFunction[IRP_MJ_PNP] = Pnp;
    driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = DeviceControl;
    return status;
}
