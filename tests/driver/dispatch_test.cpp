// Driver entry, the device, the dispatch routines and unload, through the
// fake I/O manager.
#include <ntifs.h>

#include "driver_test_support.h"
#include "settings_scene.h"

namespace {

constexpr ULONG kBeep = 0x10000;

TEST_F(KernelTest, DriverEntryCreatesTheOneDeviceAndRegistersItsRoutines)
{
    NTSTATUS status = STATUS_NOT_IMPLEMENTED;
    PDRIVER_OBJECT driver = fake::LoadDriver(DriverEntry, &status);
    ASSERT_EQ(status, STATUS_SUCCESS);
    const auto devices = fake::Devices();
    ASSERT_EQ(devices.size(), 1u);
    EXPECT_EQ(devices[0].name, "\\Device\\VELMORABeep");
    EXPECT_EQ(devices[0].type, 1u);
    EXPECT_EQ(devices[0].characteristics, static_cast<ULONG>(FILE_DEVICE_SECURE_OPEN));
    EXPECT_FALSE(devices[0].exclusive);
    EXPECT_EQ(devices[0].extensionSize, sizeof(ToneDeviceExtension));
    EXPECT_EQ(static_cast<ToneDeviceExtension*>(driver->DeviceObject->DeviceExtension)->TimerArmed, 0);
    EXPECT_EQ(fake::DebugLines(),
              std::vector<std::string>{"*******************TONEKD loaded ********************"});
    EXPECT_TRUE(fake::PortLog().empty());
    fake::UnloadDriver(driver);
}

TEST_F(KernelTest, FailedDeviceCreationFailsTheLoadSilently)
{
    fake::FailNextDeviceCreation(STATUS_INSUFFICIENT_RESOURCES);
    NTSTATUS status = STATUS_SUCCESS;
    fake::LoadDriver(DriverEntry, &status);
    EXPECT_EQ(status, STATUS_INSUFFICIENT_RESOURCES);
    EXPECT_TRUE(fake::DebugLines().empty());
    EXPECT_TRUE(fake::Devices().empty());
}

// every handle can set the stop timer: only SYSTEM and the Administrators
// group may open the device, and nothing is inherited from its directory
TEST_F(LoadedDriverTest, OnlySystemAndAdministratorsMayOpenTheDevice)
{
    const std::optional<fake::ObjectSecurity> security = fake::SecurityOf(driver->DeviceObject);
    ASSERT_TRUE(security.has_value());
    EXPECT_EQ(security->information, static_cast<ULONG>(DACL_SECURITY_INFORMATION));
    EXPECT_EQ(security->control, SE_DACL_PRESENT | SE_DACL_PROTECTED);
    EXPECT_EQ(security->dacl, (std::vector<fake::Ace>{{ACCESS_ALLOWED_ACE_TYPE, 0, FILE_ALL_ACCESS, "S-1-5-18"},
                                                      {ACCESS_ALLOWED_ACE_TYPE, 0, FILE_ALL_ACCESS, "S-1-5-32-544"}}));
    fake::UnloadDriver(driver);
}

class DeviceSecurityFailureTest : public KernelTest, public ::testing::WithParamInterface<const char*> {};

// a device that cannot be closed to other users is deleted again at once:
// the load fails with the routine's status, before anything else is done
TEST_P(DeviceSecurityFailureTest, FailsTheLoadAndLeavesNoDevice)
{
    fake::FailNextSecurityCall(GetParam(), STATUS_ACCESS_DENIED);
    NTSTATUS status = STATUS_SUCCESS;
    fake::LoadDriver(DriverEntry, &status);
    EXPECT_EQ(status, STATUS_ACCESS_DENIED);
    EXPECT_TRUE(fake::Devices().empty());
    EXPECT_TRUE(fake::DebugLines().empty());
}

INSTANTIATE_TEST_SUITE_P(Routines, DeviceSecurityFailureTest,
                         ::testing::Values("RtlInitializeSid", "RtlCreateAcl", "RtlAddAccessAllowedAce",
                                           "RtlCreateSecurityDescriptor", "RtlSetDaclSecurityDescriptor",
                                           "ObOpenObjectByPointer", "ZwSetSecurityObject"),
                         [](const auto& info) { return std::string(info.param); });

TEST_F(LoadedDriverTest, CreateCleanupAndCloseSucceedWithTheirMessages)
{
    for (UCHAR major : {IRP_MJ_CREATE, IRP_MJ_CLEANUP, IRP_MJ_CLOSE}) {
        const fake::Completion done = fake::Call(driver, major);
        EXPECT_EQ(done.status, STATUS_SUCCESS) << int(major);
        EXPECT_EQ(done.information, 0u) << int(major);
    }
    EXPECT_EQ(fake::DebugLines(), (std::vector<std::string>{"TONEKD created", "TONEKD closed"}));
    // only the close touches the hardware: it switches the speaker off
    EXPECT_EQ(fake::PortLog(), (std::vector<fake::PortAccess>{In(0x61, 0x30), Out(0x61, 0x30)}));
}

TEST_F(LoadedDriverTest, ReadAndWriteAreLeftToTheSystemsDefault)
{
    EXPECT_EQ(fake::Call(driver, IRP_MJ_READ).status, STATUS_INVALID_DEVICE_REQUEST);
    EXPECT_EQ(fake::Call(driver, IRP_MJ_WRITE).status, STATUS_INVALID_DEVICE_REQUEST);
    EXPECT_TRUE(fake::DebugLines().empty());
}

struct RequestCase {
    const char* name;
    std::vector<UCHAR> input;
    NTSTATUS status;
    bool armsTimer;
};

class BeepRequestTest : public LoadedDriverTest, public ::testing::WithParamInterface<RequestCase> {};

// validation, and that only a valid request sounds a tone or sets the timer
TEST_P(BeepRequestTest, IsValidatedBeforeAnythingSounds)
{
    const RequestCase& c = GetParam();
    const bool valid = c.status == STATUS_SUCCESS;
    // an input of the wrong length must not be read at all
    const fake::Completion done = fake::DeviceControl(driver, kBeep, c.input, c.input.size() == 8);
    EXPECT_EQ(done.status, c.status);
    EXPECT_EQ(done.information, 0u);
    EXPECT_EQ(CountWrites(0x42), valid ? 2u : 0u);
    EXPECT_EQ(fake::PortLog().empty(), !valid);
    EXPECT_EQ(fake::TimerIsSet(&extension->Timer), c.armsTimer);
    EXPECT_EQ(extension->TimerArmed, c.armsTimer ? 1 : 0);
    fake::UnloadDriver(driver);
}

std::vector<UCHAR> Bytes(size_t count)
{
    return std::vector<UCHAR>(count, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Table, BeepRequestTest,
    ::testing::Values(RequestCase{"AllZero", fake::BeepInput(0, 0), STATUS_SUCCESS, false},
                      RequestCase{"BelowMinimumWithoutStop", fake::BeepInput(36, 0), STATUS_SUCCESS, false},
                      RequestCase{"BelowMinimumWithStop", fake::BeepInput(36, 1), STATUS_INVALID_PARAMETER, false},
                      RequestCase{"AboveMaximum", fake::BeepInput(32768, 0), STATUS_INVALID_PARAMETER, false},
                      RequestCase{"Minimum", fake::BeepInput(37, 7), STATUS_SUCCESS, true},
                      RequestCase{"Maximum", fake::BeepInput(32767, 0), STATUS_SUCCESS, false},
                      RequestCase{"MaximumNegativeStop", fake::BeepInput(32767, 0x80000000u), STATUS_SUCCESS, false},
                      RequestCase{"SevenBytes", Bytes(7), STATUS_INVALID_PARAMETER, false},
                      RequestCase{"SixteenBytes", Bytes(16), STATUS_INVALID_PARAMETER, false},
                      RequestCase{"NoInput", Bytes(0), STATUS_INVALID_PARAMETER, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(LoadedDriverTest, EveryRequestReadsTheSettingsFirstEvenAnUnknownCode)
{
    const fake::Completion done = fake::DeviceControl(driver, 0x10004, fake::BeepInput(1000, 0), false);
    EXPECT_EQ(done.status, STATUS_NOT_IMPLEMENTED);
    EXPECT_EQ(done.information, 0u);
    EXPECT_TRUE(fake::PortLog().empty());
    const auto& lines = fake::DebugLines();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines.front(), "TONEKD:Reg Path is :\\Software\\VELMORA\\VELMORABeep\n");
    EXPECT_EQ(lines.back(), "TONEKD DeviceIOcontrolQ");
}

// the request's frequency never sets the pitch, and its duration only the timer
TEST_F(LoadedDriverTest, ValidRequestSoundsTheUsersSettingsNotItsOwnFields)
{
    scene::AddUser("S-1-5-21-1-2-3-1001", "750", "3");
    const fake::Completion done = fake::DeviceControl(driver, kBeep, fake::BeepInput(1000, 500));
    EXPECT_EQ(done.status, STATUS_SUCCESS);
    EXPECT_EQ(WritesTo(0x42), (std::vector<UCHAR>{0x36, 0x06}));  // 1193180 / 750 = 1590
    EXPECT_EQ(CountWrites(0xED), 3u);
    EXPECT_EQ(fake::LastDueTime(&extension->Timer), -5000000);
    EXPECT_EQ(fake::LastWritten(0x61) & 0x03, 0);
    fake::UnloadDriver(driver);
}

// a user can store any text as her duration: no request writes longer than
// the tray program's longest tone, and a negative one plays the fallback
TEST_F(LoadedDriverTest, StoredDurationsOutsideTheTrayProgramsRangeAreBounded)
{
    struct Case {
        const char* stored;
        const char* printed;  // the converted number, as "%d" prints it
        size_t writes;
    };
    scene::AddUser("S-1-5-21-1-2-3-1001", "750", "1000");
    for (const Case& c :
         {Case{"-1", "-1", 1}, Case{"2147483648", "-2147483648", 1}, Case{"9999500", "9999500", 9999500}}) {
        fake::SetString(scene::SettingsPathOf("S-1-5-21-1-2-3-1001"), "duration", c.stored);
        fake::ClearLogs();
        EXPECT_EQ(fake::DeviceControl(driver, kBeep, fake::BeepInput(0, 0)).status, STATUS_SUCCESS) << c.stored;
        EXPECT_EQ(CountWrites(0xED), c.writes) << c.stored;
        EXPECT_EQ(fake::DebugLines().at(4), std::string("TONEKD:The duration integer item is :") + c.printed + " \n");
    }
}

TEST_F(LoadedDriverTest, WithoutSettingsTheToneFallsBackTo200HzAndOneWrite)
{
    fake::DeviceControl(driver, kBeep, fake::BeepInput(0, 0));
    EXPECT_EQ(WritesTo(0x42), (std::vector<UCHAR>{0x4D, 0x17}));
    EXPECT_EQ(CountWrites(0xED), 1u);
}

// Request A's stop routine is queued when request B sets the timer again;
// A's routine then ends and clears TimerArmed while B's timer is still set.
// The last close must cancel B's timer all the same, or B's routine switches
// the speaker on after it.
TEST_F(LoadedDriverTest, CloseCancelsATimerSetAgainWhileAnEarlierRoutineWasQueued)
{
    fake::DeviceControl(driver, kBeep, fake::BeepInput(1000, 10));
    fake::AdvanceTimeMs(10);
    ASSERT_EQ(fake::QueuedDpcs(), 1u);
    fake::DeviceControl(driver, kBeep, fake::BeepInput(1000, 500));
    ASSERT_EQ(fake::RunQueuedDpcs(), 1u);
    ASSERT_EQ(extension->TimerArmed, 0);
    ASSERT_TRUE(fake::TimerIsSet(&extension->Timer));

    EXPECT_EQ(fake::Call(driver, IRP_MJ_CLOSE).status, STATUS_SUCCESS);
    EXPECT_FALSE(fake::TimerIsSet(&extension->Timer));
    fake::AdvanceTimeMs(1000);
    EXPECT_EQ(fake::RunQueuedDpcs(), 0u);
    EXPECT_EQ(fake::LastWritten(0x61) & 0x03, 0);
}

TEST_F(LoadedDriverTest, UnloadDeletesTheDeviceAndSaysSo)
{
    fake::UnloadDriver(driver);
    EXPECT_TRUE(fake::Devices().empty());
    EXPECT_EQ(fake::DebugLines().back(), "TONEKD unloaded");
}

// the fake records a fault if the device goes while its timer is set or its
// routine is queued, and a queued routine would then run on freed memory
TEST_F(LoadedDriverTest, UnloadWithAnArmedTimerCancelsIt)
{
    fake::DeviceControl(driver, kBeep, fake::BeepInput(1000, 500));
    fake::UnloadDriver(driver);
    fake::AdvanceTimeMs(1000);
    EXPECT_EQ(fake::RunQueuedDpcs(), 0u);
}

TEST_F(LoadedDriverTest, UnloadWithAQueuedRoutineWaitsForIt)
{
    fake::DeviceControl(driver, kBeep, fake::BeepInput(1000, 500));
    fake::AdvanceTimeMs(500);
    ASSERT_EQ(fake::QueuedDpcs(), 1u);
    fake::UnloadDriver(driver);
    EXPECT_EQ(fake::QueuedDpcs(), 0u);
    const auto& lines = fake::DebugLines();
    EXPECT_EQ(std::vector<std::string>(lines.end() - 2, lines.end()),
              (std::vector<std::string>{"DPC routine.\n", "TONEKD unloaded"}));
}

// a request that re-arms the timer while its earlier run is still queued
TEST_F(LoadedDriverTest, UnloadWithARearmedTimerAndAQueuedRoutine)
{
    fake::DeviceControl(driver, kBeep, fake::BeepInput(1000, 100));
    fake::AdvanceTimeMs(100);
    fake::DeviceControl(driver, kBeep, fake::BeepInput(1000, 100));
    fake::UnloadDriver(driver);
    EXPECT_EQ(fake::QueuedDpcs(), 0u);
}

}  // namespace
