// The mouse hook procedure, called directly with the messages the system
// would deliver.
#include "app_state.h"
#include "click_hook.h"
#include "testkit.h"

#include <gtest/gtest.h>

class ClickHookTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ResetAppState();
        AppState.ActiveOutput = 0;   // speaker: Beep returns at once under Wine
        StartDebugCapture();
        ClearCapturedDebugLines();
    }

    int WorkersAfter(int code, WPARAM message)
    {
        MSLLHOOKSTRUCT event = {};
        ClickBeepHook(code, message, (LPARAM)&event);
        Sleep(300);   // room for the worker to report
        return CountDebugLines("Beep");
    }
};

TEST_F(ClickHookTest, OnlyLeftButtonDownStartsAWorker)
{
    EXPECT_EQ(WorkersAfter(HC_ACTION, WM_LBUTTONDOWN), 1);
    EXPECT_EQ(WorkersAfter(HC_ACTION, WM_LBUTTONUP), 1);
    EXPECT_EQ(WorkersAfter(HC_ACTION, WM_RBUTTONDOWN), 1);
    EXPECT_EQ(WorkersAfter(HC_ACTION, WM_MOUSEMOVE), 1);
    EXPECT_EQ(WorkersAfter(HC_ACTION, WM_MOUSEWHEEL), 1);
    // only the low 16 bits name the message; the code is not looked at
    EXPECT_EQ(WorkersAfter(-1, 0x10000 | WM_LBUTTONDOWN), 2);
}

TEST_F(ClickHookTest, NoWorkerWhileBeepingIsOff)
{
    AppState.BeepEnabled = 0;
    EXPECT_EQ(WorkersAfter(HC_ACTION, WM_LBUTTONDOWN), 0);
    AppState.BeepEnabled = 2;
    EXPECT_EQ(WorkersAfter(HC_ACTION, WM_LBUTTONDOWN), 0);
}

TEST_F(ClickHookTest, BuzzerWithoutDriverIsSilent)
{
    AppState.ActiveOutput = 1;
    EXPECT_EQ(OpenBeepDevice(), INVALID_HANDLE_VALUE);
    EXPECT_EQ(WorkersAfter(HC_ACTION, WM_LBUTTONDOWN), 1);
}
