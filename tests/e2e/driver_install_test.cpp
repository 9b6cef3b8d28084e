// Start-up with the buzzer selected installs the tone driver from the INF in
// the install folder and starts its service; install errors are shown in
// boxes and the service start is tried regardless.
#include "pitchkeeper_shared.h"
#include "tray_fixture.h"

#include <setupapi.h>
#include <stdlib.h>

#include <algorithm>
#include <fstream>

static const std::string InfPath = PK_INF_PATH;
static const std::string InstalledDriverPath = "C:\\windows\\system32\\drivers\\VELMORABEEP.sys";

// The driver's DbgPrint lines reach only Wine's debug channel, which the
// bench writes to the file named in PK_WINE_DEBUG_LOG (a Unix path, read
// here through Wine's Z: drive).
static int CountWineDebugLines(const std::string &text)
{
    const char *unixPath = getenv("PK_WINE_DEBUG_LOG");
    if (unixPath == NULL) {
        return -1;
    }
    std::string log = ReadTextFile(std::string("Z:") + unixPath);
    int count = 0;
    for (size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1)) {
        count++;
    }
    return count;
}

struct ServiceConfig {
    DWORD type = 0;
    DWORD start = 0;
    std::string binary;
};

// The service as the service tools see it; false when there is none.
static bool ReadServiceConfig(ServiceConfig &config, DWORD &state)
{
    SC_HANDLE manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_CONNECT);
    SC_HANDLE service = OpenServiceA(manager, PK_SERVICE_NAME, SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS);
    bool found = service != NULL;
    if (found) {
        BYTE buffer[8192];
        DWORD needed = 0;
        QUERY_SERVICE_CONFIGA *query = (QUERY_SERVICE_CONFIGA *)buffer;
        if (QueryServiceConfigA(service, query, sizeof(buffer), &needed)) {
            config.type = query->dwServiceType;
            config.start = query->dwStartType;
            config.binary = query->lpBinaryPathName != NULL ? query->lpBinaryPathName : "";
        }
        SERVICE_STATUS status = {};
        QueryServiceStatus(service, &status);
        state = status.dwCurrentState;
        CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
    return found;
}

// Stops and deletes the service and its file, so that every test starts
// from a machine where the driver was never installed.
static void RemoveDriver()
{
    SC_HANDLE manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_CONNECT);
    SC_HANDLE service = OpenServiceA(manager, PK_SERVICE_NAME, SERVICE_STOP | DELETE | SERVICE_QUERY_STATUS);
    if (service != NULL) {
        SERVICE_STATUS status = {};
        ControlService(service, SERVICE_CONTROL_STOP, &status);
        WaitUntil(
            [](void *handle) {
                SERVICE_STATUS now = {};
                return QueryServiceStatus((SC_HANDLE)handle, &now) && now.dwCurrentState == SERVICE_STOPPED;
            },
            service, 10000);
        DeleteService(service);
        CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
    DeleteFileA(InstalledDriverPath.c_str());
}

static void DisableService()
{
    SC_HANDLE manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_CONNECT);
    SC_HANDLE service = OpenServiceA(manager, PK_SERVICE_NAME, SERVICE_CHANGE_CONFIG);
    ASSERT_NE(service, (SC_HANDLE)NULL);
    EXPECT_TRUE(ChangeServiceConfigA(service, SERVICE_NO_CHANGE, SERVICE_DISABLED, SERVICE_NO_CHANGE,
                                     NULL, NULL, NULL, NULL, NULL, NULL, NULL));
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
}

class DriverInstallTest : public ResidentTrayTest {
protected:
    std::string originalInf;

    void SetUp() override
    {
        ResidentTrayTest::SetUp();
        // without the source file Wine's copy callback would retry forever
        ASSERT_TRUE(FileExists(InstallFolder() + "\\VELMORABEEP.sys"))
            << "the signed driver must be built into dist/";
        ASSERT_GE(CountWineDebugLines("TONEKD"), 0) << "PK_WINE_DEBUG_LOG is not set";
        originalInf = ReadTextFile(InfPath);
        ASSERT_FALSE(originalInf.empty());
        RemoveDriver();
    }

    void TearDown() override
    {
        ResidentTrayTest::TearDown();
        ReplaceInf(originalInf);
        RemoveDriver();
    }

