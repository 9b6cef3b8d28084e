// Touch screens and pens: the real program reads virtual digitizers' reports
// as raw input and sounds when a contact lands, whatever the report style.
#include "pitchkeeper_shared.h"
#include "tray_fixture.h"

// what the system puts in the press it makes from a finger or a pen
static const ULONG_PTR PressFromTouch = 0xFF515780;
static const ULONG_PTR PressFromPen = 0xFF515700;
// in a gesture: the finger stays still and the screen sends nothing
static const std::vector<BYTE> StillFor1500Ms = {};

struct Gesture {
    const char *name;
    DigitizerKind device;
    std::vector<std::vector<BYTE>> reports;
    int tones;
};

static std::vector<BYTE> Down(BYTE id)
{
    return TouchReport({{id, true}}, 1);
}

static std::vector<BYTE> Lift(BYTE id)
{
    return TouchReport({{id, false}}, 1);
}

class TouchTest : public ResidentTrayTest {
protected:
    static void SetUpTestSuite()
    {
        for (DigitizerKind kind : {TouchDigitizer, SerialTouchDigitizer, SingleTouchDigitizer, PenDigitizer}) {
            ASSERT_TRUE(AddVirtualDigitizer(kind)) << kind;
        }
    }

    void StartBeeping()
    {
        WriteAllSettings("440", "25000", "1", "1", "0");
        StartResident();
    }

    static void Send(DigitizerKind device, const std::vector<std::vector<BYTE>> &reports)
    {
        for (const std::vector<BYTE> &report : reports) {
            if (report.empty()) {
                Sleep(1500);
                continue;
            }
            ASSERT_TRUE(SendDigitizerReport(device, report));
        }
    }

    // Whether the reports (and a press right after them) start that many
    // tones: as many are waited for, as a loaded machine delays them, then
    // the time a wrongly started extra one needs to show.
    static ::testing::AssertionResult TonesAre(int expected, DigitizerKind device,
                                               const std::vector<std::vector<BYTE>> &reports,
                                               ULONG_PTR pressRightAfter = 0)
    {
        int before = CountDebugLines("Beep");
        Send(device, reports);
        if (pressRightAfter != 0) {
            InjectMouseButton(MOUSEEVENTF_LEFTDOWN, pressRightAfter);
            InjectMouseButton(MOUSEEVENTF_LEFTUP, pressRightAfter);
        }
        WaitForDebugLines("Beep", before + expected);
        Sleep(400);
        int tones = CountDebugLines("Beep") - before;
        if (tones == expected) {
            return ::testing::AssertionSuccess();
        }
        return ::testing::AssertionFailure() << tones << " tones, expected " << expected;
    }

    static ::testing::AssertionResult PressTonesAre(int expected, ULONG_PTR extraInfo)
    {
        return TonesAre(expected, TouchDigitizer, {}, extraInfo);
    }
};

TEST_F(TouchTest, TapSoundsBeforeItsLift)
{
    StartBeeping();
    Send(TouchDigitizer, {Down(1)});
    EXPECT_TRUE(WaitForDebugLine("Beep")) << "no tone while the finger is down";
    EXPECT_TRUE(TonesAre(0, TouchDigitizer, {Lift(1)}));
}

TEST_F(TouchTest, EachTouchSoundsOnceWhateverItsGestureAndReportStyle)
{
    std::vector<BYTE> bothDown = TouchReport({{1, true}, {2, true}}, 2);
    std::vector<BYTE> palm = TouchReport({{8, true, true}}, 1);
    const Gesture gestures[] = {
        {"press and hold, or a pan", TouchDigitizer, {Down(1), Down(1), Down(1), Lift(1)}, 1},
        {"a still hold that moves after a pause", TouchDigitizer, {Down(1), StillFor1500Ms, Down(1), Lift(1)}, 1},
        {"second finger", TouchDigitizer, {Down(1), bothDown, TouchReport({{1, false}, {2, true}}, 2), Lift(2)}, 1},
        // one frame in two reports: the count comes in the first only
        {"fingers across a frame's reports", TouchDigitizer,
         {Down(1), TouchReport({{2, true}, {3, true}}, 3), TouchReport({{1, true}}, 0), Lift(1)}, 1},
        // some hybrid screens give the count in every report of a frame
        {"a count given again in each report of a frame", TouchDigitizer,
         {TouchReport({{1, true}, {2, true}}, 3), TouchReport({{3, true}}, 3), TouchReport({{1, true}, {2, true}}, 3),
          TouchReport({{3, true}}, 3), TouchReport({{1, false}, {2, false}}, 3), TouchReport({{3, false}}, 3)},
         1},
        {"a frame of two where the first lifted", TouchDigitizer,
         {Down(1), TouchReport({{1, false}, {2, true}}, 2), TouchReport({{2, true}}, 1), Lift(2)}, 1},
        {"two taps", TouchDigitizer, {Down(1), Lift(1), Down(1), Lift(1)}, 2},
        // the lift reports were lost: a frame that no longer lists a contact says it lifted
        {"a contact no longer listed", TouchDigitizer, {Down(4), TouchReport({}, 0), Down(4), Lift(4)}, 2},
        {"a new contact in place of a lost one", TouchDigitizer, {Down(5), Down(6), Lift(6)}, 2},
        // its slots still hold the last contact: a count of 0 outside a frame carries none
        {"a count of 0 after a lift, then a tap", TouchDigitizer,
         {Down(1), Lift(1), TouchReport({{1, true}}, 0), Down(2), Lift(2)}, 2},
        {"a palm", TouchDigitizer, {palm, palm, TouchReport({{8, false, true}}, 1)}, 0},
        {"a finger beside a resting palm", TouchDigitizer,
         {palm, TouchReport({{8, true, true}, {9, true}}, 2), TouchReport({{8, true, true}, {9, false}}, 2),
          TouchReport({{8, false, true}}, 1)},
         1},
        {"two fingers reported alternately", SerialTouchDigitizer,
         {SerialReport({1, true}), SerialReport({2, true}), SerialReport({1, true}), SerialReport({2, true}),
          SerialReport({1, true}), SerialReport({2, true}), SerialReport({1, false}), SerialReport({2, false})},
         1},
        {"a serial tap after a lift that never came", SerialTouchDigitizer,
         {SerialReport({3, true}), StillFor1500Ms, SerialReport({4, true}), SerialReport({4, false})}, 2},
        {"single-touch taps", SingleTouchDigitizer,
         {SingleTouchReport(true), SingleTouchReport(true), SingleTouchReport(false), SingleTouchReport(true),
          SingleTouchReport(false)},
         2},
        {"pen hovering", PenDigitizer, {PenReport(PenHovering), PenReport(PenHovering), PenReport(PenOutOfRange)}, 0},
        {"pen tip", PenDigitizer, {PenReport(PenHovering), PenReport(PenTip), PenReport(PenTip), PenReport(PenHovering)}, 1},
        {"pen eraser", PenDigitizer, {PenReport(PenEraser), PenReport(PenEraser), PenReport(PenOutOfRange)}, 1},
        {"pen tip with the barrel button", PenDigitizer, {PenReport(PenTipWithBarrel), PenReport(PenHovering)}, 1},
    };
    StartBeeping();
    for (const Gesture &gesture : gestures) {
        EXPECT_TRUE(TonesAre(gesture.tones, gesture.device, gesture.reports)) << gesture.name;
    }
}

