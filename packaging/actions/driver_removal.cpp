// Removes the driver service and its file through the INF's uninstall
// sections, as SYSTEM, with no window: a silent uninstall must never wait
// on a dialog. What can finish only at the next restart (a driver that
// does not unload, a file in use) is left to that restart, and the
// installation then ends with 3010.
#include "install_log.h"
#include "pitchkeeper_shared.h"

#include <setupapi.h>

struct RemovalState {
    void *defaultContext;
    bool restartNeeded;
};

// A file that cannot go now goes at the next restart; one that is not
// there needs nothing.
static UINT CALLBACK OnFileOperation(void *context, UINT notification, UINT_PTR param1,
                                     UINT_PTR param2)
{
    RemovalState *state = (RemovalState *)context;
    if (notification == SPFILENOTIFY_DELETEERROR) {
        FILEPATHS_A *paths = (FILEPATHS_A *)param1;
        if (GetFileAttributesA(paths->Target) != INVALID_FILE_ATTRIBUTES &&
            MoveFileExA(paths->Target, NULL, MOVEFILE_DELAY_UNTIL_REBOOT)) {
            state->restartNeeded = true;
        }
        return FILEOP_SKIP;
    }
    return SetupDefaultQueueCallbackA(state->defaultContext, notification, param1, param2);
}

static bool RemoveDriverFiles(HINF inf, RemovalState *state)
{
    HSPFILEQ queue = SetupOpenFileQueue();
    if (queue == INVALID_HANDLE_VALUE) {
        return false;
    }
    // no progress window, no prompts
    state->defaultContext = SetupInitDefaultQueueCallbackEx(NULL, (HWND)INVALID_HANDLE_VALUE, 0, 0, NULL);
    bool removed = SetupInstallFilesFromInfSectionA(inf, NULL, queue, "DefaultUninstall", NULL, 0) &&
                   SetupCommitFileQueueA(NULL, queue, OnFileOperation, state);
    SetupTermDefaultQueueCallback(state->defaultContext);
    SetupCloseFileQueue(queue);
    return removed;
}

// Deferred, as SYSTEM, on an uninstall that is not part of an upgrade.
extern "C" __declspec(dllexport) UINT __stdcall RemoveDriver(MSIHANDLE install)
{
    UINT errorLine = 0;
    HINF inf = SetupOpenInfFileA(PK_INF_PATH, NULL, INF_STYLE_WIN4, &errorLine);
    if (inf == INVALID_HANDLE_VALUE) {
        LogToInstall(install, "Pitchkeeper: %s", "the driver's INF cannot be read; the driver stays");
        return ERROR_SUCCESS;
    }
    RemovalState state = {NULL, false};
    // the service is stopped first (DelService flag 0x200), then deleted; a
    // driver that does not unload stays until the next restart
    SetLastError(ERROR_SUCCESS);
    if (SetupInstallServicesFromInfSectionA(inf, "DefaultUninstall.Services", 0) &&
        GetLastError() == ERROR_SUCCESS_REBOOT_REQUIRED) {
        state.restartNeeded = true;
    }
    if (!RemoveDriverFiles(inf, &state)) {
        LogToInstall(install, "Pitchkeeper: %s", "the driver's file was not removed");
    }
    SetupCloseInfFile(inf);
    if (state.restartNeeded) {
        LogToInstall(install, "Pitchkeeper: %s",
                     "the driver's removal finishes at the next restart of the machine");
        MsiSetMode(install, MSIRUNMODE_REBOOTATEND, TRUE);
    }
    return ERROR_SUCCESS;
}
