// The logged-on user's tone settings. The request carries no tone values, so
// every request walks the machine's profile list for the loaded user hive and
// reads "frequency" and "duration" from the tray program's key in it. Nothing
// is cached: a changed setting reaches the next request unannounced.
#include "settings_lookup.h"

#include "paged.h"
#include "pitchkeeper_shared.h"

// missing from mingw's headers; the expected type goes in the top byte of DefaultType
#ifndef RTL_QUERY_REGISTRY_TYPECHECK
#define RTL_QUERY_REGISTRY_TYPECHECK 0x00000100
#define RTL_QUERY_REGISTRY_TYPECHECK_SHIFT 24
#endif

namespace {

// ends with a separator so that a profile's name can be appended directly
constexpr WCHAR kProfileListPath[] = L"\\Registry\\Machine\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\";
constexpr WCHAR kUserHivePrefix[] = L"\\Registry\\User\\";
constexpr WCHAR kSettingsKeySuffix[] = L"\\" PK_WIDEN(PK_SETTINGS_KEY_PATH);

// capacities of the working strings, in characters
constexpr USHORT kUserPathChars = 512;
constexpr USHORT kProfilePathChars = 256;
constexpr USHORT kHivePathChars = 512;

// names of built-in accounts such as S-1-5-18 are at most 10 characters
constexpr ULONG kLongestSystemAccountName = 10 * sizeof(WCHAR);

// A counted string over caller-owned storage of capacity + 1 characters, the
// extra one for the NUL that the registry query routine wants after a path.
void StartString(PUNICODE_STRING string, WCHAR* storage, USHORT capacityChars, PCWSTR text)
{
    string->Buffer = storage;
    string->Length = 0;
    string->MaximumLength = static_cast<USHORT>(capacityChars * sizeof(WCHAR));
    RtlAppendUnicodeToString(string, text);
}

PCWSTR TerminatedPath(PUNICODE_STRING string)
{
    string->Buffer[string->Length / sizeof(WCHAR)] = L'\0';
    return string->Buffer;
}

// a value type for the type-checked query: the expected type in the top byte
constexpr ULONG TypeChecked(ULONG type)
{
    return type << RTL_QUERY_REGISTRY_TYPECHECK_SHIFT | type;
}

PWSTR ValueName(PCWSTR name)
{
    return const_cast<PWSTR>(name);  // the query routine only reads names
}

// The first of the two key-information calls only reports the size needed.
PVOID AllocateReportedSize(NTSTATUS status, ULONG size)
{
    if (status != STATUS_BUFFER_TOO_SMALL && status != STATUS_BUFFER_OVERFLOW) {
        return nullptr;  // also the end of an enumeration that shrank: no more entries
    }
    return ExAllocatePoolWithTag(PagedPool, size, kTonePoolTag);
}

PVOID KeepIfFilled(PVOID buffer, NTSTATUS status)
{
    if (buffer != nullptr && !NT_SUCCESS(status)) {
        ExFreePoolWithTag(buffer, kTonePoolTag);
        return nullptr;
    }
    return buffer;
}

TONE_PAGED PKEY_FULL_INFORMATION QueryFullInformation(HANDLE key)
{
    PAGED_CODE();
    ULONG size = 0;
    NTSTATUS status = ZwQueryKey(key, KeyFullInformation, nullptr, 0, &size);
    PVOID info = AllocateReportedSize(status, size);
    if (info != nullptr) {
        status = ZwQueryKey(key, KeyFullInformation, info, size, &size);
    }
    return static_cast<PKEY_FULL_INFORMATION>(KeepIfFilled(info, status));
}

TONE_PAGED PKEY_BASIC_INFORMATION EnumerateSubkey(HANDLE key, ULONG index)
{
    PAGED_CODE();
    ULONG size = 0;
    NTSTATUS status = ZwEnumerateKey(key, index, KeyBasicInformation, nullptr, 0, &size);
    PVOID info = AllocateReportedSize(status, size);
    if (info != nullptr) {
        status = ZwEnumerateKey(key, index, KeyBasicInformation, info, size, &size);
    }
    return static_cast<PKEY_BASIC_INFORMATION>(KeepIfFilled(info, status));
}

// The subkey's name is counted, not NUL-terminated. Registry key names are at
// most 255 characters, so its length always fits a counted string's.
bool AppendName(PUNICODE_STRING path, const KEY_BASIC_INFORMATION* subkey)
{
    UNICODE_STRING name;
    name.Buffer = const_cast<PWCH>(subkey->Name);
    name.Length = static_cast<USHORT>(subkey->NameLength);
    name.MaximumLength = name.Length;
    return NT_SUCCESS(RtlAppendUnicodeStringToString(path, &name));
}

// RefCount is nonzero while the profile's hive is loaded. Missing, of another
// type or unreadable, it counts as 0.
TONE_PAGED ULONG ReadRefCount(PUNICODE_STRING profilePath)
{
    PAGED_CODE();
    ULONG refCount = 0;
    ULONG missing = 0;
    RTL_QUERY_REGISTRY_TABLE table[2] = {};
    table[0].Flags = RTL_QUERY_REGISTRY_DIRECT | RTL_QUERY_REGISTRY_TYPECHECK;
    table[0].Name = ValueName(L"RefCount");
    table[0].EntryContext = &refCount;
    table[0].DefaultType = TypeChecked(REG_DWORD);
    table[0].DefaultData = &missing;
    table[0].DefaultLength = sizeof(missing);
    const NTSTATUS status =
        RtlQueryRegistryValues(RTL_REGISTRY_ABSOLUTE, TerminatedPath(profilePath), table, nullptr, nullptr);
    return NT_SUCCESS(status) ? refCount : 0;
}

// Chooses the profile if its hive is loaded. A name too long for either path
// would leave that path short and point at another key, so such a profile is
// passed over.
TONE_PAGED void ConsiderProfile(const KEY_BASIC_INFORMATION* subkey, PUNICODE_STRING chosenHive)
{
    PAGED_CODE();
    WCHAR userStorage[kUserPathChars + 1];
    WCHAR profileStorage[kProfilePathChars + 1];
    UNICODE_STRING userPath;
    UNICODE_STRING profilePath;
    StartString(&userPath, userStorage, kUserPathChars, kUserHivePrefix);
    StartString(&profilePath, profileStorage, kProfilePathChars, kProfileListPath);
    if (AppendName(&userPath, subkey) && AppendName(&profilePath, subkey) && ReadRefCount(&profilePath) != 0) {
        RtlCopyUnicodeString(chosenHive, &userPath);
    }
}

// Walks the profile list in enumeration order; the last profile whose hive is
// loaded wins. Leaves chosenHive as it is when none is, or the walk fails.
TONE_PAGED void FindActiveUserHive(PUNICODE_STRING chosenHive)
{
    PAGED_CODE();
    // opened without the trailing separator, which is only there for the appends;
    // a kernel handle, read-only: the request runs in the calling process
    UNICODE_STRING listPath;
    RtlInitUnicodeString(&listPath, kProfileListPath);
    listPath.Length -= sizeof(WCHAR);
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &listPath, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, nullptr, nullptr);
    HANDLE key = nullptr;
    if (!NT_SUCCESS(ZwOpenKey(&key, KEY_READ, &attributes))) {
        return;
    }
    if (PKEY_FULL_INFORMATION full = QueryFullInformation(key)) {
        for (ULONG index = 0; index < full->SubKeys; ++index) {
            // fails when the list shrank since it was counted, or memory ran out
            PKEY_BASIC_INFORMATION subkey = EnumerateSubkey(key, index);
            if (subkey == nullptr) {
                break;
            }
            if (subkey->NameLength > kLongestSystemAccountName) {
                ConsiderProfile(subkey, chosenHive);
            }
            ExFreePoolWithTag(subkey, kTonePoolTag);
        }
        ExFreePoolWithTag(full, kTonePoolTag);
    }
    ZwClose(key);
}

