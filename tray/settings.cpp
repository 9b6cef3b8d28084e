#include "settings.h"

#include "app_state.h"
#include "pitchkeeper_shared.h"
#include "resource.h"
#include "task_tool.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static const char *const SettingValueNames[SettingSlotCount] = {
    PK_VALUE_FREQUENCY, PK_VALUE_DURATION, PK_VALUE_OUTPUT_DEVICE,
    PK_VALUE_SERVICE_STATUS, PK_VALUE_RUN_AT_STARTUP,
};

static const REGSAM SettingsAccess = KEY_READ | KEY_WRITE;

static HKEY OpenSettingsKey()
{
    HKEY key = NULL;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, PK_SETTINGS_KEY_PATH, 0, SettingsAccess, &key) !=
        ERROR_SUCCESS) {
        return NULL;
    }
    return key;
}

// Formats a number into a slot-sized buffer; false when it would not fit,
// so that a cut-off number is never stored.
static bool FormatSlotText(long long value, char (&text)[SettingSlotSize])
{
    int length = snprintf(text, sizeof(text), "%lld", value);
    return length > 0 && length < SettingSlotSize;
}

// Stores the slot's text as REG_SZ, its length without the terminating zero.
static void WriteSlot(HKEY key, SettingSlot slot)
{
    const char *text = SettingsCache[slot];
    RegSetValueExA(key, SettingValueNames[slot], 0, REG_SZ, (const BYTE *)text,
                   (DWORD)strlen(text));
}

// Writes one of the three state values; an unopenable key changes nothing.
static void WriteStateValue(SettingSlot slot, int value)
{
    HKEY key = OpenSettingsKey();
    if (key == NULL) {
        return;
    }
    char text[SettingSlotSize];
    if (FormatSlotText(value, text)) {
        memcpy(SettingsCache[slot], text, sizeof(text));
        WriteSlot(key, slot);
    }
    RegCloseKey(key);
}

void SaveToneSettings(int frequency, int durationMs)
{
    HKEY key = OpenSettingsKey();
    if (key == NULL) {
        return;
    }
    char frequencyText[SettingSlotSize];
    char durationText[SettingSlotSize];
    if (FormatSlotText(frequency, frequencyText) &&
        FormatSlotText((long long)durationMs * PK_DURATION_STORE_FACTOR, durationText)) {
        memcpy(SettingsCache[SlotFrequency], frequencyText, sizeof(frequencyText));
        memcpy(SettingsCache[SlotDuration], durationText, sizeof(durationText));
        WriteSlot(key, SlotFrequency);
        WriteSlot(key, SlotDuration);
        AppState.SettingsLoaded = 1;
    }
    RegCloseKey(key);
}

void ShowStateOnCheckBox(HWND checkBox, BYTE state)
{
    if (state == 1) {
        SendMessageA(checkBox, BM_SETCHECK, BST_CHECKED, 0);
    } else if (state == 0) {
        SendMessageA(checkBox, BM_SETCHECK, BST_UNCHECKED, 0);
    }
}

void ShowActiveOutput()
{
    if (AppState.ActiveOutput == 1) {
        CheckRadioButton(AppState.MainWindow, IDC_BEEP_FROM_SPEAKER, IDC_BEEP_FROM_BUZZER,
                         IDC_BEEP_FROM_BUZZER);
    } else if (AppState.ActiveOutput == 0) {
        CheckRadioButton(AppState.MainWindow, IDC_BEEP_FROM_SPEAKER, IDC_BEEP_FROM_BUZZER,
                         IDC_BEEP_FROM_SPEAKER);
    }
}

void SetOutputDevice(int value)
{
    WriteStateValue(SlotOutputDevice, value);
    // stored 1 means the speaker, ActiveOutput 1 the buzzer
    if (value == 0 || value == 1) {
        AppState.ActiveOutput = value == 0 ? 1 : 0;
        ShowActiveOutput();
    }
}

static void ShowBeepState(BYTE enabled, int iconId)
{
    ShowStateOnCheckBox(AppState.BeepOnCheckBox, enabled);
    AppState.TrayIconData.hIcon = LoadIconA(AppState.Instance, MAKEINTRESOURCEA(iconId));
    Shell_NotifyIconA(NIM_MODIFY, &AppState.TrayIconData);
    AppState.BeepEnabled = enabled;
}

