// The tray menu: built on each left press on the icon, read while it is open.
#include "window_fixture.h"

#include "pitchkeeper_shared.h"
#include "window_proc.h"

class TrayMenuTest : public ControlWindowTest {
protected:
    // what the shell sends for a mouse message on the icon
    ModalRecord PressOnIcon(UINT mouseMessage)
    {
        ModalWatch watch;
        EXPECT_EQ(SendMessageA(Window(), WM_TRAYICON, 0, mouseMessage), 0);
        return watch.Finish();
    }
};

TEST_F(TrayMenuTest, ItemsSayWhatAChoiceWillDo)
{
    CreateWindowFromStoredSettings();
    ModalRecord seen = PressOnIcon(WM_LBUTTONDOWN);
    ASSERT_EQ(seen.Menus.size(), 1u);
    EXPECT_EQ(seen.Menus[0], (std::vector<std::string>{"Beep Off=32766", "Switch To Speaker=32764",
                                                       "Control Center=32762",
                                                       "Stop Pitchkeeper=32767"}));

    Command(CMD_BEEP_OFF);
    Command(CMD_SWITCH_TO_SPEAKER);
    seen = PressOnIcon(WM_LBUTTONDOWN);
    ASSERT_EQ(seen.Menus.size(), 1u);
    EXPECT_EQ(seen.Menus[0], (std::vector<std::string>{"Beep On=32765", "Switch To Buzzer=32763",
                                                       "Control Center=32762",
                                                       "Stop Pitchkeeper=32767"}));
}

TEST_F(TrayMenuTest, MenuHangsAboveAndRightOfTheCursor)
{
    CreateWindowFromStoredSettings();
    ASSERT_TRUE(SetCursorPos(400, 500));
    ModalRecord seen = PressOnIcon(WM_LBUTTONDOWN);
    ASSERT_EQ(seen.MenuRects.size(), 1u);
    EXPECT_EQ(seen.MenuRects[0].left, 400);
    EXPECT_EQ(seen.MenuRects[0].bottom, 500);
}

TEST_F(TrayMenuTest, OtherMouseMessagesOpenNothing)
{
    CreateWindowFromStoredSettings();
    for (UINT message : {WM_RBUTTONDOWN, WM_RBUTTONUP, WM_LBUTTONUP, WM_LBUTTONDBLCLK,
                         WM_MOUSEMOVE}) {
        SCOPED_TRACE(message);
        EXPECT_TRUE(PressOnIcon(message).Menus.empty());
        EXPECT_EQ(AppState.TrayMenu, (HMENU)NULL);
    }
}

TEST_F(TrayMenuTest, EachNewMenuReleasesThePreviousOne)
{
    CreateWindowFromStoredSettings();
    PressOnIcon(WM_LBUTTONDOWN);
    HMENU first = AppState.TrayMenu;
    ASSERT_TRUE(IsMenu(first));
    PressOnIcon(WM_LBUTTONDOWN);
    EXPECT_NE(AppState.TrayMenu, first);
    EXPECT_TRUE(IsMenu(AppState.TrayMenu));
    EXPECT_FALSE(IsMenu(first));
}

TEST_F(TrayMenuTest, ChosenItemReachesTheWindowAsItsCommand)
{
    CreateWindowFromStoredSettings();
    // the first item, chosen by keyboard
    ModalWatch watch({VK_DOWN, VK_RETURN});
    SendMessageA(Window(), WM_TRAYICON, 0, WM_LBUTTONDOWN);
    ASSERT_EQ(watch.Finish().Menus.size(), 1u);
    // the menu posts the chosen command; the message loop delivers it
    MSG message = {};
    while (PeekMessageA(&message, NULL, 0, 0, PM_REMOVE)) {
        DispatchMessageA(&message);
    }
    EXPECT_EQ(AppState.BeepEnabled, 0) << "\"Beep Off\" was chosen";
    EXPECT_EQ(SettingValue(PK_VALUE_SERVICE_STATUS), "0");
}
