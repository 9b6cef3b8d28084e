// Test kit for end-to-end tests: Windows programs that run inside the Wine
// bench (tests/bench/wine-run) beside the real Pitchkeeper_x64.exe and
// drive it from outside, as a user or a script would.
#pragma once

#include <windows.h>

#include "digitizer/virtual_digitizer.h"

#include <string>
#include <vector>

// --- the installed program (C:\DALQ\Pitchkeeper) ---
// Starts Pitchkeeper_x64.exe with the given arguments ("" for none) in the
// install folder; returns the process handle (close it) or NULL.
HANDLE StartTray(const std::string &arguments);
// Starts it, waits for it to end (at most timeoutMs) and returns its exit
// code, or -1 when it did not end in time.
int RunTray(const std::string &arguments, DWORD timeoutMs = 10000);
// Runs it with its standard output and error on a pipe, collects what it
// prints until it ends and returns its exit code (-1: still running at
// the time-out).
int RunTrayForOutput(const std::string &arguments, std::string &printed, DWORD timeoutMs = 10000);
// Appends what has come through the pipe so far; never blocks.
void ReadPipeSoFar(HANDLE pipe, std::string &printed);
// Starts the resident instance and waits until its window exists.
HANDLE StartResidentTray(DWORD timeoutMs = 10000);
// Runs it without arguments on a desktop that refuses it hook control, so
// that its mouse hook cannot be set; as RunTray.
int RunTrayWithoutHookControl(DWORD timeoutMs = 10000);
// Ends any resident instance (stop command, then termination) and waits
// until its single-instance mutex is gone.
void StopResidentTray();
// Waits for a process to end; exit code or -1 on time-out.
int WaitForExit(HANDLE process, DWORD timeoutMs);
// True while another process holds the single-instance mutex.
bool ResidentTrayExists();
// How many processes run the program file of that name.
int CountProcesses(const char *exeName);

// --- windows and controls ---
HWND WaitForWindow(const char *title, DWORD timeoutMs = 10000);
// Polls until the predicate holds or the time runs out; returns the last result.
bool WaitUntil(bool (*predicate)(void *), void *context, DWORD timeoutMs);
std::string ControlText(HWND parent, int controlId);
LRESULT ControlCheckState(HWND parent, int controlId);
// Sends WM_COMMAND to the resident window, as a second start would.
LRESULT SendTrayCommand(WORD commandId, LPARAM lParam = 0);
// True while the shell holds the tray icon (id 0) of that window: a change
// that changes nothing succeeds only then.
bool TrayIconExists(HWND window);
// Has the shell drop that icon, as a restarted shell has forgotten it; true
// when the shell held it.
bool ForgetTrayIcon(HWND window);
// The desktop, opened with every right but setting hooks (CloseDesktop it):
// a thread on it cannot set the mouse hook.
HDESK OpenDesktopWithoutHookControl(BOOL inheritable);

// --- message boxes ---
// A visible top-level dialog window (#32770) with this caption, or NULL.
HWND FindMessageBox(const char *caption);
// Waits for such a box.
HWND WaitForMessageBox(const char *caption, DWORD timeoutMs = 10000);
// Read without messages, so also from the thread that owns the box.
std::string MessageBoxText(HWND box);
void DismissMessageBox(HWND box);
// Waits for a box, returns its text and presses OK; "" when none appeared.
std::string ReadAndDismissMessageBox(const char *caption, DWORD timeoutMs = 10000);

// The open popup menu (#32768), or NULL.
HWND OpenMenuWindow();

// --- input ---
// MOUSEEVENTF_LEFTDOWN etc.; the extra information stands in for the
// signature of presses the system makes from touch and pen contacts
void InjectMouseButton(DWORD flags, ULONG_PTR extraInfo = 0);
void InjectLeftClick();                // down then up

// --- virtual digitizers (tests/bench/digitizer) ---
// Installs that kind as a root-enumerated device and waits until its HID
// device opens; the device's raw-input handle is new on every arrival.
bool AddVirtualDigitizer(DigitizerKind kind);
// Removes it (DIF_REMOVE); true once its HID device is gone.
bool RemoveVirtualDigitizer(DigitizerKind kind);
// Hands one full-length input report (report id first) to a present device.
bool SendDigitizerReport(DigitizerKind kind, const std::vector<BYTE> &report);
struct TouchContact {
    BYTE Id;
    bool Tip;
    bool Palm = false;   // confidence off
};
// The touch screen's report: the contacts fill its two finger slots in
// order (missing slots zero), contactCount goes to the count field.
std::vector<BYTE> TouchReport(const std::vector<TouchContact> &contacts, BYTE contactCount);
// The serial screen's report: one contact, no count.
std::vector<BYTE> SerialReport(TouchContact contact);
// The single-touch screen's report: the tip alone.
std::vector<BYTE> SingleTouchReport(bool tip);
enum PenState { PenOutOfRange, PenHovering, PenTip, PenEraser, PenTipWithBarrel };
std::vector<BYTE> PenReport(PenState state);

// --- registry (HKCU\Software\VELMORA\VELMORABeep) ---
void DeleteSettingsKey();
bool ReadSettingValue(const char *name, std::string &text);
std::string SettingValue(const char *name);   // "<missing>" when absent
void WriteSettingValue(const char *name, const std::string &text);
void WriteAllSettings(const char *frequency, const char *duration, const char *outputDevice,
                      const char *serviceStatus, const char *runAtStartup);

// --- debugger output of other processes (OutputDebugStringA) ---
struct DebugRecord {
    LONGLONG time;   // QueryPerformanceCounter when the string arrived
    DWORD processId;
    std::string text;
};
void StartDebugCapture();
void StopDebugCapture();
std::vector<DebugRecord> CapturedDebugRecords();
std::vector<std::string> CapturedDebugLines();
void ClearCapturedDebugLines();
int CountDebugLines(const std::string &text);
bool WaitForDebugLine(const std::string &text, DWORD timeoutMs = 5000);
// Until that many such lines in all were captured.
bool WaitForDebugLines(const std::string &text, int count, DWORD timeoutMs = 5000);

// --- task scheduler tool stand-in ---
// The bench puts it in place of the system's task tool and plants copies
// where only a search would find them; each run records the copy's path
// and the command line it got.
// The command line the system's task tool gets for these arguments.
std::string TaskToolCommandLine(const char *arguments);
std::vector<std::string> RecordedTaskCommands();
// True when every recorded run was a system folder's copy, none a planted one.
bool OnlySystemTaskToolRan();
void ClearRecordedTaskCommands();
bool WaitForTaskCommandCount(size_t count, DWORD timeoutMs = 5000);

// --- JSON the program prints (testkit_json.cpp) ---
struct JsonValue {
    enum Kind { Missing, Null, Boolean, Number, String, Array, Object } kind = Missing;
    bool boolean = false;
    double number = 0;
    std::string text;
    std::vector<JsonValue> items;
    std::vector<std::pair<std::string, JsonValue>> members;
    // a member or an item; a Missing value when there is none
    const JsonValue &operator[](const char *name) const;
    const JsonValue &Item(size_t index) const;
    // as JSON writes it (numbers with %g); "<missing>" for a missing one
    std::string Show() const;
};
// Strict: false unless the whole text is one JSON value.
bool ParseJson(const std::string &text, JsonValue &value);

// --- files in the install folder ---
std::string InstallFolder();
bool FileExists(const std::string &path);
std::string ReadTextFile(const std::string &path);   // "" when absent