    // "0" buzzer, "1" speaker; beeping off. Returns at once: the caller
    // expects an error box.
    void StartWithOutput(const char *outputDevice)
    {
        WriteAllSettings("2000", "25000", outputDevice, "0", "0");
        resident = StartTray("");
        ASSERT_NE(resident, (HANDLE)NULL);
    }

    // A start-up without error boxes: once the message loop idles, the
    // driver step before it is over.
    void StartResidentWithOutput(const char *outputDevice)
    {
        WriteAllSettings("2000", "25000", outputDevice, "0", "0");
        resident = StartResidentTray();
        ASSERT_NE(resident, (HANDLE)NULL);
        EXPECT_EQ(WaitForMessageBox("Error", 0), (HWND)NULL);
    }

    void StopForNextStart()
    {
        StopResidentTray();
        CloseHandle(resident);
        resident = NULL;
        ClearCapturedDebugLines();
    }

    void ReplaceInf(const std::string &text)
    {
        DeleteFileA(InfPath.c_str());
        if (!text.empty()) {
            std::ofstream(InfPath, std::ios::binary) << text;
        }
    }

    // The box shown at start-up: owned by no window, read and dismissed.
    std::string ReadStartupErrorBox()
    {
        HWND box = WaitForMessageBox("Error");
        if (box == NULL) {
            return "<no box>";
        }
        EXPECT_EQ(GetWindow(box, GW_OWNER), (HWND)NULL);
        std::string text = MessageBoxText(box);
        DismissMessageBox(box);
        return text;
    }

    // The service start was tried and failed with this line, then the
    // failure line came right after it.
    void ExpectStartFailure(const std::string &line)
    {
        ASSERT_TRUE(WaitForDebugLine("ToneUI, Start failed"));
        std::vector<std::string> lines = CapturedDebugLines();
        auto failure = std::find(lines.begin(), lines.end(), line);
        ASSERT_NE(failure, lines.end()) << line;
        ASSERT_NE(failure + 1, lines.end());
        EXPECT_EQ(*(failure + 1), "ToneUI, Start failed");
    }
};

TEST_F(DriverInstallTest, BuzzerStartUpInstallsTheDriverServiceAndStartsIt)
{
    int loadedBefore = CountWineDebugLines("TONEKD loaded");
    StartResidentWithOutput("0");
    ASSERT_TRUE(WaitForDebugLine("Start service successfully"));
    EXPECT_EQ(CountDebugLines("ToneUI, Start failed"), 0);

    ServiceConfig config;
    DWORD state = 0;
    ASSERT_TRUE(ReadServiceConfig(config, state));
    EXPECT_EQ(config.type, (DWORD)SERVICE_KERNEL_DRIVER);
    EXPECT_EQ(config.start, (DWORD)SERVICE_DEMAND_START);
    EXPECT_NE(config.binary.find("drivers\\VELMORABEEP.sys"), std::string::npos) << config.binary;
    EXPECT_EQ(state, (DWORD)SERVICE_RUNNING);
    EXPECT_EQ(ReadTextFile(InstalledDriverPath), ReadTextFile(InstallFolder() + "\\VELMORABEEP.sys"));

    struct Loaded {
        int before;
    } loaded = {loadedBefore};
    EXPECT_TRUE(WaitUntil(
        [](void *context) { return CountWineDebugLines("TONEKD loaded") > ((Loaded *)context)->before; },
        &loaded, 10000))
        << "the driver did not report its loading";
}

TEST_F(DriverInstallTest, SecondStartUpReinstallsAndReportsTheRunningService)
{
    StartResidentWithOutput("0");
    ASSERT_TRUE(WaitForDebugLine("Start service successfully"));
    StopForNextStart();
    // the reinstall must put back what was changed since
    DisableService();

    StartResidentWithOutput("0");
    ExpectStartFailure("Cannot start Service: 1056");
    ServiceConfig config;
    DWORD state = 0;
    ASSERT_TRUE(ReadServiceConfig(config, state));
    EXPECT_EQ(config.start, (DWORD)SERVICE_DEMAND_START);
    EXPECT_EQ(state, (DWORD)SERVICE_RUNNING);
}

TEST_F(DriverInstallTest, MissingInfIsReportedAndTheServiceStartStillTried)
{
    ReplaceInf("");
    StartWithOutput("0");
    EXPECT_EQ(ReadStartupErrorBox(), "Cannot find driver .inf: C:\\DALQ\\Pitchkeeper\\VELMORABEEP.inf");
    ExpectStartFailure("Cannot open Service: 1060");
    EXPECT_NE(WaitForWindow(PK_WINDOW_TITLE), (HWND)NULL) << "start-up goes on";
    EXPECT_EQ(WaitForExit(resident, 0), -1);
}

