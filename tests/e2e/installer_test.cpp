// The MSI as an administrator would use it: silent install, silent
// uninstall, install over an existing install.
#include "pitchkeeper_shared.h"
#include "tray_fixture.h"

#include <msi.h>
#include <msiquery.h>
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

static std::string UpgradePackagePath()
{
    return WindowsPath(getenv("PK_UPGRADE_MSI"));
}

static const char InstallLog[] = "C:\\pk-install.log";

// A silent install that writes its log; the log's text.
static int MsiexecLogged(const char *action, std::string &log, const std::string &properties = "")
{
    DeleteFileA(InstallLog);
    int exitCode = RunCommand(std::string("msiexec ") + action + " \"" + PackagePath() +
                              "\" /qn /l*v " + InstallLog + " " + properties);
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

// Whether the very version a package holds is installed, by its product
// code (the upgrade code's list is not kept right by every installer
// engine when an old version goes after the new one came).
static bool ProductInstalled(const std::string &package)
{
    MSIHANDLE database = 0;
    if (MsiOpenDatabaseA(package.c_str(), MSIDBOPEN_READONLY, &database) != ERROR_SUCCESS) {
        return false;
    }
    MSIHANDLE view = 0;
    MSIHANDLE record = 0;
    char productCode[39] = {};
    DWORD size = sizeof(productCode);
    if (MsiDatabaseOpenViewA(database, "SELECT `Value` FROM `Property` WHERE `Property` = 'ProductCode'",
                             &view) == ERROR_SUCCESS &&
        MsiViewExecute(view, 0) == ERROR_SUCCESS && MsiViewFetch(view, &record) == ERROR_SUCCESS) {
        MsiRecordGetStringA(record, 1, productCode, &size);
        MsiCloseHandle(record);
    }
    MsiCloseHandle(view);
    MsiCloseHandle(database);
    return MsiQueryProductStateA(productCode) == INSTALLSTATE_DEFAULT;
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

// A repeated install replaces nothing, so it leaves the running copy alone.
TEST_F(InstallerTest, InstallingTwiceKeepsOneCopyAndUninstallsCleanly)
{
    ASSERT_EQ(Msiexec("/i"), 0);
    StartResident();
    EXPECT_EQ(Msiexec("/i"), 0);
    EXPECT_EQ(InstalledProductCount(), 1);
    EXPECT_EQ(WaitForExit(resident, 1000), -1) << "the resident keeps running";
    ASSERT_EQ(Msiexec("/x"), 0);
    EXPECT_EQ(InstalledProductCount(), 0);
    ExpectNothingInstalled();
}

// The running copy ends; the logon task and the driver service stay (the
// driver stopped, so that the new program's next start can replace its
// file); started again, the new version comes back as the resident.
TEST_F(InstallerTest, ANewerVersionReplacesTheInstalledOneAndEndsTheRunningCopy)
{
    std::string newer = UpgradePackagePath();
    ASSERT_EQ(Msiexec("/i"), 0);
    StartResident();
    ASSERT_TRUE(DriverServiceExists());
    ClearRecordedTaskCommands();
    ASSERT_EQ(Msiexec("/i", newer), 0);
    EXPECT_EQ(WaitForExit(resident, 10000), 0) << "the running copy of the old version ends";
    EXPECT_FALSE(TrayIconExists(window)) << "its icon is removed";
    EXPECT_TRUE(ProductInstalled(newer));
    EXPECT_FALSE(ProductInstalled(PackagePath()));
    for (const char *file : ProgramFiles) {
        EXPECT_TRUE(FileExists(InstallFolder() + "\\" + file)) << file;
    }
    EXPECT_TRUE(RecordedTaskCommands().empty()) << "the logon task stays";
    EXPECT_TRUE(DriverServiceExists()) << "the driver service stays";
    StartResident();
    EXPECT_TRUE(TrayIconExists(window));
    ASSERT_EQ(Msiexec("/x", newer), 0);
    EXPECT_EQ(WaitForExit(resident, 10000), 0);
    EXPECT_EQ(InstalledProductCount(), 0);
    ExpectNothingInstalled();
}

// Any user may create folders under C:\ and keep a handle opened on one
// before the installer locks it. A first install makes both folders
// itself and refuses any that is there already, empty or not, before it
// writes anything; what was found stays as its maker left it.
struct PremadeFolder {
    const char *what;
    const char *folders[2];   // made in this order; NULL: none
    const char *file;         // made last; NULL: none
    const char *logged;
};

static const PremadeFolder PremadeFolders[] = {
    {"an empty vendor folder", {"C:\\DALQ", NULL}, NULL, "C:\\DALQ exists already, as an empty folder"},
    {"an empty install folder", {"C:\\DALQ", PK_INSTALL_DIR}, NULL,
     "C:\\DALQ exists already and holds Pitchkeeper"},
    {"an install folder holding a DLL", {"C:\\DALQ", PK_INSTALL_DIR}, PK_INSTALL_DIR "\\dwmapi.dll",
     "C:\\DALQ exists already and holds Pitchkeeper"},
    {"a file in the vendor folder's place", {NULL, NULL}, "C:\\DALQ", "C:\\DALQ exists already, as a file"},
};

static void RemovePremade(const PremadeFolder &premade)
{
    if (premade.file != NULL) {
        DeleteFileA(premade.file);
    }
    for (int i = 1; i >= 0; --i) {
        if (premade.folders[i] != NULL) {
            RemoveDirectoryA(premade.folders[i]);
        }
    }
}

TEST_F(InstallerTest, AFolderThatExistsBeforeTheFirstInstallIsRefused)
{
    for (const PremadeFolder &premade : PremadeFolders) {
        for (const char *folder : premade.folders) {
            ASSERT_TRUE(folder == NULL || CreateDirectoryA(folder, NULL)) << premade.what;
        }
        if (premade.file != NULL) {
            HANDLE file = CreateFileA(premade.file, GENERIC_WRITE, 0, NULL, CREATE_NEW, 0, NULL);
            ASSERT_NE(file, INVALID_HANDLE_VALUE) << premade.what;
            CloseHandle(file);
        }

        std::string log;
        EXPECT_EQ(MsiexecLogged("/i", log), ERROR_INSTALL_FAILURE) << premade.what;
        EXPECT_NE(log.find(std::string(premade.logged) + ". A first install makes"), std::string::npos)
            << premade.what << "\n" << log;
        EXPECT_EQ(InstalledProductCount(), 0) << premade.what;
        for (const char *installed : ProgramFiles) {
            EXPECT_FALSE(FileExists(InstallFolder() + "\\" + installed)) << premade.what << installed;
        }
        EXPECT_FALSE(ShortcutExists()) << premade.what;
        EXPECT_TRUE(FileExists(premade.file != NULL ? premade.file : premade.folders[0]))
            << premade.what << ": left as its maker left it";
        RemovePremade(premade);
    }
    // with nothing there, the install makes both folders
    ASSERT_EQ(Msiexec("/i"), 0);
    EXPECT_TRUE(FileExists(InstallFolder() + "\\Pitchkeeper_x64.exe"));
    ASSERT_EQ(Msiexec("/x"), 0);
    ExpectNothingInstalled();
}

// The program, its logon task and the INF path name C:\DALQ\Pitchkeeper;
// a package that put the program anywhere else would leave that folder
// unmade, for anybody to make.
TEST_F(InstallerTest, AMovedInstallFolderIsRefused)
{
    for (const char *property : {"INSTALLDIR=C:\\Elsewhere\\", "DALQDIR=C:\\Elsewhere\\"}) {
        std::string log;
        EXPECT_EQ(MsiexecLogged("/i", log, property), ERROR_INSTALL_FAILURE) << property;
        EXPECT_NE(log.find("installs only into C:\\DALQ\\Pitchkeeper, the folder"), std::string::npos)
            << property << "\n" << log;
        EXPECT_FALSE(FileExists("C:\\Elsewhere")) << property;
        EXPECT_EQ(InstalledProductCount(), 0) << property;
        ExpectNothingInstalled();
    }
    // the folder's own name is accepted, in any case
    ASSERT_EQ(RunCommand("msiexec /i \"" + PackagePath() + "\" /qn INSTALLDIR=c:\\dalq\\PITCHKEEPER\\"), 0);
    EXPECT_TRUE(FileExists(InstallFolder() + "\\Pitchkeeper_x64.exe"));
    ASSERT_EQ(Msiexec("/x"), 0);
}

// How often a poll found the install folder or the program missing while
// an installation ran.
struct FolderWatch {
    volatile LONG done;
    int polls;
    int missing;
};

static DWORD WINAPI PollInstallFolder(void *context)
{
    FolderWatch *watch = (FolderWatch *)context;
    const std::string program = InstallFolder() + "\\Pitchkeeper_x64.exe";
    while (!watch->done) {
        ++watch->polls;
        if (!FileExists(program)) {
            ++watch->missing;
        }
        Sleep(1);
    }
    return 0;
}

// The new version goes in before the old one is removed: at no moment of
// an upgrade is there a folder missing that a standard user could make.
TEST_F(InstallerTest, AnUpgradeKeepsTheInstallFolderThroughout)
{
    ASSERT_EQ(Msiexec("/i"), 0);
    FolderWatch watch = {0, 0, 0};
    HANDLE poller = CreateThread(NULL, 0, PollInstallFolder, &watch, 0, NULL);
    EXPECT_EQ(Msiexec("/i", UpgradePackagePath()), 0);
    InterlockedExchange(&watch.done, 1);
    WaitForSingleObject(poller, 10000);
    CloseHandle(poller);
    EXPECT_GT(watch.polls, 10);
    EXPECT_EQ(watch.missing, 0) << "of " << watch.polls << " polls";
    EXPECT_TRUE(ProductInstalled(UpgradePackagePath()));
    EXPECT_FALSE(ProductInstalled(PackagePath()));
    ASSERT_EQ(Msiexec("/x", UpgradePackagePath()), 0);
    ExpectNothingInstalled();
}

// Anybody may create a global object of the name the stop signal once had,
// as a mutex that nobody else can open or as an event of their own; the
// uninstall still ends the resident.
TEST_F(InstallerTest, TheOldStopNameTakenFirstDoesNotKeepTheResidentRunning)
{
    for (bool asMutex : {true, false}) {
        const char *kind = asMutex ? "mutex" : "event";
        HANDLE squatted = asMutex ? CreateMutexA(NULL, TRUE, "Global\\VelmoraPitchkeeperStop")
                                  : CreateEventA(NULL, TRUE, FALSE, "Global\\VelmoraPitchkeeperStop");
        ASSERT_NE(squatted, (HANDLE)NULL) << kind;
        ASSERT_EQ(Msiexec("/i"), 0) << kind;
        StartResident();
        std::string log;
        EXPECT_EQ(MsiexecLogged("/x", log), 0) << kind;
        EXPECT_EQ(WaitForExit(resident, 10000), 0) << kind << ": the resident ends";
        EXPECT_NE(log.find("every resident instance has ended"), std::string::npos) << kind << "\n" << log;
        CloseHandle(squatted);
        ExpectNothingInstalled();
    }
}

// A driver that cannot go at once (here its file is held open) goes at the
// next restart, and the uninstall says so with 3010.
TEST_F(InstallerTest, ADriverRemovalThatNeedsARestartEndsWith3010)
{
    const char driverFile[] = "C:\\windows\\system32\\drivers\\VELMORABEEP.sys";
    ASSERT_EQ(Msiexec("/i"), 0);
    StartResident();   // the first run selects the buzzer: the driver is installed
    ASSERT_TRUE(FileExists(driverFile));
    HANDLE held = CreateFileA(driverFile, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    std::string log;
    EXPECT_EQ(MsiexecLogged("/x", log), ERROR_SUCCESS_REBOOT_REQUIRED) << log;
    EXPECT_NE(log.find("the driver's removal finishes at the next restart"), std::string::npos) << log;
    CloseHandle(held);
    EXPECT_FALSE(DriverServiceExists());
    DeleteFileA(driverFile);   // what the restart would do
    EXPECT_EQ(InstalledProductCount(), 0);
}

// The program writes its start-up error log into the install folder; the
// uninstall takes it along, so that the folder goes and a later first
// install is not refused.
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
