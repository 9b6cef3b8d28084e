// Starting the task scheduler's command-line tool, for the tray program and
// the clean-up tool alike. Include after windows.h.
#pragma once

#include "pitchkeeper_shared.h"

#include <stdio.h>

// The tool is named by its full path in the system folder. Named by its
// bare file name it would be searched for in the program's own folder and
// in the current folder first, where anyone may have left a program of that
// name for an elevated start to run. Without a usable system folder nothing
// is started, and neither is a command line that does not fit whole. The
// tool runs on by itself, hidden; nobody waits for it or looks at its result.
inline void RunTaskTool(const char *arguments)
{
    char systemFolder[MAX_PATH];
    UINT folderLength = GetSystemDirectoryA(systemFolder, sizeof(systemFolder));
    if (folderLength == 0 || folderLength >= sizeof(systemFolder)) {
        return;
    }
    char command[2 * MAX_PATH];
    int commandLength = snprintf(command, sizeof(command), "\"%s\\" PK_TASK_TOOL_FILE "\" %s",
                                 systemFolder, arguments);
    if (commandLength < 0 || commandLength >= (int)sizeof(command)) {
        return;
    }
    WinExec(command, SW_HIDE);
}
