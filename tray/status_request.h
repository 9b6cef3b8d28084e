// The asking half of -status: a start with "-status" or "-status json"
// asks the resident for its counts and prints the report.
#pragma once

#include <wchar.h>

// argv[1] is "-status". 0 with the report printed; 1 when no resident
// instance answered; 2 for other arguments after it.
int RunStatusRequest(int argc, wchar_t **argv);
