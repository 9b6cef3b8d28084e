// Who may open the tone device.
#pragma once

#include <ntddk.h>

NTSTATUS AllowOnlyAdministrators(PDEVICE_OBJECT deviceObject);
