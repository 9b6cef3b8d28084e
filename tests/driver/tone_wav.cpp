// Writes what the speaker would play for one tone to a .wav file:
//   tone_wav FREQUENCY COUNT OUT.wav
// FREQUENCY in Hz and COUNT in delay writes (2 us each), as the driver gets them.
#include <cstdio>
#include <cstdlib>

#include "fake_kernel.h"
#include "speaker_model.h"
#include "tone.h"

int main(int argc, char** argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s FREQUENCY COUNT OUT.wav\n", argv[0]);
        return 2;
    }
    fake::Reset();
    SoundTone(static_cast<ULONG>(std::strtoul(argv[1], nullptr, 10)),
              static_cast<ULONG>(std::strtoul(argv[2], nullptr, 10)));
    const speaker::Audio audio = speaker::Render(fake::PortLog(), 48000);
    const speaker::Measurement heard = speaker::Measure(audio);
    std::printf("%s: %.1f Hz for %.1f ms\n", argv[3], heard.pitchHz, heard.lengthSeconds * 1000);
    return speaker::WriteWav(argv[3], audio) ? 0 : 1;
}