TEST_F(DriverInstallTest, InfThatCannotBeParsedIsReportedWithLineAndError)
{
    // an unclosed section name on line 3
    ReplaceInf("[Version]\r\nSignature=\"$Windows NT$\"\r\n[DefaultInstall\r\n");
    StartWithOutput("0");
    EXPECT_EQ(ReadStartupErrorBox(),
              "Cannot process .inf file C:\\DALQ\\Pitchkeeper\\VELMORABEEP.inf, line 3: " +
                  std::to_string((int)ERROR_BAD_SECTION_NAME_LINE));
    ExpectStartFailure("Cannot open Service: 1060");

    StopForNextStart();
    // no [Version] section with a signature: not an INF of this style
    ReplaceInf("[DefaultInstall]\r\n");
    StartWithOutput("0");
    EXPECT_EQ(ReadStartupErrorBox(),
              "Cannot process .inf file C:\\DALQ\\Pitchkeeper\\VELMORABEEP.inf, line 0: " +
                  std::to_string((int)ERROR_WRONG_INF_STYLE));
    ExpectStartFailure("Cannot open Service: 1060");
}

TEST_F(DriverInstallTest, InfWithoutServicesSectionIsReported)
{
    ReplaceInf("[Version]\r\nSignature=\"$Windows NT$\"\r\n[DefaultInstall]\r\n");
    StartWithOutput("0");
    EXPECT_EQ(ReadStartupErrorBox(),
              "Cannot install services from .INF file: " + std::to_string((int)ERROR_SECTION_NOT_FOUND));
    ExpectStartFailure("Cannot open Service: 1060");
}

TEST_F(DriverInstallTest, SpeakerStartUpInstallsAndStartsNothing)
{
    StartResidentWithOutput("1");
    ServiceConfig config;
    DWORD state = 0;
    EXPECT_FALSE(ReadServiceConfig(config, state));
    EXPECT_FALSE(FileExists(InstalledDriverPath));
    EXPECT_EQ(CountDebugLines("Start service successfully"), 0);
    EXPECT_EQ(CountDebugLines("ToneUI, Start failed"), 0);
}

// A switch while running gets what start-up gives a stored buzzer, and the
// resident goes on answering while the install works.
TEST_F(DriverInstallTest, SwitchToTheBuzzerInstallsAndStartsAStoppedDriverOnce)
{
    StartResidentWithOutput("1");
    EXPECT_EQ(RunTray("-buzzer"), 0);
    ASSERT_TRUE(WaitForDebugLine("Start service successfully", 15000));
    ServiceConfig config;
    DWORD state = 0;
    ASSERT_TRUE(ReadServiceConfig(config, state));
    EXPECT_EQ(state, (DWORD)SERVICE_RUNNING);

    // running already: switching away and back installs nothing again
    EXPECT_EQ(RunTray("-speaker"), 0);
    EXPECT_EQ(RunTray("-buzzer"), 0);
    EXPECT_FALSE(WaitForDebugLine("ToneUI, Start failed", 3000));
    EXPECT_EQ(CountDebugLines("Start service successfully"), 1);
}

TEST_F(DriverInstallTest, SwitchToTheBuzzerShowsInstallErrorsWithoutHoldingTheResident)
{
    ReplaceInf("");
    StartResidentWithOutput("1");
    EXPECT_EQ(RunTray("-buzzer"), 0) << "the command returned while the install went on";
    HWND box = WaitForMessageBox("Error");
    ASSERT_NE(box, (HWND)NULL);
    EXPECT_EQ(MessageBoxText(box), "Cannot find driver .inf: C:\\DALQ\\Pitchkeeper\\VELMORABEEP.inf");
    EXPECT_EQ(GetWindow(box, GW_OWNER), (HWND)NULL);

    // the box holds only its own thread; a switch meanwhile starts no second install
    EXPECT_EQ(RunTray("-f 440"), 0);
    EXPECT_EQ(SettingValue(PK_VALUE_FREQUENCY), "440");
    EXPECT_EQ(RunTray("-speaker"), 0);
    EXPECT_EQ(RunTray("-buzzer"), 0);
    DismissMessageBox(box);
    ExpectStartFailure("Cannot open Service: 1060");
    EXPECT_EQ(WaitForMessageBox("Error", 2000), (HWND)NULL);
}
