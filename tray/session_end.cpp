#include "session_end.h"

#include <windows.h>

// Not after a crash, a hang or a restart of the machine: the logon task
// starts it at logon, and a second copy would only show the window.
void RegisterForRestartAfterUpdate()
{
    RegisterApplicationRestart(NULL, RESTART_NO_CRASH | RESTART_NO_HANG | RESTART_NO_REBOOT);
}
