#include "touch_input.h"

#include "app_state.h"
#include "click_hook.h"
#include "digitizer_devices.h"
#include "hid_parsing.h"
#include "pitchkeeper_shared.h"

// A digitizer reports many times a second while a contact is down; one
// that has sent nothing for this long has lifted, even if the lift report
// was lost.
const DWORD StaleContactMs = 1000;
// room for the few usages of one contact slot (tip, in range, confidence...)
const ULONG MaxSlotUsages = 32;
// larger raw input than this is no digitizer report; it is passed over
const UINT RawInputBufferSize = 4096;

struct ContactReading {
    BYTE Tip;
    ULONG Id;
};

void ListenForDigitizers(HWND window)
{
    if (!LoadHidParsing()) {
        return;
    }
    // the window is never in the foreground, hence the sink; device
    // notices keep the table in line with what is attached
    RAWINPUTDEVICE devices[2] = {};
    devices[0].usUsagePage = DigitizerUsagePage;
    devices[0].usUsage = DigitizerUsageTouchScreen;
    devices[1].usUsagePage = DigitizerUsagePage;
    devices[1].usUsage = DigitizerUsagePen;
    for (RAWINPUTDEVICE &device : devices) {
        device.dwFlags = RIDEV_INPUTSINK | RIDEV_DEVNOTIFY;
        device.hwndTarget = window;
    }
    if (RegisterRawInputDevices(devices, 2, sizeof(RAWINPUTDEVICE))) {
        TrackPresentDigitizers();
    }
}

void HandleInputDeviceChange(WPARAM change, HANDLE device)
{
    if (change == GIDC_ARRIVAL) {
        TrackDigitizer(device);
    } else if (change == GIDC_REMOVAL) {
        ForgetDigitizer(device);
    }
}

bool IsPressFromDecodedDigitizer(ULONG_PTR extraInfo)
{
    if ((extraInfo & PK_CONTACT_PRESS_MASK) != PK_CONTACT_PRESS_SIGNATURE) {
        return false;
    }
    BYTE type = (extraInfo & PK_CONTACT_PRESS_TOUCH_BIT) ? DigitizerTypeTouchScreen : DigitizerTypePen;
    for (const DigitizerDevice &device : AppState.Digitizers) {
        if (device.Handle != NULL && device.Type == type && device.Decoded) {
            return true;
        }
    }
    return false;
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

// Reads each contact slot of one report; a slot that this report does not
// carry (another report id) is left out. Returns the slots read.
static ULONG ReadContactSlots(const DigitizerDevice &device, PCHAR report, ContactReading *slots)
{
    const HidParsing &hid = *AppState.Hid;
    ULONG read = 0;
    for (BYTE slot = 0; slot < device.ContactSlots; ++slot) {
        USHORT collection = device.ContactCollections[slot];
        USAGE usages[MaxSlotUsages];
        ULONG count = MaxSlotUsages;
        if (hid.GetUsages(HidP_Input, DigitizerUsagePage, collection, usages, &count,
                          device.PreparsedData, report, device.ReportLength) != HIDP_STATUS_SUCCESS) {
            continue;
        }
        // a pen, or a screen that names no contacts, is told apart by its slot
        ULONG id = slot;
        hid.GetUsageValue(HidP_Input, DigitizerUsagePage, collection,
                          DigitizerUsageContactIdentifier, &id, device.PreparsedData, report,
                          device.ReportLength);
        slots[read].Tip = ListsUsage(usages, count, DigitizerUsageTipSwitch);
        slots[read].Id = id;
        read++;
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

static bool Contains(const ContactSet &set, ULONG id)
{
    for (BYTE index = 0; index < set.Count; ++index) {
        if (set.Ids[index] == id) {
            return true;
        }
    }
    return false;
}

// The first contact after none sounds at once; later ones while another
// is down, movement and holding sound nothing.
static void NoteContact(DigitizerDevice &device, const ContactReading &contact)
{
    // down before and listed now, lifting or not: the touch goes on
    if (Contains(device.DownBefore, contact.Id)) {
        device.FrameKeepsAContact = 1;
    }
    if (!contact.Tip) {
        return;
    }
    if (device.DownBefore.Count == 0 && !device.SoundedThisFrame) {
        device.SoundedThisFrame = 1;
        StartToneWorker();
    }
    ContactSet &down = device.FrameDown;
    if (down.Count < MaxFrameContacts && !Contains(down, contact.Id)) {
        down.Ids[down.Count++] = contact.Id;
    }
}

// A frame lists every contact that is down. When it lists none of those
// down before, they have all lifted, and a contact down now is a new touch.
static void EndFrame(DigitizerDevice &device)
{
    if (!device.SoundedThisFrame && !device.FrameKeepsAContact && device.FrameDown.Count > 0) {
        StartToneWorker();
    }
    device.DownBefore = device.FrameDown;
    device.FrameContactsLeft = 0;
}

static void BeginFrame(DigitizerDevice &device, ULONG announced)
{
    if (device.FrameContactsLeft > 0) {
        EndFrame(device);   // the rest of the frame before never came
    }
    device.FrameDown.Count = 0;
    device.SoundedThisFrame = 0;
    device.FrameKeepsAContact = 0;
    device.FrameContactsLeft = announced;
}

static void ReadReport(DigitizerDevice &device, PCHAR report)
{
    ContactReading slots[MaxContactSlots];
    ULONG read = ReadContactSlots(device, report, slots);
    if (read == 0) {
        return;
    }
    device.Decoded = 1;
    DWORD now = GetTickCount();
    if (now - device.LastReportTick > StaleContactMs) {
        device.DownBefore.Count = 0;
        device.FrameContactsLeft = 0;
    }
    device.LastReportTick = now;

    ULONG announced = AnnouncedContacts(device, report);
    if (announced > 0 || device.FrameContactsLeft == 0) {
        BeginFrame(device, announced);
    }
    // slots past the announced count carry nothing
    ULONG used = read;
    if (device.FrameContactsLeft > 0) {
        used = read < device.FrameContactsLeft ? read : device.FrameContactsLeft;
        device.FrameContactsLeft -= used;
    }
    for (ULONG index = 0; index < used; ++index) {
        NoteContact(device, slots[index]);
    }
    if (device.FrameContactsLeft == 0) {
        EndFrame(device);
    }
}

// Raw input may hold several reports of the device's report length; any
// other length is not one of its reports.
void HandleRawInput(HRAWINPUT input)
{
    alignas(RAWINPUT) BYTE buffer[RawInputBufferSize];
    UINT size = sizeof(buffer);
    UINT copied = GetRawInputData(input, RID_INPUT, buffer, &size, sizeof(RAWINPUTHEADER));
    const RAWINPUT *raw = (const RAWINPUT *)buffer;
    const UINT reportsOffset = offsetof(RAWINPUT, data.hid.bRawData);
    if (copied == (UINT)-1 || copied < reportsOffset || raw->header.dwType != RIM_TYPEHID) {
        return;
    }
    DigitizerDevice *device = TrackDigitizer(raw->header.hDevice);
    if (device == NULL || !HasReadableLayout(*device) ||
        raw->data.hid.dwSizeHid != device->ReportLength) {
        return;
    }
    DWORD reports = raw->data.hid.dwCount;
    if (reports > (copied - reportsOffset) / device->ReportLength) {
        return;
    }
    for (DWORD index = 0; index < reports; ++index) {
        ReadReport(*device, (PCHAR)raw->data.hid.bRawData + index * device->ReportLength);
    }
}
