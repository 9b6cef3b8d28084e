// Registry scenes for the settings lookup: the machine's profile list and
// users' loaded hives, at the object paths the driver walks.
#pragma once

#include <optional>
#include <string>

#include "fake_kernel.h"

namespace scene {

const std::string kProfileList = "\\Registry\\Machine\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";
const std::string kSettingsKey = "\\Software\\VELMORA\\VELMORABeep";

inline std::string SettingsPathOf(const std::string& sid)
{
    return "\\Registry\\User\\" + sid + kSettingsKey;
}

inline void AddProfile(const std::string& sid, std::optional<ULONG> refCount)
{
    fake::CreateKey(kProfileList + "\\" + sid);
    if (refCount) {
        fake::SetDword(kProfileList + "\\" + sid, "RefCount", *refCount);
    }
}

// a profile whose hive is loaded, holding the tray program's settings
inline void AddUser(const std::string& sid, const std::string& frequency, const std::string& duration)
{
    AddProfile(sid, 1);
    fake::SetString(SettingsPathOf(sid), "frequency", frequency);
    fake::SetString(SettingsPathOf(sid), "duration", duration);
}

// the built-in accounts every machine has, hives loaded
inline void AddSystemAccounts()
{
    for (const char* sid : {"S-1-5-18", "S-1-5-19", "S-1-5-20"}) {
        AddProfile(sid, 1);
        fake::SetString(SettingsPathOf(sid), "frequency", "999");
        fake::SetString(SettingsPathOf(sid), "duration", "999");
    }
}

}  // namespace scene