// Both texts in one query; their storage is allocated by the query. The user
// can write this hive, so each value is type-checked (a value of another type
// fails the query rather than being written over the counted string) and
// never expanded.
TONE_PAGED NTSTATUS QuerySettingsTexts(PUNICODE_STRING settingsPath, PUNICODE_STRING duration,
                                       PUNICODE_STRING frequency)
{
    PAGED_CODE();
    RTL_QUERY_REGISTRY_TABLE table[3] = {};
    PUNICODE_STRING targets[2] = {duration, frequency};
    PCWSTR names[2] = {PK_WIDEN(PK_VALUE_DURATION), PK_WIDEN(PK_VALUE_FREQUENCY)};
    for (int i = 0; i < 2; ++i) {
        table[i].Flags = RTL_QUERY_REGISTRY_DIRECT | RTL_QUERY_REGISTRY_TYPECHECK | RTL_QUERY_REGISTRY_NOEXPAND;
        table[i].Name = ValueName(names[i]);
        table[i].EntryContext = targets[i];
        table[i].DefaultType = TypeChecked(REG_SZ);
        table[i].DefaultData = ValueName(L"default");
        table[i].DefaultLength = 0;
    }
    return RtlQueryRegistryValues(RTL_REGISTRY_ABSOLUTE, TerminatedPath(settingsPath), table, nullptr, nullptr);
}

