// The per-user settings lookup against registry scenes in the fake kernel.
#include "driver_test_support.h"
#include "settings_lookup.h"
#include "settings_scene.h"

namespace {

using scene::AddProfile;
using scene::AddSystemAccounts;
using scene::AddUser;

const std::string kAlice = "S-1-5-21-1111111111-2222222222-3333333333-1001";
const std::string kBob = "S-1-5-21-1111111111-2222222222-3333333333-1002";

class SettingsLookupTest : public KernelTest {
protected:
    void Expect(ULONG frequency, ULONG duration)
    {
        const ToneSettings settings = ReadToneSettings();
        EXPECT_EQ(settings.Frequency, frequency);
        EXPECT_EQ(settings.Duration, duration);
    }
    std::string PrintedPath() const
    {
        const std::string line = fake::DebugLines().at(0);
        return line.substr(line.find(':') + 1);
    }
};

TEST_F(SettingsLookupTest, OneUserLoggedOnGivesHerSettingsWithEveryMessageInOrder)
{
    AddSystemAccounts();
    AddUser(kAlice, "750", "50000");
    Expect(750, 50000);
    EXPECT_EQ(fake::DebugLines(), (std::vector<std::string>{
                                      "TONEKD:Reg Path is :" + scene::SettingsPathOf(kAlice) + "\n",
                                      "TONEKD: Query the item successfully\n",
                                      "TONEKD:The duration item is :50000 \n",
                                      "TONEKD:The frequency item is :750 \n",
                                      "TONEKD:The duration integer item is :50000 \n",
                                      "TONEKD:The frequency integer item is :750 \n",
                                  }));
}

TEST_F(SettingsLookupTest, TheLaterOfTwoLoadedHivesWins)
{
    AddUser(kAlice, "440", "1000");
    AddUser(kBob, "880", "2000");
    Expect(880, 2000);

    fake::Reset();
    AddUser(kBob, "880", "2000");
    AddUser(kAlice, "440", "1000");
    Expect(440, 1000);
}

// nobody chosen: the path is the settings key alone, which names no key
TEST_F(SettingsLookupTest, NoUserLoggedOnReadsZerosFromTheBarePath)
{
    AddSystemAccounts();
    AddProfile(kAlice, 0);
    fake::SetString(scene::SettingsPathOf(kAlice), "frequency", "750");
    Expect(0, 0);
    EXPECT_EQ(fake::DebugLines(), (std::vector<std::string>{
                                      "TONEKD:Reg Path is :\\Software\\VELMORA\\VELMORABeep\n",
                                      "TONEKD:The duration integer item is :0 \n",
                                      "TONEKD:The frequency integer item is :0 \n",
                                  }));
}

// built-in account names such as S-1-5-18 are at most 10 characters: a
// profile name of exactly 10 is passed over, one of 11 is a candidate
TEST_F(SettingsLookupTest, OnlyNamesLongerThanTenCharactersAreCandidates)
{
    AddUser("S-1-5-21-1", "440", "1000");
    Expect(0, 0);
    AddUser("S-1-5-21-12", "880", "2000");
    Expect(880, 2000);
}

TEST_F(SettingsLookupTest, CandidateWithoutRefCountIsNotChosen)
{
    AddUser(kAlice, "440", "1000");
    AddProfile(kBob, std::nullopt);
    fake::SetString(scene::SettingsPathOf(kBob), "frequency", "880");
    Expect(440, 1000);
}

// RefCount is read as a REG_DWORD only; an untyped read would write a string
// over the 4-byte variable, or take its contents for a buffer size
TEST_F(SettingsLookupTest, RefCountOfAnotherTypeCountsAsZero)
{
    AddUser(kAlice, "440", "1000");
    AddUser(kBob, "880", "2000");
    fake::SetString(scene::kProfileList + "\\" + kBob, "RefCount", "1");
    Expect(440, 1000);
    fake::SetValue(scene::kProfileList + "\\" + kBob, "RefCount", REG_BINARY, std::vector<UCHAR>(64, 0x41));
    Expect(440, 1000);
}

TEST_F(SettingsLookupTest, MissingFrequencyReadsAsZeroAndDurationStillCounts)
{
    AddProfile(kAlice, 1);
    fake::SetString(scene::SettingsPathOf(kAlice), "duration", "25000");
    Expect(0, 25000);
    EXPECT_EQ(fake::DebugLines().at(3), "TONEKD:The frequency item is :default \n");
}

TEST_F(SettingsLookupTest, TextConvertsAsFarAsItsLeadingDigits)
{
    AddUser(kAlice, "12abc", "abc");
    Expect(12, 0);
}

// the user can write her own hive: another type must never reach kernel memory
// unchecked, and reads as 0 like a missing value
TEST_F(SettingsLookupTest, FrequencyOfAnotherTypeReadsAsZero)
{
    AddUser(kAlice, "440", "1000");
    fake::SetDword(scene::SettingsPathOf(kAlice), "frequency", 0x00100010);
    Expect(0, 1000);
    fake::SetValue(scene::SettingsPathOf(kAlice), "frequency", REG_BINARY, std::vector<UCHAR>(64, 0x7F));
    Expect(0, 1000);
}

TEST_F(SettingsLookupTest, DurationOfAnotherTypeReadsAsZero)
{
    AddUser(kAlice, "440", "1000");
    fake::SetValue(scene::SettingsPathOf(kAlice), "duration", REG_BINARY, std::vector<UCHAR>(64, 0x7F));
    EXPECT_EQ(ReadToneSettings().Duration, 0u);
}

// values stored with no data at all: an empty text, a RefCount of no bytes
TEST_F(SettingsLookupTest, ValuesWithNoDataReadAsZero)
{
    AddUser(kAlice, "440", "1000");
    fake::SetValue(scene::SettingsPathOf(kAlice), "frequency", REG_SZ, {});
    Expect(0, 1000);
    AddUser(kBob, "880", "2000");
    fake::SetValue(scene::kProfileList + "\\" + kBob, "RefCount", REG_DWORD, {});
    Expect(0, 1000);
}

struct StoredText {
    const char* name;
    std::vector<UCHAR> data;
    const char* read;  // the text as printed
    ULONG number;
};

void PrintTo(const StoredText& text, std::ostream* out) { *out << text.name; }

class StoredTextTest : public SettingsLookupTest, public ::testing::WithParamInterface<StoredText> {};

// The query reports a text's Length as its size less one character, whatever
// the data holds (0xFFFE for an empty value); the fake reports it the same way
// over storage of exactly the data's size, so a read past it stops the test.
TEST_P(StoredTextTest, IsReadWithinTheStorageTheQueryAllocated)
{
    const StoredText& c = GetParam();
    AddProfile(kAlice, 1);
    fake::SetValue(scene::SettingsPathOf(kAlice), "duration", REG_SZ, c.data);
    fake::SetValue(scene::SettingsPathOf(kAlice), "frequency", REG_SZ, c.data);
    Expect(c.number, c.number);
    const auto& lines = fake::DebugLines();
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[2], std::string("TONEKD:The duration item is :") + c.read + " \n");
    EXPECT_EQ(lines[3], std::string("TONEKD:The frequency item is :") + c.read + " \n");
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, StoredTextTest,
    ::testing::Values(StoredText{"Terminated", {'7', 0, '5', 0, '0', 0, 0, 0}, "750", 750},
                      StoredText{"NoBytes", {}, "", 0},
                      StoredText{"OneByte", {'7'}, "", 0},
                      StoredText{"OddLength", {'7', 0, '5', 0, '0', 0, '9'}, "750", 750},
                      StoredText{"OddLengthTerminated", {'7', 0, '5', 0, 0, 0, '9'}, "75", 75},
                      StoredText{"Unterminated", {'7', 0, '5', 0, '0', 0}, "750", 750},
                      StoredText{"OneCharacterUnterminated", {'7', 0}, "7", 7},
                      StoredText{"TerminatorOnly", {0, 0}, "", 0}),
    [](const auto& info) { return std::string(info.param.name); });

