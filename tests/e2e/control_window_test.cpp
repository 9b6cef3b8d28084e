// The real program's control window and tray icon, driven from outside:
// second starts, Close, Control Center, and Stop from each of its sources.
#include "pitchkeeper_shared.h"
#include "tray_fixture.h"

#include <string.h>

#include <string>

// control ids of the window, as a user's tools would see them
enum {
    FrequencyBox = 32601,
    DurationBox = 32602,
    BeepOnBox = 32502,
    StopButton = 32505,
    TrayIconMessage = WM_USER + 1,
};

struct VisibleWanted {
    HWND Window;
    bool Visible;
};

static bool VisibilityIs(void *context)
{
    VisibleWanted *wanted = (VisibleWanted *)context;
    return (IsWindowVisible(wanted->Window) != FALSE) == wanted->Visible;
}

static bool WaitForVisibility(HWND window, bool visible)
{
    VisibleWanted wanted = {window, visible};
    return WaitUntil(VisibilityIs, &wanted, 10000);
}

static bool MenuOpen(void *)
{
    return OpenMenuWindow() != NULL;
}

static bool TrayIconShown(void *window)
{
    return TrayIconExists(*(HWND *)window);
}

class ControlWindowE2ETest : public ResidentTrayTest {
protected:
    // a start without arguments, as the user makes it from the start menu
    void SecondStart()
    {
        ASSERT_EQ(RunTray(""), 0);
        ASSERT_TRUE(WaitForVisibility(window, true));
    }

    void CloseWindow()
    {
        PostMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0);
        ASSERT_TRUE(WaitForVisibility(window, false));
    }

    void ExpectStoppedCleanly()
    {
        EXPECT_EQ(WaitForExit(resident, 10000), 0);
        EXPECT_FALSE(ResidentTrayExists());
        EXPECT_FALSE(TrayIconExists(window)) << "the icon is removed";
    }
};

// The show step takes one of two ways, by whether desktop composition is
// on; Wine answers that query from the Windows version it reports to the
// program: off for Windows 7, on for 8.1. With composition the show call
// sends a nested WM_SHOWWINDOW that must not show the window again.
class ShowStepTest : public ControlWindowE2ETest,
                     public ::testing::WithParamInterface<const char *> {
protected:
    void SetUp() override
    {
        ControlWindowE2ETest::SetUp();
        RegSetKeyValueA(HKEY_CURRENT_USER, "Software\\Wine\\AppDefaults\\Pitchkeeper_x64.exe",
                        "Version", REG_SZ, GetParam(), (DWORD)strlen(GetParam()) + 1);
    }

    void TearDown() override
    {
        ControlWindowE2ETest::TearDown();
        RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\Wine\\AppDefaults\\Pitchkeeper_x64.exe");
    }
};

INSTANTIATE_TEST_SUITE_P(WithAndWithoutComposition, ShowStepTest,
                         ::testing::Values("win7", "win81"));

TEST_P(ShowStepTest, SecondStartShowsCurrentValuesKeepsUnappliedChecksAndControlCenterResetsThem)
{
    StartResident();
    EXPECT_FALSE(IsWindowVisible(window)) << "created hidden";
    SendTrayCommand(CMD_SET_FREQUENCY, 440);
    SecondStart();
    EXPECT_EQ(ControlText(window, FrequencyBox), "440");
    EXPECT_EQ(ControlText(window, DurationBox), "50");
    EXPECT_FALSE(IsIconic(window));
    RECT frame = {};
    GetWindowRect(window, &frame);
    EXPECT_EQ(frame.left, 100);
    EXPECT_EQ(frame.top, 100);
    EXPECT_EQ(frame.right - frame.left, 380);
    EXPECT_EQ(frame.bottom - frame.top, 220);

    // typed but not applied, then closed
    // bounded, like every message this test sends: a resident that stops
    // answering fails the test instead of holding it
    ASSERT_NE(SendMessageTimeoutA(GetDlgItem(window, BeepOnBox), BM_CLICK, 0, 0, SMTO_NORMAL,
                                  10000, NULL),
              0);
    SetDlgItemTextA(window, FrequencyBox, "9");
    CloseWindow();
    EXPECT_EQ(ControlCheckState(window, BeepOnBox), BST_UNCHECKED);

    SecondStart();
    EXPECT_EQ(ControlText(window, FrequencyBox), "440") << "the boxes show the current values";
    EXPECT_EQ(ControlCheckState(window, BeepOnBox), BST_UNCHECKED) << "checks keep their state";
    EXPECT_EQ(SettingValue(PK_VALUE_SERVICE_STATUS), "1") << "nothing was applied";

    SendTrayCommand(CMD_CONTROL_CENTER);
    EXPECT_EQ(ControlCheckState(window, BeepOnBox), BST_CHECKED);
    EXPECT_TRUE(IsWindowVisible(window));
}

