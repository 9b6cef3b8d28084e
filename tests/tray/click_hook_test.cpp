// The mouse hook procedure, called directly with the messages the system
// would deliver.
#include "app_state.h"
#include "buzzer_fallback.h"
#include "click_hook.h"
#include "hook_watchdog.h"
#include "tone_worker.h"
#include "system_call_log.h"
#include "testkit.h"

#include <gtest/gtest.h>

#include <thread>

class ClickHookTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ResetAppState();
        AppState.ActiveOutput = 0;   // speaker: Beep returns at once under Wine
        StartDebugCapture();
        ClearCapturedDebugLines();
        ClearSystemCalls();
    }

    static bool WorkersDone(void *)
    {
        for (const ToneWorkerSlot &slot : AppState.Tones.Workers) {
            if (slot.Busy) {
                return false;
            }
        }
        return true;
    }

    // The workers started so far, once every one has sounded its tone, so
    // that a loaded machine cannot make a test read too early.
    int WorkersAfter(int code, WPARAM message, ULONG_PTR extraInfo = 0)
    {
        MSLLHOOKSTRUCT event = {};
        event.dwExtraInfo = extraInfo;
        ClickBeepHook(code, message, (LPARAM)&event);
        EXPECT_TRUE(WaitUntil(WorkersDone, NULL, 5000));
        return AppState.Tones.Started;
    }
};

// Wine makes no DOS name this long, so every open defines it first
static const std::vector<std::string> OpenOfTheDevice = {
    "DefineDosDeviceA 1 VELMORABEEP \\Device\\VELMORABEEP",
    "CreateFileA \\\\.\\VELMORABEEP 0x12019F 0 NULL 3 0x0 NULL",
};

TEST_F(ClickHookTest, OnlyLeftButtonDownStartsAWorker)
{
    AppState.CurrentFrequency = 440;
    AppState.CurrentDurationMs = 120;
    EXPECT_EQ(WorkersAfter(HC_ACTION, WM_LBUTTONDOWN), 1);
    EXPECT_EQ(WorkersAfter(HC_ACTION, WM_LBUTTONUP), 1);
    EXPECT_EQ(WorkersAfter(HC_ACTION, WM_RBUTTONDOWN), 1);
    EXPECT_EQ(WorkersAfter(HC_ACTION, WM_MOUSEMOVE), 1);
    EXPECT_EQ(WorkersAfter(HC_ACTION, WM_MOUSEWHEEL), 1);
    // only the low 16 bits name the message; the code is not looked at
    EXPECT_EQ(WorkersAfter(-1, 0x10000 | WM_LBUTTONDOWN), 2);
    EXPECT_EQ(SystemCalls(), std::vector<std::string>(2, "Beep 440 120"));
}

TEST_F(ClickHookTest, NoWorkerWhileBeepingIsOff)
{
    AppState.BeepEnabled = 0;
    EXPECT_EQ(WorkersAfter(HC_ACTION, WM_LBUTTONDOWN), 0);
    AppState.BeepEnabled = 2;
    EXPECT_EQ(WorkersAfter(HC_ACTION, WM_LBUTTONDOWN), 0);
}

// The press the system makes from a touch or pen contact sounds only when
// no contact that sounded accounts for it: one down, or lifted just now.
TEST_F(ClickHookTest, PressesMadeFromAContactSoundUnlessASoundedContactAccountsForThem)
{
    struct Case {
        const char *name;
        ULONG_PTR extraInfo;
        BYTE type;
        BYTE touchSounded;
        BYTE contactDown;
        DWORD msSinceLift;
        int tones;
    };
    const Case cases[] = {
        {"finger down", 0xFF515780, DigitizerTypeTouchScreen, 1, 1, 0, 0},
        {"finger lifted just now", 0xFF5157FF, DigitizerTypeTouchScreen, 1, 0, 50, 0},
        {"finger lifted long ago", 0xFF515780, DigitizerTypeTouchScreen, 1, 0, 2000, 1},
        {"a touch that did not sound", 0xFF515780, DigitizerTypeTouchScreen, 0, 1, 0, 1},
        {"a pen's press, a finger down", 0xFF515700, DigitizerTypeTouchScreen, 1, 1, 0, 1},
        {"pen down", 0xFF51577F, DigitizerTypePen, 1, 1, 0, 0},
        {"a finger's press, the pen down", 0xFF515780, DigitizerTypePen, 1, 1, 0, 1},
        {"no signature", 0xFF525780, DigitizerTypeTouchScreen, 1, 1, 0, 1},
        {"a mouse", 0, DigitizerTypeTouchScreen, 1, 1, 0, 1},
    };
    for (const Case &test : cases) {
        ResetAppState();
        AppState.ActiveOutput = 0;
        DigitizerDevice &device = AppState.Digitizers[MaxDigitizers - 1];
        device.Handle = (HANDLE)0x1234;
        device.Type = test.type;
        device.Counts.Reports = 1;
        device.TouchSounded = test.touchSounded;
        device.LastReportTick = device.LiftTick = GetTickCount() - test.msSinceLift;
        device.Down.Count = test.contactDown;
        device.Down.SeenTicks[0] = GetTickCount();
        EXPECT_EQ(WorkersAfter(HC_ACTION, WM_LBUTTONDOWN, test.extraInfo), test.tones) << test.name;
        EXPECT_EQ(device.Counts.PassedOver, 1 - test.tones) << test.name;
    }
}