// Windows 7 without KB2393802 ignores the type check and writes a value of
// another type into the counted string as it stands: up to four bytes over
// its lengths, with no storage behind them; longer data only when the string's
// first LONG, taken for a buffer size, allows (it never does: that LONG is 0).
// Nothing may be read through the unset pointer or past what was allocated.
struct UncheckedValue {
    const char* name;
    ULONG type;
    std::vector<UCHAR> data;
    ULONG number;     // what the value reads as
    bool failsQuery;  // the query stops at it, and the value after it is not read
};

void PrintTo(const UncheckedValue& value, std::ostream* out) { *out << value.name; }

class UncheckedValueTest : public SettingsLookupTest, public ::testing::WithParamInterface<UncheckedValue> {};

TEST_P(UncheckedValueTest, NeverReadsThroughAnUnsetPointerOrPastTheStorage)
{
    const UncheckedValue& c = GetParam();
    fake::IgnoreTypeCheck();
    AddUser(kAlice, "440", "1000");
    fake::SetValue(scene::SettingsPathOf(kAlice), "frequency", c.type, c.data);
    Expect(c.number, 1000);
    AddUser(kAlice, "440", "1000");
    fake::SetValue(scene::SettingsPathOf(kAlice), "duration", c.type, c.data);
    Expect(c.failsQuery ? 0 : 440, c.number);
}

