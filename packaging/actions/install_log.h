// Lines in the installation's log (msiexec /l*v), and the error an
// installation shows or logs when it refuses.
#pragma once

#include <windows.h>
#include <msiquery.h>

void LogToInstall(MSIHANDLE install, const char *format, const char *argument);
void ReportInstallError(MSIHANDLE install, const char *text);
