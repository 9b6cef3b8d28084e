// The window procedure: show step, Apply, value commands, Control Center,
// Close, and what each leaves in the registry and the controls.
#include "window_fixture.h"

#include "pitchkeeper_shared.h"
#include "resource.h"
#include "settings.h"
#include "system_call_log.h"
#include "window_proc.h"

#include <dwmapi.h>
#include <stdlib.h>
#include <string.h>

static const char FrequencyWarning[] = "Frequency must be in the range of 1 ~ 10000!!!";
static const char DurationWarning[] = "Duration must be in the range of 50 ~ 1000!!!";

class ApplyTest : public ControlWindowTest {
protected:
    // types the two values and presses Apply; the warnings it brought
    std::vector<std::string> Apply(const char *frequency, const char *duration)
    {
        SetBoxText(IDC_FREQUENCY_EDIT, frequency);
        SetBoxText(IDC_DURATION_EDIT, duration);
        ModalWatch watch;
        ClickButton(IDC_APPLY_SETTINGS);
        return watch.Finish().WarningTexts;
    }
};

TEST_F(ApplyTest, ValuesAtTheEndsOfTheRangesAreStoredWithoutWarning)
{
    CreateWindowFromStoredSettings();
    struct Case { const char *frequency, *duration, *storedDuration; };
    const Case cases[] = {{"1", "50", "25000"}, {"10000", "1000", "500000"}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.frequency);
        EXPECT_TRUE(Apply(c.frequency, c.duration).empty());
        EXPECT_EQ(SettingValue(PK_VALUE_FREQUENCY), c.frequency);
        EXPECT_EQ(SettingValue(PK_VALUE_DURATION), c.storedDuration);
        EXPECT_EQ(AppState.CurrentFrequency, atoi(c.frequency));
        EXPECT_EQ(AppState.CurrentDurationMs, atoi(c.duration));
        EXPECT_EQ(SpeakerTone(), std::string("Beep ") + c.frequency + " " + c.duration);
    }
}

TEST_F(ApplyTest, ValuesJustOutsideTheRangesBringTheirWarningAndAreNotTaken)
{
    CreateWindowFromStoredSettings();
    struct Case { const char *frequency, *duration, *warning; };
    const Case cases[] = {
        {"0", "50", FrequencyWarning},
        {"10001", "50", FrequencyWarning},
        {"2000", "49", DurationWarning},
        {"2000", "1001", DurationWarning},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.frequency) + " " + c.duration);
        std::vector<std::string> warnings = Apply(c.frequency, c.duration);
        ASSERT_EQ(warnings.size(), 1u);
        EXPECT_EQ(warnings[0], c.warning);
        EXPECT_EQ(SettingValue(PK_VALUE_FREQUENCY), "2000");
        EXPECT_EQ(SettingValue(PK_VALUE_DURATION), "25000");
        EXPECT_EQ(AppState.CurrentFrequency, 2000);
        EXPECT_EQ(AppState.CurrentDurationMs, 50);
        EXPECT_EQ(SpeakerTone(), "Beep 2000 50");
    }
}

TEST_F(ApplyTest, WarningBoxIsOwnedByTheControlWindow)
{
    CreateWindowFromStoredSettings();
    SetBoxText(IDC_FREQUENCY_EDIT, "0");
    ModalWatch watch;
    ClickButton(IDC_APPLY_SETTINGS);
    ModalRecord seen = watch.Finish();
    ASSERT_EQ(seen.WarningOwners.size(), 1u);
    EXPECT_EQ(seen.WarningOwners[0], Window());
}

TEST_F(ApplyTest, EmptyFrequencyKeepsTheOldOneAndStoresTheNewDuration)
{
    CreateWindowFromStoredSettings();
    std::vector<std::string> warnings = Apply("", "120");
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_EQ(warnings[0], FrequencyWarning);
    EXPECT_EQ(SettingValue(PK_VALUE_FREQUENCY), "2000");
    EXPECT_EQ(SettingValue(PK_VALUE_DURATION), "60000");
    EXPECT_EQ(ControlText(Window(), IDC_FREQUENCY_EDIT), "") << "a rejected entry stays in its box";
}

