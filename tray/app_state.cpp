#include "app_state.h"

#include <string.h>

// beeping on and the buzzer until the stored settings say otherwise
static TrayAppState InitialAppState()
{
    TrayAppState state = {};
    state.BeepEnabled = 1;
    state.ActiveOutput = 1;
    return state;
}

TrayAppState AppState = InitialAppState();
char SettingsCache[SettingSlotCount][SettingSlotSize];

void ResetAppState()
{
    AppState = InitialAppState();
    memset(SettingsCache, 0, sizeof(SettingsCache));
}
