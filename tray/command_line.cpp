#include "command_line.h"

// TEMPORARY: options are not forwarded yet.
int RunCommandLine(int, wchar_t **)
{
    return 0;
}