TEST_F(ApplyTest, BothValuesWrongWarnInOrderRewriteTheOldOnesAndStillApplyTheChecks)
{
    CreateWindowFromStoredSettings();
    // changed behind the program's back, so that only a new write restores them
    WriteSettingValue(PK_VALUE_FREQUENCY, "77");
    WriteSettingValue(PK_VALUE_DURATION, "77");
    ClickButton(IDC_BEEP_ON);
    ClickButton(IDC_BEEP_FROM_SPEAKER);

    std::vector<std::string> warnings = Apply("0", "1001");
    ASSERT_EQ(warnings.size(), 2u);
    EXPECT_EQ(warnings[0], FrequencyWarning);
    EXPECT_EQ(warnings[1], DurationWarning);
    EXPECT_EQ(SystemCalls("MessageBoxA"),
              (std::vector<std::string>{
                  std::string("MessageBoxA owned \"") + FrequencyWarning + "\" \"Warning\" 0x30",
                  std::string("MessageBoxA owned \"") + DurationWarning + "\" \"Warning\" 0x30"}));
    EXPECT_EQ(SettingValue(PK_VALUE_FREQUENCY), "2000");
    EXPECT_EQ(SettingValue(PK_VALUE_DURATION), "25000");
    EXPECT_EQ(AppState.BeepEnabled, 0);
    EXPECT_EQ(SettingValue(PK_VALUE_SERVICE_STATUS), "0");
    EXPECT_EQ(AppState.ActiveOutput, 0);
    EXPECT_EQ(SettingValue(PK_VALUE_OUTPUT_DEVICE), "1");
    EXPECT_EQ(AppState.TrayIconData.hIcon,
              LoadIconA(AppState.Instance, MAKEINTRESOURCEA(IDI_BEEP_OFF)));
}

TEST_F(ApplyTest, EveryApplyRunsTheTaskCommandOfTheRunAtStartupBox)
{
    CreateWindowFromStoredSettings();
    ASSERT_TRUE(WaitForTaskCommandCount(1)) << "start-up creates the task";
    ClearRecordedTaskCommands();
    EXPECT_TRUE(Apply("2000", "50").empty());
    ASSERT_TRUE(WaitForTaskCommandCount(1)) << "ticked and unchanged still creates it again";
    EXPECT_EQ(RecordedTaskCommands().back(), TaskToolCommandLine(PK_TASK_CREATE_ARGUMENTS));

    ClickButton(IDC_RUN_AT_STARTUP);
    EXPECT_TRUE(Apply("2000", "50").empty());
    ASSERT_TRUE(WaitForTaskCommandCount(2));
    EXPECT_EQ(RecordedTaskCommands().back(), TaskToolCommandLine(PK_TASK_DELETE_ARGUMENTS));
    EXPECT_TRUE(OnlySystemTaskToolRan());
    EXPECT_EQ(SettingValue(PK_VALUE_RUN_AT_STARTUP), "0");
    EXPECT_EQ(AppState.RunAtStartupEnabled, 0);
}

TEST_F(ControlWindowTest, SetFrequencyTakesTheLow16BitsOfLParam)
{
    CreateWindowFromStoredSettings();
    EXPECT_EQ(Command(CMD_SET_FREQUENCY, 0x000101B8), 0);
    EXPECT_EQ(AppState.CurrentFrequency, 440);
    EXPECT_EQ(SettingValue(PK_VALUE_FREQUENCY), "440");
    EXPECT_EQ(SettingValue(PK_VALUE_DURATION), "25000");
    EXPECT_EQ(ControlText(Window(), IDC_FREQUENCY_EDIT), "440");
    EXPECT_EQ(SpeakerTone(), "Beep 440 50");
}

TEST_F(ControlWindowTest, SetDurationStoresMillisecondsTimes500)
{
    CreateWindowFromStoredSettings();
    EXPECT_EQ(Command(CMD_SET_DURATION, 120), 0);
    EXPECT_EQ(AppState.CurrentDurationMs, 120);
    EXPECT_EQ(SettingValue(PK_VALUE_DURATION), "60000");
    EXPECT_EQ(SettingValue(PK_VALUE_FREQUENCY), "2000");
    EXPECT_EQ(ControlText(Window(), IDC_DURATION_EDIT), "120");
    EXPECT_EQ(SpeakerTone(), "Beep 2000 120");
}

