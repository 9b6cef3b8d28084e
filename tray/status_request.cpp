#include "status_request.h"

#include "pitchkeeper_shared.h"
#include "status_format.h"

#include <windows.h>
#include <string.h>

// the exit code for arguments -status does not know
const int StatusUsageError = 2;

// How long the resident may take; it answers from its main thread, which
// an error box of its own does not hold up.
const UINT RequestTimeoutMs = 5000;

struct AwaitedAnswer {
    HWND Resident;
    bool Arrived;
    StatusSnapshot Snapshot;
};

static AwaitedAnswer Awaited;

// Only an answer of the one size, with the tag, from the window asked is
// taken; it is copied out, and its texts are cut to their fields.
static LRESULT CALLBACK ReceiveAnswer(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message != WM_COPYDATA) {
        return DefWindowProcA(window, message, wParam, lParam);
    }
    const COPYDATASTRUCT *answer = (const COPYDATASTRUCT *)lParam;
    if ((HWND)wParam != Awaited.Resident || answer->dwData != StatusSnapshotTag ||
        answer->cbData != sizeof(StatusSnapshot) || answer->lpData == NULL) {
        return FALSE;
    }
    StatusSnapshot &snapshot = Awaited.Snapshot;
    memcpy(&snapshot, answer->lpData, sizeof(snapshot));
    snapshot.Version[sizeof(snapshot.Version) - 1] = '\0';
    if (snapshot.DigitizerCount < 0 || snapshot.DigitizerCount > MaxDigitizers) {
        snapshot.DigitizerCount = 0;
    }
    for (StatusDigitizer &device : snapshot.Digitizers) {
        device.Name[sizeof(device.Name) - 1] = '\0';
    }
    Awaited.Arrived = true;
    return TRUE;
}

// A window that only receives: never shown, and no other program finds it
// by enumeration.
static HWND CreateReplyWindow()
{
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = ReceiveAnswer;
    windowClass.hInstance = GetModuleHandleA(NULL);
    windowClass.lpszClassName = "PitchkeeperStatusReply";
    RegisterClassA(&windowClass);
    return CreateWindowExA(0, windowClass.lpszClassName, NULL, 0, 0, 0, 0, 0, HWND_MESSAGE, NULL,
                           windowClass.hInstance, NULL);
}

// The answer comes as a sent message while this thread waits for its own
// request, and so arrives before the wait ends.
static bool AskResident(HWND resident)
{
    HWND reply = CreateReplyWindow();
    if (reply == NULL) {
        return false;
    }
    Awaited.Resident = resident;
    DWORD_PTR result = 0;
    SendMessageTimeoutA(resident, WM_COMMAND, CMD_STATUS, (LPARAM)reply, SMTO_ABORTIFHUNG,
                        RequestTimeoutMs, &result);
    DestroyWindow(reply);
    return Awaited.Arrived;
}

static const char *DriverStateName(DWORD state)
{
    switch (state) {
    case SERVICE_RUNNING:
        return "running";
    case SERVICE_STOPPED:
        return "stopped";
    case SERVICE_START_PENDING:
        return "starting";
    case SERVICE_STOP_PENDING:
        return "stopping";
    default:
        return "paused";
    }
}

static const char *DriverState()
{
    SC_HANDLE manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_CONNECT);
    SC_HANDLE service = manager != NULL ? OpenServiceA(manager, PK_SERVICE_NAME, SERVICE_QUERY_STATUS)
                                        : NULL;
    DWORD error = GetLastError();
    SERVICE_STATUS status = {};
    bool queried = service != NULL && QueryServiceStatus(service, &status);
    if (service != NULL) {
        CloseServiceHandle(service);
    }
    if (manager != NULL) {
        CloseServiceHandle(manager);
    }
    if (queried) {
        return DriverStateName(status.dwCurrentState);
    }
    return error == ERROR_SERVICE_DOES_NOT_EXIST ? "not installed" : "unknown";
}

// Standard output when the starter made it a file or a pipe; otherwise the
// console of the window it was started from, if any. Never a new console.
static HANDLE ReportOutput()
{
    HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD type = output != NULL && output != INVALID_HANDLE_VALUE ? GetFileType(output)
                                                                  : FILE_TYPE_UNKNOWN;
    if (type == FILE_TYPE_DISK || type == FILE_TYPE_PIPE) {
        return output;
    }
    if (!AttachConsole(ATTACH_PARENT_PROCESS)) {
        return INVALID_HANDLE_VALUE;
    }
    return CreateFileA("CONOUT$", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                       OPEN_EXISTING, 0, NULL);
}

static void PrintBytes(const char *text, size_t length)
{
    HANDLE output = ReportOutput();
    DWORD written = 0;
    if (output != INVALID_HANDLE_VALUE) {
        WriteFile(output, text, (DWORD)length, &written, NULL);
    }
}

static void Print(const char *text)
{
    PrintBytes(text, strlen(text));
}

// For scripts: a misspelt format gets a line, never a box that would wait
// for a person.
int RunStatusRequest(int argc, wchar_t **argv)
{
    bool json = argc == 3 && wcscmp(argv[2], L"json") == 0;
    if (argc > 3 || (argc == 3 && !json)) {
        Print("Usage: Pitchkeeper_x64.exe -status [json]\r\n");
        return StatusUsageError;
    }
    HWND resident = FindWindowA(NULL, PK_WINDOW_TITLE);
    if (resident == NULL) {
        const char *text = json ? "{\"running\": false}\r\n" : "Pitchkeeper is not running.\r\n";
        Print(text);
        return 1;
    }
    if (!AskResident(resident)) {
        // it answers only a start of its own program file
        const char *text = json ? "{\"running\": true, \"answered\": false}\r\n"
                                : "Pitchkeeper is running but did not answer; ask with the "
                                  "program file it runs from.\r\n";
        Print(text);
        return 1;
    }
    static StatusReport report;
    const char *driver = DriverState();
    if (json) {
        FormatStatusJson(Awaited.Snapshot, driver, report);
    } else {
        FormatStatusText(Awaited.Snapshot, driver, report);
    }
    PrintBytes(report.Text, report.Used);
    return 0;
}
