// Fixtures and helpers shared by the driver's host tests.
#pragma once

#include <gtest/gtest.h>

#include <ostream>

#include "fake_kernel.h"
#include "tone.h"

extern "C" DRIVER_INITIALIZE DriverEntry;

namespace fake {
inline void PrintTo(const PortAccess& access, std::ostream* out)
{
    *out << (access.write ? "out " : "in ") << std::hex << "0x" << access.port << "=0x" << unsigned(access.value)
         << std::dec;
}
}  // namespace fake

// Every test starts on an empty fake kernel and must end with no misuse of a
// kernel routine recorded, no pool block and no key or object handle left
// behind.
class KernelTest : public ::testing::Test {
protected:
    void SetUp() override { fake::Reset(); }
    void TearDown() override
    {
        EXPECT_EQ(fake::Faults(), std::vector<std::string>{});
        EXPECT_EQ(fake::Pool().outstanding, 0u);
        EXPECT_EQ(fake::Registry().openHandles, 0u);
        EXPECT_EQ(fake::OpenObjectHandles(), 0u);
    }
};

// The driver loaded, its device created; the load's own output cleared.
class LoadedDriverTest : public KernelTest {
protected:
    void SetUp() override
    {
        KernelTest::SetUp();
        NTSTATUS status = STATUS_NOT_IMPLEMENTED;
        driver = fake::LoadDriver(DriverEntry, &status);
        ASSERT_EQ(status, STATUS_SUCCESS);
        extension = static_cast<ToneDeviceExtension*>(driver->DeviceObject->DeviceExtension);
        fake::ClearLogs();
    }
    PDRIVER_OBJECT driver = nullptr;
    ToneDeviceExtension* extension = nullptr;
};

inline fake::PortAccess In(USHORT port, UCHAR value) { return fake::PortAccess{port, value, false}; }
inline fake::PortAccess Out(USHORT port, UCHAR value) { return fake::PortAccess{port, value, true}; }

// what one tone does to the ports, with port B reading portB at the start
inline std::vector<fake::PortAccess> ExpectedTone(UCHAR portB, UCHAR low, UCHAR high, ULONG count)
{
    const UCHAR on = static_cast<UCHAR>(portB | 0x03);
    std::vector<fake::PortAccess> log{In(0x61, portB), Out(0x61, on), Out(0x43, 0xB6), Out(0x42, low),
                                      Out(0x42, high)};
    log.insert(log.end(), count, Out(0xED, 0));
    log.push_back(In(0x61, on));
    log.push_back(Out(0x61, static_cast<UCHAR>(on & 0xFC)));
    return log;
}

inline size_t CountWrites(USHORT port)
{
    size_t count = 0;
    for (const auto& access : fake::PortLog()) {
        count += access.write && access.port == port;
    }
    return count;
}

inline std::vector<UCHAR> WritesTo(USHORT port)
{
    std::vector<UCHAR> values;
    for (const auto& access : fake::PortLog()) {
        if (access.write && access.port == port) {
            values.push_back(access.value);
        }
    }
    return values;
}
