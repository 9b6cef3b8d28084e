// The fake kernel's in-memory registry: keys with ordered subkeys and typed
// values, key handles, the key queries and the table-driven value query,
// including the direct mode's habits of writing non-string data straight into
// the caller's variable and of reporting a string's length from the size of
// its data alone, with or without the type check.
#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>

#include "internal.h"

namespace fake {
namespace {

constexpr ULONG kTypeCheckFlag = 0x00000100;
constexpr int kTypeCheckShift = 24;

struct Value {
    std::string name;
    ULONG type;
    std::vector<UCHAR> data;
};

struct Key {
    std::string name;
    std::vector<std::string> children;  // lower-case paths, in enumeration order
    std::map<std::string, Value> values; // by lower-case name
};

struct RegistryState {
    std::map<std::string, Key> keys;  // by lower-case path
    std::map<uintptr_t, std::string> handles;
    uintptr_t nextHandle = 0x100;
    RegistryCounters counters;
    std::function<void(ULONG)> enumerateHook;
    bool ignoresTypeCheck = false;
};

RegistryState& R()
{
    static RegistryState state;
    return state;
}

std::string ParentOf(const std::string& path)
{
    const size_t slash = path.rfind('\\');
    return slash == std::string::npos || slash == 0 ? "" : path.substr(0, slash);
}

// a trailing separator is taken as naming the same key
std::string Normalized(std::string path)
{
    if (!path.empty() && path.back() == '\\') {
        path.pop_back();
    }
    return Lower(path);
}

Key* Find(const std::string& path)
{
    auto it = R().keys.find(Normalized(path));
    return it == R().keys.end() ? nullptr : &it->second;
}

Key* FromHandle(HANDLE handle)
{
    auto it = R().handles.find(reinterpret_cast<uintptr_t>(handle));
    if (it == R().handles.end()) {
        AddFault("registry routine given a handle that is not open");
        return nullptr;
    }
    return Find(it->second);
}

std::vector<UCHAR> Utf16(const std::string& text)
{
    std::vector<UCHAR> data;
    for (char c : text) {
        data.push_back(static_cast<UCHAR>(c));
        data.push_back(0);
    }
    data.push_back(0);
    data.push_back(0);
    return data;
}

// a value stored with no data has no bytes to copy, and no address for them either
void CopyData(void* target, const UCHAR* data, size_t length)
{
    if (length != 0) {
        std::memcpy(target, data, length);
    }
}

bool IsString(ULONG type)
{
    return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

NTSTATUS WriteString(PUNICODE_STRING target, const UCHAR* data, size_t length)
{
    if (length > MAXUSHORT) {
        return STATUS_BUFFER_TOO_SMALL;
    }
    if (target->Buffer == nullptr) {
        target->Buffer = static_cast<PWSTR>(AllocateForRegistry(length));
        if (target->Buffer == nullptr) {
            return STATUS_INSUFFICIENT_RESOURCES;
        }
        target->MaximumLength = static_cast<USHORT>(length);
    } else if (target->MaximumLength < length) {
        return STATUS_BUFFER_TOO_SMALL;
    }
    CopyData(target->Buffer, data, length);
    // NT's report, whatever the data holds: one character less than its size,
    // so an empty value gives 0xFFFE, a 1-byte one 0xFFFF, and a text stored
    // without its terminating zero loses its last character
    target->Length = static_cast<USHORT>(length - sizeof(WCHAR));
    return STATUS_SUCCESS;
}

// non-string data: up to four bytes go straight into the variable; longer
// data takes the variable's first LONG as the size of the caller's buffer
NTSTATUS WriteOther(PVOID target, ULONG type, const UCHAR* data, size_t length)
{
    if (length <= sizeof(ULONG)) {
        CopyData(target, data, length);
        return STATUS_SUCCESS;
    }
    LONG size;
    std::memcpy(&size, target, sizeof size);
    if (size < 0) {
        if (static_cast<size_t>(-static_cast<LONGLONG>(size)) < length) {
            return STATUS_BUFFER_TOO_SMALL;
        }
        std::memcpy(target, data, length);
        return STATUS_SUCCESS;
    }
    if (static_cast<size_t>(size) < 2 * sizeof(ULONG) + length) {
        return STATUS_BUFFER_TOO_SMALL;
    }
    auto* out = static_cast<UCHAR*>(target);
    const ULONG length32 = static_cast<ULONG>(length);
    std::memcpy(out, &length32, sizeof length32);
    std::memcpy(out + sizeof(ULONG), &type, sizeof type);
    std::memcpy(out + 2 * sizeof(ULONG), data, length);
    return STATUS_SUCCESS;
}

NTSTATUS QueryEntry(const Key& key, bool untrusted, RTL_QUERY_REGISTRY_TABLE& entry)
{
    if ((entry.Flags & RTL_QUERY_REGISTRY_DIRECT) == 0 || entry.Name == nullptr) {
        AddFault("only direct, named query entries are modelled");
        return STATUS_INVALID_PARAMETER;
    }
    const bool typeCheckAsked = (entry.Flags & kTypeCheckFlag) != 0;
    if (untrusted && !typeCheckAsked) {
        // what the platform does since Windows 8
        AddFault("bug check 0x139: direct query of a user hive without a type check");
        return STATUS_INVALID_PARAMETER;
    }
    if (untrusted && (entry.Flags & RTL_QUERY_REGISTRY_NOEXPAND) == 0) {
        // the platform's documentation asks for it on every hive a user controls
        AddFault("query of a user hive without RTL_QUERY_REGISTRY_NOEXPAND");
    }
    const bool typeChecked = typeCheckAsked && !R().ignoresTypeCheck;
    const ULONG defaultType =
        R().ignoresTypeCheck ? entry.DefaultType : entry.DefaultType & ~(0xFFu << kTypeCheckShift);
    const ULONG expectedType = entry.DefaultType >> kTypeCheckShift;
    ULONG type;
    std::vector<UCHAR> data;
    auto it = key.values.find(Lower(NarrowTerminated(entry.Name)));
    if (it != key.values.end()) {
        type = it->second.type;
        data = it->second.data;
    } else if (defaultType == REG_NONE) {
        return STATUS_SUCCESS;
    } else {
        type = defaultType;
        size_t length = entry.DefaultLength;
        if (length == 0 && IsString(type)) {
            UNICODE_STRING text;
            RtlInitUnicodeString(&text, static_cast<PCWSTR>(entry.DefaultData));
            length = text.MaximumLength;
        }
        const auto* bytes = static_cast<const UCHAR*>(entry.DefaultData);
        data.assign(bytes, bytes + length);
    }
    if (typeChecked && type != expectedType) {
        return STATUS_OBJECT_TYPE_MISMATCH;
    }
    return IsString(type) ? WriteString(static_cast<PUNICODE_STRING>(entry.EntryContext), data.data(), data.size())
                          : WriteOther(entry.EntryContext, type, data.data(), data.size());
}

// one line of a regedit export: "name"=value, @=value
bool ParseValueLine(const std::string& line, const std::string& keyPath)
{
    std::string name;
    size_t i = 0;
    if (line[0] == '@') {
        i = 1;
    } else {
        for (i = 1; i < line.size() && line[i] != '"'; ++i) {
            if (line[i] == '\\') {
                ++i;
            }
            name += line[i];
        }
        ++i;
    }
    if (i >= line.size() || line[i] != '=') {
        return false;
    }
    const std::string value = line.substr(i + 1);
    if (value.size() >= 2 && value.front() == '"') {
        std::string text;
        for (size_t j = 1; j + 1 < value.size(); ++j) {
            if (value[j] == '\\') {
                ++j;
            }
            text += value[j];
        }
        SetString(keyPath, name, text);
    } else if (value.rfind("dword:", 0) == 0) {
        SetDword(keyPath, name, static_cast<ULONG>(std::stoul(value.substr(6), nullptr, 16)));
    } else if (value.rfind("hex", 0) == 0) {
        ULONG type = REG_BINARY;
        size_t colon = value.find(':');
        if (value[3] == '(') {
            type = static_cast<ULONG>(std::stoul(value.substr(4), nullptr, 16));
        }
        std::vector<UCHAR> data;
        std::stringstream bytes(value.substr(colon + 1));
        std::string byte;
        while (std::getline(bytes, byte, ',')) {
            if (!byte.empty()) {
                data.push_back(static_cast<UCHAR>(std::stoul(byte, nullptr, 16)));
            }
        }
        SetValue(keyPath, name, type, data);
    } else {
        return false;
    }
    return true;
}

std::string DecodeText(const std::string& raw)
{
    if (raw.size() < 2 || static_cast<UCHAR>(raw[0]) != 0xFF || static_cast<UCHAR>(raw[1]) != 0xFE) {
        return raw;
    }
    std::string text;
    for (size_t i = 2; i + 1 < raw.size(); i += 2) {
        const unsigned c = static_cast<UCHAR>(raw[i]) | static_cast<UCHAR>(raw[i + 1]) << 8;
        text += c < 128 ? static_cast<char>(c) : '?';
    }
    return text;
}

}  // namespace

void ResetRegistry()
{
    R() = RegistryState{};
    R().keys[""] = Key{};
}

void CreateKey(const std::string& path)
{
    if (path.empty() || Find(path) != nullptr) {
        return;
    }
    const std::string parent = ParentOf(path);
    CreateKey(parent);
    Key key;
    key.name = path.substr(path.rfind('\\') + 1);
    R().keys[Lower(path)] = key;
    Find(parent)->children.push_back(Lower(path));
}

void DeleteKey(const std::string& path)
{
    const std::string lower = Lower(path);
    Key* key = Find(lower);
    if (key == nullptr) {
        return;
    }
    for (const std::string& child : std::vector<std::string>(key->children)) {
        DeleteKey(child);
    }
    auto& siblings = Find(ParentOf(lower))->children;
    siblings.erase(std::find(siblings.begin(), siblings.end(), lower));
    R().keys.erase(lower);
}

void SetValue(const std::string& keyPath, const std::string& name, ULONG type, const std::vector<UCHAR>& data)
{
    CreateKey(keyPath);
    Find(keyPath)->values[Lower(name)] = Value{name, type, data};
}

std::optional<StoredValue> GetValue(const std::string& keyPath, const std::string& name)
{
    const Key* key = Find(keyPath);
    if (key == nullptr) {
        return std::nullopt;
    }
    auto it = key->values.find(Lower(name));
    if (it == key->values.end()) {
        return std::nullopt;
    }
    return StoredValue{it->second.type, it->second.data};
}

void SetString(const std::string& keyPath, const std::string& name, const std::string& text)
{
    SetValue(keyPath, name, REG_SZ, Utf16(text));
}

void SetDword(const std::string& keyPath, const std::string& name, ULONG value)
{
    std::vector<UCHAR> data(sizeof value);
    std::memcpy(data.data(), &value, sizeof value);
    SetValue(keyPath, name, REG_DWORD, data);
}

void IgnoreTypeCheck() { R().ignoresTypeCheck = true; }

void OnEnumerate(std::function<void(ULONG)> hook) { R().enumerateHook = std::move(hook); }

const RegistryCounters& Registry() { return R().counters; }

bool LoadRegFile(const std::string& file, const std::vector<std::pair<std::string, std::string>>& roots)
{
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        return false;
    }
    const std::string text = DecodeText(std::string(std::istreambuf_iterator<char>(in), {}));
    std::stringstream lines(text);
    std::string line, pending, keyPath;
    bool loaded = false;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        // long hex values continue on the next line after a trailing backslash
        const size_t start = line.find_first_not_of(' ');
        line = start == std::string::npos ? "" : line.substr(start);
        if (!line.empty() && line.back() == '\\') {
            pending += line.substr(0, line.size() - 1);
            continue;
        }
        line = pending + line;
        pending.clear();
        if (line.size() > 2 && line.front() == '[' && line.back() == ']') {
            keyPath.clear();
            const std::string name = line.substr(1, line.size() - 2);
            for (const auto& [root, objectPath] : roots) {
                if (Lower(name).rfind(Lower(root), 0) == 0) {
                    keyPath = objectPath + name.substr(root.size());
                    CreateKey(keyPath);
                }
            }
        } else if (!keyPath.empty() && !line.empty() && (line[0] == '"' || line[0] == '@')) {
            loaded = ParseValueLine(line, keyPath) || loaded;
        }
    }
    return loaded;
}

}  // namespace fake

