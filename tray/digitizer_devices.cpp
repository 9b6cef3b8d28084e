#include "digitizer_devices.h"

#include "app_state.h"
#include "hid_parsing.h"

#include <stdlib.h>
#include <string.h>

// a layout larger than this is no digitizer's; it is not read
const UINT MaxPreparsedDataSize = 64 * 1024;
const USHORT MaxCapsListed = 512;
// An entry silent this long holds no contact and no press to account for
// (see touch_contacts.cpp), so it may give way to a device that reports.
const DWORD IdleEntryMs = 10000;

static DigitizerDevice *FindDigitizer(HANDLE handle)
{
    for (DigitizerDevice &device : AppState.Digitizers) {
        if (device.Handle == handle) {
            return &device;
        }
    }
    return NULL;
}

// The type from the device's top-level usage; -1 for any other device.
static int DigitizerTypeOf(HANDLE handle)
{
    RID_DEVICE_INFO info = {};
    info.cbSize = sizeof(info);
    UINT size = sizeof(info);
    if (GetRawInputDeviceInfoA(handle, RIDI_DEVICEINFO, &info, &size) == (UINT)-1 ||
        info.dwType != RIM_TYPEHID || info.hid.usUsagePage != DigitizerUsagePage) {
        return -1;
    }
    if (info.hid.usUsage == DigitizerUsageTouchScreen) {
        return DigitizerTypeTouchScreen;
    }
    return info.hid.usUsage == DigitizerUsagePen ? DigitizerTypePen : -1;
}

static void ReadDeviceName(HANDLE handle, char (&name)[MAX_PATH])
{
    UINT size = MAX_PATH;
    if (GetRawInputDeviceInfoA(handle, RIDI_DEVICENAME, name, &size) == (UINT)-1) {
        name[0] = '\0';
    }
    name[MAX_PATH - 1] = '\0';
}

// The entry for a device that starts to report: its own from before it
// went, a free one, or the one silent longest if that is idle.
static DigitizerDevice *EntryFor(const char *name)
{
    DigitizerDevice *unused = NULL;
    DigitizerDevice *idle = NULL;
    DWORD now = GetTickCount();
    for (DigitizerDevice &device : AppState.Digitizers) {
        if (device.Handle == NULL && name[0] != '\0' && strcmp(device.Name, name) == 0) {
            return &device;
        }
        if (device.Handle == NULL) {
            // one never used before one whose device went
            unused = unused == NULL || unused->Counts.Reports > 0 ? &device : unused;
        } else if (now - device.LastReportTick > IdleEntryMs &&
                   (idle == NULL || now - device.LastReportTick > now - idle->LastReportTick)) {
            idle = &device;
        }
    }
    return unused != NULL ? unused : idle;
}

DigitizerDevice *DigitizerForReport(HANDLE handle)
{
    DigitizerDevice *device = FindDigitizer(handle);
    if (device != NULL || handle == NULL) {
        return device;
    }
    int type = DigitizerTypeOf(handle);
    char name[MAX_PATH];
    ReadDeviceName(handle, name);
    device = type < 0 ? NULL : EntryFor(name);
    if (device == NULL) {
        return NULL;
    }
    DigitizerCounts counts = strcmp(device->Name, name) == 0 ? device->Counts : DigitizerCounts{};
    free(device->PreparsedData);
    *device = DigitizerDevice{};
    device->Handle = handle;
    device->Type = (BYTE)type;
    memcpy(device->Name, name, sizeof(name));
    device->Counts = counts;
    return device;
}

// A device that has gone keeps its name and counts for the status report.
void ForgetDigitizer(HANDLE handle)
{
    DigitizerDevice *device = FindDigitizer(handle);
    if (device == NULL || handle == NULL) {
        return;
    }
    free(device->PreparsedData);
    DigitizerDevice gone = {};
    memcpy(gone.Name, device->Name, sizeof(gone.Name));
    gone.Type = device->Type;
    gone.Style = device->Style;
    gone.Counts = device->Counts;
    *device = gone;
}

static bool CoversUsage(const HIDP_BUTTON_CAPS &caps, USAGE usage)
{
    if (caps.IsRange) {
        return usage >= caps.Range.UsageMin && usage <= caps.Range.UsageMax;
    }
    return caps.NotRange.Usage == usage;
}

static bool HasButton(const HIDP_BUTTON_CAPS *buttons, USHORT count, USHORT collection, USAGE usage)
{
    for (USHORT index = 0; index < count; ++index) {
        if (buttons[index].UsagePage == DigitizerUsagePage && CoversUsage(buttons[index], usage) &&
            buttons[index].LinkCollection == collection) {
            return true;
        }
    }
    return false;
}

