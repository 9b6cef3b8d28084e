// The settings store against Wine's real registry.
#include "app_state.h"
#include "error_log.h"
#include "pitchkeeper_shared.h"
#include "settings.h"
#include "testkit.h"

#include <gtest/gtest.h>

class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        // the bench planted a copy of the task tool here, where a search
        // would find it before the system's own
        SetCurrentDirectoryA(InstallFolder().c_str());
        ResetAppState();
        DeleteSettingsKey();
        ClearRecordedTaskCommands();
    }
};

TEST_F(SettingsTest, FirstRunCreatesTheKeyWithDefaults)
{
    LoadSettings();
    EXPECT_EQ(SettingValue(PK_VALUE_FREQUENCY), "2000");
    EXPECT_EQ(SettingValue(PK_VALUE_DURATION), "25000");
    EXPECT_EQ(SettingValue(PK_VALUE_OUTPUT_DEVICE), "0");
    EXPECT_EQ(SettingValue(PK_VALUE_SERVICE_STATUS), "1");
    EXPECT_EQ(SettingValue(PK_VALUE_RUN_AT_STARTUP), "1");
    EXPECT_EQ(AppState.ActiveOutput, 1);
    EXPECT_EQ(AppState.BeepEnabled, 1);
    EXPECT_EQ(AppState.RunAtStartupEnabled, 1);
    EXPECT_EQ(AppState.SettingsLoaded, 1);
    EXPECT_EQ(CachedFrequency(), 2000);
    EXPECT_EQ(CachedDurationMs(), 50);
    ASSERT_TRUE(WaitForTaskCommandCount(1));
    EXPECT_EQ(RecordedTaskCommands().front(), TaskToolCommandLine(PK_TASK_CREATE_ARGUMENTS));
    EXPECT_TRUE(OnlySystemTaskToolRan());
}

TEST_F(SettingsTest, StoredOutputDeviceSelectsTheOutput)
{
    WriteAllSettings("440", "30100", "1", "0", "0");
    LoadSettings();
    EXPECT_EQ(AppState.ActiveOutput, 0) << "1 means the speaker";
    EXPECT_EQ(AppState.BeepEnabled, 0);
    EXPECT_EQ(AppState.RunAtStartupEnabled, 0);
    EXPECT_EQ(CachedDurationMs(), 60) << "the stored number is divided by 500, fraction dropped";
    ASSERT_TRUE(WaitForTaskCommandCount(1));
    EXPECT_EQ(RecordedTaskCommands().front(), TaskToolCommandLine(PK_TASK_DELETE_ARGUMENTS));
    EXPECT_TRUE(OnlySystemTaskToolRan());

    ResetAppState();
    WriteSettingValue(PK_VALUE_OUTPUT_DEVICE, "0");
    LoadSettings();
    EXPECT_EQ(AppState.ActiveOutput, 1);
}

TEST_F(SettingsTest, UnknownStoredStatesChangeNothing)
{
    WriteAllSettings("440", "60000", "7", "9", "5");
    LoadSettings();
    EXPECT_EQ(AppState.ActiveOutput, 1);
    EXPECT_EQ(AppState.BeepEnabled, 1);
    EXPECT_EQ(AppState.RunAtStartupEnabled, 0);
    EXPECT_EQ(AppState.SettingsLoaded, 1);
    EXPECT_EQ(SettingValue(PK_VALUE_OUTPUT_DEVICE), "7");
    EXPECT_EQ(SettingValue(PK_VALUE_SERVICE_STATUS), "9");
    EXPECT_TRUE(RecordedTaskCommands().empty());
}

