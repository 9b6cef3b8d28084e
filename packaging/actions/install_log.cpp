#include "install_log.h"

#include <stdio.h>

static void SendToInstall(MSIHANDLE install, INSTALLMESSAGE kind, const char *text)
{
    MSIHANDLE record = MsiCreateRecord(1);
    // field 0 is the template: the text is shown as it is, never expanded
    MsiRecordSetStringA(record, 0, "[1]");
    MsiRecordSetStringA(record, 1, text);
    MsiProcessMessage(install, kind, record);
    MsiCloseHandle(record);
}

void LogToInstall(MSIHANDLE install, const char *format, const char *argument)
{
    char text[1024];
    snprintf(text, sizeof(text), format, argument);
    SendToInstall(install, INSTALLMESSAGE_INFO, text);
}

void ReportInstallError(MSIHANDLE install, const char *text)
{
    SendToInstall(install, INSTALLMESSAGE(INSTALLMESSAGE_ERROR | MB_OK | MB_ICONERROR), text);
}
