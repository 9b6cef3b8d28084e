#include "system_call_log.h"

#include "resource.h"

#include <windows.h>
#include <shellapi.h>

#include <atomic>
#include <mutex>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>

// The import table slots of the recorded functions: a call to a system
// function declared for import jumps through the slot of that name.
extern "C" void *__imp_Beep, *__imp_DefineDosDeviceA, *__imp_CreateFileA, *__imp_DeviceIoControl,
    *__imp_CloseHandle, *__imp_Shell_NotifyIconA, *__imp_MessageBoxA, *__imp_GetRawInputDeviceInfoA;

// click workers record from threads of their own
static std::mutex LogLock;
static std::vector<std::string> Log;
static std::atomic<bool> DevicesStandIn(false);
static std::atomic<HANDLE> StandInDevice(NULL);
// set while tones are let through; see HoldTones
static HANDLE TonesReleased = CreateEventA(NULL, TRUE, TRUE, NULL);

static void Record(const char *format, ...)
{
    char line[512];
    va_list arguments;
    va_start(arguments, format);
    vsnprintf(line, sizeof(line), format, arguments);
    va_end(arguments);
    std::lock_guard<std::mutex> hold(LogLock);
    Log.push_back(line);
}

static const char *Given(const void *pointer)
{
    return pointer != NULL ? "given" : "NULL";
}

static std::string HandleName(HANDLE handle)
{
    if (handle != NULL && handle == StandInDevice) {
        return "device";
    }
    char text[32];
    snprintf(text, sizeof(text), "%p", handle);
    return text;
}

// the buffer as hexadecimal digits, cut after 64 bytes
static std::string HexBytes(const void *buffer, DWORD size)
{
    if (buffer == NULL) {
        return "NULL";
    }
    std::string digits;
    for (DWORD i = 0; i < size && i < 64; ++i) {
        char pair[3];
        snprintf(pair, sizeof(pair), "%02X", ((const BYTE *)buffer)[i]);
        digits += pair;
    }
    return digits;
}

static const char *IconName(HICON icon)
{
    HMODULE program = GetModuleHandleA(NULL);
    if (icon == LoadIconA(program, MAKEINTRESOURCEA(IDI_BEEP_ON))) {
        return "101";
    }
    return icon == LoadIconA(program, MAKEINTRESOURCEA(IDI_BEEP_OFF)) ? "102" : "other";
}

static decltype(&Beep) SystemBeep;
static BOOL WINAPI RecordBeep(DWORD frequency, DWORD durationMs)
{
    WaitForSingleObject(TonesReleased, INFINITE);
    Record("Beep %lu %lu", frequency, durationMs);
    return SystemBeep(frequency, durationMs);
}

static decltype(&DefineDosDeviceA) SystemDefineDosDevice;
static BOOL WINAPI RecordDefineDosDevice(DWORD flags, LPCSTR name, LPCSTR target)
{
    Record("DefineDosDeviceA %lu %s %s", flags, name, target != NULL ? target : "NULL");
    return SystemDefineDosDevice(flags, name, target);
}

// Only device paths are recorded and stood in for; the test's own files
// open as usual.
static decltype(&CreateFileA) SystemCreateFile;
static HANDLE WINAPI RecordCreateFile(LPCSTR path, DWORD access, DWORD share,
                                      LPSECURITY_ATTRIBUTES security, DWORD disposition,
                                      DWORD attributes, HANDLE templateFile)
{
    if (path == NULL || strncmp(path, "\\\\.\\", 4) != 0) {
        return SystemCreateFile(path, access, share, security, disposition, attributes,
                                templateFile);
    }
    Record("CreateFileA %s 0x%lX %lu %s %lu 0x%lX %s", path, access, share, Given(security),
           disposition, attributes, Given(templateFile));
    if (DevicesStandIn) {
        StandInDevice = CreateEventA(NULL, TRUE, FALSE, NULL);
        return StandInDevice;
    }
    return SystemCreateFile(path, access, share, security, disposition, attributes, templateFile);
}

static decltype(&DeviceIoControl) SystemDeviceIoControl;
static BOOL WINAPI RecordDeviceIoControl(HANDLE device, DWORD code, LPVOID input, DWORD inputSize,
                                         LPVOID output, DWORD outputSize, LPDWORD returned,
                                         LPOVERLAPPED overlapped)
{
    Record("DeviceIoControl %s 0x%lX in %s %lu out %s %lu returned %s overlapped %s",
           HandleName(device).c_str(), code, HexBytes(input, inputSize).c_str(), inputSize,
           Given(output), outputSize, Given(returned), Given(overlapped));
    return SystemDeviceIoControl(device, code, input, inputSize, output, outputSize, returned,
                                 overlapped);
}

