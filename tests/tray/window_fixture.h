// In-process fixture for the control window: the program's own window,
// controls and tray icon, created on the test's thread against Wine's real
// registry, windows and shell.
#pragma once

#include "app_state.h"
#include "testkit.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

class ControlWindowTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // LoadSettings and CreateMainWindow, as start-up runs them
    void CreateWindowFromStoredSettings();
    HWND Window() const { return AppState.MainWindow; }
    LRESULT Command(WORD id, LPARAM lParam = 0);
    void SetBoxText(int id, const char *text);
    void ClickButton(int id);
    // what a press would hand Beep now through the speaker, "Beep <Hz> <ms>"
    std::string SpeakerTone();
};

// What the window procedure showed in its modal loops while a watch ran.
struct ModalRecord {
    std::vector<std::string> WarningTexts;
    std::vector<HWND> WarningOwners;
    std::vector<std::vector<std::string>> Menus;   // "text=id" per item, top to bottom
    std::vector<RECT> MenuRects;
};

// The warning boxes and the tray menu run modal loops on the test's own
// thread; a second thread reads and closes each of them, so a test never
// waits for a box or a menu it did not expect.
class ModalWatch {
public:
    // menuKeys: key presses that choose from each menu; none closes it unchosen
    explicit ModalWatch(std::vector<WPARAM> menuKeys = {});
    ~ModalWatch();
    // ends the watch; everything seen since the start
    ModalRecord Finish();

private:
    void Run();
    void CloseMenu();
    std::vector<WPARAM> menuKeys;
    std::atomic<bool> done;
    ModalRecord record;
    std::thread thread;
};
