// Single-byte port access for the speaker hardware. Every port touch of the
// driver goes through these two, so that a host build can log them instead.
#pragma once

#include <ntddk.h>

inline UCHAR PortRead(USHORT port)
{
    return __inbyte(port);
}

inline void PortWrite(USHORT port, UCHAR value)
{
    __outbyte(port, value);
}
