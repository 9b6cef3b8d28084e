// Touches: contacts on the bench's virtual touch screen, each held until the
// program under test asked for its tone.
#include "pkbench.h"

namespace {
size_t CountBeeps(DWORD processId)
{
    return DebugLineTimes(processId, "Beep").size();
}

// Down, then up once the tone was asked for; false when the down report
// could not be handed over.
bool Touch(DWORD processId, DWORD timeoutMs, Ticks *touched)
{
    size_t before = CountBeeps(processId);
    *touched = Now();
    if (!SendDigitizerReport(TouchDigitizer, TouchReport({{1, true}}, 1))) {
        return false;
    }
    WaitForBeeps(processId, before + 1, timeoutMs);
    return SendDigitizerReport(TouchDigitizer, TouchReport({}, 0));
}
}

std::vector<Ticks> InjectTouches(int count, double rate, DWORD processId)
{
    std::vector<Ticks> touches;
    Ticks period = PeriodOf(rate);
    Ticks start = Now();
    Ticks touched = 0;
    for (int i = 0; i < count; i++) {
        SleepUntil(start + period * i);
        if (!Touch(processId, 1000, &touched)) {
            break;
        }
        touches.push_back(touched);
    }
    return touches;
}

bool TouchAnswered(DWORD processId)
{
    size_t before = CountBeeps(processId);
    Ticks touched = 0;
    return Touch(processId, 2000, &touched) && CountBeeps(processId) > before;
}