extern "C" {

NTSTATUS ZwOpenKey(PHANDLE keyHandle, ACCESS_MASK access, POBJECT_ATTRIBUTES attributes)
{
    using namespace fake;
    RequirePassive("ZwOpenKey");
    ++R().counters.opens;
    R().counters.lastOpenAccess = access;
    R().counters.lastOpenAttributes = attributes->Attributes;
    if (attributes->RootDirectory != nullptr) {
        AddFault("ZwOpenKey relative to a root is not modelled");
        return STATUS_INVALID_PARAMETER;
    }
    const std::string path = Narrow(*attributes->ObjectName);  // counted, never NUL-terminated
    if (Find(path) == nullptr) {
        return STATUS_OBJECT_NAME_NOT_FOUND;
    }
    const uintptr_t handle = R().nextHandle;
    R().nextHandle += 4;
    R().handles[handle] = Normalized(path);
    ++R().counters.openHandles;
    *keyHandle = reinterpret_cast<HANDLE>(handle);
    return STATUS_SUCCESS;
}

NTSTATUS ZwClose(HANDLE handle)
{
    using namespace fake;
    if (CloseObjectHandle(handle)) {
        return STATUS_SUCCESS;
    }
    if (R().handles.erase(reinterpret_cast<uintptr_t>(handle)) == 0) {
        AddFault("ZwClose of a handle that is not open");
        return STATUS_INVALID_PARAMETER;
    }
    ++R().counters.closes;
    --R().counters.openHandles;
    return STATUS_SUCCESS;
}

NTSTATUS ZwQueryKey(HANDLE handle, KEY_INFORMATION_CLASS infoClass, PVOID buffer, ULONG length, PULONG resultLength)
{
    using namespace fake;
    RequirePassive("ZwQueryKey");
    ++R().counters.keyQueries;
    if (infoClass != KeyFullInformation) {
        AddFault("ZwQueryKey: only KeyFullInformation is modelled");
        return STATUS_INVALID_PARAMETER;
    }
    Key* key = FromHandle(handle);
    if (key == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    const ULONG needed = offsetof(KEY_FULL_INFORMATION, Class);
    *resultLength = needed;
    if (length < needed) {
        return STATUS_BUFFER_TOO_SMALL;
    }
    KEY_FULL_INFORMATION info{};
    info.ClassOffset = MAXUSHORT;
    info.SubKeys = static_cast<ULONG>(key->children.size());
    info.Values = static_cast<ULONG>(key->values.size());
    for (const std::string& child : key->children) {
        info.MaxNameLen = std::max(info.MaxNameLen, static_cast<ULONG>(Find(child)->name.size() * sizeof(WCHAR)));
    }
    std::memcpy(buffer, &info, needed);
    return STATUS_SUCCESS;
}

NTSTATUS ZwEnumerateKey(HANDLE handle, ULONG index, KEY_INFORMATION_CLASS infoClass, PVOID buffer, ULONG length,
                        PULONG resultLength)
{
    using namespace fake;
    RequirePassive("ZwEnumerateKey");
    ++R().counters.keyQueries;
    if (R().enumerateHook) {
        R().enumerateHook(index);
    }
    if (infoClass != KeyBasicInformation) {
        AddFault("ZwEnumerateKey: only KeyBasicInformation is modelled");
        return STATUS_INVALID_PARAMETER;
    }
    Key* key = FromHandle(handle);
    if (key == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    if (index >= key->children.size()) {
        return STATUS_NO_MORE_ENTRIES;
    }
    const std::string& name = Find(key->children[index])->name;
    const ULONG fixed = offsetof(KEY_BASIC_INFORMATION, Name);
    const ULONG nameBytes = static_cast<ULONG>(name.size() * sizeof(WCHAR));
    *resultLength = fixed + nameBytes;
    if (length < fixed) {
        return STATUS_BUFFER_TOO_SMALL;
    }
    auto* info = static_cast<PKEY_BASIC_INFORMATION>(buffer);
    info->LastWriteTime.QuadPart = 0;
    info->TitleIndex = 0;
    info->NameLength = nameBytes;
    // the name is not NUL-terminated, and only as much of it as fits is written
    const size_t fits = std::min<size_t>(name.size(), (length - fixed) / sizeof(WCHAR));
    for (size_t i = 0; i < fits; ++i) {
        info->Name[i] = static_cast<WCHAR>(name[i]);
    }
    return fits == name.size() ? STATUS_SUCCESS : STATUS_BUFFER_OVERFLOW;
}

NTSTATUS RtlQueryRegistryValues(ULONG relativeTo, PCWSTR path, PRTL_QUERY_REGISTRY_TABLE table, PVOID context,
                                PVOID environment)
{
    using namespace fake;
    RequirePassive("RtlQueryRegistryValues");
    ++R().counters.valueQueries;
    if (relativeTo != RTL_REGISTRY_ABSOLUTE || context != nullptr || environment != nullptr) {
        AddFault("RtlQueryRegistryValues: only absolute paths without context are modelled");
        return STATUS_INVALID_PARAMETER;
    }
    const std::string keyPath = NarrowTerminated(path);
    const Key* key = Find(keyPath);
    if (key == nullptr) {
        return STATUS_OBJECT_NAME_NOT_FOUND;
    }
    const bool untrusted = Lower(keyPath).rfind("\\registry\\user\\", 0) == 0;
    for (PRTL_QUERY_REGISTRY_TABLE entry = table; entry->QueryRoutine != nullptr || entry->Name != nullptr; ++entry) {
        const NTSTATUS status = QueryEntry(*key, untrusted, *entry);
        if (!NT_SUCCESS(status)) {
            return status;
        }
    }
    return STATUS_SUCCESS;
}

}  // extern "C"
