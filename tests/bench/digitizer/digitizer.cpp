// A HID minidriver for the test bench: a root-enumerated touch screen, pen or
// digitizer without a tip switch, chosen by its hardware id, whose input
// reports a test hands over through a request of its own on the HID device
// handle. Each report completes the class driver's pending read or waits in
// a short queue.
#include <ntddk.h>

#include "virtual_digitizer.h"

extern "C" DRIVER_INITIALIZE DriverEntry;

namespace {

// The minidriver interface of the HID class driver. mingw-w64 has no
// hidport.h, and its hidclass.h gives other codes for these requests.
constexpr ULONG HidRequest(ULONG id)
{
    return CTL_CODE(FILE_DEVICE_KEYBOARD, id, METHOD_NEITHER, FILE_ANY_ACCESS);
}
constexpr ULONG HidGetDeviceDescriptor = HidRequest(0);
constexpr ULONG HidGetReportDescriptor = HidRequest(1);
constexpr ULONG HidReadReport = HidRequest(2);
constexpr ULONG HidGetString = HidRequest(4);
constexpr ULONG HidGetDeviceAttributes = HidRequest(9);

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
#pragma pack(push, 1)
struct HidDescriptor {
    UCHAR bLength;
    UCHAR bDescriptorType;
    USHORT bcdHID;
    UCHAR bCountry;
    UCHAR bNumDescriptors;
    UCHAR bReportType;
    USHORT wReportLength;
};
#pragma pack(pop)

// One finger: tip switch and in-range bits, padding, an 8-bit contact
// identifier, then 16-bit X and Y on the generic desktop page.
#define FINGER_COLLECTION                                                                          \
    0x09, 0x22, 0xA1, 0x02, 0x09, 0x42, 0x09, 0x32, 0x15, 0x00, 0x25, 0x01, 0x75, 0x01, 0x95, 0x02, \
        0x81, 0x02, 0x75, 0x06, 0x95, 0x01, 0x81, 0x03, 0x09, 0x51, 0x26, 0xFF, 0x00, 0x75, 0x08,   \
        0x81, 0x02, 0x05, 0x01, 0x09, 0x30, 0x09, 0x31, 0x26, 0xFF, 0x7F, 0x75, 0x10, 0x95, 0x02,   \
        0x81, 0x02, 0x05, 0x0D, 0xC0
// X and Y as above, after a byte of bits
#define POSITION 0x05, 0x01, 0x09, 0x30, 0x09, 0x31, 0x26, 0xFF, 0x7F, 0x75, 0x10, 0x95, 0x02, 0x81, 0x02

// touch screen, report id 1: two fingers, then an 8-bit contact count
const UCHAR TouchDescriptor[] = {0x05, 0x0D, 0x09, 0x04, 0xA1, 0x01, 0x85, 0x01, FINGER_COLLECTION,
                                 FINGER_COLLECTION, 0x09, 0x54, 0x25, 0x7F, 0x75, 0x08, 0x95, 0x01,
                                 0x81, 0x02, 0xC0};
// pen, report id 2: tip switch, in range and barrel bits, padding, X, Y
const UCHAR PenDescriptor[] = {0x05, 0x0D, 0x09, 0x02, 0xA1, 0x01, 0x85, 0x02, 0x09, 0x20, 0xA1,
                               0x00, 0x09, 0x42, 0x09, 0x32, 0x09, 0x44, 0x15, 0x00, 0x25, 0x01,
                               0x75, 0x01, 0x95, 0x03, 0x81, 0x02, 0x75, 0x05, 0x95, 0x01, 0x81,
                               0x03, POSITION, 0xC0, 0xC0};
// touch screen without a tip switch, report id 3: in-range bit, padding, X, Y
const UCHAR TiplessDescriptor[] = {0x05, 0x0D, 0x09, 0x04, 0xA1, 0x01, 0x85, 0x03, 0x09, 0x22,
                                   0xA1, 0x02, 0x09, 0x32, 0x15, 0x00, 0x25, 0x01, 0x75, 0x01,
                                   0x95, 0x01, 0x81, 0x02, 0x75, 0x07, 0x81, 0x03, POSITION,
                                   0xC0, 0xC0};

struct Model {
    const UCHAR *descriptor;
    USHORT descriptorLength;
    const wchar_t *product;
};
const Model Models[DigitizerKindCount] = {
    {TouchDescriptor, sizeof(TouchDescriptor), L"Bench touch screen"},
    {PenDescriptor, sizeof(PenDescriptor), L"Bench pen"},
    {TiplessDescriptor, sizeof(TiplessDescriptor), L"Bench digitizer without tip switch"},
};

constexpr ULONG QueueDepth = 8;
constexpr ULONG MaxReportLength = 16;

struct Digitizer {
    ULONG kind;
    PDEVICE_OBJECT fdo;
    PDEVICE_OBJECT lower;
    PIRP pendingRead;
    ULONG queued;
    UCHAR queue[QueueDepth][MaxReportLength];
};

// One lock for everything: the devices present, their reads and queues.
KSPIN_LOCK StateLock;
Digitizer *Present[DigitizerKindCount];
// While the class driver removes a HID device it waits for its read loop to
// end; reads fail at once meanwhile, so that the loop sees the stop.
LONG Removals;
PDRIVER_DISPATCH ClassPnp;
PDRIVER_DISPATCH ClassDeviceControl;

Digitizer *DigitizerOf(PDEVICE_OBJECT fdo)
{
    return static_cast<Digitizer *>(static_cast<HidDeviceExtension *>(fdo->DeviceExtension)->MiniDeviceExtension);
}

NTSTATUS Complete(PIRP irp, NTSTATUS status, ULONG_PTR information)
{
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

// Copies into a METHOD_NEITHER request's output buffer; false when it is short.
bool Answer(PIRP irp, const void *data, ULONG length)
{
    if (IoGetCurrentIrpStackLocation(irp)->Parameters.DeviceIoControl.OutputBufferLength < length) {
        return false;
    }
    RtlCopyMemory(irp->UserBuffer, data, length);
    irp->IoStatus.Information = length;
    return true;
}

NTSTATUS AnswerString(PIRP irp, const Digitizer *digitizer)
{
    // the low word of the argument is the string id: 14 manufacturer, 15 product, 16 serial
    ULONG id = (ULONG)(ULONG_PTR)IoGetCurrentIrpStackLocation(irp)->Parameters.DeviceIoControl.Type3InputBuffer & 0xFFFF;
    const wchar_t *text = id == 14 ? L"Pitchkeeper test bench" : id == 15 ? Models[digitizer->kind].product : L"0";
    ULONG length = 0;
    while (text[length] != 0) {
        length++;
    }
    return Answer(irp, text, (length + 1) * sizeof(wchar_t)) ? STATUS_SUCCESS : STATUS_BUFFER_TOO_SMALL;
}

// Under the lock: hands the oldest queued report to the read, or pends it.
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
    if (!Answer(irp, digitizer->queue[0], DigitizerReportLengths[digitizer->kind])) {
        return STATUS_BUFFER_TOO_SMALL;
    }
    digitizer->queued--;
    RtlMoveMemory(digitizer->queue[0], digitizer->queue[1], digitizer->queued * MaxReportLength);
    return STATUS_SUCCESS;
}

NTSTATUS Read(Digitizer *digitizer, PIRP irp)
{
    KIRQL irql;
    KeAcquireSpinLock(&StateLock, &irql);
    NTSTATUS status = ReadLocked(digitizer, irp);
    KeReleaseSpinLock(&StateLock, irql);
    return status;
}

// The class driver's requests to the device; every one is METHOD_NEITHER.
NTSTATUS InternalDeviceControl(PDEVICE_OBJECT fdo, PIRP irp)
{
    Digitizer *digitizer = DigitizerOf(fdo);
    const Model &model = Models[digitizer->kind];
    irp->IoStatus.Information = 0;
    NTSTATUS status = STATUS_BUFFER_TOO_SMALL;
    switch (IoGetCurrentIrpStackLocation(irp)->Parameters.DeviceIoControl.IoControlCode) {
    case HidGetDeviceAttributes: {
        HidDeviceAttributes attributes = {sizeof(attributes), 0x1209, (USHORT)(0x7D00 + digitizer->kind), 1, {}};
        status = Answer(irp, &attributes, sizeof(attributes)) ? STATUS_SUCCESS : status;
        break;
    }
    case HidGetDeviceDescriptor: {
        HidDescriptor descriptor = {sizeof(descriptor), 0x21, 0x0100, 0, 1, 0x22, model.descriptorLength};
        status = Answer(irp, &descriptor, sizeof(descriptor)) ? STATUS_SUCCESS : status;
        break;
    }
    case HidGetReportDescriptor:
        status = Answer(irp, model.descriptor, model.descriptorLength) ? STATUS_SUCCESS : status;
        break;
    case HidGetString:
        status = AnswerString(irp, digitizer);
        break;
    case HidReadReport:
        status = Read(digitizer, irp);
        break;
    default:
        status = STATUS_NOT_SUPPORTED;
        break;
    }
    return status == STATUS_PENDING ? status : Complete(irp, status, irp->IoStatus.Information);
}

// A report from a test: to the device its report id names.
NTSTATUS HandOver(const UCHAR *report, ULONG length)
{
    ULONG kind = length > 0 ? report[0] - 1u : (ULONG)DigitizerKindCount;
    PIRP read = nullptr;
    NTSTATUS status = STATUS_INVALID_PARAMETER;
    KIRQL irql;
    KeAcquireSpinLock(&StateLock, &irql);
    Digitizer *digitizer = kind < DigitizerKindCount ? Present[kind] : nullptr;
    if (digitizer == nullptr || length != DigitizerReportLengths[kind]) {
        status = STATUS_INVALID_PARAMETER;
    } else if (digitizer->queued == QueueDepth) {
        status = STATUS_DEVICE_BUSY;
    } else {
        RtlCopyMemory(digitizer->queue[digitizer->queued++], report, length);
        read = digitizer->pendingRead;
        digitizer->pendingRead = nullptr;
        status = read != nullptr ? ReadLocked(digitizer, read) : STATUS_SUCCESS;
    }
    KeReleaseSpinLock(&StateLock, irql);
    if (read != nullptr) {
        Complete(read, status, read->IoStatus.Information);
        status = STATUS_SUCCESS;
    }
    return status;
}

NTSTATUS DeviceControl(PDEVICE_OBJECT device, PIRP irp)
{
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    if (stack->Parameters.DeviceIoControl.IoControlCode != IOCTL_PK_DIGITIZER_REPORT) {
        return ClassDeviceControl(device, irp);
    }
    NTSTATUS status = HandOver(static_cast<const UCHAR *>(irp->AssociatedIrp.SystemBuffer),
                               stack->Parameters.DeviceIoControl.InputBufferLength);
    return Complete(irp, status, 0);
}

// Fails the pending read of a device, or of every device (nullptr).
void FailPendingReads(Digitizer *only, bool forget)
{
    PIRP reads[DigitizerKindCount] = {};
    KIRQL irql;
    KeAcquireSpinLock(&StateLock, &irql);
    for (ULONG kind = 0; kind < DigitizerKindCount; kind++) {
        Digitizer *digitizer = Present[kind];
        if (digitizer != nullptr && (only == nullptr || only == digitizer)) {
            reads[kind] = digitizer->pendingRead;
            digitizer->pendingRead = nullptr;
            Present[kind] = forget ? nullptr : digitizer;
        }
    }
    KeReleaseSpinLock(&StateLock, irql);
    for (PIRP read : reads) {
        if (read != nullptr) {
            Complete(read, STATUS_DELETE_PENDING, 0);
        }
    }
}

bool IsDigitizerFdo(PDEVICE_OBJECT device)
{
    for (Digitizer *digitizer : Present) {
        if (digitizer != nullptr && digitizer->fdo == device) {
            return true;
        }
    }
    return false;
}

// In front of the class driver's: its removal of a HID device (not one of
// ours) waits for that device's read loop, which waits for a read we pend.
NTSTATUS Pnp(PDEVICE_OBJECT device, PIRP irp)
{
    bool hidRemoval = IoGetCurrentIrpStackLocation(irp)->MinorFunction == IRP_MN_REMOVE_DEVICE && !IsDigitizerFdo(device);
    if (hidRemoval) {
        InterlockedIncrement(&Removals);
        FailPendingReads(nullptr, false);
    }
    NTSTATUS status = ClassPnp(device, irp);
    if (hidRemoval) {
        InterlockedDecrement(&Removals);
    }
    return status;
}

// The class driver passes on the plug-and-play requests for our devices.
NTSTATUS MiniPnp(PDEVICE_OBJECT fdo, PIRP irp)
{
    Digitizer *digitizer = DigitizerOf(fdo);
    if (IoGetCurrentIrpStackLocation(irp)->MinorFunction == IRP_MN_REMOVE_DEVICE) {
        FailPendingReads(digitizer, true);
    }
    IoSkipCurrentIrpStackLocation(irp);
    return IoCallDriver(digitizer->lower, irp);
}

bool HardwareIdIs(const wchar_t *id, const wchar_t *wanted)
{
    UNICODE_STRING left, right;
    RtlInitUnicodeString(&left, id);
    RtlInitUnicodeString(&right, wanted);
    return RtlEqualUnicodeString(&left, &right, TRUE);
}

NTSTATUS AddDevice(PDRIVER_OBJECT, PDEVICE_OBJECT fdo)
{
    HidDeviceExtension *hid = static_cast<HidDeviceExtension *>(fdo->DeviceExtension);
    wchar_t id[64] = {};
    ULONG length = 0;
    // the first of the hardware ids names the kind; the last character stays 0
    IoGetDeviceProperty(hid->PhysicalDeviceObject, DevicePropertyHardwareID, sizeof(id) - sizeof(wchar_t), id, &length);
    ULONG kind = 0;
    while (kind < DigitizerKindCount && !HardwareIdIs(id, DigitizerHardwareIds[kind])) {
        kind++;
    }
    if (kind == DigitizerKindCount) {
        return STATUS_NO_SUCH_DEVICE;
    }
    Digitizer *digitizer = DigitizerOf(fdo);
    RtlZeroMemory(digitizer, sizeof(*digitizer));
    digitizer->kind = kind;
    digitizer->fdo = fdo;
    digitizer->lower = hid->NextDeviceObject;
    KIRQL irql;
    KeAcquireSpinLock(&StateLock, &irql);
    Present[kind] = digitizer;
    KeReleaseSpinLock(&StateLock, irql);
    return STATUS_SUCCESS;
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
    // the class driver now owns the dispatch table; ours go in front of its
    ClassPnp = driver->MajorFunction[IRP_MJ_PNP];
    ClassDeviceControl = driver->MajorFunction[IRP_MJ_DEVICE_CONTROL];
    driver->MajorFunction[IRP_MJ_PNP] = Pnp;
    driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = DeviceControl;
    return status;
}
