// The recording Win32 fake: one resident window found by its title, message
// boxes and sent messages recorded, a console whose stream is kept in memory,
// a UTF-8 ANSI code page, and an in-memory registry under HKEY_CURRENT_USER
// with key handles counted and failures on request.
#include "fake_win32.h"

#include <io.h>
#include <shellapi.h>

#include <algorithm>
#include <cctype>
#include <cstring>

#include "pitchkeeper_shared.h"

namespace win32 {
namespace {

struct Key {
    std::map<std::string, Value> values;  // by lower-case name
};

struct State {
    bool resident = false;
    std::vector<SentMessage> sent;
    std::vector<Box> boxes;
    std::vector<RadioCheck> radioChecks;
    std::vector<std::string> executed;
    std::vector<std::string> shellCommands;
    bool consoleOpened = false;
    FILE* console = nullptr;
    std::string consoleText;
    std::map<std::string, Key> keys;  // by lower-case path
    std::map<uintptr_t, std::string> handles;
    uintptr_t nextHandle = 0x1000;
    bool denyWrite = false;
    bool failValueWrites = false;
    SystemFolder systemFolder = SystemFolder::Usable;
};

State& S()
{
    static State state;
    return state;
}

HWND const kResidentWindow = reinterpret_cast<HWND>(0x5151);

std::string Lower(std::string text)
{
    for (char& c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

// the path a handle names, "" for HKEY_CURRENT_USER itself; false for a bad handle
bool PathOf(HKEY key, std::string& path)
{
    if (key == HKEY_CURRENT_USER) {
        path.clear();
        return true;
    }
    auto it = S().handles.find(reinterpret_cast<uintptr_t>(key));
    if (it == S().handles.end()) {
        return false;
    }
    path = it->second;
    return true;
}

bool Join(HKEY root, LPCSTR subkey, std::string& path)
{
    if (!PathOf(root, path)) {
        return false;
    }
    const std::string tail = Lower(subkey == nullptr ? "" : subkey);
    path = path.empty() ? tail : tail.empty() ? path : path + "\\" + tail;
    return true;
}

HKEY NewHandle(const std::string& path)
{
    const uintptr_t handle = S().nextHandle;
    S().nextHandle += 4;
    S().handles[handle] = path;
    return reinterpret_cast<HKEY>(handle);
}

LONG Open(HKEY root, LPCSTR subkey, REGSAM access, PHKEY key)
{
    std::string path;
    if (!Join(root, subkey, path)) {
        return ERROR_INVALID_HANDLE;
    }
    if (S().keys.count(path) == 0) {
        return ERROR_FILE_NOT_FOUND;
    }
    if (S().denyWrite && (access & KEY_WRITE & ~KEY_READ) != 0) {
        return ERROR_ACCESS_DENIED;
    }
    *key = NewHandle(path);
    return ERROR_SUCCESS;
}

// the ANSI code page is UTF-8 here, so that a character may take several bytes
std::string Utf8(uint32_t code)
{
    if ((code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF) {
        code = 0xFFFD;  // a lone surrogate converts to the replacement character
    }
    std::string bytes;
    if (code < 0x80) {
        bytes += static_cast<char>(code);
    } else if (code < 0x800) {
        bytes += static_cast<char>(0xC0 | code >> 6);
        bytes += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        bytes += static_cast<char>(0xE0 | code >> 12);
        bytes += static_cast<char>(0x80 | (code >> 6 & 0x3F));
        bytes += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        bytes += static_cast<char>(0xF0 | code >> 18);
        bytes += static_cast<char>(0x80 | (code >> 12 & 0x3F));
        bytes += static_cast<char>(0x80 | (code >> 6 & 0x3F));
        bytes += static_cast<char>(0x80 | (code & 0x3F));
    }
    return bytes;
}

}  // namespace

void Reset()
{
    if (S().console != nullptr) {
        std::fclose(S().console);
    }
    S() = State{};
    S().keys[""] = Key{};
}

void SetResidentWindow(bool present) { S().resident = present; }
HWND ResidentWindow() { return S().resident ? kResidentWindow : nullptr; }
const std::vector<SentMessage>& Sent() { return S().sent; }
const std::vector<Box>& Boxes() { return S().boxes; }
const std::vector<RadioCheck>& RadioChecks() { return S().radioChecks; }
const std::vector<std::string>& Executed() { return S().executed; }
bool ConsoleOpened() { return S().consoleOpened; }
const std::vector<std::string>& ShellCommands() { return S().shellCommands; }

std::string ConsoleText()
{
    if (S().console != nullptr) {
        std::fflush(S().console);
    }
    return S().consoleText;
}

void CreateKey(const std::string& path)
{
    const std::string lower = Lower(path);
    const size_t slash = lower.rfind('\\');
    if (slash != std::string::npos) {
        CreateKey(lower.substr(0, slash));
    }
    S().keys[lower];
}

bool KeyExists(const std::string& path) { return S().keys.count(Lower(path)) != 0; }

void SetValue(const std::string& keyPath, const std::string& name, const Value& value)
{
    CreateKey(keyPath);
    S().keys[Lower(keyPath)].values[Lower(name)] = value;
}

std::map<std::string, Value> Values(const std::string& keyPath)
{
    auto it = S().keys.find(Lower(keyPath));
    return it == S().keys.end() ? std::map<std::string, Value>{} : it->second.values;
}

void SetSystemFolder(SystemFolder answer) { S().systemFolder = answer; }
void DenyWriteAccess(bool deny) { S().denyWrite = deny; }
void FailValueWrites(bool fail) { S().failValueWrites = fail; }
size_t OpenKeys() { return S().handles.size(); }

}  // namespace win32

using win32::S;

LRESULT SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    S().sent.push_back(win32::SentMessage{window, message, wParam, lParam});
    return 0;
}

HWND FindWindowA(LPCSTR className, LPCSTR title)
{
    const bool resident = className == nullptr && title != nullptr && std::strcmp(title, PK_WINDOW_TITLE) == 0;
    return resident ? win32::ResidentWindow() : nullptr;
}

int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type)
{
    S().boxes.push_back(win32::Box{owner, text, caption, type});
    return 1;  // IDOK
}

BOOL CheckRadioButton(HWND, int first, int last, int checked)
{
    S().radioChecks.push_back(win32::RadioCheck{first, last, checked});
    return TRUE;
}

HICON LoadIconA(HINSTANCE, LPCSTR name)
{
    return reinterpret_cast<HICON>(const_cast<LPSTR>(name));
}

BOOL Shell_NotifyIconA(DWORD, NOTIFYICONDATAA*)
{
    return TRUE;
}

UINT WinExec(LPCSTR commandLine, UINT)
{
    S().executed.push_back(commandLine);
    return 32;
}

// too small a buffer gets nothing and the size it would take, terminator included
UINT GetSystemDirectoryA(LPSTR buffer, UINT size)
{
    static const char kFolder[] = "C:\\windows\\system32";
    switch (S().systemFolder) {
    case win32::SystemFolder::Failing:
        return 0;
    case win32::SystemFolder::TooLong:
        return MAX_PATH + 40;
    case win32::SystemFolder::Usable:
        break;
    }
    if (size < sizeof(kFolder)) {
        return sizeof(kFolder);
    }
    std::memcpy(buffer, kFolder, sizeof(kFolder));
    return sizeof(kFolder) - 1;
}

BOOL AllocConsole()
{
    S().consoleOpened = true;
    return TRUE;
}

HANDLE GetStdHandle(DWORD which)
{
    return which == STD_OUTPUT_HANDLE && S().consoleOpened ? reinterpret_cast<HANDLE>(0x77) : nullptr;
}

int _open_osfhandle(intptr_t handle, int)
{
    return handle == 0x77 ? 3 : -1;
}

// the console's stream writes into memory, also when made unbuffered
FILE* _fdopen(int descriptor, const char*)
{
    if (descriptor != 3 || S().console != nullptr) {
        return nullptr;
    }
    cookie_io_functions_t functions = {};
    functions.write = [](void*, const char* bytes, size_t size) -> ssize_t {
        S().consoleText.append(bytes, size);
        return static_cast<ssize_t>(size);
    };
    S().console = fopencookie(nullptr, "w", functions);
    return S().console;
}

// the runtime's command interpreter call, recorded instead of run
extern "C" int system(const char* command)
{
    S().shellCommands.push_back(command == nullptr ? "" : command);
    return 0;
}

int WideCharToMultiByte(UINT codePage, DWORD, LPCWSTR wide, int wideCount, LPSTR bytes, int byteCount, LPCSTR,
                        LPBOOL)
{
    if (codePage != CP_ACP || wide == nullptr || wideCount == 0) {
        return 0;
    }
    const size_t count = wideCount < 0 ? std::wcslen(wide) + 1 : static_cast<size_t>(wideCount);
    std::string converted;
    for (size_t i = 0; i < count; ++i) {
        uint32_t code = static_cast<uint32_t>(wide[i]);
        if (IS_HIGH_SURROGATE(code) && i + 1 < count && IS_LOW_SURROGATE(static_cast<uint32_t>(wide[i + 1]))) {
            code = 0x10000 + ((code - 0xD800) << 10) + (static_cast<uint32_t>(wide[i + 1]) - 0xDC00);
            ++i;
        }
        converted += win32::Utf8(code);
    }
    if (byteCount == 0) {
        return static_cast<int>(converted.size());
    }
    if (converted.size() > static_cast<size_t>(byteCount)) {
        return 0;  // ERROR_INSUFFICIENT_BUFFER
    }
    std::memcpy(bytes, converted.data(), converted.size());
    return static_cast<int>(converted.size());
}

LONG RegOpenKeyA(HKEY root, LPCSTR path, PHKEY key)
{
    return win32::Open(root, path, KEY_READ | KEY_WRITE, key);
}

LONG RegOpenKeyExA(HKEY root, LPCSTR path, DWORD, REGSAM access, PHKEY key)
{
    return win32::Open(root, path, access, key);
}

LONG RegCreateKeyExA(HKEY root, LPCSTR path, DWORD, LPSTR, DWORD, REGSAM access, LPSECURITY_ATTRIBUTES, PHKEY key,
                     LPDWORD)
{
    std::string full;
    if (!win32::Join(root, path, full)) {
        return ERROR_INVALID_HANDLE;
    }
    win32::CreateKey(full);
    return win32::Open(HKEY_CURRENT_USER, full.c_str(), access, key);
}

// Like the platform: a buffer too small gets ERROR_MORE_DATA, the size needed
// and undefined contents; the stored bytes come back as they are, without a
// terminating zero added.
LONG RegQueryValueExA(HKEY key, LPCSTR name, LPDWORD, LPDWORD type, LPBYTE data, LPDWORD size)
{
    std::string path;
    if (!win32::PathOf(key, path)) {
        return ERROR_INVALID_HANDLE;
    }
    auto& values = S().keys[path].values;
    auto it = values.find(win32::Lower(name == nullptr ? "" : name));
    if (it == values.end()) {
        return ERROR_FILE_NOT_FOUND;
    }
    const win32::Value& value = it->second;
    if (type != nullptr) {
        *type = value.type;
    }
    const DWORD needed = static_cast<DWORD>(value.data.size());
    if (data == nullptr || size == nullptr) {
        if (size != nullptr) {
            *size = needed;
        }
        return ERROR_SUCCESS;
    }
    if (*size < needed) {
        std::memset(data, 'X', *size);
        *size = needed;
        return ERROR_MORE_DATA;
    }
    std::copy(value.data.begin(), value.data.end(), data);
    *size = needed;
    return ERROR_SUCCESS;
}

LONG RegSetValueExA(HKEY key, LPCSTR name, DWORD, DWORD type, const BYTE* data, DWORD size)
{
    std::string path;
    if (!win32::PathOf(key, path)) {
        return ERROR_INVALID_HANDLE;
    }
    if (S().failValueWrites) {
        return ERROR_ACCESS_DENIED;
    }
    S().keys[path].values[win32::Lower(name == nullptr ? "" : name)] =
        win32::Value{type, std::vector<BYTE>(data, data + size)};
    return ERROR_SUCCESS;
}

LONG RegCloseKey(HKEY key)
{
    return S().handles.erase(reinterpret_cast<uintptr_t>(key)) == 1 ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}
