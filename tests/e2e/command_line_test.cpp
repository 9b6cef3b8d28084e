// Second starts with options: each option reaches the resident window as its
// command, wrong input is answered with warning boxes, and -? prints the
// option table on the program's console.
#include "pitchkeeper_shared.h"
#include "tray_fixture.h"

#include <string>

// A start with its standard handles on pipes, as a console would hand them
// over, so that what it prints can be read and a key press given.
struct PipedTray {
    HANDLE process = NULL;
    HANDLE input = NULL;    // write end of its standard input
    HANDLE output = NULL;   // read end of its standard output
};

static bool StartPipedTray(const std::wstring &arguments, PipedTray &tray)
{
    SECURITY_ATTRIBUTES inheritable = {sizeof(inheritable), NULL, TRUE};
    HANDLE childInput = NULL;
    HANDLE childOutput = NULL;
    if (!CreatePipe(&childInput, &tray.input, &inheritable, 0) ||
        !CreatePipe(&tray.output, &childOutput, &inheritable, 0)) {
        return false;
    }
    SetHandleInformation(tray.input, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(tray.output, HANDLE_FLAG_INHERIT, 0);

    std::wstring commandLine = L"\"" PK_WIDEN(PK_TRAY_EXE_PATH) L"\" " + arguments;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = childInput;
    startup.hStdOutput = childOutput;
    startup.hStdError = childOutput;
    PROCESS_INFORMATION process = {};
    BOOL started = CreateProcessW(PK_WIDEN(PK_TRAY_EXE_PATH), &commandLine[0], NULL, NULL, TRUE, 0,
                                  NULL, PK_WIDEN(PK_INSTALL_DIR), &startup, &process);
    CloseHandle(childInput);
    CloseHandle(childOutput);
    if (!started) {
        return false;
    }
    CloseHandle(process.hThread);
    tray.process = process.hProcess;
    return true;
}

static void ClosePipedTray(PipedTray &tray)
{
    for (HANDLE handle : {tray.process, tray.input, tray.output}) {
        if (handle != NULL) {
            CloseHandle(handle);
        }
    }
    tray = PipedTray();
}

struct PrintedWait {
    HANDLE output;
    std::string printed;
    size_t wanted;
};

static bool PrintedAtLeast(void *context)
{
    PrintedWait *wait = (PrintedWait *)context;
    ReadPipeSoFar(wait->output, wait->printed);
    return wait->printed.size() >= wait->wanted;
}

static std::string ExpectedOptionTable()
{
    static const char *const lines[] = {
        "DALQ Pitchkeeper",
        "Table Of Command Line Parameters",
        "--------------------------------------------------",
        " -f value : Change frequency with the value.",
        " -d value : Change duration with the value.",
        " -stop    : Stop Pitchkeeper.",
        " -buzzer  : Switch output device to buzzer.",
        " -speaker : Switch output device to speaker.",
        " -on      : Turn on beep.",
        " -off     : Turn off beep.",
        " -ras     : Make Pitchkeeper run at startup.",
        " -notras  : Make Pitchkeeper not run at startup.",
        " -status  : Report what Pitchkeeper hears (-status json: as JSON).",
        " -?       : Help.",
    };
    std::string table;
    for (const char *line : lines) {
        table += line;
        if (line != lines[13]) {
            table += "          ";
        }
        // a text stream ends each line with CR LF
        table += "\r\n";
    }
    return table;
}

class CommandLineTest : public ResidentTrayTest {
protected:
    // speaker output, so that start-up installs no driver
    void StartResident(const char *frequency = "2000", const char *duration = "25000",
                       const char *beepOn = "0", const char *runAtStartup = "0")
    {
        WriteAllSettings(frequency, duration, "1", beepOn, runAtStartup);
        ResidentTrayTest::StartResident();
        // start-up runs the task command of the stored state; only the
        // commands of the options under test are to be recorded
        ASSERT_TRUE(WaitForTaskCommandCount(1));
        ClearRecordedTaskCommands();
    }

    // Starts the program with these options, reads and dismisses the
    // warning boxes it shows, one after another, and expects exit code 0.
    std::vector<std::string> RunAnsweringWarnings(const std::string &options, size_t boxCount,
                                                  std::vector<HWND> *owners = NULL)
    {
        std::vector<std::string> texts;
        HANDLE process = StartTray(options);
        EXPECT_NE(process, (HANDLE)NULL);
        if (process == NULL) {
            return texts;
        }
        for (size_t box = 0; box < boxCount; ++box) {
            HWND found = WaitForMessageBox("Warning");
            if (found == NULL) {
                break;
            }
            if (owners != NULL) {
                owners->push_back(GetWindow(found, GW_OWNER));
            }
            texts.push_back(MessageBoxText(found));
            DismissMessageBox(found);
        }
        EXPECT_EQ(WaitForExit(process, 10000), 0);
        CloseHandle(process);
        return texts;
    }

    void ExpectToneSettings(const char *frequency, const char *duration)
    {
        EXPECT_EQ(SettingValue(PK_VALUE_FREQUENCY), frequency);
        EXPECT_EQ(SettingValue(PK_VALUE_DURATION), duration);
    }
};

TEST_F(CommandLineTest, ValuesAreSentInArgumentOrder)
{
    StartResident();
    EXPECT_EQ(RunTray("-f 440 -d 120"), 0);
    ExpectToneSettings("440", "60000");
    EXPECT_EQ(ControlText(window, 32601), "440");
    EXPECT_EQ(ControlText(window, 32602), "120");

    // the same option twice: the later one is the one that stays
    EXPECT_EQ(RunTray("-d 300 -d 70"), 0);
    ExpectToneSettings("440", "35000");
}

TEST_F(CommandLineTest, RangeLimitsAreAcceptedAndTheValuesBeyondRejected)
{
    StartResident("440", "60000");
    EXPECT_EQ(RunTray("-f 1 -d 50"), 0);
    ExpectToneSettings("1", "25000");
    EXPECT_EQ(RunTray("-f 10000 -d 1000"), 0);
    ExpectToneSettings("10000", "500000");

    std::vector<std::string> texts = RunAnsweringWarnings("-f 10001 -d 49 -d 1001 -f -5", 4);
    EXPECT_EQ(texts, (std::vector<std::string>{
                         "Frequency must be in the range of 1 ~ 10000!!!",
                         "Duration must be in the range of 50 ~ 1000!!!",
                         "Duration must be in the range of 50 ~ 1000!!!",
                         "Frequency must be in the range of 1 ~ 10000!!!",
                     }));
    ExpectToneSettings("10000", "500000");
}

TEST_F(CommandLineTest, ShortDurationShowsRangeBoxOwnedByResidentAndSendsNothing)
{
    StartResident("440", "60000");
    std::vector<HWND> owners;
    EXPECT_EQ(RunAnsweringWarnings("-d 20", 1, &owners),
              std::vector<std::string>{"Duration must be in the range of 50 ~ 1000!!!"});
    ASSERT_EQ(owners.size(), 1u);
    EXPECT_EQ(owners[0], window);
    ExpectToneSettings("440", "60000");
    EXPECT_EQ(ControlText(window, 32602), "120");
}

TEST_F(CommandLineTest, ValuesAreReadAsLeadingDecimalNumbers)
{
    StartResident("440", "60000");
    EXPECT_EQ(RunTray("-f 12abc -d \" 75\""), 0);
    ExpectToneSettings("12", "37500");

    std::vector<std::string> texts = RunAnsweringWarnings("-f x -d 0 -f abc12", 3);
    EXPECT_EQ(texts, (std::vector<std::string>{
                         "x is not a value!!!",
                         "0 is not a value!!!",
                         "abc12 is not a value!!!",
                     }));
    ExpectToneSettings("12", "37500");

    // digits past the int range must not wrap round into the range
    EXPECT_EQ(RunAnsweringWarnings("-f 4294967736", 1),
              std::vector<std::string>{"Frequency must be in the range of 1 ~ 10000!!!"});
    ExpectToneSettings("12", "37500");
}

TEST_F(CommandLineTest, TheArgumentAfterAValueOptionIsItsValueEvenWhenItLooksLikeAnOption)
{
    StartResident();
    EXPECT_EQ(RunAnsweringWarnings("-f -stop -on", 1),
              std::vector<std::string>{"-stop is not a value!!!"});
    EXPECT_EQ(WaitForExit(resident, 0), -1) << "-stop was a value, not a command";
    EXPECT_EQ(SettingValue(PK_VALUE_SERVICE_STATUS), "1") << "-on after the value still counts";
}

TEST_F(CommandLineTest, WrongArgumentsAreEachReportedAndTheRestStillHandled)
{
    StartResident();
    std::vector<std::string> texts = RunAnsweringWarnings("-F --stop -on -stop2 -", 4);
    EXPECT_EQ(texts, (std::vector<std::string>{
                         "-F is a wrong argument!!!",
                         "--stop is a wrong argument!!!",
                         "-stop2 is a wrong argument!!!",
                         "- is a wrong argument!!!",
                     }));
    EXPECT_EQ(SettingValue(PK_VALUE_SERVICE_STATUS), "1");
    EXPECT_EQ(WaitForExit(resident, 0), -1) << "no option stopped the resident instance";
}

TEST_F(CommandLineTest, ValueOptionAsLastArgumentIsReportedWithoutReadingFurther)
{
    StartResident("440", "60000");
    EXPECT_EQ(RunAnsweringWarnings("-on -f", 1), std::vector<std::string>{"-f needs a value!!!"});
    EXPECT_EQ(SettingValue(PK_VALUE_SERVICE_STATUS), "1");
    EXPECT_EQ(RunAnsweringWarnings("-f 880 -d", 1), std::vector<std::string>{"-d needs a value!!!"});
    ExpectToneSettings("880", "60000");
}

TEST_F(CommandLineTest, FlagOptionsSendTheirCommands)
{
    StartResident();
    EXPECT_EQ(RunTray("-on -speaker"), 0);
    EXPECT_EQ(SettingValue(PK_VALUE_SERVICE_STATUS), "1");
    EXPECT_EQ(RunTray("-off -buzzer"), 0);
    EXPECT_EQ(SettingValue(PK_VALUE_SERVICE_STATUS), "0");
    EXPECT_EQ(SettingValue(PK_VALUE_OUTPUT_DEVICE), "0");
    EXPECT_EQ(RunTray("-speaker"), 0);
    EXPECT_EQ(SettingValue(PK_VALUE_OUTPUT_DEVICE), "1");
}

TEST_F(CommandLineTest, RunAtStartupOptionsRunTheTaskCommands)
{
    StartResident();
    EXPECT_EQ(RunTray("-ras"), 0);
    ASSERT_TRUE(WaitForTaskCommandCount(1));
    EXPECT_EQ(SettingValue(PK_VALUE_RUN_AT_STARTUP), "1");
    EXPECT_EQ(RunTray("-notras"), 0);
    ASSERT_TRUE(WaitForTaskCommandCount(2));
    EXPECT_EQ(SettingValue(PK_VALUE_RUN_AT_STARTUP), "0");
    EXPECT_EQ(RecordedTaskCommands(),
              (std::vector<std::string>{TaskToolCommandLine(PK_TASK_CREATE_ARGUMENTS),
                                        TaskToolCommandLine(PK_TASK_DELETE_ARGUMENTS)}));
    EXPECT_TRUE(OnlySystemTaskToolRan());
}

TEST_F(CommandLineTest, StopEndsTheResidentAndLaterOptionsReachNoWindow)
{
    StartResident("2000", "25000", "1");
    EXPECT_EQ(RunTray("-stop -off"), 0);
    EXPECT_EQ(WaitForExit(resident, 10000), 0);
    EXPECT_EQ(FindWindowA(NULL, PK_WINDOW_TITLE), (HWND)NULL);
    EXPECT_EQ(SettingValue(PK_VALUE_SERVICE_STATUS), "1") << "-off must have reached nobody";
}

TEST_F(CommandLineTest, WithoutResidentInstanceOptionsGoNowhereAndBoxesHaveNoOwner)
{
    EXPECT_EQ(RunTray("-on -f 440 -ras"), 0);
    EXPECT_FALSE(ResidentTrayExists()) << "a start with options never becomes resident";
    EXPECT_EQ(SettingValue(PK_VALUE_FREQUENCY), "<missing>");
    EXPECT_TRUE(RecordedTaskCommands().empty());

    std::vector<HWND> owners;
    EXPECT_EQ(RunAnsweringWarnings("-off -F", 1, &owners),
              std::vector<std::string>{"-F is a wrong argument!!!"});
    ASSERT_EQ(owners.size(), 1u);
    EXPECT_EQ(owners[0], (HWND)NULL);
}

TEST_F(CommandLineTest, LongNonAsciiArgumentIsCutOnACharacterBoundary)
{
    // one byte per character in single-byte code pages, two in double-byte
    // ones, where a cut at 31 bytes would split the sixteenth character
    UINT codePage = GetACP();
    bool doubleByte = codePage == 932 || codePage == 936 || codePage == 949 || codePage == 950;
    wchar_t character = doubleByte ? L'\x3042' : L'\xE9';
    size_t kept = doubleByte ? 15 : 31;

    PipedTray tray;
    ASSERT_TRUE(StartPipedTray(std::wstring(40, character), tray));
    HWND box = WaitForMessageBox("Warning");
    ASSERT_NE(box, (HWND)NULL);
    wchar_t text[256] = {};
    EnumChildWindows(
        box,
        [](HWND child, LPARAM found) -> BOOL {
            wchar_t className[16] = {};
            GetClassNameW(child, className, 16);
            if (lstrcmpiW(className, L"Static") != 0 || GetWindowTextLengthW(child) == 0) {
                return TRUE;
            }
            GetWindowTextW(child, (wchar_t *)found, 256);
            return FALSE;
        },
        (LPARAM)text);
    DismissMessageBox(box);
    EXPECT_EQ(WaitForExit(tray.process, 10000), 0);
    ClosePipedTray(tray);
    EXPECT_EQ(std::wstring(text), std::wstring(kept, character) + L" is a wrong argument!!!")
        << "code page " << codePage;
}

// The elevated program inherits ComSpec from the user's own environment; it
// names the recording stand-in here, which must never run.
TEST_F(CommandLineTest, HelpAloneIsPrintedByteForByteAndWaitsForAKeyByItself)
{
    SetEnvironmentVariableA("ComSpec", "C:\\SchTasks.exe");
    std::string expected = ExpectedOptionTable();
    PipedTray tray;
    ASSERT_TRUE(StartPipedTray(L"-?", tray));
    SetEnvironmentVariableA("ComSpec", NULL);
    PrintedWait wait = {tray.output, "", expected.size()};
    WaitUntil(PrintedAtLeast, &wait, 10000);
    EXPECT_EQ(wait.printed.substr(0, expected.size()), expected);

    // the table must stay until a key comes
    const std::string prompt = "Press any key to continue . . . ";
    wait.wanted = expected.size() + prompt.size();
    EXPECT_TRUE(WaitUntil(PrintedAtLeast, &wait, 10000)) << "no pause prompt";
    EXPECT_EQ(wait.printed.substr(expected.size()), prompt);
    EXPECT_EQ(WaitForExit(tray.process, 0), -1) << "ended without waiting for a key";
    DWORD written = 0;
    WriteFile(tray.input, "x", 1, &written, NULL);
    EXPECT_EQ(WaitForExit(tray.process, 10000), 0);
    ClosePipedTray(tray);
    EXPECT_TRUE(RecordedTaskCommands().empty()) << "the program ComSpec names ran";
}

TEST_F(CommandLineTest, HelpAmongOtherOptionsIsIgnoredAndPrintsNothing)
{
    StartResident();
    PipedTray tray;
    ASSERT_TRUE(StartPipedTray(L"-on -?", tray));
    EXPECT_EQ(WaitForExit(tray.process, 10000), 0);
    std::string printed;
    ReadPipeSoFar(tray.output, printed);
    ClosePipedTray(tray);
    EXPECT_EQ(printed, "");
    EXPECT_EQ(SettingValue(PK_VALUE_SERVICE_STATUS), "1");
}
