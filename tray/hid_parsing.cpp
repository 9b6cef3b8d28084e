#include "hid_parsing.h"

#include "app_state.h"

#include <string.h>

// A routine of a library whose name the system resolves; the cast through
// the generic function type is how the language allows it.
template <typename Routine>
static bool LoadRoutine(HMODULE library, const char *name, Routine &routine)
{
    routine = reinterpret_cast<Routine>(reinterpret_cast<void (*)()>(GetProcAddress(library, name)));
    return routine != NULL;
}

// Never found by a search: the program's own folder and the current folder
// may hold a planted copy, and the program runs elevated.
bool LoadHidParsing()
{
    static const char FileName[] = "\\hid.dll";
    char path[MAX_PATH];
    UINT length = GetSystemDirectoryA(path, MAX_PATH);
    if (length == 0 || length + sizeof(FileName) > MAX_PATH) {
        return false;
    }
    memcpy(path + length, FileName, sizeof(FileName));
    HMODULE library = LoadLibraryExA(path, NULL, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (library == NULL) {
        return false;
    }
    static HidParsing hid;
    if (LoadRoutine(library, "HidP_GetCaps", hid.GetCaps) &&
        LoadRoutine(library, "HidP_GetButtonCaps", hid.GetButtonCaps) &&
        LoadRoutine(library, "HidP_GetValueCaps", hid.GetValueCaps) &&
        LoadRoutine(library, "HidP_GetUsages", hid.GetUsages) &&
        LoadRoutine(library, "HidP_GetUsageValue", hid.GetUsageValue)) {
        AppState.Hid = &hid;
        return true;
    }
    FreeLibrary(library);
    return false;
}