// Is there a digitizer value of this usage, in that collection or (for
// collection -1) in any?
static bool HasValue(const HIDP_VALUE_CAPS *values, USHORT count, int collection, USAGE usage)
{
    for (USHORT index = 0; index < count; ++index) {
        if (values[index].UsagePage == DigitizerUsagePage && !values[index].IsRange &&
            values[index].NotRange.Usage == usage &&
            (collection < 0 || values[index].LinkCollection == collection)) {
            return true;
        }
    }
    return false;
}

static void AddContactSlot(DigitizerDevice &device, USHORT collection)
{
    for (BYTE slot = 0; slot < device.ContactSlots; ++slot) {
        if (device.Slots[slot].Collection == collection) {
            return;
        }
    }
    if (device.ContactSlots < MaxContactSlots) {
        device.Slots[device.ContactSlots++].Collection = collection;
    }
}

// Each link collection that holds a tip switch or an eraser is one contact
// slot, in the order the report carries them.
static void FindContactSlots(DigitizerDevice &device, const HIDP_BUTTON_CAPS *buttons, USHORT buttonCount,
                             const HIDP_VALUE_CAPS *values, USHORT valueCount)
{
    for (USHORT index = 0; index < buttonCount; ++index) {
        const HIDP_BUTTON_CAPS &caps = buttons[index];
        if (caps.UsagePage == DigitizerUsagePage &&
            (CoversUsage(caps, DigitizerUsageTipSwitch) || CoversUsage(caps, DigitizerUsageEraser))) {
            AddContactSlot(device, caps.LinkCollection);
        }
    }
    for (BYTE slot = 0; slot < device.ContactSlots; ++slot) {
        ContactSlot &contact = device.Slots[slot];
        contact.HasConfidence = HasButton(buttons, buttonCount, contact.Collection, DigitizerUsageConfidence);
        contact.HasIdentifier =
            HasValue(values, valueCount, contact.Collection, DigitizerUsageContactIdentifier);
    }
    device.HasContactCount = HasValue(values, valueCount, -1, DigitizerUsageContactCount);
}

// How the layout says contacts come; a parallel screen shows itself hybrid
// at its first frame over several reports.
static BYTE StyleOf(const DigitizerDevice &device)
{
    if (device.Unusable) {
        return StyleUnknown;
    }
    if (device.HasContactCount) {
        return StyleParallel;
    }
    if (device.Type == DigitizerTypePen) {
        return StylePen;
    }
    return device.Slots[0].HasIdentifier ? StyleSerial : StyleSingleTouch;
}

static void ReadLayout(DigitizerDevice &device, PHIDP_PREPARSED_DATA data)
{
    HIDP_CAPS caps = {};
    if (AppState.Hid->GetCaps(data, &caps) == HIDP_STATUS_SUCCESS &&
        caps.NumberInputButtonCaps <= MaxCapsListed && caps.NumberInputValueCaps <= MaxCapsListed) {
        USHORT buttonCount = caps.NumberInputButtonCaps;
        USHORT valueCount = caps.NumberInputValueCaps;
        HIDP_BUTTON_CAPS *buttons = (HIDP_BUTTON_CAPS *)calloc(buttonCount + 1, sizeof(HIDP_BUTTON_CAPS));
        HIDP_VALUE_CAPS *values = (HIDP_VALUE_CAPS *)calloc(valueCount + 1, sizeof(HIDP_VALUE_CAPS));
        if (buttons != NULL && values != NULL &&
            AppState.Hid->GetButtonCaps(HidP_Input, buttons, &buttonCount, data) == HIDP_STATUS_SUCCESS &&
            AppState.Hid->GetValueCaps(HidP_Input, values, &valueCount, data) == HIDP_STATUS_SUCCESS) {
            device.ReportLength = caps.InputReportByteLength;
            FindContactSlots(device, buttons, buttonCount, values, valueCount);
        }
        free(buttons);
        free(values);
    }
    device.Unusable = device.ContactSlots == 0 || device.ReportLength == 0;
    device.Style = StyleOf(device);
}

bool HasReadableLayout(DigitizerDevice &device)
{
    if (device.PreparsedData != NULL || device.Unusable || AppState.Hid == NULL) {
        return device.PreparsedData != NULL;
    }
    UINT size = 0;
    if (GetRawInputDeviceInfoA(device.Handle, RIDI_PREPARSEDDATA, NULL, &size) != 0 || size == 0) {
        return false;
    }
    if (size > MaxPreparsedDataSize) {
        device.Unusable = 1;
        return false;
    }
    PHIDP_PREPARSED_DATA data = (PHIDP_PREPARSED_DATA)malloc(size);
    if (data == NULL) {
        return false;
    }
    if (GetRawInputDeviceInfoA(device.Handle, RIDI_PREPARSEDDATA, data, &size) == (UINT)-1) {
        free(data);
        return false;
    }
    ReadLayout(device, data);
    if (device.Unusable) {
        free(data);
        return false;
    }
    device.PreparsedData = data;
    return true;
}