TEST_F(ControlWindowTest, ValueCommandsTakeTheOtherHalfFromTheStoredSettings)
{
    CreateWindowFromStoredSettings();
    // the current value differs from the stored one until the next save
    AppState.CurrentDurationMs = 70;
    Command(CMD_SET_FREQUENCY, 300);
    EXPECT_EQ(SettingValue(PK_VALUE_DURATION), "25000");
    EXPECT_EQ(SpeakerTone(), "Beep 300 70") << "a press sounds the current values";
    AppState.CurrentFrequency = 999;
    Command(CMD_SET_DURATION, 200);
    EXPECT_EQ(SettingValue(PK_VALUE_FREQUENCY), "300");
}

TEST_F(ControlWindowTest, DurationsTooLongForTheSettingsSlotAreRefused)
{
    CreateWindowFromStoredSettings();
    Command(CMD_SET_DURATION, 19999);
    EXPECT_EQ(SettingValue(PK_VALUE_DURATION), "9999500") << "the longest that fits";
    EXPECT_EQ(AppState.CurrentDurationMs, 19999);

    for (LPARAM refused : {20000, 65535}) {
        SCOPED_TRACE(refused);
        Command(CMD_SET_DURATION, refused);
        EXPECT_EQ(SettingValue(PK_VALUE_DURATION), "9999500");
        EXPECT_EQ(AppState.CurrentDurationMs, 19999);
        EXPECT_EQ(ControlText(Window(), IDC_DURATION_EDIT), "19999");
    }
}

TEST_F(ControlWindowTest, StateCommandsCallTheSetters)
{
    CreateWindowFromStoredSettings();
    ClearSystemCalls();
    Command(CMD_BEEP_OFF);
    EXPECT_EQ(SettingValue(PK_VALUE_SERVICE_STATUS), "0");
    EXPECT_EQ(ControlCheckState(Window(), IDC_BEEP_ON), BST_UNCHECKED);
    EXPECT_EQ(SystemCalls(), std::vector<std::string>{"Shell_NotifyIconA 1 icon 102"});
    ClearSystemCalls();
    Command(CMD_BEEP_ON);
    EXPECT_EQ(SettingValue(PK_VALUE_SERVICE_STATUS), "1");
    EXPECT_EQ(SystemCalls(), std::vector<std::string>{"Shell_NotifyIconA 1 icon 101"});
    Command(CMD_SWITCH_TO_SPEAKER);
    EXPECT_EQ(SettingValue(PK_VALUE_OUTPUT_DEVICE), "1");
    EXPECT_EQ(ControlCheckState(Window(), IDC_BEEP_FROM_SPEAKER), BST_CHECKED);
    Command(CMD_SWITCH_TO_BUZZER);
    EXPECT_EQ(SettingValue(PK_VALUE_OUTPUT_DEVICE), "0");
    Command(CMD_RUN_AT_STARTUP_OFF);
    EXPECT_EQ(SettingValue(PK_VALUE_RUN_AT_STARTUP), "0");
    EXPECT_EQ(ControlCheckState(Window(), IDC_RUN_AT_STARTUP), BST_UNCHECKED);
    Command(CMD_RUN_AT_STARTUP_ON);
    EXPECT_EQ(SettingValue(PK_VALUE_RUN_AT_STARTUP), "1");
}

// counts WM_SHOWWINDOW reaching the window while it is being shown
static int ShowWindowMessages;
static LRESULT CALLBACK CountShowWindow(int code, WPARAM wParam, LPARAM lParam)
{
    const CWPSTRUCT *call = (const CWPSTRUCT *)lParam;
    if (call->message == WM_SHOWWINDOW && call->hwnd == AppState.MainWindow) {
        ++ShowWindowMessages;
    }
    return CallNextHookEx(NULL, code, wParam, lParam);
}

