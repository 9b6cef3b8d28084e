// Base fixture for tests that start the real program: every test begins
// with no resident instance, no settings key, no recorded task commands,
// no error log and an empty debug capture, and ends with no resident instance.
#pragma once

#include "pitchkeeper_shared.h"
#include "testkit.h"

#include <gtest/gtest.h>

class ResidentTrayTest : public ::testing::Test {
protected:
    HANDLE resident = NULL;
    HWND window = NULL;

    // starts the resident instance and waits until its message loop runs
    void StartResident()
    {
        if (resident != NULL) {
            CloseHandle(resident);   // an instance this test stopped before
        }
        resident = StartResidentTray();
        ASSERT_NE(resident, (HANDLE)NULL);
        window = FindWindowA(NULL, PK_WINDOW_TITLE);
        ASSERT_NE(window, (HWND)NULL);
    }

    void SetUp() override
    {
        StartDebugCapture();
        StopResidentTray();
        DeleteSettingsKey();
        ClearRecordedTaskCommands();
        DeleteFileA((InstallFolder() + "\\error.txt").c_str());
        ClearCapturedDebugLines();
    }

    void TearDown() override
    {
        StopResidentTray();
        if (resident != NULL) {
            CloseHandle(resident);
        }
    }
};
