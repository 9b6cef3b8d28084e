// Control surface of the fake kernel: what tests use to set the scene, drive
// the driver and look at what it did. Every recorded misuse of a kernel
// routine lands in Faults(); a test's fixture checks that it stays empty.
#pragma once

#include <ntddk.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace fake {

// Empties every log, counter and the registry, frees what a previous test left.
void Reset();
const std::vector<std::string>& Faults();
void AddFault(const std::string& what);

// --- pool ---
struct PoolCounters {
    size_t outstanding = 0;          // blocks not yet freed
    size_t driverAllocations = 0;    // ExAllocatePoolWithTag calls by the driver
    ULONG lastDriverTag = 0;         // the tag the last of them gave
    size_t registryAllocations = 0;  // buffers RtlQueryRegistryValues allocated for the caller
};
const PoolCounters& Pool();
// the nth pool allocation from now (0 = the next one) returns no memory
void FailPoolAllocation(size_t nth);

// --- debugger output: one entry per DbgPrint call ---
const std::vector<std::string>& DebugLines();

// --- ports ---
struct PortAccess {
    USHORT port;
    UCHAR value;
    bool write;
    bool operator==(const PortAccess& other) const
    {
        return port == other.port && value == other.value && write == other.write;
    }
};
const std::vector<PortAccess>& PortLog();
void ClearLogs();  // the port log and the debugger output
void SetPort(USHORT port, UCHAR value);  // what the next read of the port returns
UCHAR LastWritten(USHORT port);

// --- timers and deferred routines; the clock only moves when told ---
void AdvanceTimeMs(LONGLONG milliseconds);  // queues the routines of expired timers
size_t RunQueuedDpcs();                     // runs them at DISPATCH_LEVEL, returns how many ran
size_t QueuedDpcs();
bool TimerIsSet(const KTIMER* timer);
LONGLONG LastDueTime(const KTIMER* timer);  // as passed to KeSetTimer

// --- I/O manager ---
// A loaded driver object whose dispatch table starts as the system's default
// handler; DriverEntry is called with it.
PDRIVER_OBJECT LoadDriver(DRIVER_INITIALIZE* entry, NTSTATUS* status);
void UnloadDriver(PDRIVER_OBJECT driver);
void FailNextDeviceCreation(NTSTATUS status);
struct DeviceInfo {
    std::string name;
    ULONG type;
    ULONG characteristics;
    BOOLEAN exclusive;
    ULONG extensionSize;
};
std::vector<DeviceInfo> Devices();

struct Completion {
    NTSTATUS returned;     // what the dispatch routine returned
    NTSTATUS status;       // IoStatus.Status at completion
    ULONG_PTR information;
    ULONG completions;
};
// Sends one request to the driver's device. A request whose input must not be
// read at all is sent with readable = false: its buffer is poisoned, and any
// read of it stops the test program under AddressSanitizer.
Completion Call(PDRIVER_OBJECT driver, UCHAR major);
Completion DeviceControl(PDRIVER_OBJECT driver, ULONG code, const std::vector<UCHAR>& input, bool readable = true);
std::vector<UCHAR> BeepInput(ULONG frequency, ULONG duration);

// --- object security ---
struct Ace {
    UCHAR type;
    UCHAR flags;
    ACCESS_MASK mask;
    std::string sid;  // as text, e.g. S-1-5-18
    bool operator==(const Ace& other) const
    {
        return type == other.type && flags == other.flags && mask == other.mask && sid == other.sid;
    }
};
struct ObjectSecurity {
    ULONG information;  // what ZwSetSecurityObject was asked to set
    USHORT control;     // the descriptor's control bits
    std::vector<Ace> dacl;
};
// the descriptor last set on an object, if one was
std::optional<ObjectSecurity> SecurityOf(const void* object);
// the next call of the named security routine fails with this status
void FailNextSecurityCall(const std::string& routine, NTSTATUS status);
size_t OpenObjectHandles();

// --- registry: paths like "\Registry\Machine\SOFTWARE\...", case-insensitive ---
void CreateKey(const std::string& path);
void DeleteKey(const std::string& path);
void SetValue(const std::string& keyPath, const std::string& name, ULONG type, const std::vector<UCHAR>& data);
void SetString(const std::string& keyPath, const std::string& name, const std::string& text);
void SetDword(const std::string& keyPath, const std::string& name, ULONG value);
struct StoredValue {
    ULONG type;
    std::vector<UCHAR> data;
};
std::optional<StoredValue> GetValue(const std::string& keyPath, const std::string& name);
// The value query of Windows 7 without KB2393802: it knows no
// RTL_QUERY_REGISTRY_TYPECHECK, takes DefaultType whole (the expected type in
// its top byte included) and writes a value of any type into the variable.
void IgnoreTypeCheck();
// called on every ZwEnumerateKey, with the index asked for, before it answers
void OnEnumerate(std::function<void(ULONG index)> hook);
// Loads a regedit export (UTF-16LE or UTF-8 text); each root key name is
// replaced by the object path given for it, e.g. HKEY_CURRENT_USER -> \Registry\User\S-...
bool LoadRegFile(const std::string& file, const std::vector<std::pair<std::string, std::string>>& roots);

struct RegistryCounters {
    size_t opens = 0;
    size_t closes = 0;
    size_t keyQueries = 0;   // ZwQueryKey and ZwEnumerateKey calls
    size_t valueQueries = 0; // RtlQueryRegistryValues calls
    size_t openHandles = 0;
    ACCESS_MASK lastOpenAccess = 0;
    ULONG lastOpenAttributes = 0;
};
const RegistryCounters& Registry();

std::string Narrow(const UNICODE_STRING& text);

}  // namespace fake
