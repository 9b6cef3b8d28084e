#include "touch_input.h"

#include "app_state.h"
#include "digitizer_devices.h"
#include "hid_parsing.h"
#include "tone_worker.h"
#include "touch_contacts.h"

#include <stdlib.h>

// room for the few usages of one contact slot (tip, in range, confidence...)
const ULONG MaxSlotUsages = 32;
// Raw input this large or smaller is read on the stack, larger up to the
// bound from the heap; more than the bound is no digitizer's and is left.
const UINT RawInputBufferSize = 4096;
const UINT MaxRawInputSize = 64 * 1024;

void ListenForDigitizers(HWND window)
{
    if (!LoadHidParsing()) {
        return;
    }
    // the window is never in the foreground, hence the sink; device
    // notices free the entries of devices that go
    RAWINPUTDEVICE devices[2] = {};
    devices[0].usUsagePage = DigitizerUsagePage;
    devices[0].usUsage = DigitizerUsageTouchScreen;
    devices[1].usUsagePage = DigitizerUsagePage;
    devices[1].usUsage = DigitizerUsagePen;
    for (RAWINPUTDEVICE &device : devices) {
        device.dwFlags = RIDEV_INPUTSINK | RIDEV_DEVNOTIFY;
        device.hwndTarget = window;
    }
    RegisterRawInputDevices(devices, 2, sizeof(RAWINPUTDEVICE));
}

void HandleInputDeviceChange(WPARAM change, HANDLE device)
{
    if (change == GIDC_REMOVAL) {
        ForgetDigitizer(device);
    }
}

static bool ListsUsage(const USAGE *usages, ULONG count, USAGE usage)
{
    for (ULONG index = 0; index < count; ++index) {
        if (usages[index] == usage) {
            return true;
        }
    }
    return false;
}

// A contact is down while its tip or its eraser touches, unless the device
// marks it as no intended contact (a palm).
static ContactReading ReadingOf(const ContactSlot &slot, const USAGE *usages, ULONG count)
{
    ContactReading reading = {};
    bool touching = ListsUsage(usages, count, DigitizerUsageTipSwitch) ||
                    ListsUsage(usages, count, DigitizerUsageEraser);
    bool palm = slot.HasConfidence && !ListsUsage(usages, count, DigitizerUsageConfidence);
    reading.Down = touching && !palm;
    reading.InRange = ListsUsage(usages, count, DigitizerUsageInRange);
    return reading;
}

// Reads each contact slot of one report; a slot that this report does not
// carry (another report id) is left out. Returns the slots read.
static ULONG ReadContactSlots(const DigitizerDevice &device, PCHAR report, ContactReading *readings)
{
    const HidParsing &hid = *AppState.Hid;
    ULONG read = 0;
    for (BYTE index = 0; index < device.ContactSlots; ++index) {
        const ContactSlot &slot = device.Slots[index];
        USAGE usages[MaxSlotUsages];
        ULONG count = MaxSlotUsages;
        if (hid.GetUsages(HidP_Input, DigitizerUsagePage, slot.Collection, usages, &count,
                          device.PreparsedData, report, device.ReportLength) != HIDP_STATUS_SUCCESS) {
            continue;
        }
        readings[read] = ReadingOf(slot, usages, count);
        // a pen, or a screen that names no contacts, is told apart by its slot
        ULONG id = index;
        if (slot.HasIdentifier) {
            hid.GetUsageValue(HidP_Input, DigitizerUsagePage, slot.Collection,
                              DigitizerUsageContactIdentifier, &id, device.PreparsedData, report,
                              device.ReportLength);
        }
        readings[read++].Id = id;
    }
    return read;
}

// The number of contacts the frame starting with this report holds; 0 in
// the later reports of a frame, and for devices without the count.
static ULONG AnnouncedContacts(const DigitizerDevice &device, PCHAR report)
{
    ULONG count = 0;
    if (device.HasContactCount &&
        AppState.Hid->GetUsageValue(HidP_Input, DigitizerUsagePage, 0,
                                   DigitizerUsageContactCount, &count, device.PreparsedData, report,
                                   device.ReportLength) != HIDP_STATUS_SUCCESS) {
        count = 0;
    }
    return count;
}

static void ReadReport(DigitizerDevice &device, PCHAR report, LONGLONG arrivalTicks)
{
    ContactReading readings[MaxContactSlots];
    ULONG read = ReadContactSlots(device, report, readings);
    if (read > 0) {
        ReadContacts(device, readings, read, AnnouncedContacts(device, report), arrivalTicks);
    }
}

// Raw input may hold several reports of the device's report length; any
// other length is not one of its reports.
static void ReadRawInput(const RAWINPUT *raw, UINT copied, LONGLONG arrivalTicks)
{
    const UINT reportsOffset = offsetof(RAWINPUT, data.hid.bRawData);
    if (copied == (UINT)-1 || copied < reportsOffset || raw->header.dwType != RIM_TYPEHID) {
        return;
    }
    DigitizerDevice *device = DigitizerForReport(raw->header.hDevice);
    if (device == NULL) {
        return;
    }
    device->Counts.Reports++;   // also those it cannot read, so that the status shows them
    if (!HasReadableLayout(*device) ||
        raw->data.hid.dwSizeHid != device->ReportLength) {
        return;
    }
    DWORD reports = raw->data.hid.dwCount;
    if (reports > (copied - reportsOffset) / device->ReportLength) {
        return;
    }
    for (DWORD index = 0; index < reports; ++index) {
        ReadReport(*device, (PCHAR)raw->data.hid.bRawData + index * device->ReportLength, arrivalTicks);
    }
}

// Read at once into the stack buffer, which holds any ordinary report; only
// a larger input costs a second call for its size.
void HandleRawInput(HRAWINPUT input)
{
    LONGLONG arrivalTicks = ToneArrivalNow();
    alignas(RAWINPUT) BYTE stackBuffer[RawInputBufferSize];
    UINT size = sizeof(stackBuffer);
    UINT copied = GetRawInputData(input, RID_INPUT, stackBuffer, &size, sizeof(RAWINPUTHEADER));
    if (copied != (UINT)-1 || GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
        ReadRawInput((const RAWINPUT *)stackBuffer, copied, arrivalTicks);
        return;
    }
    size = 0;
    if (GetRawInputData(input, RID_INPUT, NULL, &size, sizeof(RAWINPUTHEADER)) != 0 ||
        size > MaxRawInputSize) {
        return;
    }
    BYTE *buffer = (BYTE *)malloc(size);
    if (buffer != NULL) {
        copied = GetRawInputData(input, RID_INPUT, buffer, &size, sizeof(RAWINPUTHEADER));
        ReadRawInput((const RAWINPUT *)buffer, copied, arrivalTicks);
        free(buffer);
    }
}
