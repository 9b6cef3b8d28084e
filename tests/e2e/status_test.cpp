// -status: the resident's own account of what it heard, printed as text and
// as JSON by a second start, and the buzzer's fall back to the speaker.
#include "pitchkeeper_shared.h"
#include "tray_fixture.h"

static const std::string InfPath = PK_INF_PATH;
static const std::string SetAsideInfPath = InfPath + ".aside";

struct Expected {
    const char *member;
    const JsonValue &value;
    const char *shown;
};

class StatusTest : public ResidentTrayTest {
protected:
    static void SetUpTestSuite() { ASSERT_TRUE(AddVirtualDigitizer(TouchDigitizer)); }

    void TearDown() override
    {
        ResidentTrayTest::TearDown();
        MoveFileA(SetAsideInfPath.c_str(), InfPath.c_str());
    }

    static JsonValue StatusJson()
    {
        std::string printed;
        EXPECT_EQ(RunTrayForOutput("-status json", printed), 0) << printed;
        JsonValue status;
        EXPECT_TRUE(ParseJson(printed, status)) << printed;
        return status;
    }

    static void ExpectMembers(std::initializer_list<Expected> rows)
    {
        for (const Expected &row : rows) {
            EXPECT_EQ(row.value.Show(), row.shown) << row.member;
        }
    }

    static bool WaitForBeeps(int count)
    {
        return WaitUntil([](void *wanted) { return CountDebugLines("Beep") >= *(int *)wanted; },
                         &count, 5000);
    }
};

TEST_F(StatusTest, OneTapAndOnePressShowInEveryFigure)
{
    WriteAllSettings("440", "25000", "1", "1", "0");
    StartResident();
    ASSERT_TRUE(SendDigitizerReport(TouchDigitizer, TouchReport({{1, true}}, 1)));
    ASSERT_TRUE(SendDigitizerReport(TouchDigitizer, TouchReport({{1, false}}, 1)));
    ASSERT_TRUE(WaitForBeeps(1));
    InjectLeftClick();
    ASSERT_TRUE(WaitForBeeps(2));

    JsonValue status = StatusJson();
    const JsonValue &screen = status["digitizers"].Item(0);
    const JsonValue &latency = status["latencyMs"];
    ExpectMembers({
        {"running", status["running"], "true"},
        {"beeping", status["beeping"], "true"},
        {"output", status["output"], "\"speaker\""},
        {"buzzerAvailable", status["buzzerAvailable"], "null"},
        {"fallback", status["fallback"], "null"},
        {"driver", status["driver"], "\"not installed\""},
        {"hook.set", status["hook"]["set"], "true"},
        {"presses", status["presses"], "1"},
        {"tones", status["tones"], "2"},
        {"dropped", status["dropped"], "0"},
        {"failed", status["failed"], "0"},
        {"digitizers", status["digitizers"], "array of 1"},
        {"kind", screen["kind"], "\"touch\""},
        {"style", screen["style"], "\"parallel\""},
        {"reports", screen["reports"], "2"},
        {"touches", screen["touches"], "1"},
        {"passedOver", screen["passedOver"], "0"},
        {"soundedAtLift", screen["soundedAtLift"], "0"},
    });
    for (const char *source : {"contact", "press"}) {
        for (const char *figure : {"last", "median"}) {
            EXPECT_EQ(latency[source][figure].kind, JsonValue::Number) << source << " " << figure;
        }
    }
    EXPECT_NE(screen["name"].text, "") << "the device's name";

    std::string printed;
    EXPECT_EQ(RunTrayForOutput("-status", printed), 0);
    for (const char *line : {"Tone:        on, output speaker\r\n",
                             "Mouse hook:  set; set again ",
                             "Presses:     1 left presses heard\r\n",
                             "Tones:       2 started, 0 dropped at the worker cap, 0 failed",
                             "Digitizers:  1 seen\r\n",
                             "  touch, parallel style: 2 reports, 1 touches sounded, 0 presses "
                             "passed over, 0 sounded at lift\r\n"}) {
        EXPECT_NE(printed.find(line), std::string::npos) << line << "\nin:\n" << printed;
    }
    EXPECT_EQ(WaitForExit(resident, 0), -1) << "asking changes nothing";
}

TEST_F(StatusTest, WithoutResidentItSaysSoAndOtherFormatsAreRefused)
{
    const struct {
        const char *arguments;
        int exitCode;
        const char *printed;
    } runs[] = {
        {"-status", 1, "Pitchkeeper is not running.\r\n"},
        {"-status json", 1, "{\"running\": false}\r\n"},
        {"-status xml", 2, "Usage: Pitchkeeper_x64.exe -status [json]\r\n"},
        {"-status json -on", 2, "Usage: Pitchkeeper_x64.exe -status [json]\r\n"},
    };
    for (const auto &run : runs) {
        std::string printed;
        EXPECT_EQ(RunTrayForOutput(run.arguments, printed), run.exitCode) << run.arguments;
        EXPECT_EQ(printed, run.printed) << run.arguments;
    }
    EXPECT_FALSE(ResidentTrayExists());
}

// Start-up's install error box waits for a person; the hook is already set,
// and with no driver the buzzer's tones go through the speaker.
TEST_F(StatusTest, BuzzerWithoutDriverSoundsThroughTheSpeakerWhileStartUpWaits)
{
    ASSERT_TRUE(MoveFileA(InfPath.c_str(), SetAsideInfPath.c_str()));
    WriteAllSettings("440", "25000", "0", "1", "0");
    resident = StartTray("");
    HWND box = WaitForMessageBox("Error");
    ASSERT_NE(box, (HWND)NULL);

    InjectLeftClick();
    EXPECT_TRUE(WaitForBeeps(1)) << "a press while the box waits";
    JsonValue status = StatusJson();
    ExpectMembers({
        {"output", status["output"], "\"buzzer\""},
        {"buzzerAvailable", status["buzzerAvailable"], "false"},
        {"fallback", status["fallback"], "\"speaker\""},
        {"driver", status["driver"], "\"not installed\""},
        {"hook.set", status["hook"]["set"], "true"},
        {"presses", status["presses"], "1"},
        {"tones", status["tones"], "1"},
        {"failed", status["failed"], "0"},
    });
    DismissMessageBox(box);

    // told once, however many tones meet the missing driver
    InjectLeftClick();
    EXPECT_TRUE(WaitForBeeps(2));
    std::string notice = "Its driver's device cannot be opened (error " +
                         status["buzzerError"].Show() +
                         "), so tones go through the speaker. README, \"Checking a machine\", "
                         "says why and what to do.";
    EXPECT_EQ(CountDebugLines(notice), 1);
    std::string printed;
    EXPECT_EQ(RunTrayForOutput("-status", printed), 0);
    EXPECT_NE(printed.find("Buzzer:      cannot be opened (error " + status["buzzerError"].Show() +
                           "): tones go through the speaker\r\n"),
              std::string::npos)
        << printed;
}
