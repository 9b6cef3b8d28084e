// What the hardware would play: tones rendered through the 8254 model and
// measured as a listener would, against 1193180 / divisor and count x 2 us.
#include <cmath>

#include "driver_test_support.h"
#include "speaker_model.h"

namespace {

constexpr int kSampleRate = 192000;

class HeardToneTest : public KernelTest, public ::testing::WithParamInterface<ULONG> {};

TEST_P(HeardToneTest, PitchAndLengthAreWhatTheCountsSay)
{
    const ULONG frequency = GetParam();
    const ULONG count = 50000;  // 100 ms, as the tray program stores it
    SoundTone(frequency, count);
    const speaker::Measurement heard = speaker::Measure(speaker::Render(fake::PortLog(), kSampleRate));

    const double expectedPitch = speaker::kTimerClockHz / (1193180 / frequency);
    EXPECT_NEAR(heard.pitchHz, expectedPitch, expectedPitch * 0.005);
    EXPECT_NEAR(heard.lengthSeconds, count * speaker::kDelayWriteSeconds, 2.0 / kSampleRate);
}

INSTANTIATE_TEST_SUITE_P(Frequencies, HeardToneTest, ::testing::Values(440u, 1000u, 2000u, 10000u));

// below 19 Hz only the low 16 bits of the divisor reach the counter
TEST_F(KernelTest, EighteenHertzIsHeardAsTheTruncatedDivisor)
{
    SoundTone(18, 50000);
    const speaker::Measurement heard = speaker::Measure(speaker::Render(fake::PortLog(), kSampleRate));
    const double truncated = speaker::kTimerClockHz / (66287 & 0xFFFF);
    EXPECT_NEAR(heard.pitchHz, truncated, truncated * 0.005);
}

// the model itself: a speaker that is never connected is silent, and a tone
// whose mode byte is not the square wave has no pitch
TEST_F(KernelTest, ModelOnlySoundsAConnectedSquareWave)
{
    std::vector<fake::PortAccess> log{Out(0x43, 0xB6), Out(0x42, 0xA9), Out(0x42, 0x04)};
    log.insert(log.end(), 1000, Out(0xED, 0));
    EXPECT_EQ(speaker::Measure(speaker::Render(log, kSampleRate)).lengthSeconds, 0.0);

    log.insert(log.begin(), Out(0x61, 0x03));
    log[1] = Out(0x43, 0xB0);  // mode 0, not a square wave
    EXPECT_EQ(speaker::Measure(speaker::Render(log, kSampleRate)).pitchHz, 0.0);
}

}  // namespace
