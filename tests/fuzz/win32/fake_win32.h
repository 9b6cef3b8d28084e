// Control surface of the recording Win32 fake: what a harness uses to set
// the scene (a resident window or none, the settings registry, failures)
// and to look at what the tray program's code did.
#pragma once

#include <windows.h>

#include <map>
#include <string>
#include <vector>

namespace win32 {

// Empties every record and the registry; no resident window.
void Reset();

// --- windows and message boxes ---
void SetResidentWindow(bool present);
HWND ResidentWindow();  // what FindWindowA returns for the resident title, or null

struct SentMessage {
    HWND window;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};
const std::vector<SentMessage>& Sent();

struct Box {
    HWND owner;
    std::string text;
    std::string caption;
    UINT type;
};
const std::vector<Box>& Boxes();

struct RadioCheck {
    int first;
    int last;
    int checked;
};
const std::vector<RadioCheck>& RadioChecks();

const std::vector<std::string>& Executed();  // WinExec command lines
// What GetSystemDirectoryA answers: "C:\\windows\\system32", a failure, or
// the size of a folder longer than any buffer of MAX_PATH
enum class SystemFolder { Usable, Failing, TooLong };
void SetSystemFolder(SystemFolder answer);
bool ConsoleOpened();
std::string ConsoleText();                   // what was written to the console's stream
const std::vector<std::string>& ShellCommands();  // the runtime's system()

// --- registry under HKEY_CURRENT_USER; paths like "software\\velmora", any case ---
struct Value {
    DWORD type;
    std::vector<BYTE> data;
};
void CreateKey(const std::string& path);
bool KeyExists(const std::string& path);
void SetValue(const std::string& keyPath, const std::string& name, const Value& value);
// the key's values by lower-case name
std::map<std::string, Value> Values(const std::string& keyPath);
// opening a key for writing is refused, as for a key whose rights deny it
void DenyWriteAccess(bool deny);
void FailValueWrites(bool fail);
size_t OpenKeys();

}  // namespace win32
