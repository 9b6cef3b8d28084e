// Restart after an update: Windows Installer's Restart Manager closes the
// resident when its file is to be replaced (WM_QUERYENDSESSION and
// WM_ENDSESSION with ENDSESSION_CLOSEAPP, see window_proc.cpp) and starts
// again the programs that asked for it here.
#pragma once

void RegisterForRestartAfterUpdate();
