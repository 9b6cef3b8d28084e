// Virtual touch screens and pens: the bench's HID digitizer driver installed
// as root-enumerated devices, and the input reports handed to them.
#include "testkit.h"

#include <initguid.h>
#include <devguid.h>
#include <hidclass.h>
#include <newdev.h>
#include <setupapi.h>

// the bench copies the driver and its INF here
static const wchar_t DigitizerInf[] = L"C:\\pk-bench\\PkDigitizer.inf";

// the open HID device handle of each kind while it is present
static HANDLE DigitizerHandles[DigitizerKindCount] = {INVALID_HANDLE_VALUE, INVALID_HANDLE_VALUE,
                                                      INVALID_HANDLE_VALUE, INVALID_HANDLE_VALUE,
                                                      INVALID_HANDLE_VALUE};

static std::wstring InstanceId(DigitizerKind kind)
{
    return std::wstring(DigitizerHardwareIds[kind]) + L"\\0";
}

// The HID interface path of that kind's device, or "". The class driver
// names its device after ours: "root\PkPen\0" has "HID\PkPen\0".
static std::wstring HidInterfacePath(DigitizerKind kind)
{
    std::wstring root = InstanceId(kind);
    std::wstring hid = L"HID" + root.substr(root.find(L'\\'));
    HDEVINFO set = SetupDiGetClassDevsW(&GUID_DEVINTERFACE_HID, hid.c_str(), NULL, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    SP_DEVICE_INTERFACE_DATA item = {};
    item.cbSize = sizeof(item);
    union {
        SP_DEVICE_INTERFACE_DETAIL_DATA_W detail;
        BYTE bytes[1024];
    } buffer = {};
    buffer.detail.cbSize = sizeof(buffer.detail);
    bool found = SetupDiEnumDeviceInterfaces(set, NULL, &GUID_DEVINTERFACE_HID, 0, &item) &&
                 SetupDiGetDeviceInterfaceDetailW(set, &item, &buffer.detail, sizeof(buffer), NULL, NULL);
    SetupDiDestroyDeviceInfoList(set);
    return found ? buffer.detail.DevicePath : L"";
}

static bool OpenDigitizer(void *context)
{
    DigitizerKind kind = *(DigitizerKind *)context;
    std::wstring path = HidInterfacePath(kind);
    DigitizerHandles[kind] = path.empty() ? INVALID_HANDLE_VALUE
                                          : CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                                                        FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL);
    return DigitizerHandles[kind] != INVALID_HANDLE_VALUE;
}

static bool RegisterRootDevice(HDEVINFO set, DigitizerKind kind, SP_DEVINFO_DATA *device)
{
    device->cbSize = sizeof(*device);
    // a hardware id list: the id, then an empty string
    std::wstring ids = std::wstring(DigitizerHardwareIds[kind]) + L'\0';
    return SetupDiCreateDeviceInfoW(set, InstanceId(kind).c_str(), &GUID_DEVCLASS_SYSTEM, NULL, NULL, 0, device) &&
           SetupDiSetDeviceRegistryPropertyW(set, device, SPDRP_HARDWAREID, (const BYTE *)ids.c_str(),
                                             (DWORD)((ids.size() + 1) * sizeof(wchar_t))) &&
           SetupDiCallClassInstaller(DIF_REGISTERDEVICE, set, device);
}

// A device whose driver did not install or start is removed again.
bool AddVirtualDigitizer(DigitizerKind kind)
{
    HDEVINFO set = SetupDiCreateDeviceInfoList(&GUID_DEVCLASS_SYSTEM, NULL);
    SP_DEVINFO_DATA device = {};
    BOOL reboot = FALSE;
    bool registered = RegisterRootDevice(set, kind, &device);
    bool added = registered &&
                 UpdateDriverForPlugAndPlayDevicesW(NULL, DigitizerHardwareIds[kind], DigitizerInf, INSTALLFLAG_FORCE,
                                                    &reboot) &&
                 WaitUntil(OpenDigitizer, &kind, 10000);
    if (registered && !added) {
        SetupDiCallClassInstaller(DIF_REMOVE, set, &device);
    }
    SetupDiDestroyDeviceInfoList(set);
    return added;
}

static bool DigitizerGone(void *context)
{
    return HidInterfacePath(*(DigitizerKind *)context).empty();
}

bool RemoveVirtualDigitizer(DigitizerKind kind)
{
    if (DigitizerHandles[kind] != INVALID_HANDLE_VALUE) {
        CloseHandle(DigitizerHandles[kind]);
        DigitizerHandles[kind] = INVALID_HANDLE_VALUE;
    }
    HDEVINFO set = SetupDiCreateDeviceInfoList(NULL, NULL);
    SP_DEVINFO_DATA device = {};
    device.cbSize = sizeof(device);
    if (SetupDiOpenDeviceInfoW(set, InstanceId(kind).c_str(), NULL, 0, &device)) {
        SetupDiCallClassInstaller(DIF_REMOVE, set, &device);
    }
    SetupDiDestroyDeviceInfoList(set);
    return WaitUntil(DigitizerGone, &kind, 10000);
}

bool SendDigitizerReport(DigitizerKind kind, const std::vector<BYTE> &report)
{
    DWORD returned = 0;
    return DeviceIoControl(DigitizerHandles[kind], IOCTL_PK_DIGITIZER_REPORT, (void *)report.data(),
                           (DWORD)report.size(), NULL, 0, &returned, NULL);
}

// One finger: tip switch bit 0, in-range bit 1, confidence bit 2, contact
// identifier, X and Y (16 bits each, little endian) mid-screen.
static void PutFinger(BYTE *finger, const TouchContact &contact)
{
    finger[0] = (contact.Tip ? 1 : 0) | 2 | (contact.Palm ? 0 : 4);
    finger[1] = contact.Id;
    finger[2] = finger[4] = 0x00;
    finger[3] = finger[5] = 0x40;
}

// Touch screen report: [0] id 1; fingers at 1 and 7; [13] contact count.
std::vector<BYTE> TouchReport(const std::vector<TouchContact> &contacts, BYTE contactCount)
{
    std::vector<BYTE> report(DigitizerReportLengths[TouchDigitizer], 0);
    report[0] = TouchDigitizer + 1;
    for (size_t slot = 0; slot < contacts.size() && slot < 2; slot++) {
        PutFinger(&report[1 + 6 * slot], contacts[slot]);
    }
    report[13] = contactCount;
    return report;
}

// Serial screen report: [0] id 4, one finger at 1.
std::vector<BYTE> SerialReport(TouchContact contact)
{
    std::vector<BYTE> report(DigitizerReportLengths[SerialTouchDigitizer], 0);
    report[0] = SerialTouchDigitizer + 1;
    PutFinger(&report[1], contact);
    return report;
}

// Single-touch report: [0] id 5; [1] tip switch bit 0, in-range bit 1;
// [2..5] X and Y.
std::vector<BYTE> SingleTouchReport(bool tip)
{
    return std::vector<BYTE>{SingleTouchDigitizer + 1, (BYTE)((tip ? 1 : 0) | 2), 0x00, 0x40, 0x00, 0x40};
}

// Pen report: [0] id 2; [1] tip switch bit 0, in-range bit 1, barrel bit 2,
// invert bit 3, eraser bit 4; [2..5] X and Y.
std::vector<BYTE> PenReport(PenState state)
{
    static const BYTE Bits[] = {0x00, 0x02, 0x03, 0x1A, 0x07};
    return std::vector<BYTE>{PenDigitizer + 1, Bits[state], 0x00, 0x40, 0x00, 0x40};
}
