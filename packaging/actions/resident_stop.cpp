// Ends the resident program of every session before the files of an
// upgrade go in, or before an uninstall removes them. The installer runs
// this as SYSTEM in session 0, which sees no window of a user's session,
// and Restart Manager neither shuts down programs across sessions nor
// restarts elevated ones.
//
// Each resident watches the install folder for the stop file. Only SYSTEM
// and Administrators can create a file there (the folder is locked from
// the moment it exists), so no standard user can make, take or hold the
// signal; and the residents are found by the image they run, which no name
// of anybody's making can stand in for.
#include "install_log.h"
#include "pitchkeeper_shared.h"

#include <sddl.h>
#include <tlhelp32.h>
#include <string.h>

// how long the residents get to end
static const DWORD StopWaitMs = 10000;

static bool RunsTheInstalledProgram(DWORD processId, HANDLE *process)
{
    *process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);
    if (*process == NULL) {
        return false;
    }
    char image[MAX_PATH] = {};
    DWORD size = sizeof(image);
    if (QueryFullProcessImageNameA(*process, 0, image, &size) &&
        _stricmp(image, PK_TRAY_EXE_PATH) == 0) {
        return true;
    }
    CloseHandle(*process);
    return false;
}

// Handles to every running process of the installed program, at most
// MAXIMUM_WAIT_OBJECTS; their number.
static DWORD OpenResidents(HANDLE *residents)
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) {
        return 0;
    }
    DWORD count = 0;
    PROCESSENTRY32 entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32First(snapshot, &entry); more && count < MAXIMUM_WAIT_OBJECTS;
         more = Process32Next(snapshot, &entry)) {
        if (RunsTheInstalledProgram(entry.th32ProcessID, &residents[count])) {
            ++count;
        }
    }
    CloseHandle(snapshot);
    return count;
}

// The file goes when its handle is closed, by this action or by the end
// of the process that holds it.
static HANDLE MakeStopFile()
{
    SECURITY_ATTRIBUTES attributes = {sizeof(attributes), NULL, FALSE};
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(
            PK_STOP_FILE_SDDL, SDDL_REVISION_1, &attributes.lpSecurityDescriptor, NULL)) {
        return INVALID_HANDLE_VALUE;
    }
    HANDLE stopFile = CreateFileA(PK_STOP_FILE_PATH, GENERIC_WRITE, 0, &attributes, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, NULL);
    LocalFree(attributes.lpSecurityDescriptor);
    return stopFile;
}

// Never fails the installation: a resident that does not end is left to
// Restart Manager in the installing session, or its file to the next
// restart of the machine (3010).
extern "C" __declspec(dllexport) UINT __stdcall EndEveryResident(MSIHANDLE install)
{
    HANDLE residents[MAXIMUM_WAIT_OBJECTS];
    DWORD count = OpenResidents(residents);
    if (count == 0) {
        LogToInstall(install, "Pitchkeeper: %s", "no resident instance is running");
        return ERROR_SUCCESS;
    }
    HANDLE stopFile = MakeStopFile();
    if (stopFile == INVALID_HANDLE_VALUE) {
        LogToInstall(install, "Pitchkeeper: %s", "the stop file cannot be made in " PK_INSTALL_DIR);
    } else {
        bool ended = WaitForMultipleObjects(count, residents, TRUE, StopWaitMs) < WAIT_OBJECT_0 + count;
        LogToInstall(install, "Pitchkeeper: %s",
                     ended ? "every resident instance has ended"
                           : "a resident instance is still running");
        CloseHandle(stopFile);
    }
    for (DWORD i = 0; i < count; ++i) {
        CloseHandle(residents[i]);
    }
    return ERROR_SUCCESS;
}
