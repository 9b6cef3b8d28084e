// Starting and ending the installed program.
#include "testkit.h"

#include "pitchkeeper_shared.h"

#include <tlhelp32.h>

#include <stdio.h>

std::string InstallFolder()
{
    return PK_INSTALL_DIR;
}

// inheritHandles: the program gets every inheritable handle of the test
static HANDLE StartTrayInheriting(const std::string &arguments, BOOL inheritHandles)
{
    std::string commandLine = "\"" PK_TRAY_EXE_PATH "\"";
    if (!arguments.empty()) {
        commandLine += " " + arguments;
    }
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(PK_TRAY_EXE_PATH, &commandLine[0], NULL, NULL, inheritHandles, 0, NULL,
                        PK_INSTALL_DIR, &startup, &process)) {
        return NULL;
    }
    CloseHandle(process.hThread);
    return process.hProcess;
}

HANDLE StartTray(const std::string &arguments)
{
    return StartTrayInheriting(arguments, FALSE);
}

static int WaitForExitAndClose(HANDLE process, DWORD timeoutMs)
{
    if (process == NULL) {
        return -1;
    }
    int exitCode = WaitForExit(process, timeoutMs);
    CloseHandle(process);
    return exitCode;
}

// Wine makes an inherited desktop handle the child's desktop, with that
// handle's rights.
int RunTrayWithoutHookControl(DWORD timeoutMs)
{
    HDESK desktop = OpenDesktopWithoutHookControl(TRUE);
    if (desktop == NULL) {
        return -1;
    }
    int exitCode = WaitForExitAndClose(StartTrayInheriting("", TRUE), timeoutMs);
    CloseDesktop(desktop);
    return exitCode;
}

int WaitForExit(HANDLE process, DWORD timeoutMs)
{
    if (WaitForSingleObject(process, timeoutMs) != WAIT_OBJECT_0) {
        return -1;
    }
    DWORD exitCode = 0;
    GetExitCodeProcess(process, &exitCode);
    return (int)exitCode;
}

int RunTray(const std::string &arguments, DWORD timeoutMs)
{
    return WaitForExitAndClose(StartTray(arguments), timeoutMs);
}

bool ResidentTrayExists()
{
    HANDLE mutex = OpenMutexA(SYNCHRONIZE, FALSE, PK_INSTANCE_MUTEX);
    if (mutex == NULL) {
        return false;
    }
    CloseHandle(mutex);
    return true;
}

int CountProcesses(const char *exeName)
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32 entry = {};
    entry.dwSize = sizeof(entry);
    int count = 0;
    for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry)) {
        count += lstrcmpiA(entry.szExeFile, exeName) == 0 ? 1 : 0;
    }
    CloseHandle(snapshot);
    return count;
}

// Says on standard error how a start that never came up ended, for the
// failures that show only now and then under load.
static void ReportFailedStart(HANDLE process, const char *what)
{
    DWORD exitCode = 0;
    GetExitCodeProcess(process, &exitCode);
    fprintf(stderr, "resident start failed: %s; process %s %lu; error.txt: [%s]\n", what,
            exitCode == STILL_ACTIVE ? "still running, id" : "ended with code",
            exitCode == STILL_ACTIVE ? GetProcessId(process) : exitCode,
            ReadTextFile(InstallFolder() + "\\error.txt").c_str());
}

HANDLE StartResidentTray(DWORD timeoutMs)
{
    HANDLE process = StartTray("");
    if (process == NULL) {
        return NULL;
    }
    // idle means the message loop runs, so the mouse hook is in place
    const char *failure = NULL;
    if (WaitForWindow(PK_WINDOW_TITLE, timeoutMs) == NULL) {
        failure = "no window";
    } else if (WaitForInputIdle(process, timeoutMs) != 0) {
        failure = "window, but never idle";
    }
    if (failure != NULL) {
        ReportFailedStart(process, failure);
        TerminateProcess(process, 99);
        CloseHandle(process);
        return NULL;
    }
    return process;
}

static bool NoResidentTray(void *)
{
    return !ResidentTrayExists() && FindWindowA(NULL, PK_WINDOW_TITLE) == NULL;
}

void StopResidentTray()
{
    HWND window = FindWindowA(NULL, PK_WINDOW_TITLE);
    if (window != NULL) {
        DWORD processId = 0;
        GetWindowThreadProcessId(window, &processId);
        HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, processId);
        // the stop command first, as a user would; force only if it is ignored
        PostMessageA(window, WM_COMMAND, CMD_STOP, 0);
        if (process != NULL && WaitForExit(process, 3000) < 0) {
            TerminateProcess(process, 99);
            WaitForExit(process, 3000);
        }
        if (process != NULL) {
            CloseHandle(process);
        }
    }
    WaitUntil(NoResidentTray, NULL, 5000);
}

// Drained while a program runs, a pipe never fills and holds it up.
void ReadPipeSoFar(HANDLE pipe, std::string &printed)
{
    DWORD available = 0;
    while (PeekNamedPipe(pipe, NULL, 0, NULL, &available, NULL) && available > 0) {
        char buffer[4096];
        DWORD got = 0;
        if (!ReadFile(pipe, buffer, sizeof(buffer), &got, NULL) || got == 0) {
            return;
        }
        printed.append(buffer, got);
    }
}

int RunTrayForOutput(const std::string &arguments, std::string &printed, DWORD timeoutMs)
{
    SECURITY_ATTRIBUTES inheritable = {sizeof(inheritable), NULL, TRUE};
    HANDLE reading = NULL;
    HANDLE writing = NULL;
    if (!CreatePipe(&reading, &writing, &inheritable, 0)) {
        return -1;
    }
    SetHandleInformation(reading, HANDLE_FLAG_INHERIT, 0);
    std::string commandLine = "\"" PK_TRAY_EXE_PATH "\" " + arguments;
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writing;
    startup.hStdError = writing;
    PROCESS_INFORMATION process = {};
    BOOL started = CreateProcessA(PK_TRAY_EXE_PATH, &commandLine[0], NULL, NULL, TRUE, 0, NULL,
                                  PK_INSTALL_DIR, &startup, &process);
    CloseHandle(writing);
    int exitCode = -1;
    if (started) {
        CloseHandle(process.hThread);
        DWORD start = GetTickCount();
        while (WaitForSingleObject(process.hProcess, 20) == WAIT_TIMEOUT &&
               GetTickCount() - start < timeoutMs) {
            ReadPipeSoFar(reading, printed);
        }
        ReadPipeSoFar(reading, printed);
        exitCode = WaitForExit(process.hProcess, 0);
        CloseHandle(process.hProcess);
    }
    CloseHandle(reading);
    return exitCode;
}
