// A start with arguments forwards them, as window commands, to the
// resident instance.
#pragma once

#include <wchar.h>

int RunCommandLine(int argc, wchar_t **argv);
