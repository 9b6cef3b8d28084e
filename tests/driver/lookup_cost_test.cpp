// What one settings lookup costs, counted in the fake kernel, against the
// figures the lookup is meant to keep: one open and close of the profile list,
// 2 + 2 x SubKeys key queries, one value query per candidate profile and one
// for the settings, 1 + SubKeys allocations of its own besides the two texts
// that the settings query allocates.
#include <cstdio>

#include "driver_test_support.h"
#include "settings_lookup.h"
#include "settings_scene.h"

namespace {

class LookupCostTest : public KernelTest, public ::testing::WithParamInterface<size_t> {};

// three built-in accounts, the rest users; the last user is logged on
TEST_P(LookupCostTest, StaysWithinItsFigures)
{
    const size_t profiles = GetParam();
    const size_t candidates = profiles > 3 ? profiles - 3 : profiles;
    scene::AddMachine(profiles);

    const ToneSettings settings = ReadToneSettings();
    EXPECT_EQ(settings.Frequency, 440u);
    const fake::RegistryCounters& registry = fake::Registry();
    const fake::PoolCounters& pool = fake::Pool();
    EXPECT_EQ(registry.opens, 1u);
    EXPECT_EQ(registry.closes, 1u);
    EXPECT_EQ(registry.keyQueries, 2 + 2 * profiles);
    EXPECT_EQ(registry.valueQueries, candidates + 1);
    EXPECT_EQ(pool.driverAllocations, 1 + profiles);
    EXPECT_EQ(pool.registryAllocations, 2u);
    std::printf("| %zu | %zu | %zu | %zu | %zu | %zu | %zu |\n", profiles, candidates, registry.opens,
                registry.keyQueries, registry.valueQueries, pool.driverAllocations, pool.registryAllocations);
}

INSTANTIATE_TEST_SUITE_P(Profiles, LookupCostTest, ::testing::Values(1u, 10u, 1000u));

}  // namespace