// A storm of presses gets no more workers than the cap; once they end,
// the next press sounds.
TEST_F(ClickHookTest, BurstOfPressesStartsNoMoreWorkersThanTheCap)
{
    HoldTones(true);
    MSLLHOOKSTRUCT event = {};
    for (int press = 0; press < 200; ++press) {
        ClickBeepHook(HC_ACTION, WM_LBUTTONDOWN, (LPARAM)&event);
    }
    EXPECT_EQ(AppState.Tones.Started, MaxToneWorkers);
    EXPECT_EQ(AppState.Tones.Dropped, 200 - MaxToneWorkers);
    HoldTones(false);
    ASSERT_TRUE(WaitUntil(WorkersDone, NULL, 5000));
    EXPECT_EQ(SystemCalls("Beep").size(), (size_t)MaxToneWorkers);
    EXPECT_EQ(WorkersAfter(HC_ACTION, WM_LBUTTONDOWN), MaxToneWorkers + 1);
    EXPECT_EQ(AppState.Tones.Presses, 201);
}

// A driver that cannot start must not make every tap silent; the buzzer
// sounds again as soon as its device opens.
TEST_F(ClickHookTest, BuzzerWithoutDriverSoundsThroughTheSpeakerUntilItsDeviceOpens)
{
    AppState.ActiveOutput = 1;
    AppState.CurrentFrequency = 440;
    AppState.CurrentDurationMs = 120;
    EXPECT_EQ(OpenBeepDevice(), INVALID_HANDLE_VALUE);
    EXPECT_EQ(SystemCalls(), OpenOfTheDevice);
    ClearSystemCalls();
    EXPECT_EQ(WorkersAfter(HC_ACTION, WM_LBUTTONDOWN), 1);
    std::vector<std::string> throughSpeaker = OpenOfTheDevice;
    throughSpeaker.push_back("Beep 440 120");
    EXPECT_EQ(SystemCalls(), throughSpeaker) << "no request without a handle, the speaker instead";
    EXPECT_EQ(AppState.BuzzerState, BuzzerCannotOpen);
    EXPECT_EQ(AppState.Tones.Failed, 0);

    ClearSystemCalls();
    StandInForDevices(true);
    SoundTone();
    StandInForDevices(false);
    EXPECT_EQ(SystemCalls("Beep").size(), 0u) << "the device opens: the buzzer again";
    EXPECT_EQ(SystemCalls("DeviceIoControl").size(), 1u);
    EXPECT_EQ(AppState.BuzzerState, BuzzerOpens);
}

TEST_F(ClickHookTest, BuzzerRequestIsEightZeroBytesAndTheHandleIsClosedAfterIt)
{
    AppState.ActiveOutput = 1;
    StandInForDevices(true);
    SoundTone();
    StandInForDevices(false);
    std::vector<std::string> expected = OpenOfTheDevice;
    expected.push_back("DeviceIoControl device 0x10000 in 0000000000000000 8 out NULL 0 "
                       "returned given overlapped NULL");
    expected.push_back("CloseHandle device");
    EXPECT_EQ(SystemCalls(), expected);
}

// The hook is served by this thread's messages, so the test pumps them
// while it waits: until the condition holds or the time is up.
static bool PumpMessagesUntil(bool (*done)(), DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    while (!done() && GetTickCount() - start < timeoutMs) {
        MsgWaitForMultipleObjects(0, NULL, FALSE, 50, QS_ALLINPUT);
        MSG message;
        while (PeekMessageA(&message, NULL, 0, 0, PM_REMOVE)) {
            DispatchMessageA(&message);
        }
    }
    return done();
}

static bool Never()
{
    return false;
}

// Presses from another thread, as the system delivers them: through the
// hook chain to this thread. Returns the workers the press started.
static int WorkersOfOneInjectedPress()
{
    ClearCapturedDebugLines();
    std::thread presser(InjectLeftClick);
    PumpMessagesUntil([] { return CountDebugLines("Beep") > 0; }, 5000);
    PumpMessagesUntil(Never, 500);   // room for a second worker
    presser.join();
    return CountDebugLines("Beep");
}

// The system removes a hook held past its time limit without a word; here
// the test removes it the same way, behind the program's back.
TEST_F(ClickHookTest, WatchdogRenewsAQuietHookAndALostOneAndEachPressSoundsOnce)
{
    AppState.MainWindow = CreateWindowA("STATIC", "", 0, 0, 0, 0, 0, HWND_MESSAGE, NULL, NULL, NULL);
    AppState.MouseHook = InstallClickHook();
    ASSERT_NE(AppState.MouseHook, (HHOOK)NULL);
    StartHookWatchdog();

    // quiet for a period: replaced, never doubled (a hook in use stays put:
    // e2e_startup)
    static HHOOK before;
    before = AppState.MouseHook;
    ASSERT_TRUE(PumpMessagesUntil([] { return AppState.MouseHook != before; }, 3 * HookWatchdogPeriodMs));
    EXPECT_EQ(WorkersOfOneInjectedPress(), 1);
    EXPECT_EQ(CountDebugLines("Mouse hook was gone; set again"), 0);
    EXPECT_GE(AppState.HookRenewals, 1) << "counted for the status report";
    EXPECT_EQ(AppState.HookLosses, 0);

    ClearCapturedDebugLines();
    UnhookWindowsHookEx(AppState.MouseHook);
    ASSERT_TRUE(PumpMessagesUntil([] { return CountDebugLines("Mouse hook was gone; set again") > 0; },
                                  3 * HookWatchdogPeriodMs));
    EXPECT_EQ(WorkersOfOneInjectedPress(), 1);
    EXPECT_EQ(AppState.HookLosses, 1);

    DestroyWindow(AppState.MainWindow);   // and its timer
    UnhookWindowsHookEx(AppState.MouseHook);
}
