// Lorvex: run after the tray program has been uninstalled, removes its
// logon task so that no task is left pointing at a program that is gone.

#include "pitchkeeper_shared.h"

#include <windows.h>

int main()
{
    // the task tool runs on by itself; whether the task existed does not
    // matter to an uninstall, so nobody waits for it
    WinExec(PK_TASK_DELETE_COMMAND, SW_HIDE);
    return 0;
}