TEST_F(SettingsTest, MissingOrOverlongValuesResetAllToDefaults)
{
    const char *broken[] = {"12345678", "123456789012"};
    for (const char *frequency : broken) {
        ResetAppState();
        WriteAllSettings(frequency, "60000", "1", "0", "0");
        LoadSettings();
        EXPECT_EQ(SettingValue(PK_VALUE_FREQUENCY), "2000") << frequency;
        EXPECT_EQ(SettingValue(PK_VALUE_OUTPUT_DEVICE), "0") << frequency;
        EXPECT_EQ(AppState.ActiveOutput, 1) << frequency;
    }
    ResetAppState();
    WriteAllSettings("440", "60000", "1", "0", "0");
    RegDeleteKeyValueA(HKEY_CURRENT_USER, PK_SETTINGS_KEY_PATH, PK_VALUE_SERVICE_STATUS);
    LoadSettings();
    EXPECT_EQ(SettingValue(PK_VALUE_FREQUENCY), "2000");
    EXPECT_EQ(SettingValue(PK_VALUE_SERVICE_STATUS), "1");
}

TEST_F(SettingsTest, ToneSettingsStoreMillisecondsTimesFiveHundred)
{
    LoadSettings();
    SaveToneSettings(440, 120);
    EXPECT_EQ(SettingValue(PK_VALUE_FREQUENCY), "440");
    EXPECT_EQ(SettingValue(PK_VALUE_DURATION), "60000");
    EXPECT_EQ(CachedDurationMs(), 120);
}

TEST_F(SettingsTest, NumbersThatDoNotFitTheSlotAreNotStored)
{
    LoadSettings();
    SaveToneSettings(440, 19999);
    EXPECT_EQ(SettingValue(PK_VALUE_DURATION), "9999500");
    SaveToneSettings(441, 20000);
    EXPECT_EQ(SettingValue(PK_VALUE_FREQUENCY), "440") << "the pair is written whole or not at all";
    EXPECT_EQ(SettingValue(PK_VALUE_DURATION), "9999500");
    EXPECT_EQ(CachedFrequency(), 440);
    SetOutputDevice(-12345678);
    EXPECT_EQ(SettingValue(PK_VALUE_OUTPUT_DEVICE), "0");
}

TEST_F(SettingsTest, WithoutTheKeySettersStillUpdateTheState)
{
    SaveToneSettings(440, 120);
    EXPECT_EQ(SettingValue(PK_VALUE_FREQUENCY), "<missing>");
    EXPECT_EQ(AppState.SettingsLoaded, 0);
    EXPECT_EQ(CachedFrequency(), 0);

    SetOutputDevice(1);
    SetBeepEnabled(0);
    EXPECT_EQ(AppState.ActiveOutput, 0);
    EXPECT_EQ(AppState.BeepEnabled, 0);
    EXPECT_EQ(SettingValue(PK_VALUE_OUTPUT_DEVICE), "<missing>");
}

// The log goes into the locked install folder, never into the current
// folder, which a standard user may own and fill with links.
TEST(ErrorLogTest, LinesGoToTheInstallFolderAndAnUnopenableLogIsSkipped)
{
    ASSERT_TRUE(SetCurrentDirectoryA("C:\\"));
    DeleteFileA("error.txt");
    DeleteFileA(PK_ERROR_LOG_PATH);
    AppendErrorLine("HHOOK ERROR CODE = %d\n", 5);
    AppendErrorLine("hWnd ERROR CODE = %d\n", 1400);
    // text mode: each line ends in CR LF on disk
    EXPECT_EQ(ReadTextFile(PK_ERROR_LOG_PATH), "HHOOK ERROR CODE = 5\r\nhWnd ERROR CODE = 1400\r\n");
    EXPECT_EQ(GetFileAttributesA("error.txt"), INVALID_FILE_ATTRIBUTES) << "nothing in the current folder";
    DeleteFileA(PK_ERROR_LOG_PATH);

    ASSERT_TRUE(CreateDirectoryA(PK_ERROR_LOG_PATH, NULL));
    AppendErrorLine("HHOOK ERROR CODE = %d\n", 5);   // must neither crash nor create anything
    EXPECT_EQ(GetFileAttributesA(PK_ERROR_LOG_PATH) & FILE_ATTRIBUTE_DIRECTORY, (DWORD)FILE_ATTRIBUTE_DIRECTORY);
    RemoveDirectoryA(PK_ERROR_LOG_PATH);
    SetCurrentDirectoryA(PK_INSTALL_DIR);
}
