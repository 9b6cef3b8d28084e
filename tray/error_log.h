// Start-up failures go to "error.txt" in the current directory, one line
// each, the file opened and closed around every line.
#pragma once

// format holds exactly one %d, which receives code.
void AppendErrorLine(const char *format, int code);
