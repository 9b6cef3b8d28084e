// Tone generation and the stop timer, driven directly.
#include "driver_test_support.h"

namespace {

class ToneTest : public KernelTest {
protected:
    void SetUp() override
    {
        KernelTest::SetUp();
        InitToneState(&extension);
    }
    ToneDeviceExtension extension;
};

struct DivisorCase {
    ULONG frequency;
    UCHAR low;
    UCHAR high;
    const char* msb;  // the high part as printed, decimal then hex
    const char* msbHex;
};

class DivisorTest : public ToneTest, public ::testing::WithParamInterface<DivisorCase> {};

// the whole port sequence of a tone, and the divisor bytes as printed
TEST_P(DivisorTest, LoadsChannel2WithClockOverFrequency)
{
    const DivisorCase& c = GetParam();
    SoundTone(c.frequency, 3);
    EXPECT_EQ(fake::PortLog(), ExpectedTone(0x30, c.low, c.high, 3));
    const auto& lines = fake::DebugLines();
    ASSERT_GE(lines.size(), 4u);
    const size_t first = lines.size() - 4;
    EXPECT_EQ(lines[first], std::string("TONEKD:integer decimal MSB is :") + c.msb + " \n");
    EXPECT_EQ(lines[first + 1], std::string("TONEKD:integer hex MSB is :") + c.msbHex + " \n");
    EXPECT_EQ(lines[first + 2], "TONEKD:integer decimal LSB is :" + std::to_string(c.low) + " \n");
}

INSTANTIATE_TEST_SUITE_P(Frequencies, DivisorTest,
                         ::testing::Values(DivisorCase{1000, 0xA9, 0x04, "4", "4"},
                                           DivisorCase{0, 0x4D, 0x17, "23", "17"},  // fallback 200 Hz
                                           DivisorCase{10000, 0x77, 0x00, "0", "0"},
                                           // 66287 needs 17 bits: the high part prints whole, only 8 bits go out
                                           DivisorCase{18, 0xEF, 0x02, "258", "102"}));

TEST_F(ToneTest, ZeroFrequencyAndDurationFallBackWithTheirMessages)
{
    SoundTone(0, 0);
    EXPECT_EQ(CountWrites(0xED), 1u);
    const std::vector<std::string> fallbacks(fake::DebugLines().begin(), fake::DebugLines().begin() + 4);
    EXPECT_EQ(fallbacks, (std::vector<std::string>{"!!!!!!!!!!!!!!!TONEKD:get zero divider on frequency \n",
                                                    "!!!!!!!!!!!!!!!TONEKD:resume frequency to 200 \n",
                                                    "!!!!!!!!!!!!!!!TONEKD:get zero divider on duration \n",
                                                    "!!!!!!!!!!!!!!!TONEKD:resume duration to 1 \n"}));
}

TEST_F(ToneTest, DurationIsTheNumberOfDelayWrites)
{
    SoundTone(440, 50000);
    EXPECT_EQ(CountWrites(0xED), 50000u);
    EXPECT_EQ(fake::DebugLines().size(), 4u);  // no fallback messages
}

// the count is text the user can write: up to the tray program's longest
// stored tone (19,999 ms x 500) it is kept, above that it is cut to it
TEST_F(ToneTest, CountAboveTheLongestStoredToneIsCutToIt)
{
    for (ULONG duration : {9999501u, 0x7FFFFFFFu}) {
        fake::ClearLogs();
        SoundTone(440, duration);
        EXPECT_EQ(CountWrites(0xED), 9999500u) << duration;
    }
}

// 2^31 and more is what a negative text such as -1 converts to: no length
// at all, so the fallback count, without the zero duration's messages
TEST_F(ToneTest, CountOf2To31OrMoreGetsTheFallbackCount)
{
    for (ULONG duration : {0x80000000u, 0xFFFFFFFFu}) {
        fake::ClearLogs();
        SoundTone(440, duration);
        EXPECT_EQ(CountWrites(0xED), 1u) << duration;
        EXPECT_EQ(fake::DebugLines().size(), 4u) << duration;
    }
}

// bits 0 and 1 end clear; the other six are written back exactly as read
TEST_F(ToneTest, LeavesTheOtherBitsOfPortBAsFound)
{
    for (UCHAR before : {UCHAR{0x00}, UCHAR{0xFC}, UCHAR{0x5F}, UCHAR{0xA2}}) {
        fake::SetPort(0x61, before);
        fake::ClearLogs();
        SoundTone(1000, 2);
        EXPECT_EQ(WritesTo(0x61), (std::vector<UCHAR>{UCHAR(before | 3), UCHAR(before & 0xFC)})) << int(before);
    }
}

TEST_F(ToneTest, PositiveDurationArmsTheStopTimer)
{
    ArmToneTimer(&extension, 500);
    EXPECT_TRUE(fake::TimerIsSet(&extension.Timer));
    EXPECT_EQ(fake::LastDueTime(&extension.Timer), -5000000);  // 500 ms, relative
    EXPECT_EQ(extension.TimerArmed, 1);
    EXPECT_TRUE(fake::PortLog().empty());
}

TEST_F(ToneTest, DurationThatIsNotPositiveAsSignedArmsNothing)
{
    for (ULONG duration : {0u, 0x80000000u, 0xFFFFFFFFu}) {
        ArmToneTimer(&extension, duration);
        EXPECT_FALSE(fake::TimerIsSet(&extension.Timer)) << duration;
        EXPECT_EQ(extension.TimerArmed, 0) << duration;
    }
}

TEST_F(ToneTest, ExpiredTimerRunsTheInaudibleStopSequence)
{
    fake::SetPort(0x61, 0x20);
    ArmToneTimer(&extension, 500);
    fake::AdvanceTimeMs(499);
    EXPECT_EQ(fake::QueuedDpcs(), 0u);
    fake::AdvanceTimeMs(1);
    ASSERT_EQ(fake::RunQueuedDpcs(), 1u);

    std::vector<fake::PortAccess> expected{Out(0x80, 0x66), In(0x61, 0x20), Out(0x61, 0x23), Out(0x43, 0xB6),
                                           Out(0x42, 0x3A), Out(0x42, 0x00)};
    expected.insert(expected.end(), 131070, Out(0xED, 0));
    EXPECT_EQ(fake::PortLog(), expected);
    EXPECT_EQ(fake::DebugLines(), std::vector<std::string>{"DPC routine.\n"});
    EXPECT_EQ(extension.TimerArmed, 0);
}

TEST_F(ToneTest, CloseCancelsAnArmedTimerAndSwitchesTheSpeakerOff)
{
    ArmToneTimer(&extension, 500);
    fake::SetPort(0x61, 0x33);
    StopToneOnClose(&extension);
    EXPECT_EQ(extension.TimerArmed, 0);
    EXPECT_FALSE(fake::TimerIsSet(&extension.Timer));
    fake::AdvanceTimeMs(1000);
    EXPECT_EQ(fake::RunQueuedDpcs(), 0u);
    EXPECT_EQ(fake::PortLog(), (std::vector<fake::PortAccess>{In(0x61, 0x33), Out(0x61, 0x30)}));
}

// the timer has fired but its routine has not run yet: the close waits for it,
// so the speaker is off afterwards and not switched on again behind the close
TEST_F(ToneTest, CloseAfterTheTimerFiredWaitsForTheRoutineThenSwitchesOff)
{
    ArmToneTimer(&extension, 10);
    fake::AdvanceTimeMs(10);
    ASSERT_EQ(fake::QueuedDpcs(), 1u);
    StopToneOnClose(&extension);
    EXPECT_EQ(fake::QueuedDpcs(), 0u);
    EXPECT_EQ(fake::DebugLines(), std::vector<std::string>{"DPC routine.\n"});
    EXPECT_EQ(fake::PortLog().back(), Out(0x61, 0x30));
    EXPECT_EQ(extension.TimerArmed, 0);
}

// a routine queued again while an earlier run of it was running is left
// with TimerArmed 0 when that run ends: the close waits for it all the same
TEST_F(ToneTest, CloseWaitsForAQueuedRoutineWhateverTimerArmedSays)
{
    ArmToneTimer(&extension, 10);
    fake::AdvanceTimeMs(10);
    extension.TimerArmed = 0;
    StopToneOnClose(&extension);
    EXPECT_EQ(fake::QueuedDpcs(), 0u);
    EXPECT_EQ(fake::DebugLines(), std::vector<std::string>{"DPC routine.\n"});
    EXPECT_EQ(fake::PortLog().back(), Out(0x61, 0x30));
}

TEST_F(ToneTest, CloseAfterTheRoutineRanOnlySwitchesOff)
{
    ArmToneTimer(&extension, 10);
    fake::AdvanceTimeMs(10);
    fake::RunQueuedDpcs();
    fake::ClearLogs();
    StopToneOnClose(&extension);
    EXPECT_EQ(fake::PortLog(), (std::vector<fake::PortAccess>{In(0x61, 0x33), Out(0x61, 0x30)}));
}

}  // namespace
