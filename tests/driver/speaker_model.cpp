#include "speaker_model.h"

#include <algorithm>
#include <cstdint>
#include <fstream>

namespace speaker {
namespace {

struct Channel2 {
    bool gate = false;       // port 0x61 bit 0
    bool connected = false;  // port 0x61 bit 1
    bool counting = false;   // a full divisor has been loaded since the last mode write
    bool lowByteNext = true;
    bool squareWave = false;  // binary mode 3, low byte then high byte
    unsigned low = 0;
    unsigned divisor = 65536;
    uint64_t startWrites = 0;  // delay writes before counting (re)started
};

struct Event {
    uint64_t atWrites;  // time, in delay writes
    Channel2 state;
};

double Seconds(uint64_t writes)
{
    return static_cast<double>(writes) * kDelayWriteSeconds;
}

// mode 3: high for the first half of each period (the longer half when odd), low for the rest;
// the output stays high while the gate is low or no count has been loaded
int Output(const Channel2& c, double time)
{
    if (!c.connected) {
        return 0;
    }
    if (!c.gate || !c.counting || !c.squareWave) {
        return 1;
    }
    const auto ticks = static_cast<uint64_t>((time - Seconds(c.startWrites)) * kTimerClockHz);
    return ticks % c.divisor < (c.divisor + 1) / 2 ? 1 : -1;
}

std::vector<Event> Replay(const std::vector<fake::PortAccess>& log)
{
    std::vector<Event> events{Event{0, Channel2{}}};
    Channel2 c;
    uint64_t writes = 0;
    for (const fake::PortAccess& access : log) {
        if (!access.write) {
            continue;
        }
        if (access.port == 0xED) {
            ++writes;
            continue;
        }
        if (access.port == 0x61) {
            const bool gate = access.value & 1;
            if (gate && !c.gate) {
                c.startWrites = writes;  // a rising gate restarts the count
            }
            c.gate = gate;
            c.connected = access.value & 2;
        } else if (access.port == 0x43 && (access.value & 0xC0) == 0x80) {
            c.counting = false;
            c.lowByteNext = true;
            c.squareWave = (access.value & 0x3F) == 0x36;
        } else if (access.port == 0x42 && c.lowByteNext) {
            c.low = access.value;
            c.lowByteNext = false;
        } else if (access.port == 0x42) {
            const unsigned divisor = c.low | access.value << 8;
            c.divisor = divisor == 0 ? 65536 : divisor;
            c.counting = true;
            c.lowByteNext = true;
            c.startWrites = writes;
        } else {
            continue;
        }
        events.push_back(Event{writes, c});
    }
    events.push_back(Event{writes, c});
    return events;
}

}  // namespace

Audio Render(const std::vector<fake::PortAccess>& log, int sampleRate)
{
    const std::vector<Event> events = Replay(log);
    Audio audio{sampleRate, {}};
    const double end = Seconds(events.back().atWrites);
    size_t current = 0;
    for (int64_t i = 0; static_cast<double>(i) / sampleRate < end; ++i) {
        const double time = static_cast<double>(i) / sampleRate;
        // the state in force is the last one set at or before this moment
        while (current + 1 < events.size() && Seconds(events[current + 1].atWrites) <= time) {
            ++current;
        }
        audio.samples.push_back(Output(events[current].state, time));
    }
    return audio;
}

Measurement Measure(const Audio& audio)
{
    std::vector<size_t> risingEdges;
    size_t first = audio.samples.size(), last = 0;
    for (size_t i = 0; i < audio.samples.size(); ++i) {
        if (audio.samples[i] != 0) {
            first = std::min(first, i);
            last = i;
        }
        if (i > 0 && audio.samples[i - 1] == -1 && audio.samples[i] == 1) {
            risingEdges.push_back(i);
        }
    }
    Measurement m{0.0, 0.0};
    if (first <= last) {
        m.lengthSeconds = static_cast<double>(last - first + 1) / audio.sampleRate;
    }
    if (risingEdges.size() >= 2) {
        const double span = static_cast<double>(risingEdges.back() - risingEdges.front()) / audio.sampleRate;
        m.pitchHz = static_cast<double>(risingEdges.size() - 1) / span;
    }
    return m;
}

bool WriteWav(const std::string& file, const Audio& audio)
{
    std::ofstream out(file, std::ios::binary);
    auto put32 = [&out](uint32_t v) { out.write(reinterpret_cast<const char*>(&v), 4); };
    auto put16 = [&out](uint16_t v) { out.write(reinterpret_cast<const char*>(&v), 2); };
    const auto dataBytes = static_cast<uint32_t>(audio.samples.size() * 2);
    out.write("RIFF", 4);
    put32(36 + dataBytes);
    out.write("WAVEfmt ", 8);
    put32(16);
    put16(1);  // PCM
    put16(1);  // mono
    put32(static_cast<uint32_t>(audio.sampleRate));
    put32(static_cast<uint32_t>(audio.sampleRate) * 2);
    put16(2);
    put16(16);
    out.write("data", 4);
    put32(dataBytes);
    for (int sample : audio.samples) {
        put16(static_cast<uint16_t>(static_cast<int16_t>(sample * 8000)));
    }
    return static_cast<bool>(out);
}

}  // namespace speaker