void SetBeepEnabled(int state)
{
    WriteStateValue(SlotServiceStatus, state);
    if (state == 1) {
        ShowBeepState(1, IDI_BEEP_ON);
    } else if (state == 0) {
        ShowBeepState(0, IDI_BEEP_OFF);
    }
}

static void ApplyRunAtStartup(BYTE enabled, LPCSTR taskArguments)
{
    RunTaskTool(taskArguments);
    ShowStateOnCheckBox(AppState.RunAtStartupCheckBox, enabled);
    AppState.RunAtStartupEnabled = enabled;
}

void SetRunAtStartup(int state)
{
    WriteStateValue(SlotRunAtStartup, state);
    if (state == 1) {
        ApplyRunAtStartup(1, PK_TASK_CREATE_ARGUMENTS);
    } else if (state == 0) {
        ApplyRunAtStartup(0, PK_TASK_DELETE_ARGUMENTS);
    }
}

static void WriteDefaultSettings()
{
    SaveToneSettings(2000, 50);
    SetOutputDevice(0);
    SetBeepEnabled(1);
    SetRunAtStartup(1);
}

// Reads one value into its slot. A value that fills all eight bytes has
// no room for the terminating zero and counts as too long.
static bool QuerySlot(HKEY key, SettingSlot slot)
{
    char text[SettingSlotSize] = {};
    DWORD size = sizeof(text);
    if (RegQueryValueExA(key, SettingValueNames[slot], NULL, NULL, (BYTE *)text, &size) !=
            ERROR_SUCCESS ||
        text[SettingSlotSize - 1] != '\0') {
        return false;
    }
    memcpy(SettingsCache[slot], text, sizeof(text));
    return true;
}

static void ApplyStoredStates()
{
    int output = atoi(SettingsCache[SlotOutputDevice]);
    if (output == 0 || output == 1) {
        SetOutputDevice(output);
    }
    int beep = atoi(SettingsCache[SlotServiceStatus]);
    if (beep == 0 || beep == 1) {
        SetBeepEnabled(beep);
    }
    int runAtStartup = atoi(SettingsCache[SlotRunAtStartup]);
    if (runAtStartup == 0 || runAtStartup == 1) {
        SetRunAtStartup(runAtStartup);
    }
    AppState.SettingsLoaded = 1;
}

static void CreateSettingsKeyPath()
{
    HKEY software = NULL;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, PK_SETTINGS_ROOT_KEY, 0, SettingsAccess, &software) !=
        ERROR_SUCCESS) {
        return;
    }
    HKEY vendor = NULL;
    if (RegCreateKeyExA(software, PK_SETTINGS_VENDOR_KEY, 0, NULL, REG_OPTION_NON_VOLATILE,
                        SettingsAccess, NULL, &vendor, NULL) == ERROR_SUCCESS) {
        HKEY product = NULL;
        if (RegCreateKeyExA(vendor, PK_SETTINGS_PRODUCT_KEY, 0, NULL, REG_OPTION_NON_VOLATILE,
                            SettingsAccess, NULL, &product, NULL) == ERROR_SUCCESS) {
            RegCloseKey(product);
        }
        RegCloseKey(vendor);
    }
    RegCloseKey(software);
}

void LoadSettings()
{
    HKEY key = NULL;
    if (RegOpenKeyA(HKEY_CURRENT_USER, PK_SETTINGS_KEY_PATH, &key) == ERROR_SUCCESS) {
        int failures = 0;
        for (int slot = 0; slot < SettingSlotCount; ++slot) {
            if (!QuerySlot(key, (SettingSlot)slot)) {
                ++failures;
            }
        }
        if (failures == 0) {
            ApplyStoredStates();
        } else {
            WriteDefaultSettings();
        }
        RegCloseKey(key);
    }
    if (AppState.SettingsLoaded == 0) {
        CreateSettingsKeyPath();
        WriteDefaultSettings();
    }
}

int CachedFrequency()
{
    return atoi(SettingsCache[SlotFrequency]);
}

int CachedDurationMs()
{
    return atoi(SettingsCache[SlotDuration]) / PK_DURATION_STORE_FACTOR;
}
