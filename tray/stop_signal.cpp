#include "stop_signal.h"

#include "app_state.h"
#include "pitchkeeper_shared.h"

static void CALLBACK OnInstallFolderChange(void *change, BOOLEAN timedOut);

void ListenForInstallerStop()
{
    // held, never closed, for the life of the process
    HANDLE change = FindFirstChangeNotificationA(PK_INSTALL_DIR, FALSE, FILE_NOTIFY_CHANGE_FILE_NAME);
    if (change == INVALID_HANDLE_VALUE) {
        OutputDebugStringA("Pitchkeeper: cannot watch " PK_INSTALL_DIR
                           " for the installer's stop file; an uninstall or upgrade will not end "
                           "this instance\n");
        return;
    }
    HANDLE wait = NULL;
    RegisterWaitForSingleObject(&wait, change, OnInstallFolderChange, change, INFINITE,
                                WT_EXECUTEDEFAULT);
    // an installer already under way made it before the watch began
    OnInstallFolderChange(change, FALSE);
}

// On a pool thread: the ending itself happens on the main thread. The
// watch is renewed before the look, so that no creation falls between.
static void CALLBACK OnInstallFolderChange(void *change, BOOLEAN)
{
    FindNextChangeNotification(change);
    if (GetFileAttributesA(PK_STOP_FILE_PATH) != INVALID_FILE_ATTRIBUTES) {
        PostMessageA(AppState.MainWindow, WM_CLOSE, 0, 0);
    }
}
