// Shared between the fake kernel's own files only.
#pragma once

#include "fake_kernel.h"

namespace fake {

bool AtPassiveLevel();
void RequirePassive(const char* routine);
// a pool block handed to the caller by RtlQueryRegistryValues
PVOID AllocateForRegistry(size_t bytes);
void ResetRegistry();
void ResetSecurity();
bool IsDevice(const void* object);
// handles that ObOpenObjectByPointer made; false for any other handle
bool CloseObjectHandle(HANDLE handle);
bool HandleOpenTo(const void* object);
std::string Lower(std::string text);
std::string NarrowTerminated(PCWSTR text);

}  // namespace fake
