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

// A machine with this many profiles: from four profiles on, the three
// built-in accounts and the rest users, else users only. Only the last user
// is logged on, with 440 Hz and 1000 writes.
inline void AddMachine(size_t profiles)
{
    const size_t users = profiles > 3 ? profiles - 3 : profiles;
    if (users != profiles) {
        AddSystemAccounts();
    }
    for (size_t i = 0; i + 1 < users; ++i) {
        AddProfile("S-1-5-21-1-2-3-" + std::to_string(1000 + i), 0);
    }
    AddUser("S-1-5-21-1-2-3-" + std::to_string(1000 + users - 1), "440", "1000");
}

}  // namespace scene
