// What the PC speaker would play for a log of port accesses: channel 2 of an
// 8254 in mode 3 (square wave) counting a 1193180 Hz clock, gated by bit 0 of
// port 0x61 and connected to the speaker by bit 1, with every write to the
// delay port 0xED taking 2 microseconds and every other access no time.
#pragma once

#include <string>
#include <vector>

#include "fake_kernel.h"

namespace speaker {

constexpr double kTimerClockHz = 1193180.0;
constexpr double kDelayWriteSeconds = 2e-6;

struct Audio {
    int sampleRate;
    std::vector<int> samples;  // +1 or -1 while the speaker is connected, 0 while it is not
};

Audio Render(const std::vector<fake::PortAccess>& log, int sampleRate);

struct Measurement {
    double pitchHz;          // from the rising edges of the square wave
    double lengthSeconds;    // from the first to the last sounding sample
};

Measurement Measure(const Audio& audio);

bool WriteWav(const std::string& file, const Audio& audio);

}  // namespace speaker
