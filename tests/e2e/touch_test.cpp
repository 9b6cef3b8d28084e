// Touch screens and pens: the real program reads a virtual digitizer's
// reports as raw input and sounds when a contact lands.
#include "pitchkeeper_shared.h"
#include "tray_fixture.h"

// what the system puts in the press it makes from a finger or a pen
static const ULONG_PTR PressFromTouch = 0xFF515780;
static const ULONG_PTR PressFromPen = 0xFF515700;

struct Gesture {
    const char *name;
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
    static void SetUpTestSuite() { ASSERT_TRUE(AddVirtualDigitizer(TouchDigitizer)); }

    void StartBeeping()
    {
        WriteAllSettings("440", "25000", "1", "1", "0");
        StartResident();
    }

    static void Send(DigitizerKind device, const std::vector<std::vector<BYTE>> &reports)
    {
        for (const std::vector<BYTE> &report : reports) {
            ASSERT_TRUE(SendDigitizerReport(device, report));
        }
    }

    // the tones started in the time a wrongly started extra one needs to show
    static int TonesAfter(DigitizerKind device, const std::vector<std::vector<BYTE>> &reports)
    {
        int before = CountDebugLines("Beep");
        Send(device, reports);
        Sleep(400);
        return CountDebugLines("Beep") - before;
    }

    static int TonesAfterPress(ULONG_PTR extraInfo)
    {
        int before = CountDebugLines("Beep");
        InjectMouseButton(MOUSEEVENTF_LEFTDOWN, extraInfo);
        InjectMouseButton(MOUSEEVENTF_LEFTUP, extraInfo);
        Sleep(400);
        return CountDebugLines("Beep") - before;
    }
};

TEST_F(TouchTest, TapSoundsBeforeItsLift)
{
    StartBeeping();
    Send(TouchDigitizer, {Down(1)});
    EXPECT_TRUE(WaitForDebugLine("Beep")) << "no tone while the finger is down";
    EXPECT_EQ(TonesAfter(TouchDigitizer, {Lift(1)}), 0);
}

TEST_F(TouchTest, EachTouchSoundsOnceWhateverItsGesture)
{
    std::vector<BYTE> bothDown = TouchReport({{1, true}, {2, true}}, 2);
    const Gesture gestures[] = {
        {"press and hold, or a pan", {Down(1), Down(1), Down(1), Lift(1)}, 1},
        {"second finger", {Down(1), bothDown, TouchReport({{1, false}, {2, true}}, 2), Lift(2)}, 1},
        // one frame in two reports: the count comes in the first only
        {"fingers across a frame's reports",
         {Down(1), TouchReport({{2, true}, {3, true}}, 3), TouchReport({{1, true}}, 0), Lift(1)}, 1},
        {"a frame of two where the first lifted",
         {Down(1), TouchReport({{1, false}, {2, true}}, 2), TouchReport({{2, true}}, 1), Lift(2)}, 1},
        {"two taps", {Down(1), Lift(1), Down(1), Lift(1)}, 2},
        // the lift reports were lost: a frame that no longer lists a contact says it lifted
        {"a contact no longer listed", {Down(4), TouchReport({}, 0), Down(4), Lift(4)}, 2},
        {"a new contact in place of a lost one", {Down(5), Down(6), Lift(6)}, 2},
    };
    StartBeeping();
    for (const Gesture &gesture : gestures) {
        EXPECT_EQ(TonesAfter(TouchDigitizer, gesture.reports), gesture.tones) << gesture.name;
    }
}

TEST_F(TouchTest, PromotedPressSoundsOnlyWhileNoTouchScreenIsDecoded)
{
    StartBeeping();
    EXPECT_EQ(TonesAfterPress(PressFromTouch), 1) << "nothing decoded yet: the press is the tone";
    ASSERT_EQ(TonesAfter(TouchDigitizer, {Down(1), Lift(1)}), 1);
    EXPECT_EQ(TonesAfterPress(PressFromTouch), 0) << "the touch has sounded already";
    EXPECT_EQ(TonesAfterPress(PressFromPen), 1) << "no pen is decoded";
    EXPECT_EQ(TonesAfterPress(0), 1) << "a mouse press";

    ASSERT_TRUE(RemoveVirtualDigitizer(TouchDigitizer));
    EXPECT_EQ(TonesAfterPress(PressFromTouch), 1) << "after removal the press sounds again";
    ASSERT_TRUE(AddVirtualDigitizer(TouchDigitizer));
    ASSERT_EQ(TonesAfter(TouchDigitizer, {Down(1), Lift(1)}), 1) << "an arrival is read";
    EXPECT_EQ(TonesAfterPress(PressFromTouch), 0);
}

TEST_F(TouchTest, NoToneWhileBeepingIsOff)
{
    WriteAllSettings("440", "25000", "1", "0", "0");
    StartResident();
    EXPECT_EQ(TonesAfter(TouchDigitizer, {Down(1), Lift(1)}), 0);
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
    EXPECT_EQ(TonesAfter(TouchDigitizer, {Down(2), Lift(2)}), 1);
    EXPECT_EQ(WaitForExit(resident, 0), -1) << "the program must keep running";
}

TEST_F(TouchTest, PenSoundsAtTipDownAndADigitizerWithoutTipSwitchIsNotDecoded)
{
    ASSERT_TRUE(AddVirtualDigitizer(PenDigitizer));
    ASSERT_TRUE(AddVirtualDigitizer(TiplessDigitizer));
    StartBeeping();
    EXPECT_EQ(TonesAfter(PenDigitizer, {PenReport(false), PenReport(true), PenReport(true),
                                        PenReport(false), PenReport(true), PenReport(false)}),
              2);
    EXPECT_EQ(TonesAfterPress(PressFromPen), 0) << "the pen's contact has sounded";
    EXPECT_EQ(TonesAfterPress(PressFromTouch), 1) << "no touch screen decoded in this run";

    std::vector<BYTE> tipless(6, 0xFF);
    tipless[0] = 3;
    EXPECT_EQ(TonesAfter(TiplessDigitizer, {tipless}), 0);
    EXPECT_EQ(TonesAfterPress(PressFromTouch), 1);
}
