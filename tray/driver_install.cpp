#include "driver_install.h"

#include "app_state.h"
#include "buzzer_fallback.h"
#include "pitchkeeper_shared.h"

#include <windows.h>
#include <process.h>
#include <setupapi.h>
#include <stdarg.h>
#include <stdio.h>

// every install action but the file copies, which go through a queue of
// their own so that the default callback can handle them; 0x7FF is every
// action including the properties one (0x400) that older headers lack
const UINT EveryInstallAction = 0x7FF;
const UINT InstallFlagsWithoutFiles = EveryInstallAction & ~SPINST_FILES;

static int CopyDriverFiles(HINF inf);
static void ShowInstallError(const char *format, ...);
static void ReportStartFailure(const char *format, DWORD error);

// One install at a time: SetupAPI and the service manager would otherwise
// work on the same service and files from two threads.
static SRWLOCK DriverSetupLock = SRWLOCK_INIT;

static void InstallAndStartDriver()
{
    Sleep(100);
    InstallDriverFromInf(PK_INF_PATH);
    // a failed install may still leave a service from an earlier start
    StartDriverService(PK_SERVICE_NAME);
    // a driver that did not start is known before the first tap meets it
    ProbeBuzzer();
}

void EnsureDriverRunning()
{
    AcquireSRWLockExclusive(&DriverSetupLock);
    InstallAndStartDriver();
    ReleaseSRWLockExclusive(&DriverSetupLock);
}

// A start still pending counts as running: it is on its way.
static bool DriverServiceRunning()
{
    SC_HANDLE manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_CONNECT);
    SC_HANDLE service = manager != NULL ? OpenServiceA(manager, PK_SERVICE_NAME, SERVICE_QUERY_STATUS)
                                        : NULL;
    SERVICE_STATUS status = {};
    bool running = service != NULL && QueryServiceStatus(service, &status) &&
                   (status.dwCurrentState == SERVICE_RUNNING ||
                    status.dwCurrentState == SERVICE_START_PENDING);
    if (service != NULL) {
        CloseServiceHandle(service);
    }
    if (manager != NULL) {
        CloseServiceHandle(manager);
    }
    return running;
}

// Takes its turn after an install still under way (start-up's may be waiting
// on an error box); a service running by then is left as it is.
static unsigned __stdcall EnsureStoppedDriverRunning(void *)
{
    AcquireSRWLockExclusive(&DriverSetupLock);
    if (DriverServiceRunning()) {
        ProbeBuzzer();
    } else {
        InstallAndStartDriver();
    }
    ReleaseSRWLockExclusive(&DriverSetupLock);
    return 0;
}

// The main thread serves the mouse hook, so it must not wait for SetupAPI,
// the service manager or an error box. A switch that comes while the last
// install is still under way needs nothing more: that one covers it.
void EnsureDriverRunningInBackground()
{
    if (AppState.DriverStartThread != NULL) {
        if (WaitForSingleObject(AppState.DriverStartThread, 0) == WAIT_TIMEOUT) {
            return;
        }
        CloseHandle(AppState.DriverStartThread);
    }
    AppState.DriverStartThread =
        (HANDLE)_beginthreadex(NULL, 0, EnsureStoppedDriverRunning, NULL, 0, NULL);
}

int InstallDriverFromInf(const char *infPath)
{
    if (GetFileAttributesA(infPath) == INVALID_FILE_ATTRIBUTES) {
        ShowInstallError("Cannot find driver .inf: %s", infPath);
        return 0;
    }
    UINT errorLine = 0;
    HINF inf = SetupOpenInfFileA(infPath, NULL, INF_STYLE_WIN4, &errorLine);
    if (inf == INVALID_HANDLE_VALUE) {
        ShowInstallError("Cannot process .inf file %s, line %d: %d", infPath, (int)errorLine,
                         (int)GetLastError());
        return 0;
    }
    if (!SetupInstallFromInfSectionA(NULL, inf, "DefaultInstall", InstallFlagsWithoutFiles, NULL,
                                     NULL, 0, NULL, NULL, NULL, NULL)) {
        ShowInstallError("Installing Registry entries from .INF file failed: %d", (int)GetLastError());
        SetupCloseInfFile(inf);
        return 0;
    }
    if (!CopyDriverFiles(inf)) {
        SetupCloseInfFile(inf);
        return 0;
    }
    int installed = SetupInstallServicesFromInfSectionA(inf, "DefaultInstall.Services", 0);
    if (!installed) {
        ShowInstallError("Cannot install services from .INF file: %d", (int)GetLastError());
    }
    SetupCloseInfFile(inf);
    return installed;
}

// Returns 0 only when no queue could be opened; a failed copy is reported
// and the service installation still goes ahead.
static int CopyDriverFiles(HINF inf)
{
    HSPFILEQ queue = SetupOpenFileQueue();
    if (queue == INVALID_HANDLE_VALUE) {
        ShowInstallError("Opening File queue from .INF file failed: %d", (int)GetLastError());
        return 0;
    }
    void *callbackContext = SetupInitDefaultQueueCallback(NULL);
    SetupInstallFilesFromInfSectionA(inf, NULL, queue, "DefaultInstall", NULL, 0);
    if (!SetupCommitFileQueueA(NULL, queue, SetupDefaultQueueCallbackA, callbackContext)) {
        ShowInstallError("Cannot copy files specified in .INF file: %d", (int)GetLastError());
    }
    SetupCloseFileQueue(queue);
    SetupTermDefaultQueueCallback(callbackContext);
    return 1;
}

int StartDriverService(const char *serviceName)
{
    SC_HANDLE manager = OpenSCManagerA(NULL, NULL, 0);
    if (manager == NULL) {
        ReportStartFailure("Cannot open Service manager: %d", GetLastError());
        return 0;
    }
    SC_HANDLE service = OpenServiceA(manager, serviceName, SERVICE_START);
    if (service == NULL) {
        ReportStartFailure("Cannot open Service: %d", GetLastError());
        CloseServiceHandle(manager);
        return 0;
    }
    // an already running service fails here with 1056, which is harmless
    int started = StartServiceA(service, 0, NULL);
    if (started) {
        OutputDebugStringA("Start service successfully");
    } else {
        ReportStartFailure("Cannot start Service: %d", GetLastError());
    }
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return started;
}

// Owned by no window: at start-up they come before anything is shown, and
// hold start-up until dismissed; after a switch to the buzzer they hold only
// the thread of that install.
static void ShowInstallError(const char *format, ...)
{
    char text[MAX_PATH + 64];
    va_list arguments;
    va_start(arguments, format);
    vsnprintf(text, sizeof(text), format, arguments);
    va_end(arguments);
    MessageBoxA(NULL, text, "Error", MB_OK | MB_ICONERROR);
}

static void ReportStartFailure(const char *format, DWORD error)
{
    char text[64];
    snprintf(text, sizeof(text), format, (int)error);
    OutputDebugStringA(text);
    snprintf(text, sizeof(text), "ToneUI, %s", "Start failed");
    OutputDebugStringA(text);
}
