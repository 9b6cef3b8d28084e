// The fake kernel's pool, debugger output, ports, clock, timers, deferred
// routines and I/O manager.
#include <sanitizer/asan_interface.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <set>

#include "internal.h"

namespace fake {
namespace {

// the tag of the blocks the value query allocates for its caller
constexpr ULONG kRegistryPoolTag = 0x52717452;  // "RtqR"

struct PoolBlock {
    size_t size;
    POOL_TYPE type;
    ULONG tag;
};

struct DeviceRecord {
    DeviceInfo info;
    std::unique_ptr<DEVICE_OBJECT> object;
    void* extension;
};

struct State {
    std::vector<std::string> faults;
    std::map<void*, PoolBlock> pool;
    PoolCounters poolCounters;
    size_t poolCalls = 0;
    size_t failPoolCall = SIZE_MAX;
    std::vector<std::string> debugLines;
    std::vector<PortAccess> portLog;
    std::map<USHORT, UCHAR> ports;
    KIRQL irql = PASSIVE_LEVEL;
    LONGLONG now = 0;
    std::set<KTIMER*> setTimers;
    std::map<const KTIMER*, LONGLONG> lastDue;
    std::deque<KDPC*> dpcQueue;
    std::map<PDEVICE_OBJECT, DeviceRecord> devices;
    std::vector<std::unique_ptr<DRIVER_OBJECT>> drivers;
    NTSTATUS failNextDevice = STATUS_SUCCESS;
};

State& S()
{
    static State state;
    return state;
}

PVOID Allocate(size_t bytes, POOL_TYPE type, ULONG tag)
{
    if (S().poolCalls++ == S().failPoolCall) {
        return nullptr;
    }
    if (type == PagedPool && S().irql > APC_LEVEL) {
        AddFault("paged pool allocated at DISPATCH_LEVEL");
    }
    void* block = std::malloc(bytes == 0 ? 1 : bytes);
    std::memset(block, 0xCD, bytes);  // pool is not zeroed
    S().pool[block] = PoolBlock{bytes, type, tag};
    ++S().poolCounters.outstanding;
    return block;
}

// far more accesses than the longest tone and the stop routine make together:
// a delay loop that would not end stops the program before it fills memory
constexpr size_t kPortLogLimit = size_t{1} << 24;

void LogPortAccess(const PortAccess& access)
{
    if (S().portLog.size() >= kPortLogLimit) {
        std::fprintf(stderr, "fake kernel: more than %zu port accesses since the log was cleared\n", kPortLogLimit);
        std::abort();
    }
    S().portLog.push_back(access);
}

bool Inside(const void* address, const void* start, size_t size)
{
    auto a = reinterpret_cast<uintptr_t>(address);
    auto s = reinterpret_cast<uintptr_t>(start);
    return a >= s && a < s + size;
}

NTSTATUS DefaultDispatch(PDEVICE_OBJECT, PIRP irp)
{
    irp->IoStatus.Status = STATUS_INVALID_DEVICE_REQUEST;
    irp->IoStatus.Information = 0;
    IofCompleteRequest(irp, IO_NO_INCREMENT);
    return STATUS_INVALID_DEVICE_REQUEST;
}

Completion Dispatch(PDRIVER_OBJECT driver, IRP* irp)
{
    const UCHAR major = irp->CurrentStackLocation->MajorFunction;
    irp->IoStatus.Status = 0x7EADBEEF;
    const NTSTATUS returned = driver->MajorFunction[major](driver->DeviceObject, irp);
    if (irp->Completions != 1) {
        AddFault("request completed " + std::to_string(irp->Completions) + " times");
    }
    if (returned != irp->IoStatus.Status) {
        AddFault("dispatch routine returned another status than it completed with");
    }
    return Completion{returned, irp->IoStatus.Status, irp->IoStatus.Information, irp->Completions};
}

}  // namespace

void Reset()
{
    for (auto& [block, info] : S().pool) {
        std::free(block);
    }
    for (auto& [object, record] : S().devices) {
        std::free(record.extension);
    }
    S() = State{};
    S().ports[0x61] = 0x30;  // refresh and channel 2 status bits, speaker off
    ResetRegistry();
    ResetSecurity();
}

const std::vector<std::string>& Faults() { return S().faults; }
void AddFault(const std::string& what) { S().faults.push_back(what); }

bool AtPassiveLevel() { return S().irql == PASSIVE_LEVEL; }

void RequirePassive(const char* routine)
{
    if (!AtPassiveLevel()) {
        AddFault(std::string(routine) + " called above PASSIVE_LEVEL");
    }
}

bool IsDevice(const void* object)
{
    return S().devices.count(static_cast<PDEVICE_OBJECT>(const_cast<void*>(object))) != 0;
}

const PoolCounters& Pool() { return S().poolCounters; }
void FailPoolAllocation(size_t nth) { S().failPoolCall = S().poolCalls + nth; }

PVOID AllocateForRegistry(size_t bytes)
{
    PVOID block = Allocate(bytes, PagedPool, kRegistryPoolTag);
    if (block != nullptr) {
        ++S().poolCounters.registryAllocations;
    }
    return block;
}

const std::vector<std::string>& DebugLines() { return S().debugLines; }

const std::vector<PortAccess>& PortLog() { return S().portLog; }
void ClearLogs()
{
    S().portLog.clear();
    S().debugLines.clear();
}
void SetPort(USHORT port, UCHAR value) { S().ports[port] = value; }

UCHAR LastWritten(USHORT port)
{
    for (auto it = S().portLog.rbegin(); it != S().portLog.rend(); ++it) {
        if (it->write && it->port == port) {
            return it->value;
        }
    }
    AddFault("port " + std::to_string(port) + " was never written");
    return 0;
}

void AdvanceTimeMs(LONGLONG milliseconds)
{
    S().now += milliseconds * 10000;
    for (auto it = S().setTimers.begin(); it != S().setTimers.end();) {
        KTIMER* timer = *it;
        if (timer->DueAt > S().now) {
            ++it;
            continue;
        }
        timer->Inserted = FALSE;
        it = S().setTimers.erase(it);
        if (timer->Dpc != nullptr && !timer->Dpc->Queued) {
            timer->Dpc->Queued = TRUE;
            S().dpcQueue.push_back(timer->Dpc);
        }
    }
}

size_t RunQueuedDpcs()
{
    size_t ran = 0;
    const KIRQL previous = S().irql;
    S().irql = DISPATCH_LEVEL;
    while (!S().dpcQueue.empty()) {
        KDPC* dpc = S().dpcQueue.front();
        S().dpcQueue.pop_front();
        dpc->Queued = FALSE;
        dpc->DeferredRoutine(dpc, dpc->DeferredContext, nullptr, nullptr);
        ++ran;
    }
    S().irql = previous;
    return ran;
}

size_t QueuedDpcs() { return S().dpcQueue.size(); }
bool TimerIsSet(const KTIMER* timer) { return S().setTimers.count(const_cast<KTIMER*>(timer)) != 0; }

LONGLONG LastDueTime(const KTIMER* timer)
{
    auto it = S().lastDue.find(timer);
    return it == S().lastDue.end() ? 0 : it->second;
}

PDRIVER_OBJECT LoadDriver(DRIVER_INITIALIZE* entry, NTSTATUS* status)
{
    S().drivers.push_back(std::make_unique<DRIVER_OBJECT>());
    PDRIVER_OBJECT driver = S().drivers.back().get();
    for (auto& routine : driver->MajorFunction) {
        routine = DefaultDispatch;
    }
    UNICODE_STRING registryPath;
    RtlInitUnicodeString(&registryPath, L"\\Registry\\Machine\\System\\CurrentControlSet\\Services\\VELMORABEEP");
    *status = entry(driver, &registryPath);
    if (!NT_SUCCESS(*status) && driver->DeviceObject != nullptr) {
        AddFault("DriverEntry failed and left a device behind");
    }
    return driver;
}

void UnloadDriver(PDRIVER_OBJECT driver)
{
    if (driver->DriverUnload == nullptr) {
        AddFault("driver has no unload routine");
        return;
    }
    driver->DriverUnload(driver);
    if (driver->DeviceObject != nullptr) {
        AddFault("unload left a device behind");
    }
}

void FailNextDeviceCreation(NTSTATUS status) { S().failNextDevice = status; }

std::vector<DeviceInfo> Devices()
{
    std::vector<DeviceInfo> devices;
    for (auto& [object, record] : S().devices) {
        devices.push_back(record.info);
    }
    return devices;
}

Completion Call(PDRIVER_OBJECT driver, UCHAR major)
{
    IO_STACK_LOCATION stack{};
    stack.MajorFunction = major;
    IRP irp{};
    irp.CurrentStackLocation = &stack;
    return Dispatch(driver, &irp);
}

Completion DeviceControl(PDRIVER_OBJECT driver, ULONG code, const std::vector<UCHAR>& input, bool readable)
{
    // exactly the input's size, so that any read past its end is caught
    std::unique_ptr<UCHAR[]> buffer(input.empty() ? nullptr : new UCHAR[input.size()]);
    if (buffer) {
        std::memcpy(buffer.get(), input.data(), input.size());
        if (!readable) {
            ASAN_POISON_MEMORY_REGION(buffer.get(), input.size());
        }
    }
    IO_STACK_LOCATION stack{};
    stack.MajorFunction = IRP_MJ_DEVICE_CONTROL;
    stack.Parameters.DeviceIoControl.InputBufferLength = static_cast<ULONG>(input.size());
    stack.Parameters.DeviceIoControl.IoControlCode = code;
    IRP irp{};
    irp.CurrentStackLocation = &stack;
    irp.AssociatedIrp.SystemBuffer = buffer.get();
    const Completion completion = Dispatch(driver, &irp);
    if (buffer) {
        ASAN_UNPOISON_MEMORY_REGION(buffer.get(), input.size());
    }
    return completion;
}

std::vector<UCHAR> BeepInput(ULONG frequency, ULONG duration)
{
    std::vector<UCHAR> input(8);
    std::memcpy(input.data(), &frequency, 4);
    std::memcpy(input.data() + 4, &duration, 4);
    return input;
}

}  // namespace fake

