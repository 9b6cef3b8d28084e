// The MSI as an administrator would use it: silent install, silent
// uninstall, install over an existing install.
#include "pitchkeeper_shared.h"
#include "tray_fixture.h"

#include <msi.h>
#include <shlobj.h>

#include <stdlib.h>

#define PK_INSTALLER_UPGRADE_CODE "{6F0C2A51-3B7E-4C1D-9A51-2B8E7D4C9F10}"

static const char *const ProgramFiles[] = {"Pitchkeeper_x64.exe", "VELMORABEEP.inf",
                                           "VELMORABEEP.sys", "Lorvex.exe"};

// ctest hands over Linux paths; Wine's Z: drive is the Linux root
static std::string WindowsPath(const std::string &linuxPath)
{
    std::string path = "Z:" + linuxPath;
    for (char &c : path) {
        c = c == '/' ? '\\' : c;
    }
    return path;
}

static std::string PackagePath()
{
    return WindowsPath(std::string(getenv("PK_DIST_DIR")) + "/Pitchkeeper.msi");
}

static int RunCommand(std::string commandLine)
{
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(NULL, &commandLine[0], NULL, NULL, FALSE, 0, NULL, "C:\\", &startup,
                        &process)) {
        return -1;
    }
    CloseHandle(process.hThread);
    int exitCode = WaitForExit(process.hProcess, 120000);
    CloseHandle(process.hProcess);
    return exitCode;
}

static int Msiexec(const char *action, const std::string &package = PackagePath())
{
    return RunCommand(std::string("msiexec ") + action + " \"" + package + "\" /qn");
}

static const char InstallLog[] = "C:\\pk-install.log";

// A silent install that writes its log; the log's text.
static int MsiexecLogged(const char *action, std::string &log)
{
    DeleteFileA(InstallLog);
    int exitCode = RunCommand(std::string("msiexec ") + action + " \"" + PackagePath() +
                              "\" /qn /l*v " + InstallLog);
    log = ReadTextFile(InstallLog);
    return exitCode;
}

static int InstalledProductCount()
{
    char productCode[39] = {};
    int count = 0;
    while (MsiEnumRelatedProductsA(PK_INSTALLER_UPGRADE_CODE, 0, count, productCode) ==
           ERROR_SUCCESS) {
        ++count;
    }
    return count;
}

static std::string StartMenuShortcut(int folder)
{
    char programs[MAX_PATH] = {};
    SHGetFolderPathA(NULL, folder, NULL, 0, programs);
    return std::string(programs) + "\\Pitchkeeper.lnk";
}

static bool ShortcutExists()
{
    return FileExists(StartMenuShortcut(CSIDL_COMMON_PROGRAMS)) ||
           FileExists(StartMenuShortcut(CSIDL_PROGRAMS));
}

static bool DriverServiceExists()
{
    SC_HANDLE manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_CONNECT);
    SC_HANDLE service = OpenServiceA(manager, PK_SERVICE_NAME, SERVICE_QUERY_STATUS);
    if (service != NULL) {
        CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
    return service != NULL;
}

// The bench installs the files itself; here the installer must do it. The
// task tool stand-in stays in the system folders, and the override in the
// registry has Wine run it also for processes that do not start with the
// bench's environment.
static void LeaveTheInstallToTheInstaller()
{
    HKEY overrides = NULL;
    RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Wine\\DllOverrides", 0, NULL, 0, KEY_WRITE,
                    NULL, &overrides, NULL);
    RegSetValueExA(overrides, "schtasks.exe", 0, REG_SZ, (const BYTE *)"native", 7);
    RegCloseKey(overrides);
    for (const char *file : ProgramFiles) {
        DeleteFileA((InstallFolder() + "\\" + file).c_str());
    }
    DeleteFileA((InstallFolder() + "\\SchTasks.exe").c_str());   // the planted copy
    RemoveDirectoryA(InstallFolder().c_str());
    RemoveDirectoryA("C:\\DALQ");
}

class InstallerTest : public ResidentTrayTest {
protected:
    static void SetUpTestSuite() { LeaveTheInstallToTheInstaller(); }

    void ExpectNothingInstalled()
    {
        for (const char *file : ProgramFiles) {
            EXPECT_FALSE(FileExists(InstallFolder() + "\\" + file)) << file;
        }
        EXPECT_FALSE(FileExists(InstallFolder()));
        EXPECT_FALSE(FileExists("C:\\DALQ"));
        EXPECT_FALSE(ShortcutExists());
        EXPECT_FALSE(DriverServiceExists());
        EXPECT_FALSE(FileExists("C:\\windows\\system32\\drivers\\VELMORABEEP.sys"));
    }
};

TEST_F(InstallerTest, SilentInstallPutsTheProgramInItsFolderAndTheStartMenu)
{
    ASSERT_EQ(Msiexec("/i"), 0);
    for (const char *file : ProgramFiles) {
        EXPECT_TRUE(FileExists(InstallFolder() + "\\" + file)) << file;
    }
    EXPECT_TRUE(ShortcutExists());
    ASSERT_EQ(Msiexec("/x"), 0);
}

