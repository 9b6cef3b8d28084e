// Host stand-in for the runtime's handle-to-stream calls; the host's fcntl.h
// has no text mode flag.
#pragma once

#include <stdint.h>
#include <stdio.h>

#define _O_TEXT 0x4000

int _open_osfhandle(intptr_t handle, int flags);
FILE* _fdopen(int descriptor, const char* mode);
