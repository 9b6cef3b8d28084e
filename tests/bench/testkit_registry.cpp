// The settings key, read and written from outside the program.
#include "testkit.h"

#include "pitchkeeper_shared.h"

#include <string.h>

void DeleteSettingsKey()
{
    RegDeleteKeyA(HKEY_CURRENT_USER, PK_SETTINGS_KEY_PATH);
}

bool ReadSettingValue(const char *name, std::string &text)
{
    char data[256] = {};
    DWORD size = sizeof(data) - 1;
    if (RegGetValueA(HKEY_CURRENT_USER, PK_SETTINGS_KEY_PATH, name, RRF_RT_ANY, NULL, data,
                     &size) != ERROR_SUCCESS) {
        return false;
    }
    text.assign(data, strnlen(data, size));
    return true;
}

std::string SettingValue(const char *name)
{
    std::string text;
    return ReadSettingValue(name, text) ? text : "<missing>";
}

void WriteSettingValue(const char *name, const std::string &text)
{
    HKEY key = NULL;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, PK_SETTINGS_KEY_PATH, 0, NULL, 0, KEY_WRITE, NULL,
                        &key, NULL) == ERROR_SUCCESS) {
        RegSetValueExA(key, name, 0, REG_SZ, (const BYTE *)text.c_str(), (DWORD)text.size());
        RegCloseKey(key);
    }
}

void WriteAllSettings(const char *frequency, const char *duration, const char *outputDevice,
                      const char *serviceStatus, const char *runAtStartup)
{
    WriteSettingValue(PK_VALUE_FREQUENCY, frequency);
    WriteSettingValue(PK_VALUE_DURATION, duration);
    WriteSettingValue(PK_VALUE_OUTPUT_DEVICE, outputDevice);
    WriteSettingValue(PK_VALUE_SERVICE_STATUS, serviceStatus);
    WriteSettingValue(PK_VALUE_RUN_AT_STARTUP, runAtStartup);
}