// Only the stand-in device is recorded: the runtime and the test kit close
// handles of their own all the time.
static decltype(&CloseHandle) SystemCloseHandle;
static BOOL WINAPI RecordCloseHandle(HANDLE handle)
{
    HANDLE device = handle;
    if (handle != NULL && StandInDevice.compare_exchange_strong(device, NULL)) {
        Record("CloseHandle device");
    }
    return SystemCloseHandle(handle);
}

static decltype(&Shell_NotifyIconA) SystemNotifyIcon;
static BOOL WINAPI RecordNotifyIcon(DWORD message, PNOTIFYICONDATAA data)
{
    Record("Shell_NotifyIconA %lu icon %s", message, IconName(data->hIcon));
    return SystemNotifyIcon(message, data);
}

static decltype(&MessageBoxA) SystemMessageBox;
static int WINAPI RecordMessageBox(HWND owner, LPCSTR text, LPCSTR caption, UINT type)
{
    Record("MessageBoxA %s \"%s\" \"%s\" 0x%X", owner != NULL ? "owned" : "unowned", text, caption,
           type);
    return SystemMessageBox(owner, text, caption, type);
}

static decltype(&GetRawInputDeviceInfoA) SystemGetRawInputDeviceInfo;
static UINT WINAPI StandInRawInputDeviceInfo(HANDLE device, UINT command, LPVOID data, PUINT size)
{
    UINT_PTR number = (UINT_PTR)device - (UINT_PTR)StandInTouchScreen(0);
    if (number >= 0x100) {
        return SystemGetRawInputDeviceInfo(device, command, data, size);
    }
    if (command == RIDI_DEVICENAME) {
        return (UINT)snprintf((char *)data, *size, "\\\\?\\HID#StandIn#%u", (unsigned)number);
    }
    if (command != RIDI_DEVICEINFO) {
        return (UINT)-1;   // no layout to hand out
    }
    RID_DEVICE_INFO *info = (RID_DEVICE_INFO *)data;
    info->dwType = RIM_TYPEHID;
    info->hid.usUsagePage = 0x0D;
    info->hid.usUsage = 0x04;
    return sizeof(*info);
}

template <typename Function>
static void Redirect(void *&slot, Function recorder, Function &system)
{
    system = (Function)slot;
    DWORD protection = 0;
    VirtualProtect(&slot, sizeof(slot), PAGE_READWRITE, &protection);
    slot = (void *)recorder;
    VirtualProtect(&slot, sizeof(slot), protection, &protection);
}

// before main, so that every test sees the recorders
__attribute__((constructor)) static void RedirectRecordedCalls()
{
    Redirect(__imp_Beep, RecordBeep, SystemBeep);
    Redirect(__imp_DefineDosDeviceA, RecordDefineDosDevice, SystemDefineDosDevice);
    Redirect(__imp_CreateFileA, RecordCreateFile, SystemCreateFile);
    Redirect(__imp_DeviceIoControl, RecordDeviceIoControl, SystemDeviceIoControl);
    Redirect(__imp_CloseHandle, RecordCloseHandle, SystemCloseHandle);
    Redirect(__imp_Shell_NotifyIconA, RecordNotifyIcon, SystemNotifyIcon);
    Redirect(__imp_MessageBoxA, RecordMessageBox, SystemMessageBox);
    Redirect(__imp_GetRawInputDeviceInfoA, StandInRawInputDeviceInfo, SystemGetRawInputDeviceInfo);
}

std::vector<std::string> SystemCalls()
{
    std::lock_guard<std::mutex> hold(LogLock);
    return Log;
}

std::vector<std::string> SystemCalls(const std::string &function)
{
    std::vector<std::string> lines;
    for (const std::string &line : SystemCalls()) {
        if (line.compare(0, function.size() + 1, function + " ") == 0) {
            lines.push_back(line);
        }
    }
    return lines;
}

void ClearSystemCalls()
{
    std::lock_guard<std::mutex> hold(LogLock);
    Log.clear();
}

void StandInForDevices(bool on)
{
    DevicesStandIn = on;
}

void HoldTones(bool on)
{
    on ? ResetEvent(TonesReleased) : SetEvent(TonesReleased);
}

HANDLE StandInTouchScreen(unsigned number)
{
    return (HANDLE)(UINT_PTR)(0x7E0000 + number);
}