TEST_F(ControlWindowE2ETest, CloseHidesTheWindowWhileTheIconStaysAndPressesStillBeep)
{
    StartResident();
    SendTrayCommand(CMD_SWITCH_TO_SPEAKER);
    SecondStart();
    CloseWindow();
    EXPECT_TRUE(IsWindow(window)) << "hidden, not destroyed";
    EXPECT_TRUE(ResidentTrayExists());
    EXPECT_TRUE(TrayIconExists(window));
    ClearCapturedDebugLines();
    InjectLeftClick();
    EXPECT_TRUE(WaitForDebugLine("Beep"));
}

// A stop ends the program while a press's worker may be writing its debug
// line; a writer that ends after taking the capture's buffer and before
// filling it must not cost the lines of every later press.
TEST_F(ControlWindowE2ETest, PressesAreSeenAfterAWriterEndedHoldingTheDebugBuffer)
{
    StartResident();
    SendTrayCommand(CMD_SWITCH_TO_SPEAKER);
    // the first step of a writer, which then ends without the second
    HANDLE bufferReady = OpenEventA(SYNCHRONIZE, FALSE, "DBWIN_BUFFER_READY");
    ASSERT_EQ(WaitForSingleObject(bufferReady, 5000), WAIT_OBJECT_0);
    CloseHandle(bufferReady);
    ClearCapturedDebugLines();
    InjectLeftClick();
    EXPECT_TRUE(WaitForDebugLine("Beep", 5000)) << "a writer waits at most 10 s for the buffer";
}

TEST_F(ControlWindowE2ETest, StopButtonEndsTheProgramWithCodeZero)
{
    StartResident();
    SecondStart();
    // a real click in the middle of the button
    RECT button = {};
    GetWindowRect(GetDlgItem(window, StopButton), &button);
    ASSERT_TRUE(SetCursorPos((button.left + button.right) / 2, (button.top + button.bottom) / 2));
    InjectLeftClick();
    ExpectStoppedCleanly();
}

TEST_F(ControlWindowE2ETest, StopFromTheTrayMenuEndsTheProgramWithCodeZero)
{
    StartResident();
    ASSERT_TRUE(TrayIconExists(window));
    // what the shell sends for a left press on the icon
    PostMessageA(window, TrayIconMessage, 0, WM_LBUTTONDOWN);
    ASSERT_TRUE(WaitUntil(MenuOpen, NULL, 10000));
    // the fourth item, "Stop Pitchkeeper", chosen by keyboard
    for (int press = 0; press < 4; ++press) {
        PostMessageA(window, WM_KEYDOWN, VK_DOWN, 0);
    }
    PostMessageA(window, WM_KEYDOWN, VK_RETURN, 0);
    ExpectStoppedCleanly();
}

TEST_F(ControlWindowE2ETest, StopOptionEndsTheProgramWithCodeZero)
{
    StartResident();
    EXPECT_EQ(RunTray("-stop"), 0);
    ExpectStoppedCleanly();
}

