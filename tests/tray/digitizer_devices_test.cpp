// The digitizer table: an entry is taken when a device first reports, and
// no device can keep another out for long.
#include "app_state.h"
#include "digitizer_devices.h"
#include "system_call_log.h"

#include <gtest/gtest.h>

class DigitizerTableTest : public ::testing::Test {
protected:
    void SetUp() override { ResetAppState(); }

    // every entry taken by a device that reported that long ago
    static void FillTable(DWORD msAgo)
    {
        for (unsigned number = 0; number < MaxDigitizers; ++number) {
            DigitizerDevice *device = DigitizerForReport(StandInTouchScreen(number));
            ASSERT_NE(device, nullptr);
            device->LastReportTick = GetTickCount() - msAgo;
            device->Counts.Reports = 1;
        }
    }
};

TEST_F(DigitizerTableTest, AFullTableOfBusyDevicesRefusesANewOneUntilOneIsIdle)
{
    FillTable(0);
    EXPECT_EQ(DigitizerForReport(StandInTouchScreen(100)), nullptr) << "every entry in use";
    AppState.Digitizers[3].LastReportTick = GetTickCount() - 60000;
    DigitizerDevice *taken = DigitizerForReport(StandInTouchScreen(100));
    ASSERT_EQ(taken, &AppState.Digitizers[3]) << "the idle one gives way";
    EXPECT_STREQ(taken->Name, "\\\\?\\HID#StandIn#100");
    EXPECT_EQ(taken->Counts.Reports, 0);
}

TEST_F(DigitizerTableTest, ADeviceThatComesBackKeepsItsCountsAndAGoneOnesEntryIsFree)
{
    FillTable(0);
    ForgetDigitizer(StandInTouchScreen(5));
    ForgetDigitizer(StandInTouchScreen(6));
    EXPECT_STREQ(AppState.Digitizers[5].Name, "\\\\?\\HID#StandIn#5") << "kept for the status report";
    // a device comes back under a new handle but the same name: its own entry
    DigitizerDevice *back = DigitizerForReport(StandInTouchScreen(5));
    ASSERT_EQ(back, &AppState.Digitizers[5]);
    EXPECT_EQ(back->Counts.Reports, 1);
    DigitizerDevice *other = DigitizerForReport(StandInTouchScreen(200));
    ASSERT_EQ(other, &AppState.Digitizers[6]);
    EXPECT_EQ(other->Counts.Reports, 0);
}
