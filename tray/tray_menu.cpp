#include "tray_menu.h"

#include "app_state.h"
#include "pitchkeeper_shared.h"

struct TrayMenuItem {
    UINT Id;
    const char *Text;
};

// the items say what a choice will do, not what the state is
static const TrayMenuItem BeepOnItem = {CMD_BEEP_ON, "Beep On"};
static const TrayMenuItem BeepOffItem = {CMD_BEEP_OFF, "Beep Off"};
static const TrayMenuItem SpeakerItem = {CMD_SWITCH_TO_SPEAKER, "Switch To Speaker"};
static const TrayMenuItem BuzzerItem = {CMD_SWITCH_TO_BUZZER, "Switch To Buzzer"};
static const TrayMenuItem ControlCenterItem = {CMD_CONTROL_CENTER, "Control Center"};
static const TrayMenuItem StopItem = {CMD_STOP, "Stop Pitchkeeper"};

static void AppendItem(HMENU menu, const TrayMenuItem &item)
{
    InsertMenuA(menu, (UINT)-1, MF_BYPOSITION | MF_STRING, item.Id, item.Text);
}

static HMENU BuildTrayMenu()
{
    HMENU menu = CreatePopupMenu();
    AppendItem(menu, AppState.BeepEnabled == 1 ? BeepOffItem : BeepOnItem);
    AppendItem(menu, AppState.ActiveOutput == 1 ? SpeakerItem : BuzzerItem);
    AppendItem(menu, ControlCenterItem);
    AppendItem(menu, StopItem);
    return menu;
}

void ShowTrayMenu(HWND window)
{
    POINT cursor = {};
    GetCursorPos(&cursor);
    // only the last menu is held, so the one before it is released here
    if (AppState.TrayMenu != NULL) {
        DestroyMenu(AppState.TrayMenu);
    }
    AppState.TrayMenu = BuildTrayMenu();
    // a tracked menu closes on a click elsewhere only while its owner is
    // the foreground window
    SetForegroundWindow(window);
    TrackPopupMenu(AppState.TrayMenu, TPM_BOTTOMALIGN | TPM_LEFTALIGN | TPM_LEFTBUTTON, cursor.x,
                   cursor.y, 0, window, NULL);
}
