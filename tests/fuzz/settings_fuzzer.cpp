// The tray program's settings store, compiled for the host against the
// recording Win32 fake: random stored values (types, lengths, contents,
// missing keys and values, refused writes) read by LoadSettings, then random
// calls of the setters. The cache slots stay terminated, the state flags stay
// 0 or 1, every key is closed, and with writable registry the cache mirrors
// what is stored. The task tool is started only by its full path in the
// system folder; when that folder cannot be had, nothing is started.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>

#include "app_state.h"
#include "fake_win32.h"
#include "fuzz_check.h"
#include "pitchkeeper_shared.h"
#include "resource.h"
#include "settings.h"

namespace {

constexpr size_t kMaxSetterCalls = 8;
const char* const kNames[SettingSlotCount] = {PK_VALUE_FREQUENCY, PK_VALUE_DURATION, PK_VALUE_OUTPUT_DEVICE,
                                              PK_VALUE_SERVICE_STATUS, PK_VALUE_RUN_AT_STARTUP};
const char* const kDefaults[SettingSlotCount] = {"2000", "25000", "0", "1", "1"};
const std::string kTaskTool = "\"C:\\windows\\system32\\schtasks.exe\" ";
bool systemFolderUsable = true;

std::vector<BYTE> Data(FuzzedDataProvider& in)
{
    if (in.ConsumeBool()) {
        const std::string number = std::to_string(in.ConsumeIntegralInRange(-3, 3) == 0
                                                      ? in.ConsumeIntegral<int>()
                                                      : in.ConsumeIntegralInRange(-2, 2));
        std::vector<BYTE> data(number.begin(), number.end());
        if (in.ConsumeBool()) {
            data.push_back(0);
        }
        return data;
    }
    return in.ConsumeBytes<BYTE>(in.ConsumeIntegralInRange(0, 12));
}

void StoreValue(FuzzedDataProvider& in, const char* name)
{
    const DWORD type = in.ConsumeIntegralInRange(0, 3) != 0 ? REG_SZ : in.ConsumeIntegralInRange<DWORD>(0, 11);
    win32::SetValue(PK_SETTINGS_KEY_PATH, name, win32::Value{type, Data(in)});
}

void BuildRegistry(FuzzedDataProvider& in)
{
    // every user's hive has its software key
    static const char* const kPaths[] = {PK_SETTINGS_ROOT_KEY, PK_SETTINGS_ROOT_KEY "\\" PK_SETTINGS_VENDOR_KEY,
                                         PK_SETTINGS_KEY_PATH};
    const std::string path = in.PickValueInArray(kPaths);
    win32::CreateKey(path);
    if (path == PK_SETTINGS_KEY_PATH) {
        for (const char* name : kNames) {
            if (in.ConsumeIntegralInRange(0, 5) != 0) {
                StoreValue(in, name);
            }
        }
        if (in.ConsumeIntegralInRange(0, 7) == 0) {
            StoreValue(in, "frequency2");
        }
    }
}

std::string Lowered(const char* name)
{
    std::string lower(name);
    for (char& c : lower) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return lower;
}

// what a slot-sized read takes: the text and its terminating zero in 8 bytes
bool Readable(const std::map<std::string, win32::Value>& values, const char* name)
{
    auto it = values.find(Lowered(name));
    if (it == values.end()) {
        return false;
    }
    const std::vector<BYTE>& data = it->second.data;
    return data.size() < SettingSlotSize || (data.size() == SettingSlotSize && data.back() == 0);
}

std::string StoredText(const char* name)
{
    const auto values = win32::Values(PK_SETTINGS_KEY_PATH);
    auto it = values.find(Lowered(name));
    Require(it != values.end(), "a value the program wrote is stored");
    const std::vector<BYTE>& data = it->second.data;
    return std::string(data.begin(), std::find(data.begin(), data.end(), 0));
}

void CheckState()
{
    Require(win32::OpenKeys() == 0, "every key is closed");
    for (const char* slot : SettingsCache) {
        Require(std::memchr(slot, 0, SettingSlotSize) != nullptr, "every cache slot is terminated");
    }
    Require(AppState.BeepEnabled <= 1 && AppState.ActiveOutput <= 1 && AppState.RunAtStartupEnabled <= 1 &&
                AppState.SettingsLoaded <= 1,
            "the state flags are 0 or 1");
    for (const std::string& command : win32::Executed()) {
        Require(systemFolderUsable, "no task tool without the system folder");
        Require(command == kTaskTool + PK_TASK_CREATE_ARGUMENTS || command == kTaskTool + PK_TASK_DELETE_ARGUMENTS,
                "only the two task commands, by the tool's full path");
    }
    for (const win32::RadioCheck& check : win32::RadioChecks()) {
        Require(check.first == IDC_BEEP_FROM_SPEAKER && check.last == IDC_BEEP_FROM_BUZZER &&
                    (check.checked == IDC_BEEP_FROM_SPEAKER || check.checked == IDC_BEEP_FROM_BUZZER),
                "one of the two output buttons is checked");
    }
    CachedFrequency();
    CachedDurationMs();
}

// with writes succeeding, each slot holds the text stored under its name
void CheckMirror()
{
    for (int slot = 0; slot < SettingSlotCount; ++slot) {
        Require(StoredText(kNames[slot]) == SettingsCache[slot], "the cache mirrors the registry");
    }
}

void CheckLoad(bool allReadable, const std::map<std::string, win32::Value>& before)
{
    Require(AppState.SettingsLoaded == 1, "a writable registry ends loaded");
    CheckMirror();
    if (!allReadable) {
        for (int slot = 0; slot < SettingSlotCount; ++slot) {
            Require(SettingsCache[slot] == std::string(kDefaults[slot]), "an unreadable value brings the defaults");
        }
        Require(AppState.ActiveOutput == 1 && AppState.BeepEnabled == 1 && AppState.RunAtStartupEnabled == 1,
                "the defaults select the buzzer, beeping on, start at logon");
        return;
    }
    const auto after = win32::Values(PK_SETTINGS_KEY_PATH);
    for (const char* name : {PK_VALUE_FREQUENCY, PK_VALUE_DURATION}) {
        Require(after.at(name).data == before.at(name).data && after.at(name).type == before.at(name).type,
                "readable tone values are left as stored");
    }
}

int Argument(FuzzedDataProvider& in)
{
    return in.ConsumeBool() ? in.ConsumeIntegralInRange(-2, 3) : in.ConsumeIntegral<int>();
}

bool Fits(long long value) { return std::to_string(value).size() < static_cast<size_t>(SettingSlotSize); }

// a number that fits the slot is stored; one that does not changes nothing
std::string Expected(long long value, const std::string& before)
{
    return Fits(value) ? std::to_string(value) : before;
}

void CallSetter(FuzzedDataProvider& in, bool writable)
{
    const int choice = in.ConsumeIntegralInRange(0, 3);
    const int value = Argument(in);
    const int slot = choice == 0 ? SlotFrequency : SlotOutputDevice + choice - 1;
    const std::string before = SettingsCache[slot];
    const BYTE output = AppState.ActiveOutput;
    switch (choice) {
    case 0: {
        const int durationMs = Argument(in);
        const std::string durationBefore = SettingsCache[SlotDuration];
        SaveToneSettings(value, durationMs);
        const long long stored = static_cast<long long>(durationMs) * PK_DURATION_STORE_FACTOR;
        const bool both = Fits(value) && Fits(stored);
        Require(!writable || StoredText(PK_VALUE_FREQUENCY) == (both ? std::to_string(value) : before),
                "both tone values are stored, or neither");
        Require(!writable || StoredText(PK_VALUE_DURATION) == (both ? std::to_string(stored) : durationBefore),
                "both tone values are stored, or neither");
        return;
    }
    case 1:
        SetOutputDevice(value);
        Require(AppState.ActiveOutput == (value == 0 ? 1 : value == 1 ? 0 : output), "the output follows 0 and 1 only");
        break;
    case 2:
        SetBeepEnabled(value);
        break;
    default:
        SetRunAtStartup(value);
    }
    Require(!writable || StoredText(kNames[slot]) == Expected(value, before), "the state value is stored");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider in(data, size);
    win32::Reset();
    ResetAppState();
    // taken first, so from the input's last byte: 6 fails, 7 is too long
    const int folder = in.ConsumeIntegralInRange(0, 7);
    win32::SetSystemFolder(folder == 6   ? win32::SystemFolder::Failing
                           : folder == 7 ? win32::SystemFolder::TooLong
                                         : win32::SystemFolder::Usable);
    systemFolderUsable = folder < 6;
    BuildRegistry(in);
    const bool denyWrites = in.ConsumeIntegralInRange(0, 7) == 0;
    const bool failWrites = in.ConsumeIntegralInRange(0, 7) == 0;
    win32::DenyWriteAccess(denyWrites);
    win32::FailValueWrites(failWrites);
    const bool writable = !denyWrites && !failWrites;

    const auto before = win32::Values(PK_SETTINGS_KEY_PATH);
    bool allReadable = win32::KeyExists(PK_SETTINGS_KEY_PATH);
    for (const char* name : kNames) {
        allReadable = allReadable && Readable(before, name);
    }
    LoadSettings();
    CheckState();
    if (writable) {
        CheckLoad(allReadable, before);
    }
    for (size_t call = 0; call < kMaxSetterCalls && in.remaining_bytes() > 0; ++call) {
        CallSetter(in, writable);
        CheckState();
        if (writable) {
            CheckMirror();
        }
    }
    return 0;
}
