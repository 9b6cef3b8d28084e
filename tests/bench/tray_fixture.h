// Base fixture for tests that start the real program: every test begins
// with no resident instance, no settings key, no recorded task commands,
// no error log and an empty debug capture, and ends with no resident instance.
#pragma once

#include "testkit.h"

#include <gtest/gtest.h>

class ResidentTrayTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        StartDebugCapture();
        StopResidentTray();
        DeleteSettingsKey();
        ClearRecordedTaskCommands();
        DeleteFileA((InstallFolder() + "\\error.txt").c_str());
        ClearCapturedDebugLines();
    }

    void TearDown() override { StopResidentTray(); }
};
