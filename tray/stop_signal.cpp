#include "stop_signal.h"

#include "pitchkeeper_shared.h"

#include <aclapi.h>
#include <sddl.h>

static HANDLE OpenOrCreateStopEvent();
static bool OwnedBySystemOrAdministrators(HANDLE object);
static void CALLBACK PostCloseRequest(void *window, BOOLEAN timedOut);

void ListenForInstallerStop(HWND window)
{
    // held, never closed, for the life of the process; the installer waits
    // for the last handle to go as the sign that every instance has ended
    HANDLE stopEvent = OpenOrCreateStopEvent();
    if (stopEvent == NULL) {
        return;
    }
    HANDLE wait = NULL;
    RegisterWaitForSingleObject(&wait, stopEvent, PostCloseRequest, window, INFINITE,
                                WT_EXECUTEONLYONCE);
}

// The resident of another session may have made it already. One made by
// anybody else could be set by that account to end everybody's tone, or
// kept set: it is not listened to.
static HANDLE OpenOrCreateStopEvent()
{
    SECURITY_ATTRIBUTES attributes = {sizeof(attributes), NULL, FALSE};
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(
            PK_STOP_EVENT_SDDL, SDDL_REVISION_1, &attributes.lpSecurityDescriptor, NULL)) {
        return NULL;
    }
    HANDLE stopEvent = CreateEventA(&attributes, TRUE, FALSE, PK_STOP_EVENT);
    LocalFree(attributes.lpSecurityDescriptor);
    if (stopEvent != NULL && !OwnedBySystemOrAdministrators(stopEvent)) {
        CloseHandle(stopEvent);
        return NULL;
    }
    return stopEvent;
}

static bool OwnedBySystemOrAdministrators(HANDLE object)
{
    PSID owner = NULL;
    PSECURITY_DESCRIPTOR descriptor = NULL;
    if (GetSecurityInfo(object, SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION, &owner, NULL, NULL,
                        NULL, &descriptor) != ERROR_SUCCESS) {
        return false;
    }
    bool trusted = IsWellKnownSid(owner, WinLocalSystemSid) ||
                   IsWellKnownSid(owner, WinBuiltinAdministratorsSid);
    LocalFree(descriptor);
    return trusted;
}

// On a pool thread: the ending itself happens on the main thread.
static void CALLBACK PostCloseRequest(void *window, BOOLEAN)
{
    PostMessageA((HWND)window, WM_CLOSE, 0, 0);
}
