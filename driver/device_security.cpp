// Only SYSTEM and the Administrators group may open the tone device. Every
// open handle can set the stop timer, whose routine keeps a processor at
// DISPATCH_LEVEL for 131,070 port writes, and the one caller, the tray
// program, always runs elevated. The descriptor is built from ntoskrnl's own
// exports; the library behind IoCreateDeviceSecure is not in this tool chain.
#include <ntifs.h>

#include "device_security.h"
#include "paged.h"

namespace {

// a SID of the NT authority, by its sub-authorities
struct WellKnownSid {
    UCHAR Count;
    ULONG SubAuthorities[2];
};

constexpr WellKnownSid kLocalSystem = {1, {SECURITY_LOCAL_SYSTEM_RID, 0}};
constexpr WellKnownSid kAdministrators = {2, {SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS}};

// room for a SID of two sub-authorities: the 8-byte header and two ULONGs
struct SidStorage {
    ULONG Words[4];
};

constexpr ULONG kAllowedAceBytes = FIELD_OFFSET(ACCESS_ALLOWED_ACE, SidStart) + sizeof(SidStorage);

// the descriptor and everything it points to, in one block
struct AdministratorsOnly {
    SECURITY_DESCRIPTOR Descriptor;
    SidStorage System;
    SidStorage Administrators;
    ULONG Acl[(sizeof(ACL) + 2 * kAllowedAceBytes) / sizeof(ULONG)];
};

TONE_PAGED NTSTATUS AllowAllTo(PACL acl, SidStorage* sid, const WellKnownSid& known)
{
    PAGED_CODE();
    SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
    NTSTATUS status = RtlInitializeSid(sid, &ntAuthority, known.Count);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    for (UCHAR i = 0; i < known.Count; ++i) {
        *RtlSubAuthoritySid(sid, i) = known.SubAuthorities[i];
    }
    return RtlAddAccessAllowedAce(acl, ACL_REVISION, FILE_ALL_ACCESS, sid);
}

// the DACL is protected: nothing is inherited from the device directory
TONE_PAGED NTSTATUS BuildDescriptor(AdministratorsOnly* block)
{
    PAGED_CODE();
    auto* acl = reinterpret_cast<PACL>(block->Acl);
    NTSTATUS status = RtlCreateAcl(acl, sizeof(block->Acl), ACL_REVISION);
    if (NT_SUCCESS(status)) {
        status = AllowAllTo(acl, &block->System, kLocalSystem);
    }
    if (NT_SUCCESS(status)) {
        status = AllowAllTo(acl, &block->Administrators, kAdministrators);
    }
    if (NT_SUCCESS(status)) {
        status = RtlCreateSecurityDescriptor(&block->Descriptor, SECURITY_DESCRIPTOR_REVISION);
    }
    if (NT_SUCCESS(status)) {
        status = RtlSetDaclSecurityDescriptor(&block->Descriptor, TRUE, acl, FALSE);
        block->Descriptor.Control |= SE_DACL_PROTECTED;
    }
    return status;
}

// through a kernel handle that may only change the DACL; the call captures
// the descriptor, so it need not outlive it
TONE_PAGED NTSTATUS SetDacl(PDEVICE_OBJECT deviceObject, PSECURITY_DESCRIPTOR descriptor)
{
    PAGED_CODE();
    HANDLE handle = nullptr;
    NTSTATUS status =
        ObOpenObjectByPointer(deviceObject, OBJ_KERNEL_HANDLE, nullptr, WRITE_DAC, nullptr, KernelMode, &handle);
    if (NT_SUCCESS(status)) {
        status = ZwSetSecurityObject(handle, DACL_SECURITY_INFORMATION, descriptor);
        ZwClose(handle);
    }
    return status;
}

}  // namespace

TONE_PAGED NTSTATUS AllowOnlyAdministrators(PDEVICE_OBJECT deviceObject)
{
    PAGED_CODE();
    AdministratorsOnly block;
    NTSTATUS status = BuildDescriptor(&block);
    if (NT_SUCCESS(status)) {
        status = SetDacl(deviceObject, &block.Descriptor);
    }
    return status;
}
