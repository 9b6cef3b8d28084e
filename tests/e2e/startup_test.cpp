// Start-up of the real program: settings on first and later runs, the
// single resident instance, and presses turned into tone workers.
#include "pitchkeeper_shared.h"
#include "tray_fixture.h"

class StartupTest : public ResidentTrayTest {
protected:
    void ExpectDefaults()
    {
        EXPECT_EQ(SettingValue(PK_VALUE_FREQUENCY), "2000");
        EXPECT_EQ(SettingValue(PK_VALUE_DURATION), "25000");
        EXPECT_EQ(SettingValue(PK_VALUE_OUTPUT_DEVICE), "0");
        EXPECT_EQ(SettingValue(PK_VALUE_SERVICE_STATUS), "1");
        EXPECT_EQ(SettingValue(PK_VALUE_RUN_AT_STARTUP), "1");
    }
};

TEST_F(StartupTest, FirstRunWritesDefaultsAndCreatesLogonTask)
{
    StartResident();
    ExpectDefaults();
    ASSERT_TRUE(WaitForTaskCommandCount(1));
    EXPECT_EQ(RecordedTaskCommands().front(), TaskToolCommandLine(PK_TASK_CREATE_ARGUMENTS));
    EXPECT_TRUE(OnlySystemTaskToolRan()) << "not the copy in the program's folder";
}

TEST_F(StartupTest, IncompleteOrOverlongSettingsAreReplacedByDefaults)
{
    WriteAllSettings("440", "60000", "1", "0", "0");
    RegDeleteKeyValueA(HKEY_CURRENT_USER, PK_SETTINGS_KEY_PATH, PK_VALUE_RUN_AT_STARTUP);
    StartResident();
    ExpectDefaults();
    StopResidentTray();

    // eight characters leave no room for the terminating zero
    WriteAllSettings("12345678", "60000", "1", "0", "0");
    StartResident();
    ExpectDefaults();
}

TEST_F(StartupTest, StoredSettingsAreKeptAndTheTaskCommandRepeated)
{
    WriteAllSettings("440", "60000", "1", "0", "1");
    StartResident();
    ASSERT_TRUE(WaitForTaskCommandCount(1));
    EXPECT_EQ(RecordedTaskCommands().front(), TaskToolCommandLine(PK_TASK_CREATE_ARGUMENTS));
    EXPECT_TRUE(OnlySystemTaskToolRan()) << "not the copy in the program's folder";
    EXPECT_EQ(SettingValue(PK_VALUE_FREQUENCY), "440");
    EXPECT_EQ(SettingValue(PK_VALUE_DURATION), "60000");
    EXPECT_EQ(SettingValue(PK_VALUE_OUTPUT_DEVICE), "1");
    EXPECT_EQ(SettingValue(PK_VALUE_SERVICE_STATUS), "0");
}

TEST_F(StartupTest, SecondStartShowsTheResidentWindowAndEnds)
{
    StartResident();
    ASSERT_FALSE(IsWindowVisible(window));

    EXPECT_EQ(RunTray(""), 0);
    EXPECT_TRUE(IsWindowVisible(window));
    EXPECT_EQ(WaitForExit(resident, 0), -1) << "the resident instance must keep running";
    EXPECT_EQ(FindWindowA(NULL, PK_WINDOW_TITLE), window) << "no second window";
    EXPECT_EQ(CountProcesses("Pitchkeeper_x64.exe"), 1) << "no second instance, so no second icon";
}

TEST_F(StartupTest, LeftPressesStartOneWorkerEachWhileBeepingIsOn)
{
    WriteAllSettings("440", "25000", "1", "1", "0");
    StartResident();

    InjectLeftClick();
    ASSERT_TRUE(WaitForDebugLine("Beep"));
    InjectMouseButton(MOUSEEVENTF_RIGHTDOWN);
    InjectMouseButton(MOUSEEVENTF_RIGHTUP);
    InjectLeftClick();
    ASSERT_TRUE(WaitUntil([](void *) { return CountDebugLines("Beep") >= 2; }, NULL, 5000));
    Sleep(300);   // room for a wrongly started extra worker to show up
    EXPECT_EQ(CountDebugLines("Beep"), 2);
}