TEST_F(ControlWindowTest, ShowRequestShowsTheWindowOnceWithTheCurrentValues)
{
    CreateWindowFromStoredSettings();
    SetBoxText(IDC_FREQUENCY_EDIT, "9");
    SetBoxText(IDC_DURATION_EDIT, "");
    AppState.CurrentFrequency = 880;

    ShowWindowMessages = 0;
    HHOOK hook = SetWindowsHookExA(WH_CALLWNDPROC, CountShowWindow, NULL, GetCurrentThreadId());
    EXPECT_EQ(SendMessageA(Window(), WM_SHOWWINDOW, 0, 0), 0);
    UnhookWindowsHookEx(hook);

    EXPECT_TRUE(IsWindowVisible(Window()));
    EXPECT_FALSE(IsIconic(Window()));
    // with composition, the request and the one that showing a hidden
    // window brings, which must not start a third; without, the window is
    // minimized and restored, which sends none
    BOOL composition = TRUE;
    DwmIsCompositionEnabled(&composition);
    const char *wanted = getenv("PK_WANTED_COMPOSITION");
    if (wanted != NULL) {
        ASSERT_EQ(composition, atoi(wanted)) << "started to take the other way";
    }
    EXPECT_EQ(ShowWindowMessages, composition ? 2 : 1);
    EXPECT_EQ(AppState.ShowStepRunning, 0);
    EXPECT_EQ(ControlText(Window(), IDC_FREQUENCY_EDIT), "880");
    EXPECT_EQ(ControlText(Window(), IDC_DURATION_EDIT), "50");
    RECT frame = {};
    GetWindowRect(Window(), &frame);
    EXPECT_EQ(frame.left, 100);
    EXPECT_EQ(frame.top, 100);

    // a request while it is visible only refreshes the boxes
    SetBoxText(IDC_FREQUENCY_EDIT, "9");
    SendMessageA(Window(), WM_SHOWWINDOW, 0, 0);
    EXPECT_TRUE(IsWindowVisible(Window()));
    EXPECT_EQ(ControlText(Window(), IDC_FREQUENCY_EDIT), "880");
}

TEST_F(ControlWindowTest, CloseHidesTheWindowAndKeepsTheIcon)
{
    CreateWindowFromStoredSettings();
    SendMessageA(Window(), WM_SHOWWINDOW, 0, 0);
    ASSERT_TRUE(IsWindowVisible(Window()));
    // the closing reads the stored setting back into the state record
    SettingsCache[SlotRunAtStartup][0] = '0';
    EXPECT_EQ(SendMessageA(Window(), WM_SYSCOMMAND, SC_CLOSE, 0), 0);
    EXPECT_FALSE(IsWindowVisible(Window()));
    EXPECT_TRUE(IsWindow(Window()));
    EXPECT_EQ(AppState.RunAtStartupEnabled, 0);
    EXPECT_TRUE(Shell_NotifyIconA(NIM_MODIFY, &AppState.TrayIconData)) << "the icon stays";

    // the low four bits of a system command are the system's own
    SendMessageA(Window(), WM_SHOWWINDOW, 0, 0);
    SettingsCache[SlotRunAtStartup][0] = '7';
    SendMessageA(Window(), WM_SYSCOMMAND, SC_CLOSE | 2, 0);
    EXPECT_FALSE(IsWindowVisible(Window()));
    EXPECT_EQ(AppState.RunAtStartupEnabled, 0) << "other numbers leave the flag";
}

// A restarted shell has forgotten every icon and announces itself with a
// registered message.
TEST_F(ControlWindowTest, ShellRestartAddsTheIconAgainWithThePresentPictureAndTip)
{
    CreateWindowFromStoredSettings();
    Command(CMD_BEEP_OFF);
    ASSERT_TRUE(ForgetTrayIcon(Window()));
    ASSERT_FALSE(TrayIconExists(Window()));

    ClearSystemCalls();
    EXPECT_EQ(SendMessageA(Window(), RegisterWindowMessageA("TaskbarCreated"), 0, 0), 0);
    EXPECT_EQ(SystemCalls(), std::vector<std::string>{"Shell_NotifyIconA 0 icon 102"})
        << "added with the picture of beeping off";
    EXPECT_TRUE(TrayIconExists(Window())) << "the shell holds the icon again";
    const NOTIFYICONDATAA &icon = AppState.TrayIconData;
    EXPECT_EQ(icon.uFlags, (UINT)(NIF_MESSAGE | NIF_ICON | NIF_TIP));
    EXPECT_EQ(icon.uCallbackMessage, (UINT)WM_TRAYICON);
    EXPECT_STREQ(icon.szTip, PK_WINDOW_TITLE);
}

