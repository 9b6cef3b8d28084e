// The fake kernel's security routines: SIDs, ACLs and absolute security
// descriptors built in the caller's memory, kernel handles to device objects,
// and setting a descriptor on an object through such a handle. What was set
// is kept, parsed, for tests to read back.
#include <cstring>
#include <map>

#include <ntifs.h>

#include "internal.h"

namespace fake {
namespace {

struct ObjectHandle {
    const void* object;
    ACCESS_MASK access;
};

struct SecurityState {
    std::map<uintptr_t, ObjectHandle> handles;
    uintptr_t nextHandle = 0x40000100;
    std::map<const void*, ObjectSecurity> descriptors;
    std::map<std::string, NTSTATUS> failNext;
};

SecurityState& Sec()
{
    static SecurityState state;
    return state;
}

// true when a test asked this routine to fail once
bool Failing(const char* routine, NTSTATUS* status)
{
    auto it = Sec().failNext.find(routine);
    if (it == Sec().failNext.end()) {
        return false;
    }
    *status = it->second;
    Sec().failNext.erase(it);
    return true;
}

ULONG SidLength(const SID* sid)
{
    return FIELD_OFFSET(SID, SubAuthority) + sid->SubAuthorityCount * sizeof(ULONG);
}

bool ValidSid(const SID* sid)
{
    return sid != nullptr && sid->Revision == SID_REVISION && sid->SubAuthorityCount <= SID_MAX_SUB_AUTHORITIES;
}

std::string SidText(const SID* sid)
{
    ULONGLONG authority = 0;
    for (UCHAR byte : sid->IdentifierAuthority.Value) {
        authority = authority << 8 | byte;
    }
    std::string text = "S-" + std::to_string(sid->Revision) + "-" + std::to_string(authority);
    for (UCHAR i = 0; i < sid->SubAuthorityCount; ++i) {
        text += "-" + std::to_string(sid->SubAuthority[i]);
    }
    return text;
}

const UCHAR* Bytes(const void* address)
{
    return static_cast<const UCHAR*>(address);
}

// the ACEs of a valid ACL, in order, and where the next ACE would go; false
// when an ACE or its SID does not lie within the ACL's size
bool ParseAcl(const ACL* acl, std::vector<Ace>* aces, ULONG* end = nullptr)
{
    if (acl->AclRevision < ACL_REVISION || acl->AclRevision > ACL_REVISION_DS || acl->AclSize < sizeof(ACL)) {
        return false;
    }
    ULONG offset = sizeof(ACL);
    for (USHORT i = 0; i < acl->AceCount; ++i) {
        const auto* header = reinterpret_cast<const ACE_HEADER*>(Bytes(acl) + offset);
        if (offset + sizeof(ACE_HEADER) > acl->AclSize || header->AceSize < sizeof(ACE_HEADER) ||
            offset + header->AceSize > acl->AclSize) {
            return false;
        }
        if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) {
            AddFault("only access-allowed ACEs are modelled");
            return false;
        }
        const auto* ace = reinterpret_cast<const ACCESS_ALLOWED_ACE*>(header);
        const auto* sid = reinterpret_cast<const SID*>(&ace->SidStart);
        const ULONG sidOffset = FIELD_OFFSET(ACCESS_ALLOWED_ACE, SidStart);
        if (header->AceSize < sidOffset + FIELD_OFFSET(SID, SubAuthority) || !ValidSid(sid) ||
            sidOffset + SidLength(sid) > header->AceSize) {
            return false;
        }
        aces->push_back(Ace{header->AceType, header->AceFlags, ace->Mask, SidText(sid)});
        offset += header->AceSize;
    }
    if (end != nullptr) {
        *end = offset;
    }
    return true;
}

// where the next ACE goes, or 0 when the ACL is not valid
ULONG EndOfAces(const ACL* acl)
{
    std::vector<Ace> aces;
    ULONG end = 0;
    return ParseAcl(acl, &aces, &end) ? end : 0;
}

}  // namespace

void ResetSecurity() { Sec() = SecurityState{}; }

bool CloseObjectHandle(HANDLE handle) { return Sec().handles.erase(reinterpret_cast<uintptr_t>(handle)) != 0; }

