// The driver's lookup over registry exports of a Wine prefix in which the
// real tray program stored its settings; run by across_boundary.sh.
#include <cstdlib>

#include "driver_test_support.h"
#include "settings_lookup.h"

namespace {

// Wine's one user; its HKEY_CURRENT_USER is this hive under \Registry\User
const char* const kWineUserHive = "\\Registry\\User\\S-1-5-21-0-0-0-1000";

TEST_F(KernelTest, DriverReadsWhatTheTrayProgramStored)
{
    const char* userExport = std::getenv("PK_BOUNDARY_USER_REG");
    const char* profilesExport = std::getenv("PK_BOUNDARY_PROFILES_REG");
    if (userExport == nullptr || profilesExport == nullptr) {
        GTEST_SKIP() << "needs the exports that across_boundary.sh makes";
    }
    ASSERT_TRUE(fake::LoadRegFile(profilesExport, {{"HKEY_LOCAL_MACHINE", "\\Registry\\Machine"}}));
    ASSERT_TRUE(fake::LoadRegFile(userExport, {{"HKEY_CURRENT_USER", kWineUserHive}}));

    const ToneSettings settings = ReadToneSettings();
    EXPECT_EQ(fake::DebugLines().at(0),
              std::string("TONEKD:Reg Path is :") + kWineUserHive + "\\Software\\VELMORA\\VELMORABeep\n");
    EXPECT_EQ(settings.Frequency, 440u);
    EXPECT_EQ(settings.Duration, 120u * 500u);
}

}  // namespace