// The query reports Length as the value's size less one character, whatever
// the value holds: 0xFFFE for an empty value, over storage of no bytes. Only
// the size of the storage it allocated is taken: the text is all of it but an
// odd byte and one terminating zero. A kernel that ignores the type check
// (Windows 7 without KB2393802) writes a value of up to four bytes of another
// type straight over Length and MaximumLength and allocates nothing: with no
// storage there is no text.
void FitTextToStorage(PUNICODE_STRING text)
{
    if (text->Buffer == nullptr) {
        text->MaximumLength = 0;
    }
    USHORT length = static_cast<USHORT>(text->MaximumLength & ~1u);
    if (length != 0 && text->Buffer[length / sizeof(WCHAR) - 1] == L'\0') {
        length = static_cast<USHORT>(length - sizeof(WCHAR));
    }
    text->Length = length;
}

// as far as the leading decimal digits go; 0 when there are none
ULONG TextToNumber(PCUNICODE_STRING text)
{
    ULONG number = 0;
    return NT_SUCCESS(RtlUnicodeStringToInteger(text, 10, &number)) ? number : 0;
}

// storage the query allocated, under a tag of its own
void FreeText(PUNICODE_STRING text)
{
    if (text->Buffer != nullptr) {
        ExFreePoolWithTag(text->Buffer, 0);
    }
}

}  // namespace

TONE_PAGED ToneSettings ReadToneSettings()
{
    PAGED_CODE();
    WCHAR hiveStorage[kHivePathChars + 1];
    UNICODE_STRING settingsPath;
    StartString(&settingsPath, hiveStorage, kHivePathChars, L"");
    FindActiveUserHive(&settingsPath);
    RtlAppendUnicodeToString(&settingsPath, kSettingsKeySuffix);
    DbgPrint("TONEKD:Reg Path is :%wZ\n", &settingsPath);

    UNICODE_STRING durationText = {};
    UNICODE_STRING frequencyText = {};
    const NTSTATUS status = QuerySettingsTexts(&settingsPath, &durationText, &frequencyText);
    FitTextToStorage(&durationText);
    FitTextToStorage(&frequencyText);
    if (NT_SUCCESS(status)) {
        DbgPrint("TONEKD: Query the item successfully\n");
        DbgPrint("TONEKD:The duration item is :%wZ \n", &durationText);
        DbgPrint("TONEKD:The frequency item is :%wZ \n", &frequencyText);
    }
    ToneSettings settings;
    settings.Duration = TextToNumber(&durationText);
    settings.Frequency = TextToNumber(&frequencyText);
    DbgPrint("TONEKD:The duration integer item is :%d \n", settings.Duration);
    DbgPrint("TONEKD:The frequency integer item is :%d \n", settings.Frequency);
    FreeText(&durationText);
    FreeText(&frequencyText);
    return settings;
}
