// Ends the resident program of every session before its files are removed
// or replaced. The installer runs this as SYSTEM in session 0, which sees
// no window of a user's session, and Restart Manager does not shut down
// programs across sessions; each resident listens to the stop event instead.
#include "install_log.h"
#include "pitchkeeper_shared.h"

// how long the residents get to end, in steps of StepMs
static const int WaitSteps = 100;
static const DWORD StepMs = 100;

// Each resident holds the event until its process ends.
static bool AnyResidentListens()
{
    HANDLE stopEvent = OpenEventA(SYNCHRONIZE, FALSE, PK_STOP_EVENT);
    if (stopEvent == NULL) {
        return false;
    }
    CloseHandle(stopEvent);
    return true;
}

static void SetStopEvent()
{
    HANDLE stopEvent = OpenEventA(EVENT_MODIFY_STATE, FALSE, PK_STOP_EVENT);
    if (stopEvent != NULL) {
        SetEvent(stopEvent);
        CloseHandle(stopEvent);
    }
}

// Never fails the installation: a resident that does not end is left to
// Restart Manager, or its file to the next restart of the machine.
extern "C" __declspec(dllexport) UINT __stdcall EndEveryResident(MSIHANDLE install)
{
    if (!AnyResidentListens()) {
        LogToInstall(install, "Pitchkeeper: %s", "no resident instance is running");
        return ERROR_SUCCESS;
    }
    SetStopEvent();
    for (int step = 0; step < WaitSteps && AnyResidentListens(); step++) {
        Sleep(StepMs);
    }
    LogToInstall(install, "Pitchkeeper: %s",
                 AnyResidentListens() ? "a resident instance is still running"
                                      : "every resident instance has ended");
    return ERROR_SUCCESS;
}