// The system's press from a contact sounds unless a touch that sounded
// accounts for it: one still down, or lifted just before. Each press is
// made once the landing was read, as the system makes it.
TEST_F(TouchTest, PressFromAContactSoundsUnlessATouchThatSoundedAccountsForIt)
{
    StartBeeping();
    EXPECT_TRUE(PressTonesAre(1, PressFromTouch)) << "nothing decoded yet: the press is the tone";
    ASSERT_TRUE(TonesAre(1, TouchDigitizer, {Down(1)}));
    EXPECT_TRUE(PressTonesAre(0, PressFromTouch)) << "pressed while the finger is down";
    EXPECT_TRUE(TonesAre(0, TouchDigitizer, {Lift(1)}, PressFromTouch)) << "pressed as it lifts";
    EXPECT_TRUE(PressTonesAre(1, PressFromTouch)) << "long after the last lift";
    EXPECT_TRUE(TonesAre(2, TouchDigitizer, {Down(1), Lift(1)}, PressFromPen)) << "no pen touched";
    EXPECT_TRUE(TonesAre(2, TouchDigitizer, {Down(1), Lift(1)}, 0x1)) << "a mouse press";
    ASSERT_TRUE(TonesAre(1, PenDigitizer, {PenReport(PenEraser)}));
    EXPECT_TRUE(TonesAre(0, PenDigitizer, {PenReport(PenHovering)}, PressFromPen)) << "the eraser's press";
    EXPECT_TRUE(TonesAre(1, PenDigitizer, {PenReport(PenOutOfRange)}, PressFromTouch)) << "no finger touched";

    ASSERT_TRUE(RemoveVirtualDigitizer(TouchDigitizer));
    EXPECT_TRUE(PressTonesAre(1, PressFromTouch)) << "after removal the press sounds again";
    ASSERT_TRUE(AddVirtualDigitizer(TouchDigitizer));
    ASSERT_TRUE(TonesAre(1, TouchDigitizer, {Down(1)})) << "an arrival is read";
    EXPECT_TRUE(TonesAre(0, TouchDigitizer, {Lift(1)}, PressFromTouch));
}

TEST_F(TouchTest, NoToneWhileBeepingIsOff)
{
    WriteAllSettings("440", "25000", "1", "0", "0");
    StartResident();
    EXPECT_TRUE(TonesAre(0, TouchDigitizer, {Down(1), Lift(1)}, PressFromTouch));
}

// Reports of the right length and id with content no screen should send.
TEST_F(TouchTest, OddReportsAreHarmlessAndTheNextTouchSounds)
{
    std::vector<BYTE> allOnes = TouchReport({{0xFF, true}, {0xFF, true}}, 0xFF);
    for (size_t index = 1; index < allOnes.size(); ++index) {
        allOnes[index] = 0xFF;
    }
    StartBeeping();
    Send(TouchDigitizer, {allOnes, TouchReport({{7, true}, {7, true}}, 200), allOnes,
                          TouchReport({}, 0xFF), Down(2)});
    Sleep(1100);   // a screen that went quiet with a contact down has lifted
    EXPECT_TRUE(TonesAre(1, TouchDigitizer, {Down(3), Lift(3)}));
    EXPECT_EQ(WaitForExit(resident, 0), -1) << "the program must keep running";
}

TEST_F(TouchTest, ADigitizerWithoutTipSwitchIsNotDecoded)
{
    ASSERT_TRUE(AddVirtualDigitizer(TiplessDigitizer));
    StartBeeping();
    std::vector<BYTE> tipless(6, 0xFF);
    tipless[0] = TiplessDigitizer + 1;
    EXPECT_TRUE(TonesAre(1, TiplessDigitizer, {tipless}, PressFromTouch)) << "the press alone sounds";
}