TEST_F(ControlWindowTest, ControlCenterDiscardsUnappliedClicksAndShowsTheWindow)
{
    CreateWindowFromStoredSettings();
    ClickButton(IDC_RUN_AT_STARTUP);
    ClickButton(IDC_BEEP_ON);
    ClickButton(IDC_BEEP_FROM_SPEAKER);
    SetBoxText(IDC_FREQUENCY_EDIT, "9");

    EXPECT_EQ(Command(CMD_CONTROL_CENTER), 0);
    EXPECT_TRUE(IsWindowVisible(Window()));
    EXPECT_EQ(ControlCheckState(Window(), IDC_RUN_AT_STARTUP), BST_CHECKED);
    EXPECT_EQ(ControlCheckState(Window(), IDC_BEEP_ON), BST_CHECKED);
    EXPECT_EQ(ControlCheckState(Window(), IDC_BEEP_FROM_BUZZER), BST_CHECKED);
    EXPECT_EQ(ControlCheckState(Window(), IDC_BEEP_FROM_SPEAKER), BST_UNCHECKED);
    EXPECT_EQ(ControlText(Window(), IDC_FREQUENCY_EDIT), "2000") << "showing refreshed the box";

    // already visible: what the user typed stays
    SetBoxText(IDC_FREQUENCY_EDIT, "9");
    Command(CMD_CONTROL_CENTER);
    EXPECT_EQ(ControlText(Window(), IDC_FREQUENCY_EDIT), "9");
}

TEST_F(ControlWindowTest, ClicksOnChecksAndOtherIdsChangeNoSetting)
{
    CreateWindowFromStoredSettings();
    ClickButton(IDC_BEEP_ON);
    ClickButton(IDC_BEEP_FROM_SPEAKER);
    Command(12345);
    EXPECT_EQ(AppState.BeepEnabled, 1);
    EXPECT_EQ(AppState.ActiveOutput, 1);
    EXPECT_EQ(SettingValue(PK_VALUE_SERVICE_STATUS), "1");
    EXPECT_EQ(SettingValue(PK_VALUE_OUTPUT_DEVICE), "0");
}

// Wine answers the composition query from the Windows version it reports
// to a program: off for Windows 7, on for 8.1. Copies of this program,
// started as each, run the show tests the two ways.
static int RunShowTestsAs(const char *version, const char *composition)
{
    char program[MAX_PATH] = {};
    GetModuleFileNameA(NULL, program, sizeof(program));
    std::string key = std::string("Software\\Wine\\AppDefaults\\") + (strrchr(program, '\\') + 1);
    RegSetKeyValueA(HKEY_CURRENT_USER, key.c_str(), "Version", REG_SZ, version,
                    (DWORD)strlen(version) + 1);
    SetEnvironmentVariableA("PK_WANTED_COMPOSITION", composition);
    std::string commandLine = std::string("\"") + program +
                              "\" --gtest_filter=ControlWindowTest.ShowRequest*:"
                              "ControlWindowTest.ControlCenter*";
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    int exitCode = -1;
    if (CreateProcessA(program, &commandLine[0], NULL, NULL, FALSE, 0, NULL, NULL, &startup,
                       &process)) {
        exitCode = WaitForExit(process.hProcess, 120000);
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
    }
    SetEnvironmentVariableA("PK_WANTED_COMPOSITION", NULL);
    RegDeleteTreeA(HKEY_CURRENT_USER, key.c_str());
    return exitCode;
}

TEST(ShowStepWays, ShowTestsPassWithAndWithoutComposition)
{
    if (getenv("PK_WANTED_COMPOSITION") != NULL) {
        GTEST_SKIP() << "already a copy";
    }
    EXPECT_EQ(RunShowTestsAs("win7", "0"), 0);
    EXPECT_EQ(RunShowTestsAs("win81", "1"), 0);
}