using fake::S;

void FakePagedCodeCheck(const char* function)
{
    if (S().irql > APC_LEVEL) {
        fake::AddFault(std::string("pageable ") + function + " ran above APC_LEVEL");
    }
}

extern "C" {

ULONG DbgPrint(PCSTR format, ...)
{
    va_list args;
    va_start(args, format);
    std::string line;
    for (const char* p = format; *p != '\0'; ++p) {
        if (*p != '%') {
            line += *p;
            continue;
        }
        ++p;
        char number[16];
        if (*p == '%') {
            line += '%';
        } else if (*p == 'd') {
            std::snprintf(number, sizeof number, "%d", va_arg(args, int));
            line += number;
        } else if (*p == 'x') {
            std::snprintf(number, sizeof number, "%x", va_arg(args, unsigned));
            line += number;
        } else if (*p == 's') {
            line += va_arg(args, const char*);
        } else if (p[0] == 'w' && p[1] == 'Z') {
            ++p;
            const auto* text = va_arg(args, const UNICODE_STRING*);
            line += text == nullptr ? "(null)" : fake::Narrow(*text);
        } else {
            fake::AddFault(std::string("DbgPrint format not modelled: ") + format);
            break;
        }
    }
    va_end(args);
    S().debugLines.push_back(line);
    return 0;
}

UCHAR __inbyte(USHORT port)
{
    auto it = S().ports.find(port);
    const UCHAR value = it == S().ports.end() ? 0xFF : it->second;
    fake::LogPortAccess(fake::PortAccess{port, value, false});
    return value;
}

VOID __outbyte(USHORT port, UCHAR data)
{
    fake::LogPortAccess(fake::PortAccess{port, data, true});
    S().ports[port] = data;
}

PVOID ExAllocatePoolWithTag(POOL_TYPE type, SIZE_T bytes, ULONG tag)
{
    if (tag == 0) {
        fake::AddFault("pool allocated without a tag");
    }
    PVOID block = fake::Allocate(bytes, type, tag);
    if (block != nullptr) {
        ++S().poolCounters.driverAllocations;
        S().poolCounters.lastDriverTag = tag;
    }
    return block;
}

VOID ExFreePoolWithTag(PVOID block, ULONG tag)
{
    auto it = S().pool.find(block);
    if (it == S().pool.end()) {
        fake::AddFault("freed memory that is not pool");
        return;
    }
    // tag 0 frees any block; another tag must be the block's own
    if (tag != 0 && tag != it->second.tag) {
        fake::AddFault("freed pool with another tag than it was allocated with");
    }
    std::free(block);
    S().pool.erase(it);
    --S().poolCounters.outstanding;
}

VOID KeInitializeDpc(PKDPC dpc, PKDEFERRED_ROUTINE routine, PVOID context)
{
    dpc->DeferredRoutine = routine;
    dpc->DeferredContext = context;
    dpc->Queued = FALSE;
}

VOID KeInitializeTimer(PKTIMER timer)
{
    timer->DueAt = 0;
    timer->Dpc = nullptr;
    timer->Inserted = FALSE;
}

BOOLEAN KeSetTimer(PKTIMER timer, LARGE_INTEGER dueTime, PKDPC dpc)
{
    const BOOLEAN wasSet = timer->Inserted;
    S().lastDue[timer] = dueTime.QuadPart;
    timer->DueAt = dueTime.QuadPart < 0 ? S().now - dueTime.QuadPart : dueTime.QuadPart;
    timer->Dpc = dpc;
    timer->Inserted = TRUE;
    S().setTimers.insert(timer);
    return wasSet;
}

BOOLEAN KeCancelTimer(PKTIMER timer)
{
    const BOOLEAN wasSet = timer->Inserted;
    timer->Inserted = FALSE;
    S().setTimers.erase(timer);
    return wasSet;
}

VOID KeFlushQueuedDpcs(VOID)
{
    fake::RequirePassive("KeFlushQueuedDpcs");
    fake::RunQueuedDpcs();
}

NTSTATUS IoCreateDevice(PDRIVER_OBJECT driver, ULONG extensionSize, PUNICODE_STRING name, ULONG type,
                        ULONG characteristics, BOOLEAN exclusive, PDEVICE_OBJECT* deviceObject)
{
    fake::RequirePassive("IoCreateDevice");
    if (S().failNextDevice != STATUS_SUCCESS) {
        const NTSTATUS status = S().failNextDevice;
        S().failNextDevice = STATUS_SUCCESS;
        return status;
    }
    const std::string deviceName = name == nullptr ? "" : fake::Narrow(*name);
    for (auto& [object, record] : S().devices) {
        if (!deviceName.empty() && fake::Lower(record.info.name) == fake::Lower(deviceName)) {
            return STATUS_OBJECT_NAME_COLLISION;
        }
    }
    fake::DeviceRecord record;
    record.info = fake::DeviceInfo{deviceName, type, characteristics, exclusive, extensionSize};
    record.object = std::make_unique<DEVICE_OBJECT>();
    record.extension = std::calloc(1, extensionSize == 0 ? 1 : extensionSize);  // zeroed, as the system does
    PDEVICE_OBJECT object = record.object.get();
    object->DriverObject = driver;
    object->DeviceExtension = record.extension;
    object->DeviceType = type;
    object->Characteristics = characteristics;
    object->NextDevice = driver->DeviceObject;
    driver->DeviceObject = object;
    S().devices[object] = std::move(record);
    *deviceObject = object;
    return STATUS_SUCCESS;
}

VOID IoDeleteDevice(PDEVICE_OBJECT deviceObject)
{
    fake::RequirePassive("IoDeleteDevice");
    auto it = S().devices.find(deviceObject);
    if (it == S().devices.end()) {
        fake::AddFault("deleted a device that does not exist");
        return;
    }
    if (fake::HandleOpenTo(deviceObject)) {
        fake::AddFault("device deleted while a kernel handle to it is open");
    }
    void* extension = it->second.extension;
    const size_t size = it->second.info.extensionSize;
    for (KTIMER* timer : S().setTimers) {
        if (fake::Inside(timer, extension, size)) {
            fake::AddFault("device deleted while the timer in its extension is set");
        }
    }
    for (KDPC* dpc : S().dpcQueue) {
        if (fake::Inside(dpc, extension, size)) {
            fake::AddFault("device deleted while the deferred routine in its extension is queued");
        }
    }
    PDEVICE_OBJECT* link = &deviceObject->DriverObject->DeviceObject;
    while (*link != deviceObject) {
        link = &(*link)->NextDevice;
    }
    *link = deviceObject->NextDevice;
    std::free(extension);
    S().devices.erase(it);
}

VOID IofCompleteRequest(PIRP irp, CSHORT)
{
    ++irp->Completions;
}

}  // extern "C"