bool HandleOpenTo(const void* object)
{
    for (const auto& [value, handle] : Sec().handles) {
        if (handle.object == object) {
            return true;
        }
    }
    return false;
}

size_t OpenObjectHandles() { return Sec().handles.size(); }

std::optional<ObjectSecurity> SecurityOf(const void* object)
{
    auto it = Sec().descriptors.find(object);
    return it == Sec().descriptors.end() ? std::nullopt : std::optional<ObjectSecurity>(it->second);
}

void FailNextSecurityCall(const std::string& routine, NTSTATUS status) { Sec().failNext[routine] = status; }

}  // namespace fake

extern "C" {

NTSTATUS RtlInitializeSid(PSID sid, PSID_IDENTIFIER_AUTHORITY authority, UCHAR subAuthorityCount)
{
    NTSTATUS status;
    if (fake::Failing("RtlInitializeSid", &status)) {
        return status;
    }
    if (subAuthorityCount > SID_MAX_SUB_AUTHORITIES) {
        return STATUS_INVALID_PARAMETER;
    }
    auto* header = static_cast<SID*>(sid);
    header->Revision = SID_REVISION;
    header->SubAuthorityCount = subAuthorityCount;
    header->IdentifierAuthority = *authority;
    return STATUS_SUCCESS;
}

PULONG RtlSubAuthoritySid(PSID sid, ULONG subAuthority)
{
    auto* header = static_cast<SID*>(sid);
    if (subAuthority >= header->SubAuthorityCount) {
        fake::AddFault("RtlSubAuthoritySid beyond the SID's sub-authorities");
        static ULONG nowhere;
        return &nowhere;
    }
    return &header->SubAuthority[subAuthority];
}

NTSTATUS RtlCreateAcl(PACL acl, ULONG length, ULONG revision)
{
    NTSTATUS status;
    if (fake::Failing("RtlCreateAcl", &status)) {
        return status;
    }
    if (length < sizeof(ACL)) {
        return STATUS_BUFFER_TOO_SMALL;
    }
    if (length > MAXUSHORT || revision < ACL_REVISION || revision > ACL_REVISION_DS) {
        return STATUS_INVALID_PARAMETER;
    }
    *acl = ACL{static_cast<UCHAR>(revision), 0, static_cast<USHORT>(length), 0, 0};
    return STATUS_SUCCESS;
}

NTSTATUS RtlAddAccessAllowedAce(PACL acl, ULONG revision, ACCESS_MASK mask, PSID sid)
{
    NTSTATUS status;
    if (fake::Failing("RtlAddAccessAllowedAce", &status)) {
        return status;
    }
    const auto* source = static_cast<const SID*>(sid);
    if (!fake::ValidSid(source)) {
        return STATUS_INVALID_SID;
    }
    const ULONG end = fake::EndOfAces(acl);
    if (end == 0 || revision < ACL_REVISION || revision > ACL_REVISION_DS) {
        return STATUS_INVALID_ACL;
    }
    const ULONG size = FIELD_OFFSET(ACCESS_ALLOWED_ACE, SidStart) + fake::SidLength(source);
    if (end + size > acl->AclSize) {
        return STATUS_ALLOTTED_SPACE_EXCEEDED;
    }
    auto* ace = reinterpret_cast<ACCESS_ALLOWED_ACE*>(reinterpret_cast<UCHAR*>(acl) + end);
    ace->Header = ACE_HEADER{ACCESS_ALLOWED_ACE_TYPE, 0, static_cast<USHORT>(size)};
    ace->Mask = mask;
    std::memcpy(&ace->SidStart, source, fake::SidLength(source));
    ++acl->AceCount;
    return STATUS_SUCCESS;
}

NTSTATUS RtlCreateSecurityDescriptor(PSECURITY_DESCRIPTOR descriptor, ULONG revision)
{
    NTSTATUS status;
    if (fake::Failing("RtlCreateSecurityDescriptor", &status)) {
        return status;
    }
    if (revision != SECURITY_DESCRIPTOR_REVISION) {
        return STATUS_UNKNOWN_REVISION;
    }
    *static_cast<SECURITY_DESCRIPTOR*>(descriptor) = SECURITY_DESCRIPTOR{SECURITY_DESCRIPTOR_REVISION, 0, 0,
                                                                        nullptr, nullptr, nullptr, nullptr};
    return STATUS_SUCCESS;
}

NTSTATUS RtlSetDaclSecurityDescriptor(PSECURITY_DESCRIPTOR descriptor, BOOLEAN present, PACL dacl, BOOLEAN defaulted)
{
    NTSTATUS status;
    if (fake::Failing("RtlSetDaclSecurityDescriptor", &status)) {
        return status;
    }
    auto* sd = static_cast<SECURITY_DESCRIPTOR*>(descriptor);
    if (sd->Revision != SECURITY_DESCRIPTOR_REVISION) {
        return STATUS_UNKNOWN_REVISION;
    }
    if ((sd->Control & SE_SELF_RELATIVE) != 0) {
        return STATUS_INVALID_SECURITY_DESCR;
    }
    sd->Control = static_cast<USHORT>(sd->Control & ~(SE_DACL_PRESENT | SE_DACL_DEFAULTED));
    sd->Dacl = present ? dacl : nullptr;
    if (present) {
        sd->Control = static_cast<USHORT>(sd->Control | SE_DACL_PRESENT | (defaulted ? SE_DACL_DEFAULTED : 0));
    }
    return STATUS_SUCCESS;
}

NTSTATUS ObOpenObjectByPointer(PVOID object, ULONG attributes, PACCESS_STATE accessState, ACCESS_MASK access,
                               POBJECT_TYPE, KPROCESSOR_MODE mode, PHANDLE handle)
{
    using namespace fake;
    RequirePassive("ObOpenObjectByPointer");
    NTSTATUS status;
    if (Failing("ObOpenObjectByPointer", &status)) {
        return status;
    }
    if (!IsDevice(object) || accessState != nullptr) {
        AddFault("ObOpenObjectByPointer: only device objects, without an access state, are modelled");
        return STATUS_INVALID_PARAMETER;
    }
    if (mode != KernelMode || attributes != OBJ_KERNEL_HANDLE) {
        AddFault("ObOpenObjectByPointer: a handle for the current process, not a kernel handle");
    }
    const uintptr_t value = Sec().nextHandle;
    Sec().nextHandle += 4;
    Sec().handles[value] = ObjectHandle{object, access};
    *handle = reinterpret_cast<HANDLE>(value);
    return STATUS_SUCCESS;
}

NTSTATUS ZwSetSecurityObject(HANDLE handle, SECURITY_INFORMATION information, PSECURITY_DESCRIPTOR descriptor)
{
    using namespace fake;
    RequirePassive("ZwSetSecurityObject");
    NTSTATUS status;
    if (Failing("ZwSetSecurityObject", &status)) {
        return status;
    }
    auto it = Sec().handles.find(reinterpret_cast<uintptr_t>(handle));
    if (it == Sec().handles.end()) {
        AddFault("ZwSetSecurityObject given a handle that is not open");
        return STATUS_INVALID_PARAMETER;
    }
    if (information != DACL_SECURITY_INFORMATION) {
        AddFault("ZwSetSecurityObject: only the DACL is modelled");
        return STATUS_INVALID_PARAMETER;
    }
    if ((it->second.access & WRITE_DAC) == 0) {
        return STATUS_ACCESS_DENIED;
    }
    const auto* sd = static_cast<const SECURITY_DESCRIPTOR*>(descriptor);
    if (sd->Revision != SECURITY_DESCRIPTOR_REVISION) {
        return STATUS_UNKNOWN_REVISION;
    }
    if ((sd->Control & SE_SELF_RELATIVE) != 0) {
        AddFault("ZwSetSecurityObject: only absolute descriptors are modelled");
        return STATUS_INVALID_SECURITY_DESCR;
    }
    ObjectSecurity security{information, sd->Control, {}};
    if ((sd->Control & SE_DACL_PRESENT) != 0 && sd->Dacl != nullptr && !ParseAcl(sd->Dacl, &security.dacl)) {
        return STATUS_INVALID_ACL;
    }
    Sec().descriptors[it->second.object] = security;
    return STATUS_SUCCESS;
}

}  // extern "C"
