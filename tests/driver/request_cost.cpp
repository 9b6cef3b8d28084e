// One beep request on the fake kernel, for callgrind: a machine with the
// given number of profiles, the last user logged on. A first request warms
// up (lazy binding, first allocations); the counts are zeroed and only the
// second is measured:
//   valgrind --tool=callgrind --toggle-collect='*ToneDeviceControl*' driver_request_cost 100
#include <valgrind/callgrind.h>

#include <cstdio>
#include <cstdlib>

#include "fake_kernel.h"
#include "pitchkeeper_shared.h"
#include "settings_scene.h"

extern "C" DRIVER_INITIALIZE DriverEntry;

int main(int argc, char** argv)
{
    const long profiles = argc == 2 ? std::atol(argv[1]) : 0;
    if (profiles < 1) {
        std::fprintf(stderr, "usage: driver_request_cost <profiles, 1 or more>\n");
        return 2;
    }
    fake::Reset();
    scene::AddMachine(static_cast<size_t>(profiles));
    NTSTATUS status = STATUS_NOT_IMPLEMENTED;
    PDRIVER_OBJECT driver = fake::LoadDriver(DriverEntry, &status);
    const std::vector<UCHAR> input = fake::BeepInput(0, 0);
    fake::DeviceControl(driver, IOCTL_VELMORABEEP_BEEP, input);
    fake::ClearLogs();
    const fake::RegistryCounters before = fake::Registry();
    CALLGRIND_ZERO_STATS;
    const fake::Completion done = fake::DeviceControl(driver, IOCTL_VELMORABEEP_BEEP, input);
    CALLGRIND_DUMP_STATS_AT("one request");
    fake::UnloadDriver(driver);
    const bool clean = status == STATUS_SUCCESS && done.status == STATUS_SUCCESS && fake::Faults().empty() &&
                       fake::Pool().outstanding == 0 && fake::Registry().openHandles == 0;
    std::printf("%ld profiles: status 0x%08x, %zu key queries, %zu value queries%s\n", profiles,
                static_cast<unsigned>(done.status), fake::Registry().keyQueries - before.keyQueries,
                fake::Registry().valueQueries - before.valueQueries, clean ? "" : ", NOT CLEAN");
    return clean ? 0 : 1;
}
