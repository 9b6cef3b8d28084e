// The fake kernel's counted-string routines. None of them writes a
// terminating NUL that the platform does not promise.
#include <algorithm>
#include <cctype>
#include <cstring>

#include "internal.h"

namespace fake {
namespace {

size_t LengthOf(PCWSTR text)
{
    size_t length = 0;
    while (text[length] != 0) {
        ++length;
    }
    return length;
}

NTSTATUS Append(PUNICODE_STRING destination, const WCHAR* source, size_t bytes)
{
    if (destination->Length + bytes > destination->MaximumLength) {
        return STATUS_BUFFER_TOO_SMALL;
    }
    std::memmove(reinterpret_cast<char*>(destination->Buffer) + destination->Length, source, bytes);
    destination->Length = static_cast<USHORT>(destination->Length + bytes);
    return STATUS_SUCCESS;
}

int DigitValue(WCHAR c)
{
    if (c >= L'0' && c <= L'9') {
        return c - L'0';
    }
    if (c >= L'a' && c <= L'z') {
        return c - L'a' + 10;
    }
    if (c >= L'A' && c <= L'Z') {
        return c - L'A' + 10;
    }
    return 99;
}

}  // namespace

std::string Narrow(const UNICODE_STRING& text)
{
    std::string narrow;
    for (size_t i = 0; i < text.Length / sizeof(WCHAR); ++i) {
        const WCHAR c = text.Buffer[i];
        narrow += c < 128 ? static_cast<char>(c) : '?';
    }
    return narrow;
}

std::string NarrowTerminated(PCWSTR text)
{
    UNICODE_STRING counted;
    RtlInitUnicodeString(&counted, text);
    return Narrow(counted);
}

std::string Lower(std::string text)
{
    for (char& c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

}  // namespace fake

extern "C" {

VOID RtlInitUnicodeString(PUNICODE_STRING destination, PCWSTR source)
{
    const size_t length = source == nullptr ? 0 : fake::LengthOf(source) * sizeof(WCHAR);
    destination->Length = static_cast<USHORT>(length);
    destination->MaximumLength = static_cast<USHORT>(source == nullptr ? 0 : length + sizeof(WCHAR));
    destination->Buffer = const_cast<PWSTR>(source);
}

VOID RtlCopyUnicodeString(PUNICODE_STRING destination, PCUNICODE_STRING source)
{
    const USHORT bytes = source == nullptr ? 0 : std::min(source->Length, destination->MaximumLength);
    if (bytes != 0) {
        std::memmove(destination->Buffer, source->Buffer, bytes);
    }
    destination->Length = bytes;
}

NTSTATUS RtlAppendUnicodeStringToString(PUNICODE_STRING destination, PCUNICODE_STRING source)
{
    return fake::Append(destination, source->Buffer, source->Length);
}

NTSTATUS RtlAppendUnicodeToString(PUNICODE_STRING destination, PCWSTR source)
{
    return fake::Append(destination, source, fake::LengthOf(source) * sizeof(WCHAR));
}

// skips leading white space, takes one optional sign, stops at the first character that is not a digit
NTSTATUS RtlUnicodeStringToInteger(PCUNICODE_STRING text, ULONG base, PULONG value)
{
    if (base != 2 && base != 8 && base != 10 && base != 16) {
        return STATUS_INVALID_PARAMETER;
    }
    size_t i = 0;
    const size_t count = text->Length / sizeof(WCHAR);
    while (i < count && text->Buffer[i] <= L' ') {
        ++i;
    }
    bool negative = false;
    if (i < count && (text->Buffer[i] == L'-' || text->Buffer[i] == L'+')) {
        negative = text->Buffer[i] == L'-';
        ++i;
    }
    ULONG result = 0;
    for (; i < count && static_cast<ULONG>(fake::DigitValue(text->Buffer[i])) < base; ++i) {
        result = result * base + static_cast<ULONG>(fake::DigitValue(text->Buffer[i]));
    }
    *value = negative ? 0u - result : result;
    return STATUS_SUCCESS;
}

}  // extern "C"
