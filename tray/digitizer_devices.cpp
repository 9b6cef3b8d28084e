#include "digitizer_devices.h"

#include "app_state.h"
#include "hid_parsing.h"

#include <stdlib.h>

// a layout larger than this is no digitizer's; it is not read
const UINT MaxPreparsedDataSize = 64 * 1024;
const USHORT MaxCapsListed = 512;

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

DigitizerDevice *TrackDigitizer(HANDLE handle)
{
    DigitizerDevice *device = FindDigitizer(handle);
    if (device != NULL || handle == NULL) {
        return device;
    }
    int type = DigitizerTypeOf(handle);
    DigitizerDevice *freeEntry = FindDigitizer(NULL);
    if (type < 0 || freeEntry == NULL) {
        return NULL;
    }
    *freeEntry = DigitizerDevice{};
    freeEntry->Handle = handle;
    freeEntry->Type = (BYTE)type;
    return freeEntry;
}

void ForgetDigitizer(HANDLE handle)
{
    DigitizerDevice *device = FindDigitizer(handle);
    if (device != NULL && handle != NULL) {
        free(device->PreparsedData);
        *device = DigitizerDevice{};
    }
}

void TrackPresentDigitizers()
{
    UINT count = 0;
    if (GetRawInputDeviceList(NULL, &count, sizeof(RAWINPUTDEVICELIST)) != 0 || count == 0) {
        return;
    }
    RAWINPUTDEVICELIST *list = (RAWINPUTDEVICELIST *)calloc(count, sizeof(RAWINPUTDEVICELIST));
    if (list == NULL) {
        return;
    }
    // a device that arrived since the count is missed here and comes as an arrival
    UINT listed = GetRawInputDeviceList(list, &count, sizeof(RAWINPUTDEVICELIST));
    for (UINT index = 0; listed != (UINT)-1 && index < listed; ++index) {
        if (list[index].dwType == RIM_TYPEHID) {
            TrackDigitizer(list[index].hDevice);
        }
    }
    free(list);
}

static bool CoversUsage(const HIDP_BUTTON_CAPS &caps, USAGE usage)
{
    if (caps.IsRange) {
        return usage >= caps.Range.UsageMin && usage <= caps.Range.UsageMax;
    }
    return caps.NotRange.Usage == usage;
}

// Each link collection that holds a tip switch is one contact slot, in
// the order the report carries them.
static void FindContactSlots(DigitizerDevice &device, PHIDP_PREPARSED_DATA data, USHORT capsCount)
{
    HIDP_BUTTON_CAPS *buttons = (HIDP_BUTTON_CAPS *)calloc(capsCount, sizeof(HIDP_BUTTON_CAPS));
    if (buttons == NULL ||
        AppState.Hid->GetButtonCaps(HidP_Input, buttons, &capsCount, data) != HIDP_STATUS_SUCCESS) {
        capsCount = 0;
    }
    for (USHORT index = 0; index < capsCount && device.ContactSlots < MaxContactSlots; ++index) {
        const HIDP_BUTTON_CAPS &caps = buttons[index];
        if (caps.UsagePage == DigitizerUsagePage &&
            CoversUsage(caps, DigitizerUsageTipSwitch)) {
            device.ContactCollections[device.ContactSlots++] = caps.LinkCollection;
        }
    }
    free(buttons);
}

static bool HasContactCount(PHIDP_PREPARSED_DATA data, USHORT capsCount)
{
    HIDP_VALUE_CAPS *values = (HIDP_VALUE_CAPS *)calloc(capsCount, sizeof(HIDP_VALUE_CAPS));
    if (values == NULL ||
        AppState.Hid->GetValueCaps(HidP_Input, values, &capsCount, data) != HIDP_STATUS_SUCCESS) {
        capsCount = 0;
    }
    bool found = false;
    for (USHORT index = 0; index < capsCount && !found; ++index) {
        found = values[index].UsagePage == DigitizerUsagePage && !values[index].IsRange &&
                values[index].NotRange.Usage == DigitizerUsageContactCount;
    }
    free(values);
    return found;
}

static void ReadLayout(DigitizerDevice &device, PHIDP_PREPARSED_DATA data)
{
    HIDP_CAPS caps = {};
    if (AppState.Hid->GetCaps(data, &caps) == HIDP_STATUS_SUCCESS &&
        caps.NumberInputButtonCaps <= MaxCapsListed && caps.NumberInputValueCaps <= MaxCapsListed) {
        device.ReportLength = caps.InputReportByteLength;
        FindContactSlots(device, data, caps.NumberInputButtonCaps);
        device.HasContactCount = HasContactCount(data, caps.NumberInputValueCaps);
    }
    device.Unusable = device.ContactSlots == 0 || device.ReportLength == 0;
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
