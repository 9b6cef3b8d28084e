// The resident start as the program's entry point runs it. Its start-up
// functions are private to the entry point's file, so the file is taken in
// whole; its WinMain goes unused beside the test's own main.
#include "main.cpp"

#include "window_fixture.h"

struct StartRun {
    int ExitCode;
    HANDLE Ended;     // the start has returned
    HANDLE Release;   // the thread may end, and its window with it
};

// A new thread has no window yet, so it may move to a handle of the desktop
// that refuses it hook control.
static DWORD WINAPI StartWithoutHookControl(void *context)
{
    StartRun *run = (StartRun *)context;
    SetThreadDesktop(OpenDesktopWithoutHookControl(FALSE));
    run->ExitCode = RunResidentInstance(GetModuleHandleA(NULL));
    SetEvent(run->Ended);
    WaitForSingleObject(run->Release, INFINITE);
    return 0;
}

TEST_F(ControlWindowTest, FailedMouseHookRemovesTheIconBeforeTheStartEnds)
{
    WriteAllSettings("440", "25000", "1", "1", "0");   // the speaker: no driver to install
    DeleteFileA(PK_ERROR_LOG_PATH);
    StartRun run = {-1, CreateEventA(NULL, TRUE, FALSE, NULL), CreateEventA(NULL, TRUE, FALSE, NULL)};
    HANDLE thread = CreateThread(NULL, 0, StartWithoutHookControl, &run, 0, NULL);
    ASSERT_EQ(WaitForSingleObject(run.Ended, 10000), WAIT_OBJECT_0);
    EXPECT_EQ(run.ExitCode, 0);
    EXPECT_EQ(ReadTextFile(PK_ERROR_LOG_PATH), "HHOOK ERROR CODE = 5\r\n") << "access denied";
    ASSERT_TRUE(IsWindow(Window())) << "the window is still there";
    EXPECT_FALSE(TrayIconExists(Window())) << "but not its icon";

    SetEvent(run.Release);
    WaitForSingleObject(thread, 10000);
    CloseHandle(thread);
    CloseHandle(run.Ended);
    CloseHandle(run.Release);
}