INSTANTIATE_TEST_SUITE_P(
    WithoutTypeCheck, UncheckedValueTest,
    ::testing::Values(UncheckedValue{"DwordOverBothLengths", REG_DWORD, {0x10, 0, 0x10, 0}, 0, false},
                      UncheckedValue{"DwordOverLength", REG_DWORD, {0xEE, 0x02, 0, 0}, 0, false},
                      UncheckedValue{"BinaryOfTwoBytes", REG_BINARY, {0x7F, 0x7F}, 0, false},
                      UncheckedValue{"BinaryLongerThanALong", REG_BINARY, std::vector<UCHAR>(64, 0x7F), 0, true},
                      UncheckedValue{"MultiString", REG_MULTI_SZ, {'7', 0, '5', 0, '0', 0, 0, 0, 0, 0}, 750, false},
                      UncheckedValue{"ExpandableText", REG_EXPAND_SZ, {'7', 0, '5', 0, '%', 0, 0, 0}, 75, false}),
    [](const auto& info) { return std::string(info.param.name); });

// a name that does not fit the profile key path is passed over, rather than
// reading RefCount from whatever key the shortened path names
TEST_F(SettingsLookupTest, ProfileNameTooLongForThePathIsPassedOver)
{
    AddUser(kAlice, "440", "1000");
    const std::string longName = "S-1-5-21-" + std::string(200, '7');
    AddUser(longName, "880", "2000");
    fake::SetDword(scene::kProfileList, "RefCount", 1);
    Expect(440, 1000);
}

TEST_F(SettingsLookupTest, ProfileListShrinkingDuringTheWalkEndsItCleanly)
{
    AddSystemAccounts();
    AddUser(kAlice, "440", "1000");
    AddUser(kBob, "880", "2000");
    bool removed = false;
    fake::OnEnumerate([&removed](ULONG) {
        if (!removed) {
            removed = true;
            fake::DeleteKey(scene::kProfileList + "\\" + kBob);
        }
    });
    Expect(440, 1000);
}

TEST_F(SettingsLookupTest, MissingProfileListFindsNobody)
{
    fake::SetString(scene::SettingsPathOf(kAlice), "frequency", "440");
    Expect(0, 0);
}

// the request runs in the calling process: its handle must not land in that
// process's handle table, least of all with write access
TEST_F(SettingsLookupTest, ProfileListIsOpenedReadOnlyWithAKernelHandle)
{
    AddUser(kAlice, "440", "1000");
    ReadToneSettings();
    EXPECT_EQ(fake::Registry().lastOpenAccess, static_cast<ACCESS_MASK>(KEY_READ));
    EXPECT_EQ(fake::Registry().lastOpenAttributes, static_cast<ULONG>(OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE));
}

// the fake records an untagged block, and one freed under another tag, as
// faults, which the fixture checks
TEST_F(SettingsLookupTest, PoolBlocksOfTheDriverCarryItsTag)
{
    AddSystemAccounts();
    AddUser(kAlice, "440", "1000");
    ReadToneSettings();
    EXPECT_EQ(fake::Pool().lastDriverTag, kTonePoolTag);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&kTonePoolTag), 4), "VmBp");
}

// every pool block is released on every path, also when memory runs out at
// any one allocation of a request; the fixture checks nothing is left
TEST_F(SettingsLookupTest, NoMemoryAtAnyAllocationLeaksNothing)
{
    AddSystemAccounts();
    AddUser(kAlice, "440", "1000");
    ReadToneSettings();
    const size_t allocations = fake::Pool().driverAllocations + fake::Pool().registryAllocations;
    ASSERT_EQ(allocations, 7u);  // 1 + 5 subkeys of the driver's, 2 texts of the query's
    for (size_t nth = 0; nth < allocations; ++nth) {
        fake::FailPoolAllocation(nth);
        const ToneSettings settings = ReadToneSettings();
        EXPECT_EQ(fake::Pool().outstanding, 0u) << nth;
        EXPECT_TRUE(settings.Frequency == 440 || settings.Frequency == 0) << nth;
    }
}

}  // namespace
