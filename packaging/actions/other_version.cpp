// Whether another version of Pitchkeeper stays installed when this one is
// removed: the new version during an upgrade (the old one is removed after
// the new one is in place), or one left beside it by an upgrade whose
// removal of the old version failed. The logon task, the driver service
// and the running programs then belong to that version, and this removal
// leaves them alone.
#include "install_log.h"

// Immediate; sets OtherVersionInstalled for the conditions of the deferred
// actions.
extern "C" __declspec(dllexport) UINT __stdcall NoteOtherVersion(MSIHANDLE install)
{
    char upgradeCode[39] = {};
    char ownCode[39] = {};
    DWORD size = sizeof(upgradeCode);
    MsiGetPropertyA(install, "UpgradeCode", upgradeCode, &size);
    size = sizeof(ownCode);
    MsiGetPropertyA(install, "ProductCode", ownCode, &size);
    char productCode[39] = {};
    for (DWORD index = 0; MsiEnumRelatedProductsA(upgradeCode, 0, index, productCode) == ERROR_SUCCESS;
         ++index) {
        if (_stricmp(productCode, ownCode) != 0) {
            LogToInstall(install, "Pitchkeeper: %s stays installed", productCode);
            MsiSetPropertyA(install, "OtherVersionInstalled", "1");
            break;
        }
    }
    return ERROR_SUCCESS;
}
