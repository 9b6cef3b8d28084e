// Refuses a first install into a folder somebody else made and filled.
//
// A standard user may create C:\DALQ\Pitchkeeper before the install and
// leave a file there: the elevated program and its logon task would load a
// DLL of that name from their own folder, and would run a planted copy of
// any of the package's files that has a higher version than ours (the
// installer does not overwrite those). The folder's owner and DACL are
// made the installer's just before this runs (CreateFolders), so nobody
// but an administrator can add anything after the check.
#include "install_log.h"

#include <stdio.h>
#include <string.h>

static bool FolderIsEmpty(const char *folder, char *reason, size_t reasonSize);
static bool IsReparsePoint(const char *path);

// Deferred, as SYSTEM; CustomActionData is the install folder.
extern "C" __declspec(dllexport) UINT __stdcall CheckInstallFolder(MSIHANDLE install)
{
    char folder[MAX_PATH] = {};
    DWORD size = sizeof(folder);
    if (MsiGetPropertyA(install, "CustomActionData", folder, &size) != ERROR_SUCCESS ||
        folder[0] == '\0') {
        ReportInstallError(install, "Pitchkeeper was not installed: the install folder is unknown.");
        return ERROR_INSTALL_FAILURE;
    }
    size_t length = strlen(folder);
    if (folder[length - 1] == '\\') {
        folder[length - 1] = '\0';
    }
    char reason[MAX_PATH + 128];
    if (!FolderIsEmpty(folder, reason, sizeof(reason))) {
        char text[sizeof(reason) + 256];
        snprintf(text, sizeof(text),
                 "Pitchkeeper was not installed: %s. Somebody made the folder before the "
                 "installation, and what they left there would run with administrator rights. "
                 "Remove the folder, then install again.",
                 reason);
        ReportInstallError(install, text);
        return ERROR_INSTALL_FAILURE;
    }
    LogToInstall(install, "Pitchkeeper: %s holds nothing yet", folder);
    return ERROR_SUCCESS;
}

// A junction would send the files, and the folder's protection, to a place
// its maker still controls; a folder that cannot be read counts as filled.
static bool FolderIsEmpty(const char *folder, char *reason, size_t reasonSize)
{
    char parent[MAX_PATH];
    snprintf(parent, sizeof(parent), "%s", folder);
    char *lastSeparator = strrchr(parent, '\\');
    if (lastSeparator != NULL) {
        *lastSeparator = '\0';
    }
    if (IsReparsePoint(folder) || IsReparsePoint(parent)) {
        snprintf(reason, reasonSize, "%s or its parent folder is a link to another place", folder);
        return false;
    }
    char pattern[MAX_PATH + 2];
    snprintf(pattern, sizeof(pattern), "%s\\*", folder);
    WIN32_FIND_DATAA entry = {};
    HANDLE search = FindFirstFileA(pattern, &entry);
    if (search == INVALID_HANDLE_VALUE) {
        snprintf(reason, reasonSize, "%s cannot be read (error %lu)", folder, GetLastError());
        return false;
    }
    bool empty = true;
    do {
        if (strcmp(entry.cFileName, ".") != 0 && strcmp(entry.cFileName, "..") != 0) {
            snprintf(reason, reasonSize, "%s already holds %s, which this package did not put there",
                     folder, entry.cFileName);
            empty = false;
        }
    } while (empty && FindNextFileA(search, &entry));
    FindClose(search);
    return empty;
}

static bool IsReparsePoint(const char *path)
{
    DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}
