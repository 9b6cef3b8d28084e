// Makes C:\DALQ and C:\DALQ\Pitchkeeper on a first install, each owned by
// Administrators with its protected DACL from the moment it exists.
//
// Any authenticated user may create folders under C:\, and a folder a
// standard user made beforehand cannot be taken over: a handle they opened
// before keeps the rights it was opened with after the owner and DACL
// change (with WRITE_DAC kept on C:\DALQ they could later rename the locked
// subfolder away and put their own in its place). So a folder that exists
// already at either level, empty or not, whoever its owner reads, is
// refused before anything is written (RefuseExistingFolders), and again
// by the action that makes them, should one appear in between.
#include "install_log.h"
#include "pitchkeeper_shared.h"

#include <sddl.h>
#include <stdio.h>
#include <string.h>

static UINT MakeFolder(MSIHANDLE install, const char *folder, SECURITY_ATTRIBUTES *attributes);
static UINT RefuseExisting(MSIHANDLE install, const char *folder);
static void DescribeExisting(const char *path, char *found, size_t foundSize);
static bool NamesFolder(MSIHANDLE install, const char *property, const char *folder);

// Immediate, before the directories are costed: the program, its logon
// task and the INF path all name C:\DALQ\Pitchkeeper, which a package
// that put them elsewhere would leave for anybody to make.
extern "C" __declspec(dllexport) UINT __stdcall RefuseMovedFolders(MSIHANDLE install)
{
    if (NamesFolder(install, "INSTALLDIR", PK_INSTALL_DIR "\\") &&
        NamesFolder(install, "DALQDIR", PK_VENDOR_DIR "\\")) {
        return ERROR_SUCCESS;
    }
    ReportInstallError(install, "Pitchkeeper was not installed: it installs only into " PK_INSTALL_DIR
                                ", the folder its program and logon task run from. Leave "
                                "INSTALLDIR and DALQDIR unset.");
    return ERROR_INSTALL_FAILURE;
}

// Immediate, on a first install, before the installation script runs. A
// folder that cannot even be looked at counts as there.
extern "C" __declspec(dllexport) UINT __stdcall RefuseExistingFolders(MSIHANDLE install)
{
    if (GetFileAttributesA(PK_VENDOR_DIR) != INVALID_FILE_ATTRIBUTES ||
        GetLastError() != ERROR_FILE_NOT_FOUND) {
        return RefuseExisting(install, PK_VENDOR_DIR);
    }
    return ERROR_SUCCESS;
}

// Deferred, as SYSTEM; first installs only.
extern "C" __declspec(dllexport) UINT __stdcall MakeInstallFolders(MSIHANDLE install)
{
    SECURITY_ATTRIBUTES attributes = {sizeof(attributes), NULL, FALSE};
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(
            PK_INSTALL_DIR_SDDL, SDDL_REVISION_1, &attributes.lpSecurityDescriptor, NULL)) {
        ReportInstallError(install, "Pitchkeeper was not installed: the folders' security "
                                    "descriptor cannot be built.");
        return ERROR_INSTALL_FAILURE;
    }
    UINT result = MakeFolder(install, PK_VENDOR_DIR, &attributes);
    if (result == ERROR_SUCCESS) {
        result = MakeFolder(install, PK_INSTALL_DIR, &attributes);
        if (result != ERROR_SUCCESS) {
            RemoveDirectoryA(PK_VENDOR_DIR);
        }
    }
    LocalFree(attributes.lpSecurityDescriptor);
    return result;
}

// Rollback of a failed first install, after its files have gone: the empty
// folders would otherwise refuse the next first install.
extern "C" __declspec(dllexport) UINT __stdcall RemoveInstallFolders(MSIHANDLE)
{
    RemoveDirectoryA(PK_INSTALL_DIR);
    RemoveDirectoryA(PK_VENDOR_DIR);
    return ERROR_SUCCESS;
}

static UINT MakeFolder(MSIHANDLE install, const char *folder, SECURITY_ATTRIBUTES *attributes)
{
    if (CreateDirectoryA(folder, attributes)) {
        LogToInstall(install, "Pitchkeeper: made %s, owner Administrators", folder);
        return ERROR_SUCCESS;
    }
    DWORD error = GetLastError();
    if (error == ERROR_ALREADY_EXISTS) {
        return RefuseExisting(install, folder);
    }
    char text[MAX_PATH + 80];
    snprintf(text, sizeof(text), "Pitchkeeper was not installed: %s cannot be made (error %lu).",
             folder, error);
    ReportInstallError(install, text);
    return ERROR_INSTALL_FAILURE;
}

static UINT RefuseExisting(MSIHANDLE install, const char *folder)
{
    char found[MAX_PATH + 160];
    DescribeExisting(folder, found, sizeof(found));
    char text[sizeof(found) + 400];
    snprintf(text, sizeof(text),
             "Pitchkeeper was not installed: %s. A first install makes " PK_VENDOR_DIR
             " and " PK_INSTALL_DIR " itself; one that is there already was made by somebody "
             "else, who may keep rights to it and so change what runs there with administrator "
             "rights. Look at what it holds, remove it, then install again.",
             found);
    ReportInstallError(install, text);
    return ERROR_INSTALL_FAILURE;
}

// What stands at the path, for the log: a link, a file, or a folder and
// the first thing in it.
static void DescribeExisting(const char *path, char *found, size_t foundSize)
{
    DWORD attributes = GetFileAttributesA(path);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        snprintf(found, foundSize, "%s exists already, as a link to another place", path);
        return;
    }
    if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        snprintf(found, foundSize, "%s exists already, as a file", path);
        return;
    }
    char pattern[MAX_PATH + 2];
    snprintf(pattern, sizeof(pattern), "%s\\*", path);
    WIN32_FIND_DATAA entry = {};
    HANDLE search = FindFirstFileA(pattern, &entry);
    if (search == INVALID_HANDLE_VALUE) {
        snprintf(found, foundSize, "%s exists already and cannot be read (error %lu)", path,
                 GetLastError());
        return;
    }
    snprintf(found, foundSize, "%s exists already, as an empty folder", path);
    do {
        if (strcmp(entry.cFileName, ".") != 0 && strcmp(entry.cFileName, "..") != 0) {
            snprintf(found, foundSize, "%s exists already and holds %s", path, entry.cFileName);
            break;
        }
    } while (FindNextFileA(search, &entry));
    FindClose(search);
}

// An unset property counts as the folder: the package's own directory
// table names it.
static bool NamesFolder(MSIHANDLE install, const char *property, const char *folder)
{
    char value[MAX_PATH] = {};
    DWORD size = sizeof(value);
    UINT result = MsiGetPropertyA(install, property, value, &size);
    return result == ERROR_SUCCESS && (value[0] == '\0' || _stricmp(value, folder) == 0);
}
