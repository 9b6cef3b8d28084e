// The driver on the fake kernel, fed random requests over a random registry
// scene for its settings lookup. After every step no misuse of a kernel
// routine is recorded, no pool block and no key handle is left, and every
// request is completed once with the status its code and input call for.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstring>

#include "fake_kernel.h"
#include "fuzz_check.h"
#include "settings_scene.h"

extern "C" DRIVER_INITIALIZE DriverEntry;

namespace {

constexpr ULONG kBeep = 0x10000;
constexpr size_t kMaxProfiles = 48;
constexpr size_t kMaxNameChars = 255;  // the registry's limit for a key name
constexpr size_t kMaxSteps = 12;
// every delay write is logged by the fake; a count beyond this would make an
// input take seconds without reaching any other code
constexpr ULONG kMaxDelayWrites = 20000;

// the misuses the fake kernel recorded, one a line
std::string Faults()
{
    std::string lines;
    for (const std::string& fault : fake::Faults()) {
        lines += "fault: " + fault + "\n";
    }
    return lines;
}

std::string ProfileName(FuzzedDataProvider& in)
{
    switch (in.ConsumeIntegralInRange(0, 2)) {
    case 0:  // a built-in account
        return "S-1-5-" + std::to_string(in.ConsumeIntegralInRange(0, 99));
    case 1:  // a user
        return "S-1-5-21-" + std::to_string(in.ConsumeIntegral<uint32_t>()) + "-" +
               std::to_string(in.ConsumeIntegral<uint16_t>());
    default: {
        std::string name = in.ConsumeRandomLengthString(kMaxNameChars);
        for (char& c : name) {
            // key names are printable and hold no separator
            if (c < ' ' || c > '~' || c == '\\') {
                c = '_';
            }
        }
        return name.empty() ? "_" : name;
    }
    }
}

// UTF-16 text, with or without its terminating zero, sometimes an odd byte over
std::vector<UCHAR> TextData(FuzzedDataProvider& in)
{
    const std::string text = in.ConsumeRandomLengthString(24);
    std::vector<UCHAR> data;
    for (char c : text) {
        data.push_back(static_cast<UCHAR>(c));
        data.push_back(in.ConsumeIntegralInRange(0, 7) == 0 ? in.ConsumeIntegral<UCHAR>() : 0);
    }
    const int ending = in.ConsumeIntegralInRange(0, 3);
    if (ending < 2) {
        data.insert(data.end(), 2, 0);
    } else if (ending == 2) {
        data.push_back(in.ConsumeIntegral<UCHAR>());
    }
    return data;
}

ULONG ValueType(FuzzedDataProvider& in)
{
    constexpr ULONG kTypes[] = {REG_SZ, REG_SZ, REG_SZ, REG_DWORD, REG_NONE, REG_EXPAND_SZ, REG_BINARY, REG_MULTI_SZ, REG_QWORD};
    return in.ConsumeBool() ? in.PickValueInArray(kTypes) : in.ConsumeIntegral<ULONG>();
}

// a value of any type; string types hold text, others any bytes
void AddValue(FuzzedDataProvider& in, const std::string& key, const std::string& name)
{
    const ULONG type = ValueType(in);
    const bool text = type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
    const std::vector<UCHAR> data = text ? TextData(in) : in.ConsumeBytes<UCHAR>(in.ConsumeIntegralInRange(0, 16));
    fake::SetValue(key, name, type, data);
}

void AddRefCount(FuzzedDataProvider& in, const std::string& sid)
{
    switch (in.ConsumeIntegralInRange(0, 3)) {
    case 0:
        scene::AddProfile(sid, std::nullopt);
        break;
    case 1:
        scene::AddProfile(sid, in.ConsumeIntegral<ULONG>());
        break;
    case 2:
        scene::AddProfile(sid, 1);
        break;
    default:
        scene::AddProfile(sid, std::nullopt);
        AddValue(in, scene::kProfileList + "\\" + sid, "RefCount");
    }
}

void AddHive(FuzzedDataProvider& in, const std::string& sid)
{
    const std::string key = scene::SettingsPathOf(sid);
    for (const char* name : {"frequency", "duration"}) {
        if (in.ConsumeBool()) {
            AddValue(in, key, name);
        }
    }
    if (in.ConsumeIntegralInRange(0, 7) == 0) {
        AddValue(in, key, in.ConsumeRandomLengthString(12));
    }
    if (in.ConsumeIntegralInRange(0, 7) == 0) {
        fake::CreateKey(key);  // a settings key with no values
    }
}

// the count a stored duration asks for: the leading digits of its text; only
// REG_SZ passes the lookup's type check
ULONG StoredDuration(const std::string& key)
{
    const std::optional<fake::StoredValue> value = fake::GetValue(key, "duration");
    if (!value || value->type != REG_SZ) {
        return 0;
    }
    std::vector<WCHAR> text;
    for (size_t i = 0; i + 1 < value->data.size(); i += sizeof(WCHAR)) {
        text.push_back(static_cast<WCHAR>(value->data[i] | value->data[i + 1] << 8));
    }
    const USHORT bytes = static_cast<USHORT>(text.size() * sizeof(WCHAR));
    UNICODE_STRING counted{bytes, bytes, text.data()};
    ULONG count = 0;
    RtlUnicodeStringToInteger(&counted, 10, &count);
    return count;
}

// Builds the machine's profile list and the users' hives; false when a
// stored duration would be too long a tone for the fake's port log.
bool BuildScene(FuzzedDataProvider& in, std::vector<std::string>& sids)
{
    if (in.ConsumeIntegralInRange(0, 15) == 0) {
        return true;  // no profile list at all
    }
    fake::CreateKey(scene::kProfileList);
    const size_t profiles = in.ConsumeIntegralInRange<size_t>(0, kMaxProfiles);
    for (size_t i = 0; i < profiles && in.remaining_bytes() > 0; ++i) {
        const std::string sid = ProfileName(in);
        AddRefCount(in, sid);
        if (in.ConsumeBool()) {
            AddHive(in, sid);
        }
        sids.push_back(sid);
    }
    // a negative text converts to 2^31 or more, which the driver plays as one write
    for (const std::string& sid : sids) {
        const ULONG count = StoredDuration(scene::SettingsPathOf(sid));
        if (count > kMaxDelayWrites && static_cast<LONG>(count) > 0) {
            return false;
        }
    }
    return true;
}

std::vector<UCHAR> RequestInput(FuzzedDataProvider& in)
{
    if (in.ConsumeBool()) {
        const ULONG frequency = in.ConsumeBool() ? in.ConsumeIntegralInRange<ULONG>(0, 40000) : in.ConsumeIntegral<ULONG>();
        const ULONG duration = in.ConsumeBool() ? in.ConsumeIntegralInRange<ULONG>(0, 2000) : in.ConsumeIntegral<ULONG>();
        return fake::BeepInput(frequency, duration);
    }
    return in.ConsumeBytes<UCHAR>(in.ConsumeIntegralInRange(0, 24));
}

ULONG FieldOf(const std::vector<UCHAR>& input, size_t offset)
{
    ULONG field;
    std::memcpy(&field, input.data() + offset, sizeof field);
    return field;
}

NTSTATUS ExpectedStatus(ULONG code, const std::vector<UCHAR>& input)
{
    if (code != kBeep) {
        return STATUS_NOT_IMPLEMENTED;
    }
    if (input.size() != 8) {
        return STATUS_INVALID_PARAMETER;
    }
    const ULONG frequency = FieldOf(input, 0);
    const ULONG duration = FieldOf(input, 4);
    const bool valid = frequency <= 32767 && (frequency >= 37 || duration == 0);
    return valid ? STATUS_SUCCESS : STATUS_INVALID_PARAMETER;
}

bool SpeakerIsOff() { return (fake::LastWritten(0x61) & 0x03) == 0; }

void SendDeviceControl(FuzzedDataProvider& in, PDRIVER_OBJECT driver)
{
    const ULONG code = in.ConsumeBool() ? kBeep : in.ConsumeIntegral<ULONG>();
    const std::vector<UCHAR> input = RequestInput(in);
    const NTSTATUS expected = ExpectedStatus(code, input);
    // only a beep request of the right length may read its input
    const fake::Completion done = fake::DeviceControl(driver, code, input, code == kBeep && input.size() == 8);
    Require(done.status == expected, "the request's status follows its code and input");
    Require(done.information == 0, "no request returns data");
    Require(expected != STATUS_SUCCESS || SpeakerIsOff(), "a tone ends with the speaker off");
    Require(expected == STATUS_SUCCESS || fake::PortLog().empty(), "a rejected request leaves the ports alone");
}

void SendOther(FuzzedDataProvider& in, PDRIVER_OBJECT driver)
{
    const UCHAR major = in.ConsumeIntegralInRange<UCHAR>(0, IRP_MJ_MAXIMUM_FUNCTION);
    const fake::Completion done = fake::Call(driver, major);
    Require(done.information == 0, "no request returns data");
    Require(major != IRP_MJ_CLOSE || SpeakerIsOff(), "a close leaves the speaker off");
}

// one profile is gone from some enumeration call on, also between the call
// that asks for an entry's size and the one that fills it
void ShrinkListDuringWalk(FuzzedDataProvider& in, const std::vector<std::string>& sids)
{
    if (sids.empty()) {
        return;
    }
    const size_t at = in.ConsumeIntegralInRange<size_t>(0, 2 * sids.size());
    const std::string gone = scene::kProfileList + "\\" + sids[in.ConsumeIntegralInRange<size_t>(0, sids.size() - 1)];
    fake::OnEnumerate([at, gone, calls = size_t{0}](ULONG) mutable {
        if (calls++ == at) {
            fake::DeleteKey(gone);
        }
    });
}

void Step(FuzzedDataProvider& in, PDRIVER_OBJECT driver, const std::vector<std::string>& sids)
{
    switch (in.ConsumeIntegralInRange(0, 7)) {
    case 0:
        SendOther(in, driver);
        break;
    case 1:
        fake::AdvanceTimeMs(in.ConsumeIntegralInRange<LONGLONG>(0, 5000));
        fake::RunQueuedDpcs();
        break;
    case 2:
        fake::FailPoolAllocation(in.ConsumeIntegralInRange<size_t>(0, 2 * kMaxProfiles));
        SendDeviceControl(in, driver);
        break;
    case 3:
        ShrinkListDuringWalk(in, sids);
        SendDeviceControl(in, driver);
        fake::OnEnumerate(nullptr);
        break;
    default:
        SendDeviceControl(in, driver);
    }
    fake::FailPoolAllocation(SIZE_MAX / 2);
    fake::ClearLogs();
    Require(fake::Faults().empty(), "no misuse of a kernel routine", Faults());
    Require(fake::Pool().outstanding == 0, "every pool block is freed before the request completes");
    Require(fake::Registry().openHandles == 0, "every key handle is closed");
    Require(fake::OpenObjectHandles() == 0, "every object handle is closed");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider in(data, size);
    fake::Reset();
    std::vector<std::string> sids;
    if (!BuildScene(in, sids)) {
        return 0;
    }
    fake::SetPort(0x61, in.ConsumeIntegral<UCHAR>());
    NTSTATUS status = STATUS_NOT_IMPLEMENTED;
    PDRIVER_OBJECT driver = fake::LoadDriver(DriverEntry, &status);
    Require(status == STATUS_SUCCESS, "the driver loads");
    fake::ClearLogs();
    for (size_t step = 0; step < kMaxSteps && in.remaining_bytes() > 0; ++step) {
        Step(in, driver, sids);
    }
    fake::UnloadDriver(driver);
    Require(fake::Faults().empty(), "unload leaves no timer or routine behind", Faults());
    Require(fake::Devices().empty(), "unload deletes the device");
    return 0;
}