TEST_F(StartupTest, NoWorkerWhileBeepingIsOff)
{
    WriteAllSettings("440", "25000", "1", "0", "0");
    StartResident();
    InjectLeftClick();
    Sleep(500);
    EXPECT_EQ(CountDebugLines("Beep"), 0);
}

TEST_F(StartupTest, BuzzerPressesWithoutDriverAreSilentAndHarmless)
{
    WriteAllSettings("440", "25000", "0", "1", "0");
    StartResident();
    for (int press = 0; press < 5; ++press) {
        InjectLeftClick();
    }
    ASSERT_TRUE(WaitUntil([](void *) { return CountDebugLines("Beep") >= 5; }, NULL, 5000));
    EXPECT_EQ(WaitForExit(resident, 500), -1) << "the program must keep running";
    EXPECT_NE(FindWindowA(NULL, PK_WINDOW_TITLE), (HWND)NULL);
}

// A hook of the test's own, set after the resident's, so that the system
// calls it first: it keeps left-button presses from the hooks behind it.
static LRESULT CALLBACK KeepLeftPresses(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HC_ACTION && wParam == WM_LBUTTONDOWN) {
        return 1;
    }
    return CallNextHookEx(NULL, code, wParam, lParam);
}

static DWORD WINAPI ServeKeepingHook(void *ready)
{
    HHOOK hook = SetWindowsHookExA(WH_MOUSE_LL, KeepLeftPresses, GetModuleHandleA(NULL), 0);
    MSG message;
    PeekMessageA(&message, NULL, 0, 0, PM_NOREMOVE);   // a queue for the quit message
    SetEvent((HANDLE)ready);
    while (GetMessageA(&message, NULL, 0, 0)) {
    }
    UnhookWindowsHookEx(hook);
    return 0;
}

// The resident's watchdog replaces a hook that went quiet, and the new hook
// is the newest, so it comes before the test's; a hook in use stays put.
TEST_F(StartupTest, HookQuietForTenSecondsIsSetAnewAndSoundsEachPressOnce)
{
    WriteAllSettings("440", "25000", "1", "1", "0");
    StartResident();
    HANDLE ready = CreateEventA(NULL, TRUE, FALSE, NULL);
    DWORD threadId = 0;
    HANDLE keeper = CreateThread(NULL, 0, ServeKeepingHook, ready, 0, &threadId);
    ASSERT_EQ(WaitForSingleObject(ready, 10000), WAIT_OBJECT_0);
    for (int move = 0; move < 8; move++) {
        InjectMouseButton(MOUSEEVENTF_MOVE);
        Sleep(500);
    }
    InjectLeftClick();
    EXPECT_FALSE(WaitForDebugLine("Beep", 1000)) << "behind the test's hook";

    Sleep(10000);
    InjectLeftClick();
    EXPECT_TRUE(WaitForDebugLine("Beep", 3000)) << "in front of it now";
    Sleep(300);   // room for a second worker
    EXPECT_EQ(CountDebugLines("Beep"), 1);

    PostThreadMessageA(threadId, WM_QUIT, 0, 0);
    WaitForSingleObject(keeper, 10000);
    CloseHandle(keeper);
    CloseHandle(ready);
}

// A desktop may refuse a program hook control: the program cannot watch
// presses then, logs why and ends.
TEST_F(StartupTest, FailedMouseHookIsLoggedAndEndsTheProgram)
{
    WriteAllSettings("440", "25000", "1", "1", "0");   // the speaker: no driver to install
    EXPECT_EQ(RunTrayWithoutHookControl(), 0);
    EXPECT_EQ(ReadTextFile(InstallFolder() + "\\error.txt"), "HHOOK ERROR CODE = 5\r\n")
        << "access denied";
    EXPECT_FALSE(ResidentTrayExists());
}