// what taskkill without /f, and many other tools, send to end a program
TEST_F(ControlWindowE2ETest, CloseRequestFromAnotherProgramEndsItAsStopDoes)
{
    StartResident();
    PostMessageA(window, WM_CLOSE, 0, 0);
    ExpectStoppedCleanly();

    // a plain start then becomes the resident instance
    StartResident();
    EXPECT_TRUE(ResidentTrayExists());
    EXPECT_TRUE(TrayIconExists(window));
}

static LRESULT SendWithin5s(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    DWORD_PTR result = 0;
    SendMessageTimeoutA(window, message, wParam, lParam, SMTO_NORMAL, 5000, &result);
    return (LRESULT)result;
}

// What Restart Manager sends to free a file in use (ENDSESSION_CLOSEAPP),
// and a logoff: the query is answered yes and changes nothing; only a
// session that really ends ends the program.
TEST_F(ControlWindowE2ETest, EndSessionMessagesEndItAsStopDoes)
{
    for (LPARAM reason : {(LPARAM)ENDSESSION_CLOSEAPP, (LPARAM)ENDSESSION_LOGOFF}) {
        StartResident();
        EXPECT_EQ(SendWithin5s(window, WM_QUERYENDSESSION, 0, reason), TRUE) << reason;
        SendWithin5s(window, WM_ENDSESSION, FALSE, reason);
        EXPECT_EQ(WaitForExit(resident, 0), -1) << "a session that goes on keeps it, " << reason;
        EXPECT_TRUE(TrayIconExists(window));
        SendWithin5s(window, WM_ENDSESSION, TRUE, reason);
        ExpectStoppedCleanly();
    }
}

// What the installer makes to end the residents of every session.
static HANDLE MakeFileInInstallFolder(const char *name)
{
    return CreateFileA((InstallFolder() + "\\" + name).c_str(), GENERIC_WRITE, 0, NULL, CREATE_NEW,
                       FILE_FLAG_DELETE_ON_CLOSE, NULL);
}

TEST_F(ControlWindowE2ETest, TheInstallersStopFileEndsItAsStopDoes)
{
    StartResident();
    HANDLE stopFile = MakeFileInInstallFolder(PK_STOP_FILE_NAME);
    ASSERT_NE(stopFile, INVALID_HANDLE_VALUE);
    ExpectStoppedCleanly();
    CloseHandle(stopFile);
}

// An upgrade replaces files beside it, and the global name the stop signal
// once had may be taken by anybody: none of that ends it.
TEST_F(ControlWindowE2ETest, OtherFilesAndTheOldStopNameDoNotEndIt)
{
    StartResident();
    HANDLE squatted = CreateEventA(NULL, TRUE, TRUE, "Global\\VelmoraPitchkeeperStop");
    ASSERT_NE(squatted, (HANDLE)NULL);
    for (const char *name : {"Pitchkeeper.stop.new", "VELMORABEEP.inf.tmp", "stop"}) {
        CloseHandle(MakeFileInInstallFolder(name));
    }
    EXPECT_EQ(WaitForExit(resident, 2000), -1) << "it ended on a file of another name";
    CloseHandle(squatted);
    EXPECT_TRUE(TrayIconExists(window));
}

// A restarted shell has forgotten every icon and announces itself to all
// top-level windows.
TEST_F(ControlWindowE2ETest, IconIsAddedAgainWhenTheShellAnnouncesItsRestart)
{
    StartResident();
    ASSERT_TRUE(ForgetTrayIcon(window));
    ASSERT_FALSE(TrayIconExists(window));

    PostMessageA(HWND_BROADCAST, RegisterWindowMessageA("TaskbarCreated"), 0, 0);
    EXPECT_TRUE(WaitUntil(TrayIconShown, &window, 10000));
    EXPECT_EQ(WaitForExit(resident, 0), -1) << "the program keeps running";
}