TEST_F(InstallerTest, SilentUninstallEndsTheProgramAndLeavesNothingButSettings)
{
    ASSERT_EQ(Msiexec("/i"), 0);
    // the first run selects the buzzer, so start-up installs the driver service
    StartResident();
    ASSERT_TRUE(DriverServiceExists());
    ClearRecordedTaskCommands();

    ASSERT_EQ(Msiexec("/x"), 0);
    EXPECT_EQ(WaitForExit(resident, 10000), 0) << "the running instance is stopped";
    EXPECT_FALSE(TrayIconExists(window)) << "its icon is removed";
    ASSERT_TRUE(WaitForTaskCommandCount(1));
    EXPECT_EQ(RecordedTaskCommands().back(), TaskToolCommandLine(PK_TASK_DELETE_ARGUMENTS));
    EXPECT_TRUE(OnlySystemTaskToolRan());
    ExpectNothingInstalled();
    EXPECT_EQ(SettingValue(PK_VALUE_FREQUENCY), "2000") << "settings are the user's";
}

TEST_F(InstallerTest, InstallingTwiceKeepsOneCopyAndUninstallsCleanly)
{
    ASSERT_EQ(Msiexec("/i"), 0);
    EXPECT_EQ(Msiexec("/i"), 0);
    EXPECT_EQ(InstalledProductCount(), 1);
    ASSERT_EQ(Msiexec("/x"), 0);
    EXPECT_EQ(InstalledProductCount(), 0);
    ExpectNothingInstalled();
}

TEST_F(InstallerTest, ANewerVersionReplacesTheInstalledOneAndEndsTheRunningCopy)
{
    std::string newer = WindowsPath(getenv("PK_UPGRADE_MSI"));
    ASSERT_EQ(Msiexec("/i"), 0);
    StartResident();
    ASSERT_EQ(Msiexec("/i", newer), 0);
    EXPECT_EQ(WaitForExit(resident, 10000), 0) << "the running copy of the old version ends";
    EXPECT_FALSE(TrayIconExists(window)) << "its icon is removed";
    EXPECT_EQ(InstalledProductCount(), 1);
    for (const char *file : ProgramFiles) {
        EXPECT_TRUE(FileExists(InstallFolder() + "\\" + file)) << file;
    }
    ASSERT_EQ(Msiexec("/x", newer), 0);
    EXPECT_EQ(InstalledProductCount(), 0);
    ExpectNothingInstalled();
}

// A standard user may make the folder before the install and leave a DLL
// there that the elevated program would load. The install refuses, says
// why in its log, and leaves no program behind.
TEST_F(InstallerTest, AFolderSomebodyFilledBeforehandIsRefused)
{
    const std::string planted = InstallFolder() + "\\dwmapi.dll";
    CreateDirectoryA("C:\\DALQ", NULL);
    CreateDirectoryA(InstallFolder().c_str(), NULL);
    HANDLE file = CreateFileA(planted.c_str(), GENERIC_WRITE, 0, NULL, CREATE_NEW, 0, NULL);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    CloseHandle(file);

    std::string log;
    EXPECT_EQ(MsiexecLogged("/i", log), ERROR_INSTALL_FAILURE);
    EXPECT_NE(log.find("dwmapi.dll, which this package did not put there"), std::string::npos) << log;
    EXPECT_EQ(InstalledProductCount(), 0);
    for (const char *installed : ProgramFiles) {
        EXPECT_FALSE(FileExists(InstallFolder() + "\\" + installed)) << installed;
    }
    EXPECT_FALSE(ShortcutExists());

    // empty folders made beforehand are taken over
    ASSERT_TRUE(DeleteFileA(planted.c_str()));
    ASSERT_EQ(MsiexecLogged("/i", log), 0) << log;
    EXPECT_TRUE(FileExists(InstallFolder() + "\\Pitchkeeper_x64.exe"));
    ASSERT_EQ(Msiexec("/x"), 0);
    ExpectNothingInstalled();
}

// The program writes its start-up error log into its working folder, the
// install folder when started from the Start menu; the uninstall takes it
// along, so that the folder goes and a later install finds it empty.
TEST_F(InstallerTest, UninstallRemovesTheErrorLogAndAReinstallSucceeds)
{
    ASSERT_EQ(Msiexec("/i"), 0);
    HANDLE file = CreateFileA((InstallFolder() + "\\error.txt").c_str(), GENERIC_WRITE, 0, NULL,
                              CREATE_ALWAYS, 0, NULL);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    CloseHandle(file);
    ASSERT_EQ(Msiexec("/x"), 0);
    ExpectNothingInstalled();
    EXPECT_EQ(Msiexec("/i"), 0);
    ASSERT_EQ(Msiexec("/x"), 0);
}
