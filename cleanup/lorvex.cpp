// Lorvex: run after the tray program has been uninstalled, removes its
// logon task so that no task is left pointing at a program that is gone.

#include <windows.h>

#include "pitchkeeper_shared.h"
#include "task_tool.h"

int main()
{
    // whether the task existed does not matter to an uninstall
    RunTaskTool(PK_TASK_DELETE_ARGUMENTS);
    return 0;
}
